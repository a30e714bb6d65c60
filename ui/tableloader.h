#pragma once

#include <QObject>

#include "storage/tablereader.h"

// Runs the main window's table loads in a thread of its own, on a connection of its own to
// the same database, so a long time window never stalls the GUI thread, which also answers
// the sensors.
class TableLoader : public QObject
{
    Q_OBJECT
public:
    explicit TableLoader(QObject* parent = nullptr);
    ~TableLoader() override;

    // From any thread, for good: the load under way ends at once with an error and no rows, and
    // later ones end so without running. The window calls it when it closes.
    void stop();

public slots:
    // Reads the rows `request` asks for and reports them.
    void load(int table, quint64 serial, TableRequest request);
    // Closes the connection; called in the loader's thread before it ends.
    void close();

signals:
    void loaded(int table, quint64 serial, TableRows rows);

private:
    TableReader reader;
};
