#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QVector>

#include <memory>

#include "storage/dbfrecordformat.h"

// Writes a dBASE III file through shapelib under a temporary name beside its target and
// puts it in place only when commit() succeeds, so a reader of the target sees the old file
// or the whole new one, never a part. Anything short of a successful commit removes the
// temporary file and leaves the target as it was.
class DbfFileWriter
{
public:
    explicit DbfFileWriter(const QString& targetPath);
    ~DbfFileWriter();
    DbfFileWriter(const DbfFileWriter&) = delete;
    DbfFileWriter& operator=(const DbfFileWriter&) = delete;

    // Creates the temporary file with the given fields, the language driver byte and the
    // date of the last update in its header.
    bool open(const QVector<DbfRecordFormat::Field>& fields, int languageDriver, const QDate& updated);
    // Appends one record; `values` hold one field text per field, empty for a blank field.
    bool append(const QVector<QByteArray>& values);
    // Completes the file and renames it over the target.
    bool commit();
    // Drops the temporary file; the target stays untouched.
    void discard();

    // The system's error number of the failure that made open, append or commit return false.
    int systemError() const { return m_systemError; }

private:
    struct Handle;
    QString m_targetPath;
    QString m_temporaryPath;
    std::unique_ptr<Handle> m_handle;
    int m_fieldCount = 0;
    int m_records = 0;
    int m_systemError = 0;
};
