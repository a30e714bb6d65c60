// The three workbooks from a seeded database on both dialects, read back by openpyxl (not by
// our writer); the report figures and sheet names from tables of cases; the dialog's keys,
// messages, failures and Cancel.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QProgressDialog>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

#include <clocale>
#include <cstdio>

#include "app/dailyreport.h"
#include "app/measuredatareport.h"
#include "app/processlocale.h"
#include "app/roomreport.h"
#include "dialogs/dialogreport.h"
#include "storage/xlsxdocument.h"
#include "fulldisk.h"
#include "storagefixture.h"
#include "ui_dialogreport.h"

namespace
{

// A case stops where its seeding failed.
#define SEED(type)                                                                                                     \
    seed(type);                                                                                                        \
    if (QTest::currentTestFailed())                                                                                    \
    return

// Every sheet: name, cells (value and a look code: b bold, c centred, v vertically centred,
// t thin border all round, rN rotation), merged ranges and set column widths.
const char* const kReader = R"(
import json, sys, openpyxl
from openpyxl.cell.cell import MergedCell
wb = openpyxl.load_workbook(sys.argv[1])
out = {'active': wb.active.title, 'sheets': []}
for ws in wb.worksheets:
    cells = {}
    for row in ws.iter_rows():
        for c in row:
            if isinstance(c, MergedCell):
                continue
            b = c.border
            look = ('b' if c.font.b else '') + ('c' if c.alignment.horizontal == 'center' else '') \
                + ('v' if c.alignment.vertical == 'center' else '') \
                + ('t' if all(s.style == 'thin' for s in (b.left, b.right, b.top, b.bottom)) else '') \
                + ('r%d' % c.alignment.textRotation if c.alignment.textRotation else '')
            if c.value is not None or look:
                cells[c.coordinate] = [c.value if c.value is not None else '', look]
    out['sheets'].append({'name': ws.title, 'cells': cells,
        'merged': sorted(str(r) for r in ws.merged_cells.ranges),
        'widths': {k: d.width for k, d in ws.column_dimensions.items() if d.customWidth}})
print(json.dumps(out))
)";

const qint64 kBase = 1709208000; // 2024-02-29 12:00:00 UTC
const qint64 kDay2 = 1709276400; // 2024-03-01 07:00:00 UTC, start of that day's window

QString seedSql()
{
    auto rows = [](int sensor, const QList<QStringList>& values) {
        QStringList out;
        for (const QStringList& v : values)
            out << QStringLiteral("(%1, %2)").arg(sensor).arg(v.join(QStringLiteral(", ")));
        return out.join(QStringLiteral(", "));
    };
    const auto at = [](qint64 t) { return QString::number(t); };
    return QStringLiteral(
        "INSERT INTO locations (id, name, EUI64, ip) VALUES (1, 'Цех', '', ''), (2, 'Склад', '', '');\n"
        "INSERT INTO sensors (id, EUI64, name, location, datecheck, isEnabled, tMinCritical) VALUES "
        "(1, '00137A0000000001', 'Т1', 1, '2023.04.29', 0, 0), (2, '00137A0000000002', 'Т1', 1, "
        "'2024.01.01', 1, -5.5), (3, '00137A0000000003', 'Т3', 2, '2024.01.01', 0, 0), "
        "(4, '00137A0000000004', 'Т4', 0, '2024.01.01', 0, 0);\n"
        "INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) VALUES %1, %2, %3")
        // Stored out of time order; one row before the period; NULLs in every column.
        .arg(rows(1,
                 { { at(kBase + 300), "25", "50", "3" }, { at(kBase), "20", "50", "3" },
                     { at(kBase + 180), "31", "85", "2" }, { at(kBase + 60), "30", "NULL", "NULL" },
                     { at(kBase - 86400), "100", "100", "1" } }),
            rows(2,
                { { at(kBase), "NULL", "40", "2" }, { at(kBase + 1000), "NULL", "40", "2" },
                    { at(kBase + 1200), "NULL", "40", "3" } }),
            // The daily window of 1 March: its two ends count, a second outside does not.
            rows(4,
                { { at(kDay2), "10", "40", "3" }, { at(kDay2 + 14400), "20", "NULL", "3" },
                    { at(kDay2 - 1), "100", "100", "3" }, { at(kDay2 + 14401), "100", "100", "3" } }));
}

struct Cell {
    const char* ref;
    QString value;
    const char* look;
};

} // namespace

class TestReports : public QObject
{
    Q_OBJECT

    StorageFixture f;
    std::unique_ptr<DialogReport> dialog;
    const bool utc = qgetenv("TZ") == "UTC";

    QJsonObject readBack(const QString& path)
    {
        QProcess python;
        python.start(QStringLiteral("/usr/bin/python3"), { QStringLiteral("-c"), QString::fromUtf8(kReader), path });
        if (!python.waitForFinished(120000) || python.exitCode() != 0) {
            QTest::qFail(python.readAllStandardError().constData(), __FILE__, __LINE__);
            return {};
        }
        return QJsonDocument::fromJson(python.readAllStandardOutput()).object();
    }

    static void compareCells(const QJsonObject& sheet, const QVector<Cell>& expected)
    {
        const QJsonObject cells = sheet.value(QStringLiteral("cells")).toObject();
        for (const Cell& c : expected) {
            const QJsonArray got = cells.value(QLatin1String(c.ref)).toArray();
            QVERIFY2(got.size() == 2, c.ref);
            QCOMPARE(got[0].toString() + QLatin1Char('|') + got[1].toString(),
                c.value + QLatin1Char('|') + QLatin1String(c.look));
        }
    }

    // A seeded database of the given type, the registry loaded from it and the dialog filled.
    void seed(int type)
    {
        QString error;
        QVERIFY2(f.begin(type, &error), qPrintable(error));
        QVERIFY(f.open());
        f.sql(seedSql());
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        f.state = std::make_unique<AppState>();
        f.state->DaysSave = 100000; // the seeded readings lie years back
        QVERIFY(f.open());
        QCOMPARE(f.state->sensors.size(), 4);
        f.state->TemperatureMinCritical = 10;
        f.state->TemperatureMaxCritical = 30;
        f.state->WetnessMinCritical = 20;
        f.state->WetnessMaxCritical = 80;
        dialog = std::make_unique<DialogReport>();
        dialog->show();
        dialog->hide();
        dialog->ui->listLocations->item(0)->setCheckState(Qt::Unchecked);
        dialog->ui->dateTimeStart->setDateTime(QDateTime(QDate(2024, 2, 29), QTime(0, 0)));
        dialog->ui->dateTimeEnd->setDateTime(QDateTime(QDate(2024, 3, 1), QTime(12, 0)));
    }

    ReportOutcome run(const QString& folder, int rowLimit = XlsxSheet::kMaxRows)
    {
        ReportRunner runner(dialog->request(), folder);
        runner.locale = QLocale(QLocale::Russian, QLocale::Russia);
        runner.rowLimit = rowLimit;
        return runner.run();
    }

private slots:
    void cleanup()
    {
        dialog.reset();
        const QStringList warnings = f.end();
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }

    void sheetNames_data()
    {
        QTest::addColumn<QString>("wanted");
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("name");
        const QString longRow = QStringLiteral("Склад 1   (Цех,  EUI64= 000D6F0000ABCDEF)");
        QTest::newRow("cut at 31") << longRow << QStringList() << QStringLiteral("Склад 1   (Цех,  EUI64= 000D6F0");
        QTest::newRow("taken after the cut")
            << longRow << QStringList { QStringLiteral("склад 1   (цех,  eui64= 000d6f0") }
            << QStringLiteral("Склад 1   (Цех,  EUI64= 000 (2)");
        QTest::newRow("second suffix") << QStringLiteral("Цех")
                                       << QStringList { QStringLiteral("ЦЕХ"), QStringLiteral("цех (2)") }
                                       << QStringLiteral("Цех (3)");
        QTest::newRow("forbidden") << QStringLiteral("a[b]:c*d?e/f\\g") << QStringList()
                                   << QStringLiteral("a_b__c_d_e_f_g");
        QTest::newRow("apostrophes") << QStringLiteral("'room'") << QStringList() << QStringLiteral("_room_");
        QTest::newRow("empty") << QString() << QStringList() << QStringLiteral("Sheet");
    }
    void sheetNames()
    {
        QFETCH(QString, wanted);
        QFETCH(QStringList, taken);
        QFETCH(QString, name);
        QCOMPARE(XlsxDocument::validSheetName(wanted, taken), name);
    }

    // Rows "time:value" in time order, "-" for an absent value; limits 10 and 30.
    void outOfRange_data()
    {
        QTest::addColumn<QString>("rows");
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("duration");
        QTest::newRow("single row") << "0:40" << qint64(0) << "0000:00:00";
        QTest::newRow("equal to the limits") << "0:30,60:10,100:20" << qint64(100) << "0000:01:40";
        QTest::newRow("open at the end") << "0:20,10:31,70:35" << qint64(60) << "0000:01:00";
        QTest::newRow("absent values skipped") << "0:5,60:-,120:20,200:-" << qint64(120) << "0000:02:00";
        QTest::newRow("two stretches") << "0:0,10:20,20:20,30:40,45:25" << qint64(25) << "0000:00:25";
        QTest::newRow("five hour digits") << "0:0,36003725:20" << qint64(36003725) << "10001:02:05";
    }
    void outOfRange()
    {
        QFETCH(QString, rows);
        QFETCH(qint64, seconds);
        QFETCH(QString, duration);
        // Fed in one go, or in two parts counted apart and joined, at every place of the cut.
        const QStringList list = rows.split(QLatin1Char(','));
        for (int cut = 0; cut <= list.size(); ++cut) {
            RoomSensorFigures parts[2] = { RoomSensorFigures({ 10, 0, 0, 30 }), RoomSensorFigures({ 10, 0, 0, 30 }) };
            for (int i = 0; i < list.size(); ++i) {
                const QString value = list[i].section(QLatin1Char(':'), 1);
                parts[i < cut ? 0 : 1].add(list[i].section(QLatin1Char(':'), 0, 0).toLongLong(),
                    value == QLatin1String("-") ? QVariant() : QVariant(value.toDouble()), QVariant(), QVariant());
            }
            parts[0].append(parts[1]);
            QCOMPARE(parts[0].temperatureTime.total(), seconds);
        }
        QCOMPARE(RoomReport::durationText(seconds), duration);
    }

    void notes_data()
    {
        QTest::addColumn<qint64>("battery");
        QTest::addColumn<QDate>("datecheck");
        QTest::addColumn<QString>("note");
        const QDate due(2023, 4, 29);
        QTest::newRow("59 days") << qint64(0) << due << QStringLiteral("Поверка 29.04.24");
        QTest::newRow("60 days") << qint64(0) << QDate(2023, 4, 30) << QStringLiteral("Нет");
        QTest::newRow("overdue") << qint64(0) << QDate(2022, 3, 1) << QStringLiteral("Поверка 01.03.23");
        QTest::newRow("no date") << qint64(0) << QDate() << QStringLiteral("Поверка ");
        QTest::newRow("battery 900 s") << qint64(900) << QDate(2023, 4, 30) << QStringLiteral("Нет");
        QTest::newRow("battery 901 s") << qint64(901) << due << QStringLiteral("Замена эл.питания ");
    }
    void notes()
    {
        QFETCH(qint64, battery);
        QFETCH(QDate, datecheck);
        QFETCH(QString, note);
        QCOMPARE(RoomReport::note(battery, datecheck, QDate(2024, 3, 1)), note);
    }

    // A period longer than a sheet is wide keeps the first days and says so.
    void dayColumnsCapped()
    {
        ReportRequest request;
        request.start = QDateTime(QDate(1970, 1, 1), QTime(0, 0));
        request.end = QDateTime(QDate(2024, 12, 31), QTime(0, 0));
        const XlsxSheet sheet = DailyReport::sheet(request, {});
        QCOMPARE(sheet.read(1, 1), QStringLiteral("Показаны первые 16383 дн. периода из 20089"));
        QCOMPARE(sheet.read(3, XlsxSheet::kMaxColumns), QStringLiteral("16383"));
        QCOMPARE(DailyReport::windows(request).size(), DailyReport::kMaxDays);
        QCOMPARE(sheet.merges.size(), XlsxSheet::kMaxColumns);
    }

    // Across the spring and autumn clock changes of 2010 (Moscow) the measurement times read
    // as a full conversion of each one gives them.
    void localTimes()
    {
        LocalTimeText text;
        for (qint64 from : { 1269730800, 1288476000 }) {
            for (qint64 t = from - 10800; t < from + 10800; t += 419)
                QCOMPARE(text(t), QDateTime::fromSecsSinceEpoch(t).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss")));
        }
    }

    void workbooks_data()
    {
        QTest::addColumn<int>("type");
        QTest::newRow("sqlite") << 0;
        QTest::newRow("mysql") << 1;
    }
    void workbooks()
    {
        QFETCH(int, type);
        SEED(type);
        const ReportOutcome outcome = run(QStringLiteral("reports"));
        QVERIFY(outcome.failures.isEmpty() && !outcome.cancelled);

        const QJsonObject rooms = readBack(QStringLiteral("reports/reportRooms.xlsx"));
        const QJsonObject room = rooms[QStringLiteral("sheets")].toArray().at(0).toObject();
        compareCells(room,
            { { "A1", "Отчет о работе Tarnel", "cv" }, { "B4", "3", "c" }, { "E4", "4", "c" },
                { "C6", "29.02.2024 00:00:00", "c" }, { "C7", "01.03.2024 12:00:00", "c" }, { "A10", "Помещение", "" },
                { "B10", "Цех", "" }, { "A12", "Датчики", "bcvt" }, { "D12", "max t, °С", "bct" },
                { "F12", "События", "bcvt" }, { "H13", "Примечания", "bct" }, { "A14", "Т1", "cvt" },
                { "B14", "26.50", "cvt" }, { "C14", "61.67", "cvt" }, { "D14", "31.00", "ct" },
                { "E14", "85.00", "ct" }, { "D15", "20.00", "ct" }, { "E15", "50.00", "ct" },
                { "F14", "0000:04:00", "cvt" }, { "G14", "0000:02:00", "cvt" }, { "H14", "Поверка 29.04.24", "cvt" },
                { "B16", "", "cvt" }, { "D17", "", "ct" }, { "F16", "0000:00:00", "cvt" },
                { "G16", "0000:00:00", "cvt" }, { "H16", "Замена эл.питания ", "cvt" }, { "B19", "Склад", "" },
                { "A23", "Т3", "cvt" }, { "H23", "Нет", "cvt" },
                { "A26", "Отв. за Tarnel __________ /ФИО _______________________", "" } });
        QStringList merges { "A1:D1", "A26:F26" };
        for (int head : { 12, 21 }) {
            merges << QStringLiteral("F%1:H%1").arg(head);
            for (QChar c : QStringLiteral("ABC"))
                merges << QStringLiteral("%1%2:%1%3").arg(c).arg(head).arg(head + 1);
        }
        for (int r : { 14, 16, 23 }) {
            for (QChar c : QStringLiteral("ABCFGH"))
                merges << QStringLiteral("%1%2:%1%3").arg(c).arg(r).arg(r + 1);
        }
        merges.sort();
        QCOMPARE(room[QStringLiteral("merged")].toVariant().toStringList(), merges);
        const QJsonObject widths = room[QStringLiteral("widths")].toObject();
        const QVector<double> wanted { 22, 15, 18, 10, 11, 21, 26, 19 };
        for (int c = 0; c < wanted.size(); ++c)
            QVERIFY(qAbs(widths[QString(QChar('A' + c))].toDouble() - wanted[c]) < 1);

        const QJsonObject daily = readBack(QStringLiteral("reports/reportSensors.xlsx"))[QStringLiteral("sheets")]
                                      .toArray()
                                      .at(0)
                                      .toObject();
        compareCells(daily,
            { { "A3", "День", "bct" }, { "B3", "1", "bct" }, { "C3", "2", "bct" },
                { "A16", "Т4   (Новые датчики,  EUI64= 00137A0000000004)", "bcvt" }, { "A17", "Время", "bct" },
                { "B17", "09:00", "ct" }, { "B18", "", "ct" }, { "C18", "15.00", "ct" }, { "C19", "40.00", "ct" },
                { "A20", "Подпись, ФИО ответственного лица", "bcvtr90" }, { "B20", "", "bcvtr90" } });
        QVERIFY(daily[QStringLiteral("cells")].toObject().keys().filter(QRegularExpression("^D")).isEmpty());
        const QStringList dailyMerges = daily[QStringLiteral("merged")].toVariant().toStringList();
        for (const char* range : { "A4:C4", "A16:C16", "A20:A31", "C20:C31" })
            QVERIFY2(dailyMerges.contains(QLatin1String(range)), range);
        // Alone, the daily report reads only its windows, and finds the same.
        dialog->ui->checkLocations->setChecked(false);
        dialog->ui->checkMeasureData->setChecked(false);
        QVERIFY(run(QStringLiteral("daily")).failures.isEmpty());
        QCOMPARE(readBack(QStringLiteral("daily/reportSensors.xlsx"))[QStringLiteral("sheets")].toArray().at(0),
            QJsonValue(daily));

        const QJsonObject data = readBack(QStringLiteral("reports/reportSensorsMeasureData.xlsx"));
        const QJsonArray sheets = data[QStringLiteral("sheets")].toArray();
        QStringList names;
        for (const QJsonValue& s : sheets)
            names << s[QStringLiteral("name")].toString();
        QCOMPARE(names,
            QStringList({ "Т1   (Цех,  EUI64= 00137A000000", "Т1   (Цех,  EUI64= 00137A00 (2)",
                "Т3   (Склад,  EUI64= 00137A0000", "Т4   (Новые датчики,  EUI64= 00" }));
        QCOMPARE(data[QStringLiteral("active")].toString(), names.last());
        const QString hour = utc ? QStringLiteral("12") : QStringLiteral("15");
        compareCells(sheets[0].toObject(),
            { { "A1", "Данные измерений датчика Tarnel", "bcv" }, { "A3", "Датчик", "bc" },
                { "B3", "Т1   (Цех,  EUI64= 00137A0000000001)", "cv" }, { "B4", "00137A0000000001", "cv" },
                { "C6", "29.02.2024 00:00:00", "cv" }, { "A9", "Граничные значение параметров", "bcvt" },
                { "A10", "Tmin критическая, °C", "t" }, { "B10", "10,00", "ct" }, { "A19", "Время", "bct" },
                { "A20", "29.02.2024 " + hour + ":00:00", "ct" }, { "B20", "20,00", "ct" }, { "C21", "", "ct" },
                { "A23", "29.02.2024 " + hour + ":05:00", "ct" } });
        QVERIFY(!sheets[0][QStringLiteral("cells")].toObject().contains(QStringLiteral("A24")));
        compareCells(sheets[1].toObject(), { { "B10", "-5,50", "ct" }, { "B20", "", "ct" }, { "C20", "40,00", "ct" } });
        QCOMPARE(sheets[0][QStringLiteral("merged")].toVariant().toStringList(),
            QStringList({ "A1:D1", "A9:B9", "B3:D3", "B4:D4", "C6:D6", "C7:D7" }));
        QVERIFY(qAbs(sheets[0][QStringLiteral("widths")][QStringLiteral("A")].toDouble() - 26) < 1);
    }

    // The sheet's last row takes the last measurement only when nothing follows it.
    void rowLimit_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("last");
        QTest::newRow("full") << 21 << QStringLiteral("Лист заполнен: остальные измерения периода не поместились");
        QTest::newRow("fits exactly") << 23 << QStringLiteral("29.02.2024 %1:05:00");
    }
    void rowLimit()
    {
        QFETCH(int, limit);
        QFETCH(QString, last);
        SEED(0);
        dialog->ui->checkLocations->setChecked(false);
        dialog->ui->checkDaily->setChecked(false);
        QVERIFY(run(QStringLiteral("reports"), limit).failures.isEmpty());
        const QJsonObject sheet
            = readBack(QStringLiteral("reports/reportSensorsMeasureData.xlsx"))[QStringLiteral("sheets")]
                  .toArray()
                  .at(0)
                  .toObject();
        const QJsonObject cells = sheet[QStringLiteral("cells")].toObject();
        QCOMPARE(cells[QStringLiteral("A%1").arg(limit)].toArray().at(0).toString(),
            QString(last).replace(QLatin1String("%1"), utc ? QLatin1String("12") : QLatin1String("15")));
        QVERIFY(!cells.contains(QStringLiteral("A%1").arg(limit + 1)));
    }

    // The dialog's run: the closing message, or the file or folder that failed instead.
    void messages_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("blocker");
        QTest::addColumn<QString>("text");
        QTest::newRow("written") << "reports" << QString()
                                 << "Отчеты созданы в папке \"reports\" (.xlsx файлы)\r\nДанная папка находится в "
                                    "директории с программой";
        QTest::newRow("folder is a file") << "plain/reports"
                                          << "plain"
                                          << "Не удалось создать папку \"plain/reports\"";
        QTest::newRow("name taken by a folder") << "reports"
                                                << "reports/reportSensors.xlsx/x"
                                                << "Не удалось записать отчет \"reports/reportSensors.xlsx\": ";
        QTest::newRow("disk full") << "reports"
                                   << "full"
                                   << "Не удалось записать отчет \"reports/reportRooms.xlsx\": На диске не осталось "
                                      "места. Освободите место на диске или выберите другую папку.\nПодробности: ";
    }
    void messages()
    {
        QFETCH(QString, folder);
        QFETCH(QString, blocker);
        QFETCH(QString, text);
        SEED(0);
        std::unique_ptr<FullDisk> disk;
        if (blocker == QLatin1String("full")) {
            disk = std::make_unique<FullDisk>(QDir::current().absoluteFilePath(folder), 256 * 1024);
            QVERIFY2(disk->fill(), qPrintable(disk->error()));
        } else if (blocker.endsWith(QLatin1String("/x")))
            QVERIFY(QDir().mkpath(blocker));
        else if (!blocker.isEmpty())
            QVERIFY(QFile(blocker).open(QIODevice::WriteOnly));
        dialog->reportsFolder = folder;
        QSignalSpy finished(dialog.get(), &DialogReport::signalReportsFinished);
        dialog->accept();
        QVERIFY(finished.wait(60000));
        QCOMPARE(f.boxes.boxes.size(), 2);
        QCOMPARE(f.boxes.boxes[0], QStringLiteral("Отчеты"));
        QVERIFY2(f.boxes.boxes[1].startsWith(text), qPrintable(f.boxes.boxes[1]));
        // A run replaces its workbooks together or not at all.
        QCOMPARE(QFile::exists(QStringLiteral("reports/reportRooms.xlsx")), blocker.isEmpty());
        QCOMPARE(
            QDir(QStringLiteral("reports")).entryList(QStringList("*.part"), QDir::Hidden | QDir::Files).size(), 0);
    }

    // Cancel while the figures are read, and while each workbook is written (too late to stop
    // that write), or the daily workbook's written part gone before it is put in place: the old
    // workbooks stay as they were and no temporary file is left. A run that puts all three in
    // place replaces all three.
    void workbooksReplacedTogether_data()
    {
        QTest::addColumn<QString>("writing");
        QTest::addColumn<QString>("step");
        QTest::newRow("cancel while reading") << QString() << "cancel";
        QTest::newRow("cancel writing rooms") << ReportRunner::roomsFile() << "cancel";
        QTest::newRow("cancel writing daily") << ReportRunner::dailyFile() << "cancel";
        QTest::newRow("cancel writing measurement data") << ReportRunner::measureDataFile() << "cancel";
        QTest::newRow("daily part lost") << ReportRunner::measureDataFile() << "lose daily";
        QTest::newRow("all placed") << QString() << "none";
    }
    void workbooksReplacedTogether()
    {
        QFETCH(QString, writing);
        QFETCH(QString, step);
        SEED(0);
        const QStringList files { ReportRunner::roomsFile(), ReportRunner::dailyFile(),
            ReportRunner::measureDataFile() };
        QVERIFY(QDir().mkpath(QStringLiteral("reports")));
        for (const QString& file : files) {
            QFile old(QStringLiteral("reports/") + file);
            QVERIFY(old.open(QIODevice::WriteOnly) && old.write("old " + file.toUtf8()) > 0);
        }
        ReportRunner runner(dialog->request(), QStringLiteral("reports"));
        if (writing.isEmpty() && step == "cancel")
            connect(&runner, &ReportRunner::progress, &runner, [&runner](int) { runner.cancel(); });
        connect(&runner, &ReportRunner::writingWorkbook, &runner, [&](const QString& file) {
            if (writing.isEmpty() || !file.endsWith(writing))
                return;
            if (step == "cancel")
                runner.cancel();
            QDir reports(QStringLiteral("reports"));
            const QStringList parts { "." + ReportRunner::dailyFile() + ".*.part" };
            for (const QString& part : reports.entryList(parts, QDir::Files | QDir::Hidden))
                QVERIFY(step != "lose daily" || reports.remove(part));
        });
        const ReportOutcome outcome = runner.run();
        QCOMPARE(outcome.cancelled, step == "cancel");
        QCOMPARE(outcome.failures.size(), step == "lose daily" ? 1 : 0);
        QCOMPARE(outcome.written.size(), step == "none" ? 3 : 0);
        QCOMPARE(QDir(QStringLiteral("reports")).entryList(QDir::Files | QDir::Hidden), files);
        for (const QString& file : files) {
            QFile workbook(QStringLiteral("reports/") + file);
            if (step == "none")
                QVERIFY(!readBack(workbook.fileName())[QStringLiteral("sheets")].toArray().isEmpty());
            else
                QVERIFY(workbook.open(QIODevice::ReadOnly) && workbook.readAll() == "old " + file.toUtf8());
        }
    }

    // The closing message names what the run wrote, and nothing else.
    void closingText_data()
    {
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<QString>("failed");
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<QString>("text");
        const QString created = QStringLiteral(
            "Отчеты созданы в папке \"reports\" (.xlsx файлы)\r\nДанная папка находится в директории с программой");
        const QString unchanged = QStringLiteral("Файлы отчетов в папке \"reports\" не изменены");
        QTest::newRow("all written") << QStringList { "reports/reportRooms.xlsx", "reports/reportSensors.xlsx" }
                                     << QString() << false
                                     << created + "\r\nЗаписаны: reportRooms.xlsx, reportSensors.xlsx";
        QTest::newRow("nothing chosen") << QStringList() << QString() << false
                                        << "Не выбран ни один отчет\r\n" + unchanged;
        QTest::newRow("one failed") << QStringList() << "reports/reportSensors.xlsx" << false
                                    << "Не удалось записать отчет \"reports/reportSensors.xlsx\": disk full\r\n"
                + unchanged;
        QTest::newRow("failed while put in place")
            << QStringList { "reports/reportRooms.xlsx" } << "reports/reportSensors.xlsx" << false
            << "Не удалось записать отчет \"reports/reportSensors.xlsx\": disk full\r\nЗаписаны только: "
               "reportRooms.xlsx";
        QTest::newRow("cancelled") << QStringList() << QString() << true
                                   << "Формирование отчетов отменено\r\n" + unchanged;
    }
    void closingText()
    {
        QFETCH(QStringList, written);
        QFETCH(QString, failed);
        QFETCH(bool, cancelled);
        QFETCH(QString, text);
        ReportOutcome outcome;
        outcome.written = written;
        outcome.cancelled = cancelled;
        if (!failed.isEmpty())
            outcome.failures.append({ failed, QStringLiteral("disk full") });
        QCOMPARE(DialogReport::closingText(outcome, QStringLiteral("reports")), text);
    }

    // The run's end may come while the progress window is shown: the window is gone before the
    // closing message comes up, and the run ends once, with its message.
    void endWhileProgressShown()
    {
        SEED(0);
        QSignalSpy finished(dialog.get(), &DialogReport::signalReportsFinished);
        dialog->accept();
        QProgressDialog* progress = nullptr;
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* p = qobject_cast<QProgressDialog*>(w))
                progress = p;
        }
        QVERIFY(progress);
        QPointer<QProgressDialog> watched(progress);
        int boxesBeforeRelease = -1;
        connect(progress, &QObject::destroyed, this, [&] { boxesBeforeRelease = f.boxes.boxes.size(); });
        QVERIFY(QMetaObject::invokeMethod(progress, "forceShow"));
        QVERIFY(progress->isVisible());
        // Every progress step and the end wait in the queue together.
        QThread::msleep(1500);
        QVERIFY(finished.wait(60000));
        QCOMPARE(finished.size(), 1);
        QVERIFY(watched.isNull());
        QCOMPARE(boxesBeforeRelease, 0);
        QCOMPARE(f.boxes.boxes.mid(0, 1), QStringList { QStringLiteral("Отчеты") });
    }

    void dateWarning()
    {
        SEED(0);
        dialog->ui->dateTimeStart->setDateTime(QDateTime(QDate(2024, 3, 2), QTime(0, 0)));
        QSignalSpy finished(dialog.get(), &DialogReport::signalReportsFinished);
        dialog->accept();
        QVERIFY(finished.wait(60000));
        QCOMPARE(f.boxes.boxes.mid(0, 3),
            QStringList({ "Ошибка в выборе даты", "Дата конца отчетного периода меньше его начала", "Отчеты" }));
        const QJsonObject daily = readBack(QStringLiteral("reports/reportSensors.xlsx"))[QStringLiteral("sheets")]
                                      .toArray()
                                      .at(0)
                                      .toObject();
        QCOMPARE(daily[QStringLiteral("merged")].toVariant().toStringList(), QStringList("A20:A31"));
        compareCells(daily, { { "A4", "Т1   (Цех,  EUI64= 00137A0000000001)", "bct" }, { "A3", "День", "bct" } });
    }

    // The five keys of "data/view.conf", read at construction and written at destruction.
    void keys_data()
    {
        QTest::addColumn<QVariantMap>("stored");
        QTest::addColumn<QString>("states");
        QTest::newRow("first run") << QVariantMap() << "222 ee";
        QTest::newRow("rooms off") << QVariantMap { { "CheckLocations", 0 } } << "022 de";
        QTest::newRow("sensors off") << QVariantMap { { "CheckDaily", 0 }, { "CheckMeasureData", 0 } } << "200 ed";
        QTest::newRow("one counts as checked")
            << QVariantMap { { "CheckDaily", 1 }, { "CheckMeasureData", 0 } } << "220 ee";
    }
    void keys()
    {
        QFETCH(QVariantMap, stored);
        QFETCH(QString, states);
        QTemporaryDir dir;
        AppState state;
        QSettings view(dir.filePath(QStringLiteral("view.conf")), QSettings::IniFormat);
        state.viewSettings = &view;
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            view.setValue(QStringLiteral("DialogReport/") + it.key(), it.value());
        const QDateTime before = QDateTime::currentDateTime().addMSecs(-1000);
        auto d = std::make_unique<DialogReport>();
        auto mark = [](bool on) { return on ? QLatin1Char('e') : QLatin1Char('d'); };
        const QString got = QString::number(d->ui->checkLocations->checkState())
            + QString::number(d->ui->checkDaily->checkState()) + QString::number(d->ui->checkMeasureData->checkState())
            + QLatin1Char(' ') + mark(d->ui->listLocations->isEnabled()) + mark(d->ui->listSensors->isEnabled());
        QCOMPARE(got, states);
        QVERIFY(d->ui->dateTimeEnd->dateTime() >= before);
        QCOMPARE(d->ui->dateTimeStart->dateTime().secsTo(d->ui->dateTimeEnd->dateTime()), 24 * 3600);
        d->ui->checkDaily->setChecked(true);
        const QDateTime end = d->ui->dateTimeEnd->dateTime();
        d.reset();
        QCOMPARE(view.value(QStringLiteral("DialogReport/CheckDaily")).toInt(), 2);
        QCOMPARE(view.value(QStringLiteral("DialogReport/DateTimeEnd")).toDateTime(), end);
    }
};

// Users run it under a Russian locale, whose decimal comma must not reach a workbook.
int main(int argc, char** argv)
{
    qunsetenv("LC_ALL");
    qputenv("LANG", "ru_RU.UTF-8");
    QApplication app(argc, argv);
    if (QByteArray(std::setlocale(LC_CTYPE, nullptr)) != "ru_RU.UTF-8") {
        std::fputs("the locale ru_RU.UTF-8 is missing (scripts/test.sh generates it)\n", stderr);
        return 1;
    }
    ProcessLocale::apply(app);
    TestReports test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_reports.moc"
