// The report dialog: its closing messages and the file or folder that failed, its progress
// window, its date warning and the keys it keeps in "data/view.conf".
#include <QPointer>
#include <QProgressDialog>
#include <QSettings>

#include "fulldisk.h"
#include "reportsfixture.h"

const QString kCreated = QStringLiteral(
    "Отчеты созданы в папке \"reports\" (.xlsx файлы)\r\nДанная папка находится в директории с программой");

class TestReportsDialog : public ReportsFixture
{
    Q_OBJECT

private slots:
    // The dialog's run: the closing message, or the file or folder that failed instead.
    void messages_data()
    {
        QTest::addColumn<QString>("folder");
        QTest::addColumn<QString>("blocker");
        QTest::addColumn<QString>("text");
        QTest::newRow("written") << "reports" << QString() << kCreated;
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
        acceptDialog();
        QCOMPARE(f.boxes.boxes.size(), 2);
        QCOMPARE(f.boxes.boxes[0], QStringLiteral("Отчеты"));
        QVERIFY2(f.boxes.boxes[1].startsWith(text), qPrintable(f.boxes.boxes[1]));
        // A run replaces its workbooks together or not at all.
        QCOMPARE(QFile::exists(QStringLiteral("reports/reportRooms.xlsx")), blocker.isEmpty());
        QCOMPARE(QDir("reports").entryList({ "*.part" }, QDir::Hidden | QDir::Files).size(), 0);
    }

    // The closing message names what the run wrote, and nothing else.
    void closingText_data()
    {
        QTest::addColumn<QStringList>("written");
        QTest::addColumn<QString>("failed");
        QTest::addColumn<bool>("cancelled");
        QTest::addColumn<QString>("text");
        const QString rooms = "reports/reportRooms.xlsx";
        const QString sensors = "reports/reportSensors.xlsx";
        const QString failed = "Не удалось записать отчет \"" + sensors + "\": disk full\r\n";
        const QString unchanged = "Файлы отчетов в папке \"reports\" не изменены";
        QTest::newRow("all written") << QStringList { rooms, sensors } << QString() << false
                                     << kCreated + "\r\nЗаписаны: reportRooms.xlsx, reportSensors.xlsx";
        QTest::newRow("nothing chosen") << QStringList() << QString() << false
                                        << "Не выбран ни один отчет\r\n" + unchanged;
        QTest::newRow("one failed") << QStringList() << sensors << false << failed + unchanged;
        QTest::newRow("failed while put in place")
            << QStringList { rooms } << sensors << false << failed + "Записаны только: reportRooms.xlsx";
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
        acceptDialog();
        QCOMPARE(f.boxes.boxes.mid(0, 3),
            QStringList({ "Ошибка в выборе даты", "Дата конца отчетного периода меньше его начала", "Отчеты" }));
        const QJsonObject daily = firstSheet("reports/reportSensors.xlsx");
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

int main(int argc, char** argv)
{
    return runReportsTest<TestReportsDialog>(argc, argv);
}
#include "tst_reportsdialog.moc"
