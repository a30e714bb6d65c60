#pragma once

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <clocale>
#include <cstdio>

#include "app/processlocale.h"
#include "dialogs/dialogreport.h"
#include "storagefixture.h"
#include "ui_dialogreport.h"

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

// Sensor 1 at 12:00, 12:01, 12:03 and 12:05 UTC on 29 February, stored out of time order, and once
// a day before the period; sensor 2 without temperatures; NULLs in every column.
const char* const kSeedSql
    = "INSERT INTO locations (id, name, EUI64, ip) VALUES (1, 'Цех', '', ''), (2, 'Склад', '', '');\n"
      "INSERT INTO sensors (id, EUI64, name, location, datecheck, isEnabled, tMinCritical) VALUES "
      "(1, '00137A0000000001', 'Т1', 1, '2023.04.29', 0, 0), (2, '00137A0000000002', 'Т1', 1, "
      "'2024.01.01', 1, -5.5), (3, '00137A0000000003', 'Т3', 2, '2024.01.01', 0, 0), "
      "(4, '00137A0000000004', 'Т4', 0, '2024.01.01', 0, 0);\n"
      "INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) VALUES (1, 1709208300, 25, 50, 3), "
      "(1, 1709208000, 20, 50, 3), (1, 1709208180, 31, 85, 2), (1, 1709208060, 30, NULL, NULL), "
      "(1, 1709121600, 100, 100, 1), (2, 1709208000, NULL, 40, 2), (2, 1709209000, NULL, 40, 2), "
      "(2, 1709209200, NULL, 40, 3), "
      // The daily window of 1 March, 07:00 to 11:00 UTC: its two ends count, a second outside does not.
      "(4, 1709276400, 10, 40, 3), (4, 1709290800, 20, NULL, 3), (4, 1709276399, 100, 100, 3), "
      "(4, 1709290801, 100, 100, 3)";

struct Cell {
    const char* ref;
    QString value;
    const char* look;
};

// The report cases' seeded database and dialog, and the independent reader of the workbooks.
class ReportsFixture : public QObject
{
    Q_OBJECT

protected:
    StorageFixture f;
    std::unique_ptr<DialogReport> dialog;
    // 12:00 UTC, the hour of the seeded readings, as the local clock reads it.
    const QString noon = qgetenv("TZ") == "UTC" ? QStringLiteral("12") : QStringLiteral("15");

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
    QJsonObject firstSheet(const QString& path) { return readBack(path)["sheets"].toArray().at(0).toObject(); }

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
        f.sql(QString::fromUtf8(kSeedSql));
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

    // The dialog's run, through to its end.
    void acceptDialog()
    {
        QSignalSpy finished(dialog.get(), &DialogReport::signalReportsFinished);
        dialog->accept();
        QVERIFY(finished.wait(60000));
    }

private slots:
    void cleanup()
    {
        dialog.reset();
        const QStringList warnings = f.end();
        QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
    }
};

// Users run it under a Russian locale, whose decimal comma must not reach a workbook.
template <class Test> int runReportsTest(int argc, char** argv)
{
    qunsetenv("LC_ALL");
    qputenv("LANG", "ru_RU.UTF-8");
    QApplication app(argc, argv);
    if (QByteArray(std::setlocale(LC_CTYPE, nullptr)) != "ru_RU.UTF-8") {
        std::fputs("the locale ru_RU.UTF-8 is missing (scripts/test.sh generates it)\n", stderr);
        return 1;
    }
    ProcessLocale::apply(app);
    Test test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
