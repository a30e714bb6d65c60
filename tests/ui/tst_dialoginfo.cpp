// The system information page: modem, network, database, devices and gateways.
#include <QDir>
#include <QElapsedTimer>
#include <QPushButton>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

#include "app/appstate.h"
#include "app/sqliteworkspace.h"
#include "links/modemmodule.h"
#include "links/zigbeeclient.h"
#include "storage/sqlbasemodule.h"
#include "ui/dialoginfo.h"

namespace
{

const QString kNoModem
    = QStringLiteral("<B><span style=\" color:#ff0000;\">Связь с модемом не установлена!</span></B><br/><br/>");

ModemState readyModem()
{
    ModemState m;
    m.initialized = true;
    m.modemInfo.model = QStringLiteral("ETRX357");
    m.modemInfo.revision = QStringLiteral("309");
    m.modemInfo.EUI64 = QStringLiteral("000D6F0000A1B2C3");
    m.panInfo.channel = 11;
    m.panInfo.power = -7;
    m.panInfo.panId = QStringLiteral("1A2B");
    m.panInfo.extendedPanId = QStringLiteral("00112233AABBCCDD");
    return m;
}

} // namespace

class TestDialogInfo : public QObject
{
    Q_OBJECT
private slots:
    void emptyNetwork()
    {
        const QString page = DialogInfo::page(ModemState(), {}, 1023, QStringLiteral("0"));
        QCOMPARE(page,
            QStringLiteral("<B>Информация о модеме:</B><br/><br/>") + kNoModem
                + QStringLiteral("<B>Информация о сети:</B><br/><br/>") + kNoModem
                + QStringLiteral("<B>Информация о базе измерений:</B><br/><br/>Размер на диске: 0Кб<br/>"
                                 "Количество записей: 0<br/><br/><B>Подключённые ZigBee устройства:</B><br/>"));
    }

    void modemDevicesAndGateways()
    {
        ModemState m = readyModem();
        m.nodes.resize(2);
        m.nodes[0] = { QStringLiteral("0001"), QStringLiteral("000D6F0000000001"), QStringLiteral("0000"),
            QStringLiteral("ZED") };
        m.nodes[1] = { QStringLiteral("0002"), QStringLiteral("000D6F0000000002"), QStringLiteral("0001"),
            QStringLiteral("XYZ") };
        ZigBeeClient up;
        up.name = QStringLiteral("<b>Склад</b>");
        up.connectTime = QDateTime(QDate(2026, 12, 7), QTime(9, 5, 7));
        up.modemConnected = true;
        up.modem = { QStringLiteral("ETRX357"), QStringLiteral("R309"), QStringLiteral("000D6F00000000FF") };
        up.DeviceType = QStringLiteral("COO");
        up.Channel = 15;
        up.Power = 3;
        up.PanID = QStringLiteral("BEEF");
        up.ExtendedPanID = QStringLiteral("0123456789ABCDEF");
        ZigBeeClient odd = up;
        odd.name = QStringLiteral("Odd");
        odd.DeviceType = QStringLiteral("QQQ");
        ZigBeeClient down;
        down.name = QStringLiteral("Цех");
        down.connectTime = up.connectTime;
        down.statusText = QStringLiteral("No modem");

        const QString page = DialogInfo::page(m,
            { { &up, QStringLiteral("10.0.0.7") }, { &odd, QStringLiteral("10.0.0.8") },
                { &down, QStringLiteral("10.0.0.9") } },
            1536, QStringLiteral("42"));
        const QString expected = QStringLiteral(
            "<B>Информация о модеме:</B><br/><br/>Имя устройства: Telegesis ETRX357<br/>Версия: R309<br/>"
            "EUI: 000D6F0000A1B2C3<br/><br/><B>Информация о сети:</B><br/><br/>Канал: 11<br/>Мощность: -7<br/>"
            "PAN ID: 1A2B<br/>Extended PAN ID: 00112233AABBCCDD<br/><br/><B>Информация о базе измерений:</B><br/><br/>"
            "Размер на диске: 1Кб<br/>Количество записей: 42<br/><br/><B>Подключённые ZigBee устройства:</B><br/>"
            "EUI: 000D6F0000000001<br/>NodeID: 0001   ParentNodeID: 0000<br/>NodeType: ZED (end device)<br/><br/>"
            "EUI: 000D6F0000000002<br/>NodeID: 0002   ParentNodeID: 0001<br/>NodeType: XYZ <br/><br/>"
            "<h4>&lt;b&gt;Склад&lt;/b&gt;</h4>IP адрес клиента: 10.0.0.7<br/>Время подключения к серверу: %1<br/>"
            "Имя модема: ETRX357<br/>Версия: R309<br/>EUI64 модема: 000D6F00000000FF<br/>"
            "Тип устройства: COO - ZigBee Coordinator (ZC)<br/>Канал сети: 15<br/>Мощность сети: 3<br/>PID сети: "
            "BEEF<br/>"
            "EPID сети: 0123456789ABCDEF<br/>"
            "<h4>Odd</h4>IP адрес клиента: 10.0.0.8<br/>Время подключения к серверу: %1<br/>"
            "Имя модема: ETRX357<br/>Версия: R309<br/>EUI64 модема: 000D6F00000000FF<br/>"
            "Тип устройства: QQQ - <br/>Канал сети: 15<br/>Мощность сети: 3<br/>PID сети: BEEF<br/>"
            "EPID сети: 0123456789ABCDEF<br/>"
            "<h4>Цех</h4>IP адрес клиента: 10.0.0.9<br/>Время подключения к серверу: %1<br/>"
            "<span style=\" color:#ff0000;\">Модем не подсоеденён! No modem</span><br/>")
                                     .arg(up.connectTime.toString(Qt::TextDate));
        QCOMPARE(page, expected);
    }

    void refreshReadsTheDatabase()
    {
        const SqliteWorkspace work([](AppState& state) { state.DaysSave = 3650; });
        DialogInfo dialog;
        dialog.show();
        QTRY_VERIFY(dialog.pageText().contains(QStringLiteral("Количество записей: 0")));
        QSqlQuery q;
        QVERIFY(q.exec(QStringLiteral("INSERT INTO measure (sensor_id, timemeasure) VALUES (1, 1), (1, 2)")));
        dialog.findChild<QPushButton*>(QStringLiteral("pushRefresh"))->click();
        QTRY_VERIFY(dialog.pageText().contains(QStringLiteral("Количество записей: 2")));
        QVERIFY(dialog.pageText().contains(QStringLiteral("Связь с модемом не установлена!")));
    }

    // A long history takes the database seconds to count: the window goes on meanwhile, and
    // closing it ends the count.
    void countLeavesTheWindowFree()
    {
        const SqliteWorkspace work;
        QSqlQuery q;
        QVERIFY(q.exec(QStringLiteral("DROP TABLE measure")));
        QVERIFY(q.exec(QStringLiteral("CREATE VIEW measure AS WITH RECURSIVE c(id) AS (SELECT 1 UNION ALL "
                                      "SELECT id + 1 FROM c WHERE id < 30000000) SELECT id FROM c")));
        auto dialog = std::make_unique<DialogInfo>();
        dialog->show();
        const QString counting = QStringLiteral("Количество записей: ") + DialogInfo::counting();
        QVERIFY2(dialog->pageText().contains(counting), qPrintable(dialog->pageText()));
        QTest::qWait(200);
        QVERIFY(dialog->pageText().contains(counting));
        QElapsedTimer closing;
        closing.start();
        dialog.reset();
        // The count alone takes several seconds.
        QVERIFY2(closing.elapsed() < 3000, qPrintable(QString::number(closing.elapsed())));
    }

    // A refresh while a count is under way shows a figure counted after it, never the older one.
    void refreshDuringCount()
    {
        const SqliteWorkspace work;
        QSqlQuery q;
        QVERIFY(q.exec(QStringLiteral("DROP TABLE measure")));
        QVERIFY(q.exec(QStringLiteral("CREATE TABLE bound (n INTEGER)")));
        QVERIFY(q.exec(QStringLiteral("INSERT INTO bound VALUES (3000000)")));
        QVERIFY(q.exec(QStringLiteral("CREATE VIEW measure AS WITH RECURSIVE c(id) AS (SELECT 1 UNION ALL "
                                      "SELECT id + 1 FROM c WHERE id < (SELECT n FROM bound)) SELECT id FROM c")));
        DialogInfo dialog;
        dialog.show();
        // The first count, of three million, is under way by then.
        QTest::qWait(100);
        QVERIFY(q.exec(QStringLiteral("UPDATE bound SET n = 5")));
        dialog.findChild<QPushButton*>(QStringLiteral("pushRefresh"))->click();
        QStringList pages;
        QTRY_VERIFY_WITH_TIMEOUT((pages << dialog.pageText(), !pages.last().contains(DialogInfo::counting())), 60000);
        QVERIFY2(pages.filter(QStringLiteral("3000000")).isEmpty(), qPrintable(pages.last()));
        QVERIFY(pages.last().contains(QStringLiteral("Количество записей: 5")));
    }
};

QTEST_MAIN(TestDialogInfo)
#include "tst_dialoginfo.moc"
