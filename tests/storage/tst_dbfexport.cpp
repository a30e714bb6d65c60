// The DBF export on SQLite: the file read back by python's dbfread (not by our writer), the
// module in its own thread on a short interval, failures that keep the old file, and the
// intake that goes on while an export reads.
#include <QElapsedTimer>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>

#include "storage/databasewriter.h"
#include "storage/dbfexport.h"
#include "fulldisk.h"
#include "storagefixture.h"

namespace
{

const QString kSuccess = QStringLiteral("Данные экпортированны в базу данных .DBF");
const QString kFailure = QStringLiteral("Не удалось загрузить драйвер ODBC для базы данных .DBF");

// dbfread decodes with the code page named by the header's language driver byte; the raw
// pass shows the bytes of every field, so a blank can be told from a zero.
const char* const kReader = R"(
import json, sys
from dbfread import DBF
path = sys.argv[1]
with open(path, 'rb') as f:
    head = f.read(32)
table = DBF(path, load=False)
out = {'version': head[0], 'ldid': head[29], 'encoding': table.encoding,
       'count': table.header.numrecords,
       'fields': [[f.name, f.type, f.length, f.decimal_count] for f in table.fields]}
if sys.argv[2] == 'all':
    out['records'] = [list(r.values()) for r in table]
    out['raw'] = [[v.decode('latin-1') for v in r.values()] for r in DBF(path, raw=True)]
print(json.dumps(out))
)";

// Sensors: one per location kind, one whose location does not exist. Measurements stored
// out of time order, two of them too wide for their fields.
const char* const kFixture = "INSERT INTO locations (id, name, EUI64, ip) VALUES (1, 'Цех \"Север\" 100%', '', '');\n"
                             "INSERT INTO locations (id, name, EUI64, ip) VALUES (2, 'O''Brien''s room', '', '');\n"
                             "INSERT INTO sensors (id, EUI64, name, location, datecheck) VALUES "
                             "(1, '00137A0000000001', 'Датчик №1', 1, '2024.05.01');\n"
                             "INSERT INTO sensors (id, EUI64, name, location, datecheck) VALUES "
                             "(2, '00137A0000000002', 'Sensor ''quoted'' 50% %1', 2, '2023.12.31');\n"
                             "INSERT INTO sensors (id, EUI64, name, location, datecheck) VALUES "
                             "(3, '00137A0000000003', 'Lost', 7, '2024.01.01');\n"
                             "INSERT INTO sensors (id, EUI64, name, location, datecheck) VALUES "
                             "(4, '00137A0000000004', 'Новый', 0, '2022.02.02');\n"
                             "INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) VALUES "
                             "(1, 1700000300, 21.5, 40.25, 3.05), (2, 1700000100, -5.75, NULL, 2.9), "
                             "(3, 1700000200, 1, 2, 3), (4, 1700000000, 1e12, -12345678.9, NULL), "
                             "(1, 4102444800, 0, 0, 0), (2, 1700000150, 2.675, 99.99, 3.04688)";

QJsonArray row(int id, const char* eui64, const QString& name, const QString& location, const char* date, qint64 time,
    const QJsonValue& t, const QJsonValue& h, const QJsonValue& b)
{
    return QJsonArray { id, eui64, name, location, date, double(time), t, h, b };
}

const QString kSensor1 = QStringLiteral("Датчик №1");
const QString kSensor2 = QStringLiteral("Sensor 'quoted' 50% %1");
const QString kRoom1 = QStringLiteral("Цех \"Север\" 100%");
const QString kRoom2 = QStringLiteral("O'Brien's room");

// The fixture's rows as the file must hold them: time order, ids from 0, the sensor of the
// missing location left out, absent values and values too wide for their fields blank.
QJsonArray fixtureRows()
{
    const QJsonValue none;
    return QJsonArray { row(0, "00137A0000000004", "Новый", "Новые датчики", "2022.02.02", 1700000000, none, none,
                            none),
        row(1, "00137A0000000002", kSensor2, kRoom2, "2023.12.31", 1700000100, -5.75, none, 2.9),
        row(2, "00137A0000000002", kSensor2, kRoom2, "2023.12.31", 1700000150, 2.68, 99.99, 3.05),
        row(3, "00137A0000000001", kSensor1, kRoom1, "2024.05.01", 1700000300, 21.5, 40.25, 3.05),
        row(4, "00137A0000000001", kSensor1, kRoom1, "2024.05.01", 4102444800, 0.0, 0.0, 0.0) };
}

QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

SensorData reading(double t, double w, double b)
{
    SensorData d;
    d.hasTemperature = d.hasWetness = d.hasBattery = true;
    d.temperature = t;
    d.wetness = w;
    d.battery = b;
    return d;
}

} // namespace

class TestDbfExport : public QObject
{
    Q_OBJECT

    StorageFixture f;
    QString out;
    QStringList texts;

    // The file as dbfread sees it; `records` adds every record, decoded and raw.
    QJsonObject readBack(const QString& path, bool records = true)
    {
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"),
            { QStringLiteral("-c"), QString::fromUtf8(kReader), path,
                records ? QStringLiteral("all") : QStringLiteral("header") });
        const bool finished = python.waitForFinished(120000);
        const QByteArray errors = python.readAllStandardError();
        if (!finished || python.exitStatus() != QProcess::NormalExit || python.exitCode() != 0) {
            QTest::qFail(qPrintable(QStringLiteral("the DBF reader failed: %1 %2")
                                        .arg(python.errorString(), QString::fromUtf8(errors))),
                __FILE__, __LINE__);
            return QJsonObject();
        }
        return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    }

    // A module for direct calls in the test's thread, reading this case's SQLite file.
    std::unique_ptr<DbfExport> directModule(bool enabled = true, int type = 0)
    {
        auto module = std::make_unique<DbfExport>();
        module->slotSetDatabase(type, QString(), QString(), QString(), QString(), 0);
        module->slotSetSettings(enabled, out);
        connect(module.get(), &DbfExport::signalUpdateStatus, this, [this](const QString& text) { texts << text; });
        return module;
    }

    // A module moved into its own thread, reached only through queued signals like the
    // application's; one minute of its interval lasts `minuteMs`.
    DbfExport* startThread(int minuteMs, bool enabled)
    {
        auto* module = new DbfExport;
        module->minuteMs = minuteMs;
        module->moveToThread(module);
        connect(this, &TestDbfExport::setDatabase, module, &DbfExport::slotSetDatabase);
        connect(this, &TestDbfExport::setSettings, module, &DbfExport::slotSetSettings);
        connect(this, &TestDbfExport::setInterval, module, &DbfExport::slotSetInterval);
        connect(this, &TestDbfExport::exportNow, module, &DbfExport::slotExportDBF);
        connect(this, &TestDbfExport::stop, module, &DbfExport::slotStopModule);
        connect(module, &DbfExport::signalUpdateStatus, this, [this](const QString& text) { texts << text; });
        module->start();
        emit setDatabase(0, QString(), QString(), QString(), QString(), 0);
        emit setSettings(enabled, out);
        return module;
    }

    void stopThread(DbfExport* module)
    {
        emit stop();
        QVERIFY(module->wait(60000));
        delete module;
        // Texts the thread sent before it stopped belong to this case, not to the next one.
        QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
    }

signals:
    void setDatabase(int type, QString hostname, QString username, QString password, QString database, int port);
    void setSettings(bool enabled, QString path);
    void setInterval(int minutes);
    void exportNow();
    void stop();

private slots:
    void init()
    {
        QString error;
        QVERIFY2(f.begin(0, &error), qPrintable(error));
        QVERIFY(f.open());
        QVERIFY(f.closeCodes.isEmpty());
        f.sql(QString::fromUtf8(kFixture));
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        out = f.work->filePath(QStringLiteral("out"));
        QVERIFY(QDir().mkpath(out));
        texts.clear();
    }
    void cleanup()
    {
        const QStringList warnings = f.end();
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }

    void readBackEveryField()
    {
        directModule()->slotExportDBF();
        QCOMPARE(texts, QStringList { kSuccess });
        QCOMPARE(entries(out), QStringList { QStringLiteral("export.dbf") });

        const QJsonObject file = readBack(out + QStringLiteral("/export.dbf"));
        QCOMPARE(file.value("version").toInt(), 0x03);
        QCOMPARE(file.value("ldid").toInt(), 0xC9);
        QCOMPARE(file.value("encoding").toString(), QStringLiteral("cp1251"));
        const QJsonArray fields { QJsonArray { "id", "N", 10, 0 }, QJsonArray { "EUI64", "C", 20, 0 },
            QJsonArray { "name", "C", 254, 0 }, QJsonArray { "locName", "C", 254, 0 },
            QJsonArray { "dateCheck", "C", 11, 0 }, QJsonArray { "tmMeasure", "N", 11, 0 },
            QJsonArray { "temperatur", "N", 10, 2 }, QJsonArray { "humidity", "N", 10, 2 },
            QJsonArray { "battery", "N", 10, 2 } };
        QCOMPARE(file.value("fields").toArray(), fields);
        QCOMPARE(file.value("count").toInt(), 5);
        const QJsonArray records = file.value("records").toArray();
        const QJsonArray expected = fixtureRows();
        QCOMPARE(records.size(), expected.size());
        for (int i = 0; i < expected.size(); ++i)
            QCOMPARE(records.at(i).toArray(), expected.at(i).toArray());

        // An absent value is blank in the file, and so is one too wide for its field (the stars
        // of the format read as 0.00 in some readers); a zero is written as one.
        const QJsonArray raw = file.value("raw").toArray();
        for (int column : { 6, 7, 8 }) {
            QCOMPARE(raw.at(0).toArray().at(column).toString(), QString(10, QLatin1Char(' ')));
            QCOMPARE(raw.at(4).toArray().at(column).toString(), QStringLiteral("      0.00"));
        }
        QCOMPARE(raw.at(1).toArray().at(7).toString(), QString(10, QLatin1Char(' ')));
    }

    void secondExportHoldsOnlyNewRows()
    {
        auto module = directModule();
        module->slotExportDBF();
        f.sql("DELETE FROM measure WHERE timemeasure <= 1700000150;\n"
              "INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) VALUES "
              "(4, 1700000400, 1.1, 2.2, 3.3)");
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        module->slotExportDBF();
        QCOMPARE(texts, (QStringList { kSuccess, kSuccess }));
        const QJsonArray expected { row(0, "00137A0000000001", kSensor1, kRoom1, "2024.05.01", 1700000300, 21.5, 40.25,
                                        3.05),
            row(1, "00137A0000000004", "Новый", "Новые датчики", "2022.02.02", 1700000400, 1.1, 2.2, 3.3),
            row(2, "00137A0000000001", kSensor1, kRoom1, "2024.05.01", 4102444800, 0.0, 0.0, 0.0) };
        QCOMPARE(readBack(out + QStringLiteral("/export.dbf")).value("records").toArray(), expected);
        QCOMPARE(entries(out), QStringList { QStringLiteral("export.dbf") });
    }

    void exportOffWritesNothing()
    {
        directModule(false)->slotExportDBF();
        QVERIFY(texts.isEmpty());
        QVERIFY(entries(out).isEmpty());
    }

    void sqlServerWritesAnEmptyTable()
    {
        directModule(true, 2)->slotExportDBF();
        QCOMPARE(texts, QStringList { kSuccess });
        const QJsonObject file = readBack(out + QStringLiteral("/export.dbf"));
        QCOMPARE(file.value("count").toInt(), 0);
        QCOMPARE(file.value("fields").toArray().size(), 9);
    }

    void failureKeepsTheOldFile_data()
    {
        QTest::addColumn<QString>("breakage");
        QTest::addColumn<QString>("text"); // the status text, up to the system's own words
        const QString tooLarge = QStringLiteral("Не удалось записать <out>/export.dbf: Файл больше, чем допускают диск "
                                                "или система. Выберите другой диск. Подробности: ");
        QTest::newRow("missing folder") << "missing folder" << kFailure;
        QTest::newRow("folder under a regular file") << "under a file" << kFailure;
        QTest::newRow("dangling symlink") << "dangling symlink" << kFailure;
        QTest::newRow("empty folder setting") << "empty path" << kFailure;
        QTest::newRow("export.dbf is a folder") << "target folder" << kFailure;
        QTest::newRow("query fails") << "query fails" << kFailure;
        QTest::newRow("database file missing") << "database missing" << kFailure;
        QTest::newRow("write fails") << "write fails" << tooLarge;
        // shapelib writes the last record only when it closes the file, and says nothing of
        // a failure there.
        QTest::newRow("last record fails on close") << "close fails" << tooLarge;
        QTest::newRow("disk full") << "disk full"
                                   << "Не удалось записать <full>/export.dbf: На диске не осталось места. Освободите место на "
                                      "диске или выберите другую папку. Подробности: ";
    }
    void failureKeepsTheOldFile()
    {
        QFETCH(QString, breakage);
        QFETCH(QString, text);
        auto module = directModule();
        module->slotExportDBF();
        QCOMPARE(texts, QStringList { kSuccess });
        const QString target = out + QStringLiteral("/export.dbf");
        const QByteArray old = fileBytes(target);
        QVERIFY(!old.isEmpty());
        texts.clear();

        QString folder = out;
        rlim_t fileLimit = 0;
        std::unique_ptr<FullDisk> disk;
        if (breakage == "missing folder") {
            folder = f.work->filePath("none");
        } else if (breakage == "under a file") {
            QFile plain(f.work->filePath("plain"));
            QVERIFY(plain.open(QIODevice::WriteOnly));
            folder = plain.fileName() + "/sub";
        } else if (breakage == "dangling symlink") {
            folder = f.work->filePath("link");
            QVERIFY(QFile::link(f.work->filePath("gone"), folder));
        } else if (breakage == "empty path") {
            folder.clear();
        } else if (breakage == "target folder") {
            QVERIFY(QFile::remove(target));
            QVERIFY(QDir().mkpath(target + "/inside"));
        } else if (breakage == "query fails") {
            f.sql("DROP TABLE measure");
        } else if (breakage == "database missing") {
            f.closeModule();
            QVERIFY(QFile::rename("data/measurement.db3", "data/moved.db3"));
        } else if (breakage == "write fails") {
            // Far more than the 64 KiB the file may grow to below.
            f.sql("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < 2000) "
                  "INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) "
                  "SELECT 1, 1800000000 + x, 20, 50, 3 FROM c");
            fileLimit = 64 * 1024;
        } else if (breakage == "close fails") {
            // The same rows again: the limit falls inside the last record.
            fileLimit = old.size() - 300;
        } else if (breakage == "disk full") {
            disk = std::make_unique<FullDisk>(folder = f.work->filePath("full"), 64 * 1024);
            QVERIFY2(disk->fill(), qPrintable(disk->error()));
        }
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));

        module->slotSetSettings(true, folder);
        if (fileLimit) {
            // Past the limit a write fails with EFBIG instead of raising SIGXFSZ.
            const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
            rlimit previous {};
            QCOMPARE(getrlimit(RLIMIT_FSIZE, &previous), 0);
            rlimit limited = previous;
            limited.rlim_cur = fileLimit;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
            module->slotExportDBF();
            setrlimit(RLIMIT_FSIZE, &previous);
            std::signal(SIGXFSZ, previousHandler);
        } else {
            module->slotExportDBF();
        }

        QCOMPARE(texts.size(), 1);
        QVERIFY2(texts[0].startsWith(text.replace("<out>", out).replace("<full>", folder)), qPrintable(texts[0]));
        if (disk) {
            disk->free();
            QCOMPARE(entries(folder), QStringList());
        }
        if (breakage == "target folder") {
            QVERIFY(QFileInfo(target).isDir());
            QCOMPARE(entries(target), QStringList { QStringLiteral("inside") });
        } else {
            QCOMPARE(fileBytes(target), old);
        }
        QCOMPARE(entries(out), QStringList { QStringLiteral("export.dbf") });
        QVERIFY(!QFileInfo::exists(f.work->filePath("none")));
        QVERIFY(!QFileInfo::exists(f.work->filePath("gone")));
        if (breakage == "database missing")
            QVERIFY(!QFileInfo::exists("data/measurement.db3"));
    }

    void threadExportsOnItsTimer()
    {
        DbfExport* module = startThread(20, true);
        // One minute below the range: the interval is held at five, 100 ms here.
        emit setInterval(1);
        QTRY_VERIFY_WITH_TIMEOUT(!texts.isEmpty(), 10000);
        QCOMPARE(texts.first(), kSuccess);
        QCOMPARE(readBack(out + QStringLiteral("/export.dbf")).value("records").toArray(), fixtureRows());

        // Unclamped, one "minute" would give 50 exports a second; held at 100 ms it gives
        // ten, give or take the timer's drift and a text already on its way.
        texts.clear();
        QElapsedTimer waited;
        waited.start();
        QTest::qWait(1000);
        const int exports = texts.size();
        const qint64 allowed = waited.elapsed() / 100 + 3;
        stopThread(module);
        QVERIFY2(exports <= allowed, qPrintable(QStringLiteral("%1 > %2").arg(exports).arg(allowed)));
        QCOMPARE(entries(out), QStringList { QStringLiteral("export.dbf") });
    }

    void threadWithExportOffWritesNothing()
    {
        DbfExport* module = startThread(10, false);
        QTest::qWait(600);
        stopThread(module);
        QVERIFY(texts.isEmpty());
        QVERIFY(entries(out).isEmpty());
    }

    void intakeGoesOnDuringALongExport()
    {
        const int bulk = 100000;
        f.sql(QStringLiteral("WITH RECURSIVE c(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM c WHERE x < %1) "
                             "INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) "
                             "SELECT 1 + x % 2, 1600000000 + x, x % 50, x % 100, 3 FROM c")
                  .arg(bulk));
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        const int before = bulk + 6;

        // An interval of a day: only the explicit request below exports.
        DbfExport* module = startThread(60000, true);
        emit exportNow();
        int stored = 0;
        QElapsedTimer clock;
        clock.start();
        // Each measurement is stored before the next is handed over, all while the export runs.
        while (texts.isEmpty() && clock.elapsed() < 120000) {
            f.module->slotSensorDataReceived(arrived(QStringLiteral("00137A0000000001"), reading(20.5, 45, 3.1)));
            ++stored;
            QTRY_COMPARE(f.module->writer->queueLength(), 0);
        }
        stopThread(module);
        QCOMPARE(texts, QStringList { kSuccess });
        QVERIFY2(stored > 1, qPrintable(QString::number(stored)));

        f.sql("SELECT count(*) FROM measure");
        QCOMPARE(f.lastRows, QList<QStringList> { { QString::number(before + stored) } });
        // The export holds the rows of its own moment: all earlier ones, the sensor of the
        // missing location left out.
        const int exported = readBack(out + QStringLiteral("/export.dbf"), false).value("count").toInt();
        QVERIFY2(exported >= before - 1 && exported <= before - 1 + stored, qPrintable(QString::number(exported)));
    }
};

QTEST_GUILESS_MAIN(TestDbfExport)
#include "tst_dbfexport.moc"
