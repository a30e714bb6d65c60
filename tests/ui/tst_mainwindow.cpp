// The main window as a user meets it: its remembered view, refresh choices, terminal, logs,
// status bar and tables, on a SQLite database of its own (its sensor tree: tst_mainwindowtree).
#include <QDoubleSpinBox>
#include <QLoggingCategory>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QScreen>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextEdit>
#include <QtTest>

#include "dialogs/dialogsettings.h"
#include "mainwindowtest.h"
#include "storage/tablequeries.h"
#include "ui/graphwidget.h"
#include "ui/mymodel.h"
#include "ui/tablecolumns.h"
#include "ui_mainwindow.h"

class TestMainWindow : public MainWindowTest
{
    Q_OBJECT
private slots:
    void firstStartDefaults()
    {
        MainWindow* w = window();
        QCOMPARE(w->size(), QSize(1579, 522));
        QVERIFY(w->ui->radioLast->isChecked());
        QVERIFY(w->ui->frameStart->isHidden());
        QCOMPARE(w->ui->comboLast->currentText(), QStringLiteral("5 суток"));
        QVERIFY(w->ui->actRefrDirect->isChecked());
        QVERIFY(w->refreshOnArrival);
        QCOMPARE(w->refreshInterval(), 0);
        QCOMPARE(w->ui->tabWidget->currentIndex(), 0);
        QCOMPARE(w->ui->dateTimeStart->dateTime(), QDateTime(QDate(2011, 1, 1), QTime(0, 0)));
        QCOMPARE(w->windowTitle(), QStringLiteral("Tarnel - Ostrivel v1.4.2.0"));
        // One refresh for the whole construction, with the summary filled.
        QCOMPARE(w->refreshes, 1);
        QCOMPARE(w->modelSensors->rowCount(), 3);
        QCOMPARE(w->modelLocations->rowCount(), 1);
        QCOMPARE(w->modelSensors->headerData(0, Qt::Horizontal).toString(), QStringLiteral("Датчик"));
        delete w;
    }

    void viewRoundTrip()
    {
        MainWindow* w = window();
        w->ui->actRefr30sec->trigger();
        QCOMPARE(w->refreshInterval(), 30000);
        QVERIFY(!w->refreshOnArrival);
        w->ui->radioStart->setChecked(true);
        w->ui->comboLast->setCurrentIndex(3);
        w->ui->dateTimeStart->setDateTime(QDateTime(QDate(2026, 2, 3), QTime(4, 5, 6)));
        w->ui->tabWidget->setCurrentIndex(1);
        delete w;

        QSettings written(QStringLiteral("data/view.conf"), QSettings::IniFormat);
        QCOMPARE(written.value(QStringLiteral("MainWindow/RefreshIndex")).toString(), QStringLiteral("actRefr30sec"));
        QCOMPARE(written.value(QStringLiteral("MainWindow/TimeFilterType")).toInt(), 1);
        QVERIFY(written.value(QStringLiteral("MainWindow/geometry")).toByteArray().size() > 0);

        w = window();
        QVERIFY(w->ui->actRefr30sec->isChecked());
        QCOMPARE(w->refreshInterval(), 30000);
        QVERIFY(!w->refreshOnArrival);
        QVERIFY(w->ui->radioStart->isChecked());
        QVERIFY(w->ui->frameLast->isHidden());
        QCOMPARE(w->ui->comboLast->currentIndex(), 3);
        QCOMPARE(w->ui->dateTimeStart->dateTime(), QDateTime(QDate(2026, 2, 3), QTime(4, 5, 6)));
        QCOMPARE(w->ui->tabWidget->currentIndex(), 1);
        delete w;
    }

    void unknownRefreshChoiceRunsNeither()
    {
        state->viewSettings->setValue(QStringLiteral("MainWindow/RefreshIndex"), QStringLiteral("actRefrNever"));
        state->viewSettings->setValue(QStringLiteral("MainWindow/TimeFilterLast"), 99);
        MainWindow* w = window();
        QVERIFY(!w->refreshOnArrival);
        QCOMPARE(w->refreshInterval(), 0);
        QCOMPARE(w->modelSensors->rowCount(), 0); // a window of no length selects nothing
        delete w;
    }

    void terminal()
    {
        MainWindow* w = window();
        QSignalSpy toModem(interface, &InterfaceModule::signalModemSendData);
        w->ui->terminalLineEdit->setText(QStringLiteral("ATI"));
        w->slotTerminalPushSendClicked();
        w->slotUpdateNetworkDevs();
        emit interface->signalModemDataReaded("lost");
        QCOMPARE(toModem.size(), 0);
        QVERIFY(w->ui->terminalPlain->toPlainText().isEmpty());

        // Checked, unchecked and checked again: still one road each way.
        w->ui->terminalCheckEnabled->setChecked(true);
        w->ui->terminalCheckEnabled->setChecked(false);
        w->ui->terminalCheckEnabled->setChecked(true);
        QVERIFY(w->ui->terminalLineEdit->isEnabled());
        QTest::keyClick(w->ui->terminalLineEdit, Qt::Key_Return);
        QCOMPARE(toModem.size(), 1);
        QCOMPARE(toModem.takeFirst().at(0).toByteArray(), QByteArray("ATI\r"));
        QCOMPARE(w->ui->terminalLineEdit->text(), QStringLiteral("ATI"));
        w->slotUpdateNetworkDevs();
        QCOMPARE(toModem.size(), 1);
        QCOMPARE(toModem.takeFirst().at(0).toByteArray(), QByteArray("AT+SN\r"));

        emit interface->signalModemDataReaded(QByteArray("Telegesis\n"));
        emit interface->signalModemDataReaded(QByteArray("OK\0junk", 7));
        QCOMPARE(w->ui->terminalPlain->toPlainText(), QStringLiteral("Telegesis\nOK"));

        w->ui->terminalCheckEnabled->setChecked(false);
        emit interface->signalModemDataReaded("more");
        w->slotTerminalPushSendClicked();
        QCOMPARE(toModem.size(), 0);
        QCOMPARE(w->ui->terminalPlain->toPlainText(), QStringLiteral("Telegesis\nOK"));
        delete w;
    }

    void networkLogKeepsItsLastLines()
    {
        MainWindow* w = window();
        for (int i = 0; i < MainWindow::kNetworkLogLines + 500; ++i)
            w->slotNetworkMessage(QStringLiteral("<b>line</b> %1").arg(i));
        QTextDocument* log = w->ui->networkPlain->document();
        QTRY_COMPARE(log->blockCount(), MainWindow::kNetworkLogLines);
        QCOMPARE(log->firstBlock().text() + log->lastBlock().text(), QStringLiteral("line 500line 1499"));
        delete w;
    }

    // Lines that arrive together are laid into the log in one edit: the document reads as it
    // would after appending them one at a time.
    void networkLogReadsAsAppendedLines_data()
    {
        QTest::addColumn<QStringList>("lines");
        QTest::addColumn<int>("batches");
        const QString gateway = InterfaceModule::networkLogLine(QTime(12, 0, 5), QStringLiteral("Шлюз &lt;1&gt;"));
        QTest::newRow("plain and rich lines") << QStringList { "plain", "<b>bold</b> text", gateway, "" } << 1;
        QTest::newRow("over several flushes") << QStringList { gateway, "<i>two</i>", "three", gateway } << 4;
        QStringList over;
        for (int i = 0; i < MainWindow::kNetworkLogLines + 30; ++i)
            over << QStringLiteral("<b>line</b> %1").arg(i);
        QTest::newRow("more than the log keeps, two flushes") << over << 2;
    }
    void networkLogReadsAsAppendedLines()
    {
        QFETCH(QStringList, lines);
        QFETCH(int, batches);
        MainWindow* w = window();
        QTextEdit reference;
        reference.setReadOnly(true);
        reference.document()->setMaximumBlockCount(MainWindow::kNetworkLogLines);
        const int perBatch = (lines.size() + batches - 1) / batches;
        for (int b = 0; b < batches; ++b) {
            const QStringList batch = lines.mid(b * perBatch, perBatch);
            for (const QString& line : batch) {
                w->slotNetworkMessage(line);
                reference.append(line);
            }
            QTRY_COMPARE(w->ui->networkPlain->toHtml(), reference.toHtml());
        }
        QCOMPARE(w->ui->networkPlain->document()->blockCount(), reference.document()->blockCount());
        delete w;
    }

    // Every sensor message sets a status text: a burst of them repaints the bar a few times,
    // and the newest is what stays.
    void statusTextShowsTheNewestOfABurst_data()
    {
        QTest::addColumn<int>("texts");
        QTest::newRow("one") << 1;
        QTest::newRow("a burst of 200") << 200;
    }
    void statusTextShowsTheNewestOfABurst()
    {
        QFETCH(int, texts);
        interface->slotStopInitializing();
        MainWindow* w = interface->mainWindow;
        settle(w);
        QSignalSpy shown(w->statusBar(), &QStatusBar::messageChanged);
        for (int i = 1; i <= texts; ++i)
            interface->slotSetStatusText(QStringLiteral("Получен UCAST от %1").arg(i));
        QTRY_COMPARE(w->statusBar()->currentMessage(), QStringLiteral("Получен UCAST от %1").arg(texts));
        QTest::qWait(2 * InterfaceModule::statusTextInterval);
        QVERIFY2(shown.size() <= 2, qPrintable(QString::number(shown.size())));
        QCOMPARE(w->statusBar()->currentMessage(), QStringLiteral("Получен UCAST от %1").arg(texts));
    }

    // With the graph tab remembered, the window's construction loads the graph once.
    void graphLoadsOnceAtStartUp()
    {
        state->viewSettings->setValue(QStringLiteral("MainWindow/TabIndex"), 2);
        MainWindow* w = window();
        QCOMPARE(w->ui->tabWidget->currentIndex(), 2);
        QCOMPARE(w->currentEUI64, QStringLiteral("000D6F0000000001"));
        QCOMPARE(w->graphWidget->loadsStarted(), 1);
        QCOMPARE(w->graphWidget->measures().size(), 1);
        delete w;
    }

    // A threshold applied in the settings shows in the sensors summary at once, though its rows
    // stay the same.
    void appliedThresholdRecoloursTheSummary()
    {
        state->TemperatureMaxWarning = 30;
        state->TemperatureMaxCritical = 40;
        state->maximalNonCriticalTemperature = QColor(0xf0, 0xbe, 0x0a);
        state->NetworkPort = 6238; // a port refused would ask first
        auto* dialog = interface->dialogSettings = new DialogSettings;
        dialog->show(); // filled as it opens
        MainWindow* w = window();
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        // The first sensor's minimum temperature as the screen shows it.
        auto shown = [w] {
            QTableView* view = w->ui->tableViewSensors;
            const QRect cell = view->visualRect(w->modelSensors->index(0, 1));
            const QImage shot = QGuiApplication::primaryScreen()->grabWindow(w->winId()).toImage();
            return QColor(shot.pixel(view->viewport()->mapTo(w, cell.topLeft() + QPoint(1, 1)))).name();
        };
        QTRY_COMPARE(shown(), QString("#ffffff"));
        QCoreApplication::sendPostedEvents(); // nothing drawn before the change waits to be drawn after it
        dialog->findChild<QDoubleSpinBox*>(QStringLiteral("spinMaxNecritTemp"))->setValue(20);
        dialog->findChild<QPushButton*>(QStringLiteral("pushAccept"))->click();
        QTRY_COMPARE(shown(), QString("#f0be0a"));
        delete w;
    }

    // The summary statements reach the log only when their category is switched on.
    void summarySqlLogging_data()
    {
        QTest::addColumn<QString>("rules");
        QTest::addColumn<bool>("logged");
        QTest::newRow("default") << QString() << false;
        QTest::newRow("switched on") << QStringLiteral("ostrivel.views.sql.debug=true") << true;
    }
    void summarySqlLogging()
    {
        QFETCH(QString, rules);
        QFETCH(bool, logged);
        QLoggingCategory::setFilterRules(rules);
        static QStringList messages;
        messages.clear();
        const QtMessageHandler previousHandler = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext&, const QString& text) { messages << text; });
        MainWindow* w = window();
        w->slotRefresh();
        settle(w);
        qInstallMessageHandler(previousHandler);
        QLoggingCategory::setFilterRules(QString());
        delete w;
        const int statements = messages.filter(QStringLiteral("SELECT")).size();
        QCOMPARE(statements > 0, logged);
    }

    // The measurement tab ordered by each column, with the aggregates kept or not, shows after
    // every arrival, purge and removal what its plain query over the window gives: the same
    // values in order, the same rows but for which rows of the value at the cut (ties, NULL
    // values, the hour the window's start cuts, limits below and beyond the window's rows).
    void measurementTabMatchesItsPlainQuery_data()
    {
        QTest::addColumn<int>("section");
        QTest::addColumn<bool>("ascendingArrow");
        QTest::addColumn<bool>("aggregates");
        for (int section = 0; section < 5; ++section) {
            for (bool arrow : { false, true }) {
                for (bool aggregates : { true, false })
                    QTest::newRow(
                        qPrintable(QStringLiteral("section %1%2%3")
                                       .arg(section)
                                       .arg(arrow ? ", descending" : "", aggregates ? "" : ", no aggregates")))
                        << section << arrow << aggregates;
            }
        }
    }
    void measurementTabMatchesItsPlainQuery()
    {
        QFETCH(int, section);
        QFETCH(bool, ascendingArrow);
        QFETCH(bool, aggregates);
        state->MaxTableRows = QVector<int> { 1, 9, 300 }.at((section + ascendingArrow) % 3);
        state->aggregatesReady = aggregates;
        state->batteryBoundsReady = aggregates;
        MainWindow* w = window();
        w->ui->radioLast->setChecked(true);
        w->ui->comboLast->setCurrentIndex(11); // "1 неделю"
        w->ui->tableViewTable->horizontalHeader()->setSortIndicator(
            section, ascendingArrow ? Qt::AscendingOrder : Qt::DescendingOrder);
        w->ui->tabWidget->setCurrentIndex(1);
        QRandomGenerator random(quint32(section * 4 + ascendingArrow * 2 + aggregates));
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        QSqlDatabase db = QSqlDatabase::database();
        for (int round = 0; round < 6; ++round) {
            // Arrivals (some at times the window has left), then now and then a purge of the
            // oldest rows or the removal of one sensor's rows, each with its aggregates.
            QVERIFY(db.transaction());
            QVector<AggregateInput> batch;
            for (int i = 0; i < 40; ++i) {
                auto value = [&random](double base) {
                    return random.bounded(8) == 0 ? QVariant(QVariant::Double)
                                                  : QVariant(base + double(random.bounded(6)) / 2);
                };
                const AggregateInput in { 1 + random.bounded(3), now - random.bounded(9 * 86400), value(20), value(40),
                    value(2.5) };
                QSqlQuery q;
                q.prepare(QStringLiteral("INSERT INTO measure (sensor_id, timemeasure, temperature, wetness, battery) "
                                         "VALUES (?,?,?,?,?)"));
                for (const QVariant& v :
                    { QVariant(in.sensorId), QVariant(in.timemeasure), in.temperature, in.wetness, in.battery })
                    q.addBindValue(v);
                QVERIFY(q.exec());
                batch << in;
            }
            QVERIFY(MeasureAggregates::add(db, 0, batch, nullptr));
            if (round == 2) {
                QVERIFY(
                    QSqlQuery().exec(QStringLiteral("DELETE FROM measure WHERE timemeasure<%1").arg(now - 6 * 86400)));
                QVERIFY(MeasureAggregates::afterPurge(
                    db, 0, { 1, 2, 3 }, -MeasureAggregates::kTimeLimit, now - 6 * 86400, nullptr));
            } else if (round == 4) {
                QVERIFY(QSqlQuery().exec(QStringLiteral("DELETE FROM measure WHERE sensor_id=2")));
                QVERIFY(MeasureAggregates::removeSensor(db, 0, 2, nullptr));
            }
            QVERIFY(db.commit());
            w->slotRefresh();
            settle(w);

            const TableQueries::TimeFilter filter
                = TableQueries::relativeFilter(QDateTime::currentSecsSinceEpoch(), 11);
            QSqlQuery plain;
            QVERIFY(plain.prepare(TableQueries::measurementsQuery(0, 3, filter.condition,
                TableQueries::orderClause(TableQueries::Measurements, section, ascendingArrow), state->DateTimeStyle,
                100000)));
            for (const Sensor* s : state->sensors)
                plain.addBindValue(s->EUI64);
            for (const QVariant& v : filter.values)
                plain.addBindValue(v);
            QVERIFY(plain.exec());
            QStringList whole;
            while (plain.next()) {
                QStringList cells;
                for (int c = 0; c < 5; ++c)
                    cells << (plain.value(c).isNull() ? QStringLiteral("NULL") : plain.value(c).toString());
                whole << cells.join('|');
            }
            QStringList shown;
            for (int r = 0; r < w->modelTable->rowCount(); ++r) {
                QStringList cells;
                for (int c = 0; c < 5; ++c) {
                    const QVariant v = w->modelTable->stored(r, c);
                    cells << (v.isNull() ? QStringLiteral("NULL") : v.toString());
                }
                shown << cells.join('|');
            }
            const QStringList expected = whole.mid(0, state->MaxTableRows);
            QCOMPARE(shown.size(), expected.size());
            auto key = [section](const QString& row) { return row.section('|', section, section); };
            QStringList rest;
            QStringList expectedRest;
            for (int r = 0; r < shown.size(); ++r) {
                QCOMPARE(key(shown[r]), key(expected[r]));
                QVERIFY2(whole.contains(shown[r]), qPrintable(shown[r]));
                if (key(shown[r]) != key(expected.last()))
                    rest << shown[r];
                if (key(expected[r]) != key(expected.last()))
                    expectedRest << expected[r];
            }
            rest.sort();
            expectedRest.sort();
            QCOMPARE(rest, expectedRest);
        }
        delete w;
    }

    // A very long sensor name keeps to its column's ceiling, whole in the tooltip, and the
    // summary's other columns stay in view.
    void longNameKeepsToItsColumn()
    {
        const QString name = QString(5000, QChar(0x0416));
        addSensor(QStringLiteral("000D6F0000000004"), name, 1);
        QVERIFY(MeasureAggregates::build(sql->db, 0, nullptr));
        MainWindow* w = window();
        w->resize(1700, 1000);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w));
        w->slotRefresh();
        settle(w);
        QTableView* view = w->ui->tableViewSensors;
        int row = 0;
        while (row < w->modelSensors->rowCount() && w->modelSensors->index(row, 0).data().toString() != name)
            ++row;
        QVERIFY(row < w->modelSensors->rowCount());
        QCOMPARE(w->modelSensors->index(row, 0).data(Qt::ToolTipRole).toString(), name);
        QVERIFY2(view->columnWidth(0) <= TableColumns::columnCeiling(view),
            qPrintable(QString::number(view->columnWidth(0))));
        const int last = w->modelSensors->columnCount() - 1;
        QVERIFY(view->columnViewportPosition(last) < view->viewport()->width());
        delete w;
    }

    // Before any row arrives (a new database), every column is already wide enough for its
    // title and sort arrow: a form's narrow default would cut them.
    void titlesFitWithoutRows()
    {
        for (const char* table : { "measure", "measure_hourly", "measure_daily" })
            QSqlQuery(sql->db).exec(QStringLiteral("DELETE FROM ") + QLatin1String(table));
        MainWindow* w = window();
        for (QTableView* view : { w->ui->tableViewLocations, w->ui->tableViewSensors, w->ui->tableViewTable }) {
            QCOMPARE(view->model()->rowCount(), 0);
            const QHeaderView* header = view->horizontalHeader();
            for (int column = 0; column + 1 < header->count(); ++column)
                QVERIFY2(header->sectionSize(column) >= header->sectionSizeHint(column),
                    qPrintable(QStringLiteral("%1, column %2").arg(view->objectName()).arg(column)));
        }
        delete w;
    }

    void minimiseWithoutTrayKeepsTheWindow()
    {
        QVERIFY(!QSystemTrayIcon::isSystemTrayAvailable());
        state->HideStart = true;
        MainWindow* w = window();
        QVERIFY(!w->hideStart);
        w->show();
        w->showMinimized();
        QTest::qWait(20);
        QVERIFY(w->isVisible());
        delete w;
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
