#pragma once

#include <QObject>
#include <QString>

#include "storage/databaseinfo.h"

// Counts the stored measurements for the information dialog in a thread of its own, on a
// connection of its own, so opening the dialog never stalls the GUI thread, which also
// answers the sensors.
class InfoLoader : public QObject
{
    Q_OBJECT
public:
    explicit InfoLoader(QObject* parent = nullptr);

    // From any thread, for good: the count under way ends at once, and later ones end so
    // without running. The dialog calls it when it goes.
    void stop();

public slots:
    void count();
    // Closes the connection; called in the loader's thread before it ends.
    void close();

signals:
    // The figure, empty when the database could not tell it.
    void counted(QString measureCount);

private:
    DatabaseInfo info;
};
