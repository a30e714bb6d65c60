#include "mariadbserver.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QTcpServer>
#include <QThread>

#include <pwd.h>
#include <unistd.h>

namespace
{

bool runTool(const QString& program, const QStringList& args, QString* error, QByteArray* out = nullptr,
    const QByteArray& input = QByteArray())
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForStarted(10000)) {
        *error = program + QStringLiteral(": cannot start");
        return false;
    }
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(60000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        *error = program + QStringLiteral(" failed: ") + QString::fromUtf8(p.readAllStandardError());
        return false;
    }
    if (out)
        *out = p.readAllStandardOutput();
    return true;
}

int freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

QString driverLibrary(QString* error)
{
    QByteArray files;
    if (!runTool(QStringLiteral("dpkg"), { QStringLiteral("-L"), QStringLiteral("odbc-mariadb") }, error, &files))
        return QString();
    for (const QByteArray& line : files.split('\n')) {
        if (line.endsWith("/libmaodbc.so"))
            return QString::fromUtf8(line);
    }
    *error = QStringLiteral("libmaodbc.so not found in odbc-mariadb");
    return QString();
}

// The server runs as whoever runs the tests. Only root has to say so: the server refuses to
// run as root otherwise, and anyone else may not hand its files to another user.
QStringList runAsArguments()
{
    return geteuid() == 0 ? QStringList { QStringLiteral("--user=root") } : QStringList();
}

// The one administrator account besides root, reached through the socket by the system user
// of the same name: the user running the tests.
QString systemUser()
{
    const passwd* entry = getpwuid(geteuid());
    return entry ? QString::fromLocal8Bit(entry->pw_name) : QStringLiteral("root");
}

} // namespace

MariaDbServer::~MariaDbServer()
{
    stop();
}

bool MariaDbServer::start(QString* error)
{
    const QString base = QStringLiteral(OSTRIVEL_BUILD_DIR "/tests/storage");
    QDir().mkpath(base);
    m_dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/mariadb-XXXXXX"));
    if (!m_dir->isValid()) {
        *error = QStringLiteral("cannot create a server folder under ") + base;
        return false;
    }
    m_socket = m_dir->filePath(QStringLiteral("s.sock"));
    if (m_socket.toLocal8Bit().size() > 100) {
        *error = QStringLiteral("socket path too long: ") + m_socket;
        return false;
    }
    const QString driver = driverLibrary(error);
    if (driver.isEmpty())
        return false;
    QFile ini(m_dir->filePath(QStringLiteral("odbcinst.ini")));
    if (!ini.open(QIODevice::WriteOnly)
        || ini.write("[MySQL ODBC 5.3 Unicode Driver]\nDriver = " + driver.toUtf8() + "\n") < 0) {
        *error = QStringLiteral("cannot write odbcinst.ini");
        return false;
    }
    ini.close();
    qputenv("ODBCSYSINI", QFile::encodeName(m_dir->path()));

    // Servers of tests running side by side must not share the temporary files of /tmp.
    QDir(m_dir->path()).mkdir(QStringLiteral("tmp"));
    const QString tmpdir = QStringLiteral("--tmpdir=") + m_dir->filePath(QStringLiteral("tmp"));
    if (!runTool(QStringLiteral("mariadb-install-db"),
            QStringList { QStringLiteral("--no-defaults"),
                QStringLiteral("--datadir=") + m_dir->filePath(QStringLiteral("data")),
                QStringLiteral("--auth-root-authentication-method=socket"),
                QStringLiteral("--auth-root-socket-user=") + systemUser(), QStringLiteral("--skip-test-db"),
                QStringLiteral("--skip-name-resolve"), tmpdir }
                + runAsArguments(),
            error))
        return false;

    // The port is free when probed but another test may take it first: try a few.
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (launch(error))
            break;
        if (attempt == 4)
            return false;
    }
    const QString grant = QStringLiteral("CREATE USER '%1'@'127.0.0.1' IDENTIFIED BY '%2';"
                                         "GRANT ALL ON *.* TO '%1'@'127.0.0.1';")
                              .arg(user(), password());
    return runClient({}, grant, nullptr, error);
}

bool MariaDbServer::launch(QString* error, bool samePort)
{
    if (!samePort)
        m_port = freePort();
    const QString log = m_dir->filePath(QStringLiteral("server.log"));
    QFile::remove(log);
    // What the server says before its log file opens is noise; failures are read from the log.
    m_server.setStandardOutputFile(QProcess::nullDevice());
    m_server.setStandardErrorFile(QProcess::nullDevice());
    m_server.start(QStringLiteral("/usr/sbin/mariadbd"),
        QStringList { QStringLiteral("--no-defaults"),
            QStringLiteral("--datadir=") + m_dir->filePath(QStringLiteral("data")),
            QStringLiteral("--port=%1").arg(m_port), QStringLiteral("--bind-address=127.0.0.1"),
            QStringLiteral("--socket=") + m_socket,
            QStringLiteral("--pid-file=") + m_dir->filePath(QStringLiteral("server.pid")),
            QStringLiteral("--log-error=") + log, QStringLiteral("--skip-log-bin"),
            QStringLiteral("--skip-name-resolve"), QStringLiteral("--innodb-buffer-pool-size=32M"),
            QStringLiteral("--innodb-log-file-size=16M"), QStringLiteral("--innodb-flush-log-at-trx-commit=2"),
            QStringLiteral("--tmpdir=") + m_dir->filePath(QStringLiteral("tmp")) }
            + runAsArguments());
    if (!m_server.waitForStarted(10000)) {
        *error = QStringLiteral("mariadbd cannot start");
        return false;
    }
    QDeadlineTimer deadline(30000);
    while (!deadline.hasExpired()) {
        if (m_server.state() == QProcess::NotRunning)
            break;
        QString ignored;
        if (QFile::exists(m_socket) && runClient({}, QStringLiteral("SELECT 1"), nullptr, &ignored))
            return true;
        QThread::msleep(100);
    }
    QFile f(log);
    f.open(QIODevice::ReadOnly);
    *error = QStringLiteral("mariadbd did not come up: ") + QString::fromUtf8(f.readAll().right(2000));
    stop();
    return false;
}

void MariaDbServer::stop()
{
    if (m_server.state() == QProcess::NotRunning)
        return;
    m_server.terminate();
    if (!m_server.waitForFinished(30000)) {
        m_server.kill();
        m_server.waitForFinished(5000);
    }
}

bool MariaDbServer::restart(QString* error)
{
    stop();
    return launch(error, true);
}

QStringList MariaDbServer::clientArguments() const
{
    return { QStringLiteral("--no-defaults"), QStringLiteral("-S"), m_socket, QStringLiteral("-u"), systemUser(),
        QStringLiteral("--default-character-set=utf8mb4"), QStringLiteral("-N"), QStringLiteral("-B") };
}

void MariaDbServer::startSession(QProcess& client, const QString& database) const
{
    client.start(QStringLiteral("mariadb"),
        clientArguments() + QStringList { QStringLiteral("--unbuffered"), QStringLiteral("-D"), database });
}

bool MariaDbServer::runClient(const QStringList& args, const QString& sql, QByteArray* out, QString* error) const
{
    return runTool(QStringLiteral("mariadb"), clientArguments() + args, error, out, sql.toUtf8());
}

bool MariaDbServer::createDatabase(const QString& name, QString* error)
{
    return runClient({}, QStringLiteral("CREATE DATABASE %1 CHARACTER SET latin1").arg(name), nullptr, error);
}

QList<QStringList> MariaDbServer::query(const QString& database, const QString& sql, QString* error) const
{
    QByteArray out;
    QString ignored;
    QList<QStringList> rows;
    if (!runClient({ QStringLiteral("-D"), database }, sql, &out, error ? error : &ignored))
        return rows;
    for (const QByteArray& line : out.split('\n')) {
        if (!line.isEmpty())
            rows.append(QString::fromUtf8(line).split(QLatin1Char('\t')));
    }
    return rows;
}
