#pragma once

#include <QObject>
#include <QString>

#include "storage/threadconnection.h"

// What the information dialog tells of the measurement database, read in a thread of its own on
// a connection of its own: counting a long history takes the database seconds (about 1.3 s for
// 16 M measurements on SQLite), which the window, which also answers the sensors, must not wait
// for.
class DatabaseInfo : public QObject
{
    Q_OBJECT
public:
    explicit DatabaseInfo(QObject* parent = nullptr);

    // From any thread, for good: the count under way ends at once and none starts after it.
    void stop();

public slots:
    void count();
    // Closes the connection; called in the counting thread before it ends.
    void close();

signals:
    // The number of stored measurements; empty when the database could not tell it.
    void counted(QString measureCount);

private:
    QString measureCount();

    ThreadConnection connection;
};
