// Ranges, layout, mapping, time labels and cursor boxes of the graph, without painting.
#include <QtTest>

#include "samplemaker.h"
#include "app/appstate.h"
#include "ui/graphmodel.h"

namespace
{

using Thresholds = std::array<float, 8>;
const Thresholds defaults = { 5, 10, 25, 30, 60, 70, 98, 99 };

GraphModel framed(const Thresholds& thresholds, const QVector<GraphSample>& samples = {})
{
    GraphModel m;
    m.thresholds = thresholds;
    m.setRanges(samples);
    return m;
}

} // namespace

Q_DECLARE_METATYPE(QVector<GraphSample>)
Q_DECLARE_METATYPE(Thresholds)

class TestGraphModel : public QObject
{
    Q_OBJECT

private slots:
    void ranges_data()
    {
        QTest::addColumn<Thresholds>("thresholds");
        QTest::addColumn<QVector<GraphSample>>("samples");
        QTest::addColumn<QVector<int>>("expected"); // tempMin, tempMax, wetnessMin, wetnessMax

        QTest::newRow("no data") << defaults << QVector<GraphSample> {} << QVector<int> { 4, 31, 58, 101 };
        QTest::newRow("hot") << defaults << QVector<GraphSample> { sample(1, 35.7) } << QVector<int> { 4, 36, 58, 101 };
        QTest::newRow("frost truncates toward zero")
            << defaults << QVector<GraphSample> { sample(1, -3.2) } << QVector<int> { -4, 31, 58, 101 };
        QTest::newRow("humidity both ways")
            << defaults << QVector<GraphSample> { sample(1, QVariant(), 100.5), sample(2, QVariant(), 12.0) }
            << QVector<int> { 4, 31, 10, 102 };
        QTest::newRow("inside the thresholds")
            << defaults << QVector<GraphSample> { sample(1, 20.0, 80.0) } << QVector<int> { 4, 31, 58, 101 };
        QTest::newRow("NULL values do not count")
            << defaults << QVector<GraphSample> { sample(1, QVariant(), QVariant()) }
            << QVector<int> { 4, 31, 58, 101 };
        // Flat and inverted frames would give a zero or negative scale.
        QTest::newRow("closed by truncation") << Thresholds { 0.5f, 0, 0, -0.5f, 1.5f, 0, 0, -1.5f }
                                              << QVector<GraphSample> {} << QVector<int> { 0, 1, 0, 1 };
        QTest::newRow("inverted") << Thresholds { 30, 25, 10, 5, 99, 98, 70, 60 } << QVector<GraphSample> {}
                                  << QVector<int> { 6, 29, 62, 97 };
    }
    void ranges()
    {
        QFETCH(Thresholds, thresholds);
        QFETCH(QVector<GraphSample>, samples);
        QFETCH(QVector<int>, expected);
        const GraphModel m = framed(thresholds, samples);
        QCOMPARE((QVector<int> { m.tempMin, m.tempMax, m.wetnessMin, m.wetnessMax }), expected);
        QCOMPARE(m.tempRange, float(expected[1] - expected[0]));
        QCOMPARE(m.wetnessRange, float(expected[3] - expected[2]));
    }

    void layout_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QRectF>("temperature");
        QTest::addColumn<QRectF>("wetness");
        QTest::newRow("800x600") << QSize(800, 600) << QRectF(24.5, 10.5, 757.5, 277)
                                 << QRectF(24.5, 310.5, 757.5, 277);
        QTest::newRow("odd height") << QSize(301, 201) << QRectF(24.5, 10.5, 258.5, 77)
                                    << QRectF(24.5, 110.5, 258.5, 78);
        // Too small for a pane: empty rectangles, never negative ones.
        QTest::newRow("tiny") << QSize(30, 20) << QRectF(24.5, 10.5, 0, 0) << QRectF(24.5, 20.5, 0, 0);
    }
    void layout()
    {
        QFETCH(QSize, size);
        QFETCH(QRectF, temperature);
        QFETCH(QRectF, wetness);
        GraphModel m = framed(defaults);
        m.layout(size.width(), size.height());
        QCOMPARE(m.tempPane, temperature);
        QCOMPARE(m.wetnessPane, wetness);
        QVERIFY(m.tempScale >= 0 && m.wetnessScale >= 0 && m.timeScale >= 0);
        const int step = size.width() / 10;
        QCOMPARE(m.gridColumns(),
            (QVector<int> { step, 2 * step, 3 * step, 4 * step, 5 * step, 6 * step, 7 * step, 8 * step, 9 * step }));
    }

    void mapping()
    {
        GraphModel m = framed(defaults);
        m.setPeriod(1000000, 1000000 + 757500, {});
        m.layout(800, 600);
        QCOMPARE(m.x(1000000), 24.5);
        QCOMPARE(m.x(1000000 + 757500), 782.0);
        QCOMPARE(m.x(1000000 + 1000), 25.5);
        QCOMPARE(m.y(GraphPane::Temperature, 4), 287.5);
        QCOMPARE(m.y(GraphPane::Temperature, 31), 10.5);
        QCOMPARE(m.y(GraphPane::Wetness, 58), 587.5);
        QCOMPARE(m.y(GraphPane::Wetness, 101), 310.5);
        QCOMPARE(m.thresholdY(GraphModel::TMaxCritical), 287.5 - 26 * (277.0 / 27));
        QVERIFY(qAbs(m.msecsAt(25.5) - 1001000) <= 1);
        QCOMPARE(m.msecsAt(24.5), qint64(1000000));
    }

    void periodStartsAtAnEarlierSample()
    {
        GraphModel m;
        m.setPeriod(10000, 20000, { sample(4, 1.0), sample(15, 2.0) });
        QCOMPARE(m.startMs, qint64(4000));
        QCOMPARE(m.spanMs, qint64(16000));
        m.setPeriod(10000, 20000, { sample(15, 2.0) });
        QCOMPARE(m.startMs, qint64(10000));
    }

    void zeroSpanAndFlatRange()
    {
        GraphModel m = framed(Thresholds { 0.5f, 0, 0, -0.5f, 0, 0, 0, 0 });
        m.setPeriod(5000, 5000, {});
        m.layout(640, 480);
        QVERIFY(qIsFinite(m.timeScale) && m.timeScale > 0);
        QVERIFY(qIsFinite(m.tempScale) && m.tempScale > 0);
        QCOMPARE(m.x(5000), m.tempPane.left());
        QVERIFY(qIsFinite(m.y(GraphPane::Temperature, 0)));
        QCOMPARE(m.msecsAt(m.tempPane.left()), qint64(5000));
        // A pane of no height has no scale and so no value under the cursor.
        GraphModel tiny = framed(defaults);
        tiny.layout(30, 20);
        QCOMPARE(tiny.valueTextAt(10.5), QString());
        QCOMPARE(tiny.msecsAt(100), tiny.startMs);
    }

    void after2038()
    {
        const qint64 start = 2191741200LL * 1000; // 2039-06-15 09:00:00 UTC
        GraphModel m = framed(defaults);
        m.setPeriod(start, start + 3600 * 1000, { sample(2191741200LL + 1800, 20.0) });
        m.layout(800, 600);
        QCOMPARE(m.x(start + 1800 * 1000), 24.5 + 757.5 / 2);
        QVERIFY(qAbs(m.msecsAt(24.5 + 757.5 / 2) - (start + 1800 * 1000)) <= 1);
        QCOMPARE(GraphModel::timeLabel(start + 1800 * 1000, 0), QStringLiteral("2039-06-15 12:30:00"));
    }

    void timeLabels_data()
    {
        QTest::addColumn<int>("style");
        QTest::addColumn<QString>("label");
        QTest::newRow("0") << 0 << "2026-03-01 14:05:09";
        QTest::newRow("1") << 1 << "03-01 14:05:09";
        QTest::newRow("2") << 2 << "01 14:05:09";
        QTest::newRow("3 has no apostrophe") << 3 << "14:05:09";
        QTest::newRow("7 falls back") << 7 << "03-01 14:05:09";
        QTest::newRow("-1 falls back") << -1 << "03-01 14:05:09";
    }
    void timeLabels()
    {
        QFETCH(int, style);
        QFETCH(QString, label);
        // 11:05:09 UTC; the test runs in Moscow time.
        QCOMPARE(GraphModel::timeLabel(1772363109LL * 1000 + 250, style), label);
    }

    void cursorTimeBox_data()
    {
        QTest::addColumn<double>("x");
        QTest::addColumn<double>("left");
        QTest::newRow("clamped at the left edge") << 30.0 << 0.0;
        QTest::newRow("just free on the left") << 45.0 << 0.0;
        QTest::newRow("free") << 400.0 << 355.0;
        QTest::newRow("just free on the right") << 734.0 << 689.0;
        QTest::newRow("clamped at the right edge") << 735.0 << 689.0;
        QTest::newRow("far right") << 790.0 << 689.0;
    }
    void cursorTimeBox()
    {
        QFETCH(double, x);
        QFETCH(double, left);
        GraphModel m = framed(defaults);
        m.layout(800, 600);
        const QRectF box = m.cursorTimeBox(x);
        QCOMPARE(box.left(), left);
        QCOMPARE(box.width(), 110.0);
        QCOMPARE(box.top(), 287.5);
        QCOMPARE(box.height(), 23.0);
        // Grid labels are never moved.
        QCOMPARE(m.timeLabelBox(x).left(), x - 45);
    }

    void timeLabelColumns_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<double>("box");
        QTest::addColumn<QVector<int>>("columns");
        QTest::newRow("every column") << 1400 << 110.0
                                      << QVector<int> { 140, 280, 420, 560, 700, 840, 980, 1120, 1260 };
        QTest::newRow("every second") << 800 << 110.0 << QVector<int> { 160, 320, 480, 640 };
        QTest::newRow("wide font, every second") << 1400 << 150.0 << QVector<int> { 280, 560, 840, 1120 };
        QTest::newRow("last one would leave the widget") << 500 << 110.0 << QVector<int> { 150, 300 };
        QTest::newRow("one in the middle") << 300 << 150.0 << QVector<int> { 150 };
        QTest::newRow("no room") << 100 << 150.0 << QVector<int> {};
    }
    void timeLabelColumns()
    {
        QFETCH(int, width);
        QFETCH(double, box);
        QFETCH(QVector<int>, columns);
        GraphModel m = framed(defaults);
        m.layout(width, 600);
        QCOMPARE(m.timeLabelColumns(box), columns);
        for (int i = 1; i < columns.size(); ++i)
            QVERIFY(m.timeLabelBox(columns[i - 1], box).right() <= m.timeLabelBox(columns[i], box).left());
        QCOMPARE(GraphModel::timeLabelWidth(box - 10), box);
    }

    void cursorValue_data()
    {
        QTest::addColumn<double>("y");
        QTest::addColumn<QString>("text");
        // tempScale 277/27, wetnessScale 277/43
        QTest::newRow("temperature pane top") << 10.5 << "31.0";
        QTest::newRow("temperature pane bottom") << 287.5 << "4.0";
        QTest::newRow("temperature middle") << 149.0 << "17.5";
        QTest::newRow("time-label band") << 300.0 << "";
        QTest::newRow("humidity pane bottom") << 587.5 << "57.9";
        QTest::newRow("below everything") << 595.0 << "";
        QTest::newRow("above everything") << 5.0 << "";
    }
    void cursorValue()
    {
        QFETCH(double, y);
        QFETCH(QString, text);
        GraphModel m = framed(defaults);
        m.layout(800, 600);
        QCOMPARE(m.valueTextAt(y), text);
    }

    void thresholdsFromTheSensorOnlyWhenItUsesThem()
    {
        AppState state;
        state.TemperatureMinCritical = 5;
        state.TemperatureMinWarning = 10;
        state.TemperatureMaxWarning = 25;
        state.TemperatureMaxCritical = 30;
        state.WetnessMinCritical = 60;
        state.WetnessMinWarning = 70;
        state.WetnessMaxWarning = 98;
        state.WetnessMaxCritical = 99;
        state.maximalCriticalTemperature = QColor(0xff, 0x32, 0x32);
        state.BreakInterval = 300;
        state.DateTimeStyle = 2;
        Sensor own;
        own.tMinCritical = -10;
        own.tMinNoncritical = -5;
        own.tMaxNoncritical = 40;
        own.tMaxCritical = 45.25;
        own.hMinCritical = 1;
        own.hMinNoncritical = 2;
        own.hMaxNoncritical = 3;
        own.hMaxCritical = 4;

        GraphModel m;
        m.readConfig(state, nullptr);
        QCOMPARE(m.thresholds, defaults);
        own.isEnabled = false;
        m.readConfig(state, &own);
        QCOMPARE(m.thresholds, defaults);
        own.isEnabled = true;
        m.readConfig(state, &own);
        QCOMPARE(m.thresholds, (Thresholds { -10, -5, 40, 45.25f, 1, 2, 3, 4 }));
        QCOMPARE(m.thresholdColors[GraphModel::TMaxCritical], QColor(0xff, 0x32, 0x32));
        QCOMPARE(m.breakLimitMs(), qint64(300000));
        QCOMPARE(m.dateTimeStyle, 2);
    }

    void truncation_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("positive") << 36.7 << 36;
        QTest::newRow("negative") << -4.2 << -4;
        QTest::newRow("huge") << 1e300 << 1000000;
        QTest::newRow("huge negative") << -1e300 << -1000000;
        QTest::newRow("nan") << qQNaN() << 0;
    }
    void truncation()
    {
        QFETCH(double, value);
        QFETCH(int, expected);
        QCOMPARE(GraphModel::truncated(value), expected);
    }
};

QTEST_GUILESS_MAIN(TestGraphModel)
#include "tst_graphmodel.moc"
