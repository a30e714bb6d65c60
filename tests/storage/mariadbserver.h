#pragma once

#include <QList>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

// A private MariaDB server for one test executable: its own data folder, socket and free
// port under the build folder, reached by the program through unixODBC with MariaDB
// Connector/ODBC registered as "MySQL ODBC 5.3 Unicode Driver" in an odbcinst.ini of its own
// (ODBCSYSINI points there). Tests read and write behind the program's back with the mariadb
// client over the socket.
class MariaDbServer
{
public:
    MariaDbServer() = default;
    ~MariaDbServer();

    // False with a reason in `error` when any step fails; the caller fails its test.
    bool start(QString* error);
    void stop();
    // Starts the stopped server again on the same data folder and port.
    bool restart(QString* error);
    // A mariadb client session on the database that runs what is written to its input as it
    // comes (unbuffered), for locks held across statements.
    void startSession(QProcess& client, const QString& database) const;

    // A new empty database whose default character set is latin1, so that only the
    // program's own table options can give its tables utf8mb4.
    bool createDatabase(const QString& name, QString* error);
    // Rows of a statement run by the mariadb client, tab-separated columns, NULL as "NULL".
    QList<QStringList> query(const QString& database, const QString& sql, QString* error = nullptr) const;

    int port() const { return m_port; }
    QString user() const { return QStringLiteral("ostrivel"); }
    // Holds ";" and braces, so the connection string must brace it to get through.
    QString password() const { return QStringLiteral("pw;{x}7"); }

private:
    bool runClient(const QStringList& args, const QString& sql, QByteArray* out, QString* error) const;
    bool launch(QString* error, bool samePort = false);
    QStringList clientArguments() const;

    std::unique_ptr<QTemporaryDir> m_dir;
    QProcess m_server;
    int m_port = 0;
    QString m_socket;
};
