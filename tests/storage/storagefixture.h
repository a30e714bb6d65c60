#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>

#include "app/appstate.h"
#include "dialogs/prompt.h"
#include "mariadbserver.h"
#include "storage/sqlbasemodule.h"

// A measurement of the given temperature with 50 % and 3 V, every value present.
SensorData reading(double temperature);
// The measurement as the intake hands it on, arrived this second.
inline PendingMeasurement arrived(const QString& eui, const SensorData& d)
{
    return { eui, d, QDateTime::currentSecsSinceEpoch() };
}

// Answers the module's boxes and keeps them for the test.
class RecordingPrompt : public Prompt
{
public:
    bool question(const QString&) override { return true; }
    void critical(const QString& title, const QString& text) override { boxes << title << text; }
    void warning(const QString& title, const QString& text) override
    {
        boxes << title << text;
        if (whileOpen)
            whileOpen();
    }
    void information(const QString& title, const QString& text) override { boxes << title << text; }
    QStringList boxes;
    // Runs while a warning is up, as a real box runs its own loop.
    std::function<void()> whileOpen;
};

// Keeps the boxes too, and answers a confirmation with `answer`, running `whileAsked` first.
class AnsweringPrompt : public RecordingPrompt
{
public:
    bool confirm(const QString& title, const QString& text) override
    {
        boxes << title << text;
        if (whileAsked)
            whileAsked();
        return answer;
    }
    bool answer = true;
    std::function<void()> whileAsked;
};

// One database case for either dialect: a fresh working folder with "data/" for SQLite, a
// fresh database on the shared MariaDB server for MySQL, an AppState for the registry, the
// module under test, and an independent reader (python's sqlite3, the mariadb client).
class StorageFixture
{
public:
    StorageFixture();
    ~StorageFixture();

    // Starts the MariaDB server once per executable; false (with the reason) when it cannot.
    bool startServer(QString* error);
    // Called from init(): fresh folder, fresh database, no module yet.
    bool begin(int type, QString* error);
    // Called from cleanup(); returns the unexpected warnings logged since begin().
    QStringList end();

    // A module initialised on this case's database, its close codes kept in closeCodes.
    SQLBaseModule* open(int purgeInterval = 3600000);
    // A new module wired as the program wires it: registry in `state`, boxes, closeCodes.
    SQLBaseModule* make();
    void closeModule();
    // The registry in memory emptied, as a new start finds it before its load.
    void forgetRegistry();

    // Runs statements (separated by ";\n") behind the module's back and returns the rows of
    // the last one; REAL values read as the shortest text that gives them back.
    QList<QStringList> sql(const QString& statements);
    QList<QStringList> lastRows;
    QString lastError;
    // Warnings that start with one of these are part of the case, not faults.
    QStringList expectedWarnings;

    int type = 0;
    QString databaseName;
    // The port open() connects to on MySQL when not the server's own (a proxy in front of it).
    int port = 0;
    std::unique_ptr<QTemporaryDir> work;
    std::unique_ptr<AppState> state;
    std::unique_ptr<SQLBaseModule> module;
    QList<int> closeCodes;
    RecordingPrompt boxes;
    MariaDbServer server;

private:
    QString m_home;
    bool m_serverUp = false;
};
