#include "storagefixture.h"

#include <QDir>
#include <QMutex>
#include <QProcess>
#include <QTest>
#include <QtGlobal>

#include <algorithm>

#include "storage/databasewriter.h"

namespace
{

QStringList gWarnings;
QMutex gWarningsGuard; // the database writer logs from its own thread
QtMessageHandler gPrevious = nullptr;

void recordWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type != QtDebugMsg && type != QtInfoMsg) {
        QMutexLocker lock(&gWarningsGuard);
        gWarnings << text;
    }
    if (gPrevious)
        gPrevious(type, context, text);
}

// Python's own sqlite3 module as the second reader of the file; floats printed the way the
// mariadb client prints DOUBLE, so both dialects compare against the same texts.
const char* const kSqliteReader = R"(
import sqlite3, sys
con = sqlite3.connect(sys.argv[1], isolation_level=None, timeout=10)
rows = []
for statement in sys.stdin.read().split(';\n'):
    if statement.strip():
        rows = con.execute(statement).fetchall()
def text(v):
    if v is None:
        return 'NULL'
    if isinstance(v, float):
        return str(int(v)) if v.is_integer() else repr(v)
    return str(v)
for r in rows:
    print('\t'.join(text(v) for v in r))
)";

} // namespace

StorageFixture::StorageFixture()
    : m_home(QDir::currentPath())
{
    gPrevious = qInstallMessageHandler(recordWarnings);
    setPrompt(&boxes);
}

StorageFixture::~StorageFixture()
{
    end();
    setPrompt(nullptr);
    qInstallMessageHandler(gPrevious);
}

bool StorageFixture::startServer(QString* error)
{
    if (!m_serverUp)
        m_serverUp = server.start(error);
    return m_serverUp;
}

bool StorageFixture::begin(int dialect, QString* error)
{
    static int serial = 0;
    type = dialect;
    gWarnings.clear();
    expectedWarnings.clear();
    boxes.boxes.clear();
    closeCodes.clear();
    port = 0;
    work = std::make_unique<QTemporaryDir>();
    if (!work->isValid() || !QDir(work->path()).mkdir(QStringLiteral("data"))) {
        *error = QStringLiteral("no working folder");
        return false;
    }
    QDir::setCurrent(work->path());
    state = std::make_unique<AppState>();
    state->DaysSave = 730;
    if (type != 1)
        return true;
    databaseName = QStringLiteral("case%1").arg(++serial);
    return startServer(error) && server.createDatabase(databaseName, error);
}

QStringList StorageFixture::end()
{
    closeModule();
    state.reset();
    QDir::setCurrent(m_home);
    work.reset();
    QMutexLocker lock(&gWarningsGuard);
    QStringList warnings;
    for (const QString& warning : qAsConst(gWarnings)) {
        if (std::none_of(expectedWarnings.cbegin(), expectedWarnings.cend(),
                [&](const QString& prefix) { return warning.startsWith(prefix); }))
            warnings << warning;
    }
    gWarnings.clear();
    return warnings;
}

SQLBaseModule* StorageFixture::make()
{
    module = std::make_unique<SQLBaseModule>();
    state->followDatabase(*module);
    QObject::connect(module.get(), &SQLBaseModule::signalCloseApplication, [this](int code) { closeCodes << code; });
    QObject::connect(
        module.get(), &SQLBaseModule::signalStartFailed, [](QString e) { prompt()->critical("Ошибка", e); });
    QObject::connect(module.get(), &SQLBaseModule::signalWarning, [](QString t) { prompt()->warning("Внимание!", t); });
    return module.get();
}

SQLBaseModule* StorageFixture::open(int purgeInterval)
{
    closeModule();
    make();
    module->purgeInterval = purgeInterval;
    if (type == 1)
        module->init(1, QStringLiteral("127.0.0.1"), server.user(), server.password(), databaseName,
            port ? port : server.port());
    else
        module->init(0, QString(), QString(), QString(), QString(), 0);
    return module.get();
}

void StorageFixture::closeModule()
{
    if (!module)
        return;
    module->slotStopModule();
    module.reset();
}

void StorageFixture::forgetRegistry()
{
    qDeleteAll(state->sensors);
    qDeleteAll(state->locations);
    state->sensors.clear();
    state->locations.clear();
}

QList<QStringList> StorageFixture::sql(const QString& statements)
{
    // What the module was handed is read back only once its writer has stored it, and any
    // purge it was asked for is done.
    const auto idle = [this] { return module->writer->queueLength() == 0 && !module->writer->purging(); };
    if (module && module->writer && !QTest::qWaitFor(idle, 20000))
        qWarning("the database writer did not drain");
    lastError.clear();
    lastRows.clear();
    if (type == 1) {
        lastRows = server.query(databaseName, statements, &lastError);
        return lastRows;
    }
    QProcess python;
    python.start(QStringLiteral("/usr/bin/python3"),
        { QStringLiteral("-c"), QString::fromUtf8(kSqliteReader),
            work->filePath(QStringLiteral("data/measurement.db3")) });
    python.write(statements.toUtf8());
    python.closeWriteChannel();
    if (!python.waitForFinished(30000) || python.exitCode() != 0) {
        lastError = QString::fromUtf8(python.readAllStandardError());
        return lastRows;
    }
    for (const QByteArray& line : python.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty())
            lastRows.append(QString::fromUtf8(line).split(QLatin1Char('\t')));
    }
    return lastRows;
}

SensorData reading(double temperature)
{
    SensorData d;
    d.hasTemperature = d.hasWetness = d.hasBattery = true;
    d.temperature = temperature;
    d.wetness = 50;
    d.battery = 3;
    return d;
}
