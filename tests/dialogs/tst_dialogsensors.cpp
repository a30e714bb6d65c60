// The sensors dialog as a user drives it: what the tables show, and what opening, leaving,
// cancelling and committing a cell editor writes through the ordered writer.
#include <QComboBox>
#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QSqlQuery>
#include <QTableWidget>
#include <QTimeEdit>
#include <QtTest>

#include "app/sqliteworkspace.h"
#include "dialogs/dialogsensors.h"
#include "dialogs/registryeditor.h"
#include "storage/databasewriter.h"
#include "storagefixture.h"
#include "ui/tablecolumns.h"

namespace
{

// Moves an editor to another value than the one it shows.
void nudge(QWidget* editor)
{
    if (auto* combo = qobject_cast<QComboBox*>(editor))
        combo->setCurrentIndex(combo->currentIndex() == combo->count() - 1 ? 0 : combo->count() - 1);
    else if (auto* spin = qobject_cast<QDoubleSpinBox*>(editor))
        spin->setValue(spin->value() == 50 ? 40 : 50);
    else if (auto* date = qobject_cast<QDateEdit*>(editor))
        date->setDate(date->date().addDays(3));
    else if (auto* time = qobject_cast<QTimeEdit*>(editor))
        time->setTime(time->time().addSecs(3600));
}

} // namespace

class TestDialogSensors : public QObject
{
    Q_OBJECT

    std::unique_ptr<SqliteWorkspace> ws;
    std::unique_ptr<DialogSensors> dialog;
    QTableWidget* table = nullptr;
    DatabaseWriter* writer = nullptr;
    RecordingPrompt answers;

    QStringList stored()
    {
        QStringList rows;
        QSqlQuery q("SELECT location||' '||name||' '||sleepInterval||' '||datecheck||' '||isEnabled||' '||"
                    "tMinNoncritical||' '||hMinNoncritical FROM sensors ORDER BY id",
            ws->sql->db);
        while (q.next())
            rows << q.value(0).toString();
        return rows;
    }

    QWidget* openEditor(int row, int column)
    {
        // A new current cell opens its editor by itself.
        table->setCurrentCell(row, column);
        const QModelIndex index = table->model()->index(row, column);
        if (!table->indexWidget(index))
            table->editItem(table->item(row, column));
        return table->indexWidget(index);
    }

private slots:
    void init()
    {
        setPrompt(&answers);
        answers.boxes.clear();
        ws = std::make_unique<SqliteWorkspace>();
        // Two locations of the same name; values that the editors would have to adjust.
        for (const char* sql : { "INSERT INTO locations VALUES (1, 'Цех', '', ''), (2, 'Цех', '', '')",
                 "INSERT INTO sensors (EUI64, name, location, sleepInterval, tMinNoncritical, hMinNoncritical, "
                 "datecheck, isEnabled) VALUES ('00000000000000A1', 'A1', 1, 60, 5, 30, '2024.01.31', 1), "
                 "('00000000000000B2', 'B2', 0, 90, -40, -5, '', 0), "
                 "('00000000000000C3', 'C3', 2, 5400, 120, 120, '2023.04.05', 0), "
                 "('00000000000000D4', 'D4', 1, 86400, -41.5, 30, '2023.04.05', 0)" })
            QVERIFY(QSqlQuery(ws->sql->db).exec(QString::fromUtf8(sql)));
        // The registry as the program loads it at start.
        ws->sql->slotStopModule();
        qDeleteAll(ws->state->locations);
        ws->state->locations.clear();
        ws->sql = std::make_unique<SQLBaseModule>();
        ws->state->followDatabase(*ws->sql);
        ws->sql->init(0, QString(), QString(), QString(), QString(), 0);
        writer = ws->state->databaseWriter;
        QVERIFY(writer);
        dialog = std::make_unique<DialogSensors>();
        dialog->show();
        table = dialog->findChild<QTableWidget*>("tableSensors");
    }
    void cleanup()
    {
        dialog.reset();
        ws.reset();
        setPrompt(nullptr);
    }

    void fillWritesNothing()
    {
        const QStringList before = stored();
        QCOMPARE(table->rowCount(), 4);
        QCOMPARE(dialog->findChild<QTableWidget*>("tableLocations")->rowCount(), 3);
        const QList<QStringList> expected { { "00000000000000A1", "A1", "00:01", "Цех", "2024.01.31", "Вкл.", "5.00" },
            { "00000000000000B2", "B2", "00:01", "Новые датчики", "", "Выкл.", "-40.00" },
            { "00000000000000C3", "C3", "01:30", "Цех", "2023.04.05", "Выкл.", "120.00" },
            { "00000000000000D4", "D4", "00:00", "Цех", "2023.04.05", "Выкл.", "-41.50" } };
        for (int row = 0; row < 4; ++row) {
            QStringList texts;
            for (int column = 0; column < 7; ++column)
                texts << table->item(row, column)->text();
            QCOMPARE(texts, expected[row]);
        }
        QCOMPARE(writer->queueLength(), 0);
        QCOMPARE(stored(), before);
        QVERIFY(answers.boxes.isEmpty());
    }

    // Passing through a cell, and cancelling a change, writes nothing: not the editor's
    // lowest time, not its default date, not a threshold pulled into the editor's range.
    void navigationWritesNothing_data()
    {
        QTest::addColumn<int>("row");
        QTest::addColumn<int>("column");
        QTest::newRow("interval of a day") << 3 << 2;
        QTest::newRow("location") << 0 << 3;
        QTest::newRow("no check date") << 1 << 4;
        QTest::newRow("flag") << 0 << 5;
        QTest::newRow("temperature below range") << 3 << 6;
        QTest::newRow("temperature above range") << 2 << 6;
        QTest::newRow("humidity below range") << 1 << 10;
        QTest::newRow("humidity above range") << 2 << 10;
    }
    void navigationWritesNothing()
    {
        QFETCH(int, row);
        QFETCH(int, column);
        const QStringList before = stored();
        const QString text = table->item(row, column)->text();
        QWidget* editor = openEditor(row, column);
        QVERIFY(editor);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(!table->indexWidget(table->model()->index(row, column)));
        editor = openEditor(row, column);
        nudge(editor);
        QTest::keyClick(editor, Qt::Key_Escape);
        QTRY_VERIFY(!table->indexWidget(table->model()->index(row, column)));
        QCOMPARE(table->item(row, column)->text(), text);
        QCOMPARE(writer->queueLength(), 0);
        QCOMPARE(stored(), before);
        QVERIFY(answers.boxes.isEmpty());
    }

    // A committed change reaches database, memory and cell; the other location called the
    // same still moves the sensor.
    void commit_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QString>("row");
        QTest::addColumn<QString>("shown");
        QTest::newRow("location of the same name") << 3 << "2 A1 60 2024.01.31 1 5.0 30.0"
                                                   << "Цех";
        QTest::newRow("interval") << 2 << "1 A1 3660 2024.01.31 1 5.0 30.0"
                                  << "01:01";
        QTest::newRow("date") << 4 << "1 A1 60 2024.02.03 1 5.0 30.0"
                              << "2024.02.03";
        QTest::newRow("flag") << 5 << "1 A1 60 2024.01.31 0 5.0 30.0"
                              << "Выкл.";
        QTest::newRow("threshold") << 6 << "1 A1 60 2024.01.31 1 50.0 30.0"
                                   << "50.00";
    }
    void commit()
    {
        QFETCH(int, column);
        QFETCH(QString, row);
        QFETCH(QString, shown);
        QSignalSpy tree(dialog.get(), &DialogSensors::signalMainWindowRefrSensorList);
        QWidget* editor = openEditor(0, column);
        nudge(editor);
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_COMPARE(stored().value(0), row);
        // The cell shows what memory holds once the writer has answered.
        QTRY_COMPARE(ws->state->sensors[0]->location, column == 3 ? 2 : 1);
        QTRY_COMPARE(RegistryEditor(*ws->state, {}).sensorTexts(0).value(column), shown);
        QCOMPARE(table->item(0, column)->text(), shown);
        QCOMPARE(tree.count(), column == 3 || column == 4 ? 1 : 0);
        QVERIFY(answers.boxes.isEmpty());
    }

    // Enter on either table, with no editor open, neither adds nor removes anything.
    void enterPressesNoButton_data()
    {
        QTest::addColumn<int>("tab");
        QTest::newRow("sensors") << 0;
        QTest::newRow("locations") << 1;
    }
    void enterPressesNoButton()
    {
        QFETCH(int, tab);
        dialog->findChild<QTabWidget*>("tabWidget")->setCurrentIndex(tab);
        auto* shown = dialog->findChild<QTableWidget*>(tab ? "tableLocations" : "tableSensors");
        // A new current cell may open its editor by itself: it is closed unchanged first.
        shown->setCurrentCell(1, 2);
        if (QWidget* editor = shown->indexWidget(shown->model()->index(1, 2)))
            QTest::keyClick(editor, Qt::Key_Escape);
        QTRY_VERIFY(!shown->indexWidget(shown->model()->index(1, 2)));
        QTest::keyClick(shown, Qt::Key_Return);
        QTest::keyClick(shown, Qt::Key_Enter);
        QCOMPARE(ws->state->locations.size(), 3);
        QCOMPARE(ws->state->sensors.size(), 4);
        QCOMPARE(writer->queueLength(), 0);
        QVERIFY(dialog->isVisible());
        QVERIFY(answers.boxes.isEmpty());
    }

    // A very long name keeps to its column's ceiling, whole in the tooltip, and the columns
    // after it stay in view.
    void longNameKeepsToItsColumn()
    {
        const QString name = QString(5000, QChar(0x0416));
        ws->state->sensors[0]->name = name;
        dialog = std::make_unique<DialogSensors>();
        dialog->resize(1700, 1000);
        dialog->show();
        QVERIFY(QTest::qWaitForWindowExposed(dialog.get()));
        table = dialog->findChild<QTableWidget*>("tableSensors");
        QCOMPARE(table->item(0, 1)->text(), name);
        QCOMPARE(table->item(0, 1)->toolTip(), name);
        QVERIFY2(table->columnWidth(1) <= TableColumns::columnCeiling(table),
            qPrintable(QString::number(table->columnWidth(1))));
        QVERIFY(table->columnViewportPosition(6) < table->viewport()->width());
    }
};

QTEST_MAIN(TestDialogSensors)
#include "tst_dialogsensors.moc"
