// The report figures and sheet names from tables of cases; the three workbooks from a seeded
// database on both dialects, read back by openpyxl (not by our writer), replaced together or not
// at all.
#include <QScopeGuard>

#include <utility>

#include "app/dailyreport.h"
#include "app/measuredatareport.h"
#include "app/roomreport.h"
#include "reportsfixture.h"
#include "storage/xlsxdocument.h"

class TestReports : public ReportsFixture
{
    Q_OBJECT

private slots:
    void sheetNames_data()
    {
        QTest::addColumn<QString>("wanted");
        QTest::addColumn<QStringList>("taken");
        QTest::addColumn<QString>("name");
        const char* const longRow = "Склад 1   (Цех,  EUI64= 000D6F0000ABCDEF)";
        QTest::newRow("cut at 31") << longRow << QStringList() << "Склад 1   (Цех,  EUI64= 000D6F0";
        QTest::newRow("taken after the cut")
            << longRow << QStringList { "склад 1   (цех,  eui64= 000d6f0" } << "Склад 1   (Цех,  EUI64= 000 (2)";
        QTest::newRow("second suffix") << "Цех" << QStringList { "ЦЕХ", "цех (2)" } << "Цех (3)";
        QTest::newRow("forbidden") << "a[b]:c*d?e/f\\g" << QStringList() << "a_b__c_d_e_f_g";
        QTest::newRow("apostrophes") << "'room'" << QStringList() << "_room_";
        QTest::newRow("empty") << QString() << QStringList() << "Sheet";
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

        const QJsonObject room = firstSheet("reports/reportRooms.xlsx");
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
        // The heads of the two locations' tables at rows 12 and 21, then the sensors' row pairs.
        QStringList merges { "A1:D1", "A26:F26", "F12:H12", "F21:H21" };
        for (int r : { 12, 14, 16, 21, 23 }) {
            for (QChar c : QString(r == 12 || r == 21 ? "ABC" : "ABCFGH"))
                merges << QStringLiteral("%1%2:%1%3").arg(c).arg(r).arg(r + 1);
        }
        merges.sort();
        QCOMPARE(room[QStringLiteral("merged")].toVariant().toStringList(), merges);
        const QJsonObject widths = room[QStringLiteral("widths")].toObject();
        const QVector<double> wanted { 22, 15, 18, 10, 11, 21, 26, 19 };
        for (int c = 0; c < wanted.size(); ++c)
            QVERIFY(qAbs(widths[QString(QChar('A' + c))].toDouble() - wanted[c]) < 1);

        const QJsonObject daily = firstSheet("reports/reportSensors.xlsx");
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
        QCOMPARE(firstSheet("daily/reportSensors.xlsx"), daily);

        const QJsonObject data = readBack(QStringLiteral("reports/reportSensorsMeasureData.xlsx"));
        const QJsonArray sheets = data[QStringLiteral("sheets")].toArray();
        QStringList names;
        for (const QJsonValue& s : sheets)
            names << s[QStringLiteral("name")].toString();
        QCOMPARE(names,
            QStringList({ "Т1   (Цех,  EUI64= 00137A000000", "Т1   (Цех,  EUI64= 00137A00 (2)",
                "Т3   (Склад,  EUI64= 00137A0000", "Т4   (Новые датчики,  EUI64= 00" }));
        QCOMPARE(data[QStringLiteral("active")].toString(), names.last());
        compareCells(sheets[0].toObject(),
            { { "A1", "Данные измерений датчика Tarnel", "bcv" }, { "A3", "Датчик", "bc" },
                { "B3", "Т1   (Цех,  EUI64= 00137A0000000001)", "cv" }, { "B4", "00137A0000000001", "cv" },
                { "C6", "29.02.2024 00:00:00", "cv" }, { "A9", "Граничные значение параметров", "bcvt" },
                { "A10", "Tmin критическая, °C", "t" }, { "B10", "10,00", "ct" }, { "A19", "Время", "bct" },
                { "A20", "29.02.2024 " + noon + ":00:00", "ct" }, { "B20", "20,00", "ct" }, { "C21", "", "ct" },
                { "A23", "29.02.2024 " + noon + ":05:00", "ct" } });
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
        QTest::newRow("full") << 21 << "Лист заполнен: остальные измерения периода не поместились";
        QTest::newRow("fits exactly") << 23 << "29.02.2024 %1:05:00";
    }
    void rowLimit()
    {
        QFETCH(int, limit);
        QFETCH(QString, last);
        SEED(0);
        dialog->ui->checkLocations->setChecked(false);
        dialog->ui->checkDaily->setChecked(false);
        QVERIFY(run(QStringLiteral("reports"), limit).failures.isEmpty());
        const QJsonObject cells = firstSheet("reports/reportSensorsMeasureData.xlsx")["cells"].toObject();
        QCOMPARE(cells[QStringLiteral("A%1").arg(limit)].toArray().at(0).toString(), QString(last).replace("%1", noon));
        QVERIFY(!cells.contains(QStringLiteral("A%1").arg(limit + 1)));
    }

    // The library writes a streamed workbook in one call, mostly compressing: a minute for a
    // year of readings. The bar moves meanwhile, up to the end.
    void barMovesWhileWritten()
    {
        SEED(0);
        f.sql(QStringLiteral("WITH RECURSIVE c(i) AS (SELECT 0 UNION ALL SELECT i + 1 FROM c WHERE i < 59999) "
                             "INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) "
                             "SELECT 1, 1709160001 + 2 * i, i % 397 / 10.0, i % 601 / 10.0, 3 FROM c"));
        QVERIFY2(f.lastError.isEmpty(), qPrintable(f.lastError));
        dialog->ui->checkLocations->setChecked(false);
        dialog->ui->checkDaily->setChecked(false);
        const int interval = std::exchange(XlsxDocument::progressInterval, 5);
        const auto restore = qScopeGuard([interval] { XlsxDocument::progressInterval = interval; });
        ReportRunner runner(dialog->request(), QStringLiteral("reports"));
        QVector<int> shown;
        connect(&runner, &ReportRunner::writingWorkbook, &runner, [&] { shown << -1; });
        connect(&runner, &ReportRunner::progress, &runner, [&](int done) {
            if (!shown.isEmpty())
                shown << done;
        });
        QVERIFY(runner.run().failures.isEmpty());
        QVERIFY2(shown.size() > 4 && shown.last() == runner.steps(),
            qPrintable(QStringLiteral("%1 steps while written").arg(shown.size() - 1)));
        // The part's size was foreseen well: the bar went most of the way before the write
        // ended (the last two steps come after it), rather than jumping there at the end.
        QVERIFY2(shown.at(shown.size() - 3) >= runner.steps() * 93 / 100,
            qPrintable(QString::number(shown.at(shown.size() - 3))));
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
};

int main(int argc, char** argv)
{
    return runReportsTest<TestReports>(argc, argv);
}
#include "tst_reports.moc"
