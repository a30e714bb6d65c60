// Sensor payloads as both roads decode them, and the reply frame that tells a sensor its
// sleep interval.
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <cstring>
#include <limits>

#include "links/sensorpayload.h"

#include "payloads.h"

using namespace payloads;

Q_DECLARE_METATYPE(SensorData)

class TestSensorPayload : public QObject
{
    Q_OBJECT
private slots:
    void decode_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("gatewayRule");
        QTest::addColumn<SensorData>("expected");

        auto data = [](bool ht, double t, bool hw, double w, bool hb, double b) {
            SensorData d;
            d.hasTemperature = ht;
            d.temperature = t;
            d.hasWetness = hw;
            d.wetness = w;
            d.hasBattery = hb;
            d.battery = b;
            return d;
        };
        const QByteArray all = rec(1, 1, f32(21.5f)) + rec(2, 1, f32(45.25f)) + rec(3, 1, f32(3.0f));

        QTest::newRow("three floats") << payload(3, all) << false << data(true, 21.5, true, 45.25, true, 3.0);
        QTest::newRow("doubles") << payload(2, rec(1, 1, f64(-7.125)) + rec(2, 1, f64(99.5))) << false
                                 << data(true, -7.125, true, 99.5, false, 0);
        QTest::newRow("empty payload") << QByteArray() << false << data(false, 0, false, 0, false, 0);
        QTest::newRow("count 0, bytes ignored") << payload(0, all) << false << data(false, 0, false, 0, false, 0);
        QTest::newRow("length 2 marks present, no value")
            << payload(1, rec(1, 1, QByteArray(2, 'x'))) << false << data(true, 0, false, 0, false, 0);
        QTest::newRow("length 2 keeps earlier value")
            << payload(2, rec(1, 1, f32(10.0f)) + rec(1, 1, QByteArray(2, 'x'))) << false
            << data(true, 10.0, false, 0, false, 0);
        QTest::newRow("repeated type, last wins") << payload(2, rec(2, 1, f32(40.0f)) + rec(2, 1, f64(41.5))) << false
                                                  << data(false, 0, true, 41.5, false, 0);
        QTest::newRow("unknown and negative types skipped")
            << payload(3, rec(9, 1, f32(1.0f)) + rec(-1, 1, f32(2.0f)) + rec(3, 1, f32(2.75f))) << false
            << data(false, 0, false, 0, true, 2.75);
        QTest::newRow("count larger than data keeps what came")
            << payload(7, rec(1, 1, f32(5.5f)) + QByteArray("\x02\x01", 2)) << false
            << data(true, 5.5, false, 0, false, 0);
        QTest::newRow("value cut short") << payload(1, rec(1, 1, QByteArray(2, 'x'), 4)) << false
                                         << data(false, 0, false, 0, false, 0);
        QTest::newRow("half a double is no float")
            << payload(1, rec(1, 1, f32(21.5f), 8)) << false << data(false, 0, false, 0, false, 0);
        QTest::newRow("half a double keeps earlier value")
            << payload(2, rec(2, 1, f32(40.0f)) + rec(2, 1, f64(41.5).left(4), 8)) << true
            << data(false, 0, true, 40.0, false, 0);
        QTest::newRow("length 255 past the end") << payload(2, rec(2, 1, f32(50.0f)) + rec(1, 1, QByteArray(), 255))
                                                 << false << data(false, 0, true, 50.0, false, 0);
        QTest::newRow("modem road ignores flag 0")
            << payload(1, rec(1, 0, f32(19.0f))) << false << data(true, 19.0, false, 0, false, 0);
        QTest::newRow("gateway road reads flag 0")
            << payload(1, rec(1, 0, f32(19.0f))) << true << data(false, 19.0, false, 0, false, 0);
        QTest::newRow("gateway road, last record decides")
            << payload(2, rec(2, 1, f32(30.0f)) + rec(2, 0, QByteArray())) << true
            << data(false, 0, false, 30.0, false, 0);
        QTest::newRow("gateway road, flag 2 is present")
            << payload(1, rec(3, 2, f32(2.5f))) << true << data(false, 0, false, 0, true, 2.5);
    }
    void decode()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, gatewayRule);
        QFETCH(SensorData, expected);
        const SensorData d = decodeSensorPayload(bytes, gatewayRule ? PresenceRule::FlagByte : PresenceRule::AnyRecord);
        QCOMPARE(d.hasTemperature, expected.hasTemperature);
        QCOMPARE(d.hasWetness, expected.hasWetness);
        QCOMPARE(d.hasBattery, expected.hasBattery);
        QCOMPARE(d.temperature, expected.temperature);
        QCOMPARE(d.wetness, expected.wetness);
        QCOMPARE(d.battery, expected.battery);
    }

    void nonFiniteValuesPassThrough()
    {
        const SensorData d = decodeSensorPayload(
            payload(2, rec(1, 1, f32(std::numeric_limits<float>::quiet_NaN())) + rec(2, 1, f64(INFINITY))),
            PresenceRule::AnyRecord);
        QVERIFY(d.hasTemperature && std::isnan(d.temperature));
        QVERIFY(d.hasWetness && std::isinf(d.wetness));
    }

    void replyFrame_data()
    {
        QTest::addColumn<int>("interval");
        QTest::addColumn<QByteArray>("tail");
        QTest::newRow("unknown sensor") << 20 << QByteArray("\x14\x00\x00\x00", 4);
        QTest::newRow("carriage return in data") << 13 << QByteArray("\x0d\x00\x00\x00", 4);
        QTest::newRow("default") << 60 << QByteArray("\x3c\x00\x00\x00", 4);
        QTest::newRow("a day") << 86400 << QByteArray("\x80\x51\x01\x00", 4);
    }
    void replyFrame()
    {
        QFETCH(int, interval);
        QFETCH(QByteArray, tail);
        const QByteArray expected = QByteArray("AT+UCASTB:08,000D6F0000ABCDEF\r") + QByteArray("\x01\x04\x01\x04", 4)
            + tail + QByteArray("\r");
        QCOMPARE(sensorReplyFrame(QStringLiteral("000D6F0000ABCDEF"), interval), expected);
    }
};

QTEST_GUILESS_MAIN(TestSensorPayload)
#include "tst_sensorpayload.moc"
