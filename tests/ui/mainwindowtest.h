#pragma once

// Base of the main window's tests: each case gets a SQLite database of its own with one room
// of three sensors that reported ten seconds ago, and the interface module the window talks to.
#include <QObject>

#include <memory>

#include "app/sqliteworkspace.h"

class InterfaceModule;
class MainWindow;

class MainWindowTest : public QObject
{
    Q_OBJECT
protected:
    // Registers a sensor in the room `location` with one reading, in the registry and the database.
    void addSensor(const QString& eui, const QString& name, int location);
    // Lets the refresh run and its table queries come back from the loading thread.
    static void settle(MainWindow* w);
    // A new window, once the refresh at the end of its construction has come back.
    static MainWindow* window();

    std::unique_ptr<SqliteWorkspace> work;
    AppState* state = nullptr;
    SQLBaseModule* sql = nullptr;
    InterfaceModule* interface = nullptr;

private slots:
    void init();
    void cleanup();
};
