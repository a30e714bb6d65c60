// The program as a process: the single-instance guard, the resource check and its exit codes,
// the start-up sequence, and an orderly close.
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSettings>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <sys/resource.h>
#include <utility>

#include "driverprocess.h"

namespace
{

struct Run {
    int exitCode = -1;
    QProcess::ExitStatus status = QProcess::NormalExit;
    QStringList lines;

    QStringList startupTexts() const
    {
        QStringList texts;
        for (const QString& l : lines) {
            if (l.startsWith(QLatin1String("STARTUP ")))
                texts << l.mid(8);
        }
        return texts;
    }
    QStringList starting(const QString& prefix) const
    {
        QStringList found;
        for (const QString& l : lines) {
            if (l.startsWith(prefix))
                found << l;
        }
        return found;
    }
};

const QString kFolderQuestion
    = QStringLiteral("QUESTION Поддиректория \"data\" не найдена.\\nСоздать её и вложенные ресурсы?");
const QString kConfigQuestion
    = QStringLiteral("QUESTION Файл \"data/config.ini\" не найден.\\nСоздать его и другие не найденные ресурсы?");
const QString kDatabaseQuestion
    = QStringLiteral("QUESTION Файл \"data/measurement.db3\" не найден.\\nСоздать его и другие не найденные ресурсы?");

// A configuration that keeps parallel runs off each other's ports.
const QByteArray kQuietConfig = "[Modem]\nPortName=/nonexistent/tty\nNetworkPort=0\n[Other]\nDaysSave=730\n";

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir* tmp = nullptr; // shared temp folder: the instance key lives there
    quint16 networkPort = 0; // the gateway port of the latest run, free when it started
    quint16 heldPort = 0; // when set, the gateway port of the next runs, which another socket holds

    QProcess* start(const QString& workdir, const QByteArray& answer, int closeMs, const QByteArray& open = {})
    {
        auto* p = new QProcess(this);
        QTcpServer probe;
        if (heldPort)
            networkPort = heldPort;
        else if (probe.listen(QHostAddress::Any, 0))
            networkPort = probe.serverPort();
        QVector<std::pair<const char*, QString>> driver { { "ANSWER", QString::fromLatin1(answer) },
            { "NETWORK_PORT", QString::number(networkPort) } };
        if (closeMs >= 0)
            driver.append({ "CLOSE_MS", QString::number(closeMs) });
        if (!open.isEmpty())
            driver.append({ "OPEN", QString::fromLatin1(open) });
        startDriver(*p, workdir, tmp->path(), driver);
        return p;
    }

    static Run finish(QProcess* p, int timeoutMs = 60000)
    {
        Run r;
        if (!p->waitForFinished(timeoutMs)) {
            p->kill();
            p->waitForFinished();
        }
        r.exitCode = p->exitCode();
        r.status = p->exitStatus();
        r.lines = QString::fromUtf8(p->readAllStandardOutput()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
        return r;
    }

    // Waits until the program's event loop runs (or it prints `line`); returns what it printed.
    static QString waitForEventLoop(QProcess* p, const QString& line = QStringLiteral("EVENT LOOP"))
    {
        QString out;
        QElapsedTimer clock;
        clock.start();
        while (!out.contains(line) && clock.elapsed() < 60000) {
            p->waitForReadyRead(200);
            out += QString::fromUtf8(p->readAllStandardOutput());
        }
        return out;
    }

    QString newFolder(const QString& name)
    {
        const QString path = tmp->path() + QLatin1Char('/') + name;
        QDir().mkpath(path);
        return path;
    }

    // A working folder with "data/" and the quiet configuration.
    QString quietFolder(const QString& name)
    {
        const QString path = newFolder(name);
        QDir(path).mkdir(QStringLiteral("data"));
        QFile cfg(path + QStringLiteral("/data/config.ini"));
        if (!cfg.open(QIODevice::WriteOnly) || cfg.write(kQuietConfig) != kQuietConfig.size())
            qFatal("cannot write %s", qPrintable(cfg.fileName()));
        return path;
    }

private slots:
    void init()
    {
        tmp = new QTemporaryDir;
        QVERIFY(tmp->isValid());
    }
    void cleanup()
    {
        delete tmp;
        tmp = nullptr;
    }

    void resourceCheck_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("exitCode");
        QTest::addColumn<QString>("question");
        QTest::addColumn<bool>("configAfter");

        QTest::newRow("empty folder, yes") << "empty" << QByteArray("yes") << 0 << kFolderQuestion << true;
        QTest::newRow("empty folder, no") << "empty" << QByteArray("no") << 1 << kFolderQuestion << false;
        QTest::newRow("no configuration, yes") << "data" << QByteArray("yes") << 0 << kConfigQuestion << true;
        QTest::newRow("no configuration, no") << "data" << QByteArray("no") << 1 << kConfigQuestion << false;
        QTest::newRow("no database, yes") << "config" << QByteArray("yes") << 0 << kDatabaseQuestion << true;
        QTest::newRow("no database, no") << "config" << QByteArray("no") << 1 << kDatabaseQuestion << true;
        QTest::newRow("everything present") << "all" << QByteArray("no") << 0 << QString() << true;
        QTest::newRow("folder cannot be made")
            << "blocked-folder" << QByteArray("yes") << 2 << kFolderQuestion << false;
        QTest::newRow("data is a file") << "data-file" << QByteArray("yes") << 2 << kFolderQuestion << false;
        QTest::newRow("configuration cannot be written")
            << "blocked-config" << QByteArray("yes") << 3 << kConfigQuestion << false;
    }
    void resourceCheck()
    {
        QFETCH(QString, setup);
        QFETCH(QByteArray, answer);
        QFETCH(int, exitCode);
        QFETCH(QString, question);
        QFETCH(bool, configAfter);

        const QString dir = newFolder(QStringLiteral("work"));
        QDir d(dir);
        auto writeConfig = [&] {
            QFile f(dir + QStringLiteral("/data/config.ini"));
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(kQuietConfig);
        };
        // Links into a missing folder stand for what cannot be created, even for root.
        if (setup == QLatin1String("blocked-folder"))
            QVERIFY(QFile::link(dir + QStringLiteral("/missing/data"), dir + QStringLiteral("/data")));
        if (setup == QLatin1String("data") || setup == QLatin1String("config") || setup == QLatin1String("all")
            || setup == QLatin1String("blocked-config"))
            QVERIFY(d.mkdir(QStringLiteral("data")));
        if (setup == QLatin1String("config") || setup == QLatin1String("all"))
            writeConfig();
        if (setup == QLatin1String("all")) {
            QFile db(dir + QStringLiteral("/data/measurement.db3"));
            QVERIFY(db.open(QIODevice::WriteOnly));
        }
        if (setup == QLatin1String("data-file")) {
            QFile file(dir + QStringLiteral("/data"));
            QVERIFY(file.open(QIODevice::WriteOnly));
        }
        if (setup == QLatin1String("blocked-config"))
            QVERIFY(QFile::link(dir + QStringLiteral("/missing/config.ini"), dir + QStringLiteral("/data/config.ini")));

        const Run run = finish(start(dir, answer, 500));
        QCOMPARE(run.status, QProcess::NormalExit);
        QCOMPARE(run.exitCode, exitCode);
        QCOMPARE(
            run.starting(QStringLiteral("QUESTION")), question.isEmpty() ? QStringList() : QStringList { question });
        QCOMPARE(QFile::exists(dir + QStringLiteral("/data/config.ini")), configAfter);
        if (exitCode == 1)
            QCOMPARE(QDir(dir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).contains(QStringLiteral("data")),
                setup != QLatin1String("empty"));
        if (exitCode != 0) {
            // Start-up ended before the configuration was loaded: nothing further happened.
            QVERIFY(!run.startupTexts().contains(QStringLiteral("Загрузка data/config.ini")));
            QVERIFY(run.starting(QStringLiteral("CONNECTIONS")).isEmpty());
        }
    }

    void fullStartAndClose()
    {
        const QString dir = newFolder(QStringLiteral("fresh"));
        const Run run = finish(start(dir, "yes", 1500));
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.starting(QStringLiteral("CONNECTIONS")), QStringList { QStringLiteral("CONNECTIONS 49/49") });
        QCOMPARE(run.starting(QStringLiteral("LOG")), QStringList());
        // Run under a Russian locale, as its users run it.
        QCOMPARE(qgetenv("LANG"), QByteArray("ru_RU.UTF-8"));
        QCOMPARE(run.starting(QStringLiteral("LOCALE")), QStringList { QStringLiteral("LOCALE C Отмена") });

        const QStringList expected { QStringLiteral("Инициализация модулей"), QStringLiteral("Проверка ресурсов"),
            QStringLiteral("Загрузка data/config.ini"), QStringLiteral("Инициалищация базы данных"),
            QStringLiteral("Инициализация модема") };
        QCOMPARE(run.startupTexts().mid(0, 5), expected);
        // The question comes between the resource check and loading the configuration.
        const int question = run.lines.indexOf(kFolderQuestion);
        QVERIFY(question > run.lines.indexOf(QStringLiteral("STARTUP Проверка ресурсов")));
        QVERIFY(question < run.lines.indexOf(QStringLiteral("STARTUP Загрузка data/config.ini")));

        // The configuration was loaded and written back on the way out.
        QSettings config(dir + QStringLiteral("/data/config.ini"), QSettings::IniFormat);
        QCOMPARE(config.value(QStringLiteral("Modem/NetworkPort")).toInt(), int(networkPort));
        QCOMPARE(config.value(QStringLiteral("Color/maximalCriticalHumidity")).toString(), QStringLiteral("#3232ff"));
        QCOMPARE(config.value(QStringLiteral("DB/Hostname")).toString(), QStringLiteral("localhost\\SQLEXPRESS"));
    }

    // Values that could not mean anything and an unreadable view file are told in one box, once
    // the main window is up; the defaults used are what is written back.
    void meaninglessSettingsWarnedAfterStartUp()
    {
        const QString dir = quietFolder(QStringLiteral("meaningless"));
        QFile cfg(dir + QStringLiteral("/data/config.ini"));
        QVERIFY(cfg.open(QIODevice::Append));
        // Lines written by hand in a Windows editor: a comment, a stray line, a password in its
        // code page.
        cfg.write("[DataWarning]\r\n# edited by hand\r\nTemperatureMinCritical=nan\r\n[DB]\r\nDBType=7\r\n"
                  "Password=\xcf\xe0\xf0\xee\xeb\xfc\r\nnot a setting\r\n");
        cfg.close();
        QFile view(dir + QStringLiteral("/data/view.conf"));
        QVERIFY(view.open(QIODevice::WriteOnly));
        view.write(QByteArray::fromHex("00ff10e2809c5b0a3d00fe"));
        view.close();

        const Run run = finish(start(dir, "yes", 1500));
        QCOMPARE(run.exitCode, 0);
        // The modem on a missing port has a box of its own.
        const QStringList warnings = run.starting(QStringLiteral("WARNING Внимание!|Некоторые строки"));
        QCOMPARE(warnings.size(), 1);
        QCOMPARE(run.starting(QStringLiteral("WARNING")).size(), 2);
        const QStringList copies = QDir(dir + QStringLiteral("/data")).entryList({ QStringLiteral("view.conf.bad-*") });
        QCOMPARE(copies.size(), 1);
        QCOMPARE(warnings.first(),
            QStringLiteral("WARNING Внимание!|Некоторые строки файла \"data/config.ini\" не удалось прочитать, они "
                           "пропущены и при записи настроек не сохранятся:\\n"
                           "строка 7: \"# edited by hand\"\\nстрока 12: \"not a setting\"\\n\\n"
                           "Значения DB/Password записаны в файле \"data/config.ini\" не в кодировке UTF-8 и прочитаны "
                           "как текст Windows-1251.\\n\\n"
                           "Значения некоторых настроек в файле \"data/config.ini\" не имеют смысла, "
                           "вместо них используются значения по умолчанию:\\n"
                           "DataWarning/TemperatureMinCritical = \"nan\": используется 5\\n"
                           "DB/DBType = \"7\": используется 0\\n\\n"
                           "Файл \"data/view.conf\" не удалось прочитать, вид окна восстановлен по умолчанию.\\n"
                           "Копия прежнего файла сохранена как \"data/%1\".")
                .arg(copies.first()));
        QVERIFY(
            run.lines.indexOf(warnings.first()) > run.lines.indexOf(QStringLiteral("STARTUP Создание главного окна")));

        QSettings config(dir + QStringLiteral("/data/config.ini"), QSettings::IniFormat);
        QCOMPARE(config.value(QStringLiteral("DataWarning/TemperatureMinCritical")).toString(), QStringLiteral("5"));
        QCOMPARE(config.value(QStringLiteral("DB/DBType")).toString(), QStringLiteral("0"));
        QCOMPARE(config.value(QStringLiteral("DB/Password")).toString(), QStringLiteral("Пароль"));
        QVERIFY(QSettings(dir + QStringLiteral("/data/view.conf"), QSettings::IniFormat)
                    .contains(QStringLiteral("MainWindow/geometry")));
    }

    void closeDuringQuestionEndsStartUp()
    {
        const QString dir = newFolder(QStringLiteral("closing"));
        const Run run = finish(start(dir, "close", -1));
        QCOMPARE(run.exitCode, 0);
        QVERIFY(!QFile::exists(dir + QStringLiteral("/data")));
        QVERIFY(!run.startupTexts().contains(QStringLiteral("Загрузка data/config.ini")));
    }

    // A stop signal closes the program as closing its window does: the view is kept and the
    // database closed; a second signal during the close changes nothing.
    void stopSignalClosesCleanly_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<int>("times");
        QTest::newRow("SIGTERM") << int(SIGTERM) << 1;
        QTest::newRow("SIGINT") << int(SIGINT) << 1;
        QTest::newRow("SIGTERM twice") << int(SIGTERM) << 2;
    }
    void stopSignalClosesCleanly()
    {
        QFETCH(int, signal);
        QFETCH(int, times);
        const QString dir = quietFolder(QStringLiteral("signalled"));
        QProcess* p = start(dir, "yes", -1);
        const QString window = QStringLiteral("STARTUP Создание главного окна");
        const QString out = waitForEventLoop(p, window);
        QVERIFY2(out.contains(window), qPrintable(out));
        QVERIFY(QFile::exists(dir + QStringLiteral("/data/measurement.db3-wal")));
        for (int i = 0; i < times; ++i)
            ::kill(pid_t(p->processId()), signal);
        const Run run = finish(p);
        QCOMPARE(run.status, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.starting(QStringLiteral("EXIT")), QStringList { QStringLiteral("EXIT 0") });
        QVERIFY(QSettings(dir + QStringLiteral("/data/view.conf"), QSettings::IniFormat)
                    .contains(QStringLiteral("MainWindow/geometry")));
        QVERIFY(!QFile::exists(dir + QStringLiteral("/data/measurement.db3-wal")));
    }

    // A stop signal while a dialog or a message box is open: they are ended first, the close
    // runs after their loops have returned, and what was typed into the dialog is saved.
    void stopSignalWithDialogOpen_data()
    {
        QTest::addColumn<QByteArray>("open");
        QTest::addColumn<QString>("modal");
        QTest::addColumn<int>("signal");
        const struct {
            const char* open;
            const char* modal;
        } cases[] = { { "settings", "DialogSettings" }, { "settings+box", "QMessageBox" }, { "about", "DialogAbout" },
            { "sendreport", "DialogSendReport" }, { "sensors", "DialogSensors" }, { "report", "DialogReport" },
            { "info", "DialogInfo" }, { "box", "QMessageBox" } };
        for (const auto& c : cases) {
            for (int signal : { SIGTERM, SIGINT }) {
                QTest::addRow("%s, %s", c.open, signal == SIGTERM ? "SIGTERM" : "SIGINT")
                    << QByteArray(c.open) << QString::fromLatin1(c.modal) << signal;
            }
        }
        // No signal: the report's box is answered by Return, then the main window closed.
        QTest::newRow("box+return") << QByteArray("box+return") << QStringLiteral("QMessageBox") << 0;
    }
    void stopSignalWithDialogOpen()
    {
        QFETCH(QByteArray, open);
        QFETCH(QString, modal);
        QFETCH(int, signal);
        const QString dir = quietFolder(QStringLiteral("dialog"));
        QProcess* p = start(dir, "yes", -1, open);
        const QString opened = QStringLiteral("OPEN ") + modal;
        const QString out = waitForEventLoop(p, opened);
        ::kill(pid_t(p->processId()), signal);
        const Run run = finish(p);
        QVERIFY2(out.contains(opened), qPrintable(out));
        QCOMPARE(run.status, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        QCOMPARE(run.starting(QStringLiteral("EXIT")), QStringList { QStringLiteral("EXIT 0") });
        const QSettings config(dir + QStringLiteral("/data/config.ini"), QSettings::IniFormat);
        QCOMPARE(config.value(QStringLiteral("Color/maximalCriticalHumidity")).toString(), QStringLiteral("#3232ff"));
        QCOMPARE(config.value(QStringLiteral("Other/DaysSave")).toInt(), open.startsWith("settings") ? 123 : 730);
        QVERIFY(QSettings(dir + QStringLiteral("/data/view.conf"), QSettings::IniFormat)
                    .contains(QStringLiteral("MainWindow/geometry")));
        QVERIFY(!QFile::exists(dir + QStringLiteral("/data/measurement.db3-wal")));
    }

    // Under a file-size limit (ulimit -f) a write past it fails as on a full disk: the program
    // that cannot copy an unreadable configuration aside says so and runs on, the file left as it
    // was, instead of being ended by SIGXFSZ while the start-up window is up.
    void fileSizeLimitFailsLikeAFullDisk()
    {
        const QString dir = quietFolder(QStringLiteral("limited"));
        QByteArray garbage;
        while (garbage.size() < 3 * 1024 * 1024)
            garbage += "this is no configuration at all\n";
        QFile cfg(dir + QStringLiteral("/data/config.ini"));
        QVERIFY(cfg.open(QIODevice::WriteOnly) && cfg.write(garbage) == garbage.size());
        cfg.close();
        // The program inherits the limit, and the signal's default action.
        rlimit limit;
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &limit), 0);
        const rlim_t was = std::exchange(limit.rlim_cur, rlim_t(1) << 20);
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        QProcess* p = start(dir, "yes", 1500);
        limit.rlim_cur = was;
        QCOMPARE(::setrlimit(RLIMIT_FSIZE, &limit), 0);
        const Run run = finish(p);
        QCOMPARE(run.status, QProcess::NormalExit);
        QCOMPARE(run.exitCode, 0);
        const QString box
            = QStringLiteral("WARNING Внимание!|Файл \"data/config.ini\" не удалось прочитать, используются "
                             "настройки по умолчанию.\\nСохранить копию файла не удалось, поэтому файл "
                             "останется как есть, пока настройки не будут сохранены в окне настроек.");
        QVERIFY2(run.lines.count(box) == 1, qPrintable(run.lines.join(QLatin1Char('\n'))));
        QVERIFY(cfg.open(QIODevice::ReadOnly));
        QVERIFY(cfg.readAll() == garbage);
        QCOMPARE(QDir(dir + QStringLiteral("/data")).entryList({ QStringLiteral("config.ini.bad-*") }), QStringList());
    }

    // A gateway port that another program holds is named in the main window: no gateway could
    // connect, and a line on stderr alone would leave the user guessing.
    void takenNetworkPortNamed()
    {
        QTcpServer holder;
        QVERIFY(holder.listen(QHostAddress::Any, 0));
        heldPort = holder.serverPort();
        const Run run = finish(start(quietFolder(QStringLiteral("taken")), "yes", 1500));
        heldPort = 0;
        QCOMPARE(run.exitCode, 0);
        const QStringList said
            = run.starting(QStringLiteral("STATUS Не удалось открыть порт %1 для шлюзов: ").arg(networkPort));
        QVERIFY2(said.size() == 1
                && said[0].endsWith(QStringLiteral(". Шлюзы не смогут подключиться: закройте программу, которая "
                                                   "занимает этот порт, или укажите другой порт в настройках и "
                                                   "перезапустите программу.")),
            qPrintable(run.lines.join('\n')));
    }

    // A stop signal while the index of a file from before the wide index is being widened, a
    // step that lets events in: the step finishes, start-up ends there, and the program exits
    // with 0, its file whole and widened, or as it was.
    void stopSignalDuringIndexWidening()
    {
        const QString dir = quietFolder(QStringLiteral("widening"));
        QCOMPARE(finish(start(dir, "yes", 500)).exitCode, 0);
        const auto python = [&](const char* script) {
            QProcess p;
            p.start(QStringLiteral("/usr/bin/python3"),
                { QStringLiteral("-c"),
                    QStringLiteral("import sqlite3, sys\nc = sqlite3.connect(sys.argv[1])\n") + script,
                    dir + QStringLiteral("/data/measurement.db3") });
            return p.waitForFinished(120000) && p.exitCode() == 0 ? p.readAllStandardOutput().trimmed() : "failed";
        };
        QCOMPARE(python("c.executescript('DROP INDEX measure_sensor_time; CREATE INDEX measure_sensor_time ON measure "
                        "(sensor_id, timemeasure); WITH RECURSIVE n(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM n "
                        "WHERE i < 999999) INSERT INTO measure (sensor_id, timemeasure, temperature) SELECT 1 + i % "
                        "50, strftime(\\'%s\\', \\'now\\') - i, i % 400 / 10.0 FROM n')"),
            QByteArray());

        QProcess* p = start(dir, "yes", -1);
        const QString widening = QStringLiteral("STARTUP Перестроение индекса измерений...");
        const QString out = waitForEventLoop(p, widening);
        ::kill(pid_t(p->processId()), SIGTERM);
        const Run run = finish(p);
        QVERIFY2(out.contains(widening), qPrintable(out));
        QCOMPARE(run.status, QProcess::NormalExit);
        QCOMPARE(run.starting(QStringLiteral("CRITICAL")), QStringList());
        QCOMPARE(run.starting(QStringLiteral("EXIT")), QStringList { QStringLiteral("EXIT 0") });
        QCOMPARE(run.exitCode, 0);
        // The close ended start-up: no main window came.
        QVERIFY(!(out + run.lines.join('\n')).contains(QLatin1String("STARTUP Создание главного окна")));
        const QByteArray read = python("print(c.execute('PRAGMA integrity_check').fetchone()[0], c.execute('SELECT "
                                       "COUNT(*) FROM measure').fetchone()[0], c.execute(\"SELECT COUNT(*) FROM "
                                       "pragma_index_info('measure_sensor_time')\").fetchone()[0])");
        QVERIFY2(read == "ok 1000000 5" || read == "ok 1000000 2", read.constData());
    }

    void secondCopyIsTurnedAway()
    {
        const QString firstDir = quietFolder(QStringLiteral("first"));
        QProcess* first = start(firstDir, "yes", -1);
        QVERIFY(waitForEventLoop(first).contains(QLatin1String("EVENT LOOP")));

        const QString secondDir = newFolder(QStringLiteral("second"));
        const Run second = finish(start(secondDir, "yes", 500));
        QCOMPARE(second.exitCode, 0);
        QCOMPARE(second.starting(QStringLiteral("CRITICAL")),
            QStringList { QStringLiteral("CRITICAL |Приложение уже запущено") });
        QVERIFY(second.starting(QStringLiteral("QUESTION")).isEmpty());
        QVERIFY(QDir(secondDir).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());

        // The first copy goes on undisturbed.
        QCOMPARE(first->state(), QProcess::Running);
        first->terminate();
        finish(first);
    }

    void killedCopyDoesNotLockOut()
    {
        const QString dir = quietFolder(QStringLiteral("killed"));

        QProcess* first = start(dir, "yes", -1);
        const QString out = waitForEventLoop(first);
        QVERIFY2(out.contains(QLatin1String("EVENT LOOP")), qPrintable(out));
        ::kill(pid_t(first->processId()), SIGKILL);
        QVERIFY(first->waitForFinished(10000));
        QCOMPARE(first->exitStatus(), QProcess::CrashExit);

        const Run next = finish(start(dir, "yes", 500));
        QCOMPARE(next.exitCode, 0);
        QVERIFY(next.starting(QStringLiteral("CRITICAL")).isEmpty());
        QVERIFY(!next.starting(QStringLiteral("CONNECTIONS")).isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestStartup)
#include "tst_startup.moc"
