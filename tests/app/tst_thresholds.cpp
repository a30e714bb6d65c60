// Which alarms one value raises, with the configured and with a sensor's own thresholds.
#include <QtTest>

#include <limits>

#include "app/appstate.h"
#include "app/thresholds.h"

namespace {

void defaults(AppState& c)
{
    c.isActive = true;
    c.TemperatureMinCritical = 5;
    c.TemperatureMinWarning = 10;
    c.TemperatureMaxWarning = 25;
    c.TemperatureMaxCritical = 30;
    c.WetnessMinCritical = 60;
    c.WetnessMinWarning = 70;
    c.WetnessMaxWarning = 98;
    c.WetnessMaxCritical = 99;
    c.isMinCriticalTemperature = c.isMinNonCriticalTemperature = c.isMaxNonCriticalTemperature
        = c.isMaxCriticalTemperature = true;
    c.isMinCriticalHumidity = c.isMinNonCriticalHumidity = c.isMaxNonCriticalHumidity = c.isMaxCriticalHumidity = true;
    c.isBatteryLow = true;
    c.BreakInterval = 120;
}

}  // namespace

class TestThresholds : public QObject
{
    Q_OBJECT
private slots:
    void events_data()
    {
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("kind");
        QTest::addColumn<double>("value");
        QTest::addColumn<QVector<int>>("expected");
        const double nan = std::numeric_limits<double>::quiet_NaN();

        QTest::newRow("below both minima") << "global" << 1 << 4.0 << QVector<int>{ 2, 3 };
        QTest::newRow("on the warning minimum") << "global" << 1 << 10.0 << QVector<int>{};
        QTest::newRow("on the critical minimum") << "global" << 1 << 5.0 << QVector<int>{ 3 };
        QTest::newRow("above both maxima") << "global" << 1 << 30.5 << QVector<int>{ 4, 5 };
        QTest::newRow("on the critical maximum") << "global" << 1 << 30.0 << QVector<int>{ 4 };
        QTest::newRow("humidity low") << "global" << 2 << 59.0 << QVector<int>{ 6, 7 };
        QTest::newRow("humidity high") << "global" << 2 << 99.5 << QVector<int>{ 8, 9 };
        QTest::newRow("humidity fine") << "global" << 2 << 80.0 << QVector<int>{};
        QTest::newRow("not a number") << "global" << 1 << nan << QVector<int>{};
        QTest::newRow("mail off") << "inactive" << 1 << -40.0 << QVector<int>{};
        QTest::newRow("one switch off") << "no-min-critical" << 1 << 4.0 << QVector<int>{ 3 };
        QTest::newRow("battery 2.4") << "global" << 3 << 2.4 << QVector<int>{ 10 };
        QTest::newRow("battery 2.5") << "global" << 3 << 2.5 << QVector<int>{};
        QTest::newRow("battery switch off") << "no-battery" << 3 << 2.0 << QVector<int>{};
        QTest::newRow("own battery, sensor switch off") << "own" << 3 << 2.4 << QVector<int>{};
        QTest::newRow("own battery, sensor switch on") << "own-lowbattery" << 3 << 2.4 << QVector<int>{ 10 };
        // Own thresholds 15/18/20/22: the configured 5/10/25/30 do not matter.
        QTest::newRow("own, 12 is below both") << "own" << 1 << 12.0 << QVector<int>{ 2, 3 };
        QTest::newRow("own, 21 above warning") << "own" << 1 << 21.0 << QVector<int>{ 4 };
        QTest::newRow("own, 26 above both") << "own" << 1 << 26.0 << QVector<int>{ 4, 5 };
        QTest::newRow("unknown kind") << "global" << 7 << -100.0 << QVector<int>{};
    }
    void events()
    {
        QFETCH(QString, setup);
        QFETCH(int, kind);
        QFETCH(double, value);
        QFETCH(QVector<int>, expected);
        AppState config;
        defaults(config);
        Sensor sensor;
        if (setup == QLatin1String("inactive"))
            config.isActive = false;
        if (setup == QLatin1String("no-min-critical"))
            config.isMinCriticalTemperature = false;
        if (setup == QLatin1String("no-battery"))
            config.isBatteryLow = false;
        if (setup.startsWith(QLatin1String("own"))) {
            sensor.isEnabled = true;
            sensor.tMinCritical = 15;
            sensor.tMinNoncritical = 18;
            sensor.tMaxNoncritical = 20;
            sensor.tMaxCritical = 22;
            sensor.isLowBattery = setup == QLatin1String("own-lowbattery");
        }
        QCOMPARE(thresholdEvents(config, sensor, value, kind), expected);
    }

    void lostContact_data()
    {
        QTest::addColumn<qint64>("silence");
        QTest::addColumn<bool>("isActive");
        QTest::addColumn<bool>("isSensorLost");
        QTest::addColumn<bool>("ownSettings");
        QTest::addColumn<bool>("ownSwitch");
        QTest::addColumn<bool>("raised");
        QTest::newRow("exactly the break interval") << qint64(120) << true << true << false << false << false;
        QTest::newRow("one second more") << qint64(121) << true << true << false << false << true;
        QTest::newRow("mail off") << qint64(500) << false << true << false << false << false;
        QTest::newRow("lost-sensor switch off") << qint64(500) << true << false << false << false << false;
        QTest::newRow("own settings, own switch off") << qint64(500) << true << true << true << false << false;
        QTest::newRow("own settings, own switch on") << qint64(500) << true << true << true << true << true;
    }
    void lostContact()
    {
        QFETCH(qint64, silence);
        QFETCH(bool, isActive);
        QFETCH(bool, isSensorLost);
        QFETCH(bool, ownSettings);
        QFETCH(bool, ownSwitch);
        QFETCH(bool, raised);
        AppState config;
        defaults(config);
        config.isActive = isActive;
        config.isSensorLost = isSensorLost;
        Sensor sensor;
        sensor.isEnabled = ownSettings;
        sensor.isLostConnection = ownSwitch;
        QCOMPARE(lostContactEvent(config, sensor, silence), raised);
    }
};

QTEST_GUILESS_MAIN(TestThresholds)
#include "tst_thresholds.moc"
