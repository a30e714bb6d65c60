#pragma once

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>

#include "storage/xlsxsheet.h"

struct lxw_workbook;
struct lxw_worksheet;
struct lxw_format;

// One XLSX workbook written through libxlsxwriter. Sheets are built in memory (XlsxSheet) and
// handed over whole; a long sheet can then go on row by row (streaming mode keeps only one row
// in memory). The file is written under a temporary name beside its final one and put in place
// only by a successful save, so a workbook that is abandoned or fails leaves nothing under its
// name and an older file of that name stays as it was.
class XlsxDocument
{
public:
    enum Mode { Buffered, Streaming };

    explicit XlsxDocument(const QString& fileName, Mode mode = Buffered);
    ~XlsxDocument();
    XlsxDocument(const XlsxDocument&) = delete;
    XlsxDocument& operator=(const XlsxDocument&) = delete;

    // Adds the sheet under a valid name made from its own (see validSheetName) and writes its
    // cells, merges and widths; later sheets come after it and the last one added is the active
    // sheet. Returns the name given, empty when the library refused the sheet. In streaming mode
    // a merged range must lie within one row.
    QString addSheet(const XlsxSheet& sheet);
    // Streaming: one more row of the last sheet added, below every row written to it before.
    // False when there is no such sheet or the row lies outside the sheet's limits.
    bool appendRow(int row, const QVector<QString>& texts, const XlsxStyle& style);

    // Writes the workbook and puts it in place. False with the reason when the folder cannot
    // be written, the library fails or the file cannot be moved to its name.
    bool save(QString* error);
    // Writes the workbook under `partName()` only and leaves it there; the caller puts it in
    // place (`place`) or removes it. False with the reason, and no file, when it failed.
    // For a streamed workbook `progress`, when given, is called on the calling thread every
    // `progressInterval` ms meanwhile with the share written so far (growing, below 1): the
    // library's writing is mostly compressing, a minute for a year of readings, and the part
    // grows along with it.
    bool write(QString* error, const std::function<void(double)>& progress = {});
    static int progressInterval;
    // Moves a written part over its final name, replacing an older file. False with the reason;
    // the older file is kept then and the part removed.
    static bool place(const QString& partName, const QString& fileName, QString* error);
    // Written parts and the names they are put in place under.
    struct Placement {
        QString part;
        QString file;
    };
    // Puts the parts in place all together or not at all: the older file of each name is set
    // aside until every part is in place and comes back when one of them cannot be placed.
    // Returns the index of the part that failed, with the reason, or -1 when all are in place.
    // After a failure the parts are where they were and left to the caller.
    static int placeAll(const QVector<Placement>& placements, QString* error);

    QString fileName() const { return m_fileName; }
    QString partName() const { return m_partName; }

    // A name Excel accepts and no earlier name in `taken` already holds under case folding:
    // forbidden characters [ ] : * ? / \ and an apostrophe at either end become "_", an empty
    // name becomes "Sheet", at most 31 characters, and a name already taken gets " (2)",
    // " (3)"… in place of its last characters.
    static QString validSheetName(const QString& wanted, const QStringList& taken);

private:
    // The size the part will reach, estimated before the library writes it; 0 when unknown.
    qint64 expectedSize() const;
    lxw_format* format(const XlsxStyle& style);
    void note(const QString& problem);

    QString m_fileName;
    QString m_partName;
    Mode m_mode;
    lxw_workbook* m_book = nullptr;
    QVector<lxw_worksheet*> m_sheets;
    lxw_worksheet* m_last = nullptr;
    int m_lastRow = 0;
    QStringList m_names;
    QHash<XlsxStyle, lxw_format*> m_formats;
    QString m_problem;
    bool m_closed = false;
};
