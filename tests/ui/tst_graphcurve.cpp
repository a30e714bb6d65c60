// Breaks and the per-column reduction of the graph's curves.
#include <QImage>
#include <QPainter>
#include <QtTest>

#include <map>

#include "ui/graphcurve.h"
#include "ui/graphmodel.h"
#include "ui/graphrenderer.h"

namespace
{

GraphSample sample(qint64 secs, QVariant t, QVariant w = QVariant())
{
    GraphSample s;
    s.msecs = secs * 1000;
    s.hasTemperature = t.isValid();
    s.temperature = t.toDouble();
    s.hasWetness = w.isValid();
    s.wetness = w.toDouble();
    return s;
}

GraphModel modelFor(
    const QVector<GraphSample>& samples, qint64 fromSecs, qint64 toSecs, int breakSecs, QSize size = QSize(800, 600))
{
    GraphModel m;
    m.thresholds = { 5, 10, 25, 30, 60, 70, 98, 99 };
    m.breakInterval = breakSecs;
    m.setRanges(samples);
    m.setPeriod(fromSecs * 1000, toSecs * 1000, samples);
    m.layout(size.width(), size.height());
    return m;
}

// The curve as drawn sample by sample, without any reduction.
QVector<QLine> fullCurve(const QVector<GraphSample>& samples, const GraphModel& m)
{
    QVector<QLine> lines;
    bool have = false;
    QPoint previous;
    for (int i = 0; i < samples.size(); ++i) {
        if (!samples[i].hasTemperature)
            continue;
        const QPoint p(int(m.x(samples[i].msecs)), int(m.y(GraphPane::Temperature, samples[i].temperature)));
        if (have && samples[i].msecs - samples[i - 1].msecs < m.breakLimitMs())
            lines << QLine(previous, p);
        previous = p;
        have = true;
    }
    return lines;
}

QImage drawn(const QVector<QLine>& lines, const QSize& size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setPen(QPen(Qt::black, 1));
    p.drawLines(lines);
    return image;
}

// Deterministic noise, so that a failure repeats.
double noise(quint32& state)
{
    state = state * 1664525u + 1013904223u;
    return double(state >> 8) / double(1 << 24) - 0.5;
}

QVector<GraphSample> noisy(int count, int stepSecs, int gapEvery, bool withNulls)
{
    QVector<GraphSample> samples;
    samples.reserve(count);
    quint32 state = 12345;
    qint64 t = 0;
    for (int i = 0; i < count; ++i) {
        t += (gapEvery && i % gapEvery == 0) ? 20 * stepSecs : stepSecs;
        const double v = 17.5 + 8 * std::sin(i / 5000.0) + 6 * noise(state);
        const bool null = withNulls && i % 13 == 0;
        samples << sample(t, null ? QVariant() : QVariant(v), 70 + 10 * noise(state));
    }
    return samples;
}

} // namespace

Q_DECLARE_METATYPE(QVector<GraphSample>)

class TestGraphCurve : public QObject
{
    Q_OBJECT

private slots:
    void breaks_data()
    {
        QTest::addColumn<int>("gap");
        QTest::addColumn<int>("breakInterval");
        QTest::addColumn<int>("lines");
        QTest::newRow("exactly the interval breaks") << 120 << 120 << 0;
        QTest::newRow("one second less joins") << 119 << 120 << 1;
        QTest::newRow("one second more breaks") << 121 << 120 << 0;
        QTest::newRow("no interval joins nothing") << 1 << 0 << 0;
    }
    void breaks()
    {
        QFETCH(int, gap);
        QFETCH(int, breakInterval);
        QFETCH(int, lines);
        const QVector<GraphSample> samples = { sample(100, 10.0, 80.0), sample(100 + gap, 20.0, 90.0) };
        const GraphModel m = modelFor(samples, 0, 600, breakInterval);
        for (GraphPane pane : { GraphPane::Temperature, GraphPane::Wetness }) {
            const GraphCurve c = GraphCurve::build(samples, pane, m);
            QCOMPARE(c.lines.size(), lines);
            QCOMPARE(c.marks.size(), 2);
        }
    }

    void gapIsMeasuredToTheRowJustBefore_data()
    {
        QTest::addColumn<int>("nullRow");
        QTest::addColumn<int>("lines");
        // Temperatures at 0 and 260 s, a humidity-only row in between; break at 120 s.
        QTest::newRow("joined through a recent humidity row") << 200 << 1;
        QTest::newRow("broken when that row is too old") << 100 << 0;
    }
    void gapIsMeasuredToTheRowJustBefore()
    {
        QFETCH(int, nullRow);
        QFETCH(int, lines);
        const QVector<GraphSample> samples = { sample(0, 10.0), sample(nullRow, QVariant(), 80.0), sample(260, 20.0) };
        const GraphModel m = modelFor(samples, 0, 600, 120);
        const GraphCurve t = GraphCurve::build(samples, GraphPane::Temperature, m);
        QCOMPARE(t.lines.size(), lines);
        QCOMPARE(t.marks.size(), 2);
        if (lines) {
            QCOMPARE(t.lines.first().p1(), QPoint(int(m.x(0)), int(m.y(GraphPane::Temperature, 10.0))));
            QCOMPARE(t.lines.first().p2(), QPoint(int(m.x(260000)), int(m.y(GraphPane::Temperature, 20.0))));
        }
        const GraphCurve w = GraphCurve::build(samples, GraphPane::Wetness, m);
        QCOMPARE(w.lines.size(), 0);
        QCOMPARE(w.marks.size(), 1);
    }

    void singleSample()
    {
        const QVector<GraphSample> samples = { sample(300, 21.5, 75.0) };
        const GraphModel m = modelFor(samples, 0, 600, 120);
        const GraphCurve c = GraphCurve::build(samples, GraphPane::Temperature, m);
        QVERIFY(c.lines.isEmpty());
        QCOMPARE(c.marks.size(), 1);
        const QPointF centre(m.x(300000), m.y(GraphPane::Temperature, 21.5));
        QCOMPARE(c.marks.first(), QRectF(centre - QPointF(2, 2), QSizeF(3, 3)));
    }

    void millionSamplesStayBoundedAndKeepEveryColumnsExtremes()
    {
        const QVector<GraphSample> samples = noisy(1000000, 30, 0, false);
        const GraphModel m = modelFor(samples, 0, samples.last().msecs / 1000, 120);
        const GraphCurve c = GraphCurve::build(samples, GraphPane::Temperature, m);

        std::map<int, std::pair<int, int>> expected; // column -> lowest, highest row
        for (const GraphSample& s : samples) {
            const int x = int(m.x(s.msecs));
            const int y = int(m.y(GraphPane::Temperature, s.temperature));
            auto it = expected.emplace(x, std::make_pair(y, y)).first;
            it->second.first = std::min(it->second.first, y);
            it->second.second = std::max(it->second.second, y);
        }
        std::map<int, std::pair<int, int>> reduced;
        for (const QLine& l : c.lines) {
            for (const QPoint& p : { l.p1(), l.p2() }) {
                auto it = reduced.emplace(p.x(), std::make_pair(p.y(), p.y())).first;
                it->second.first = std::min(it->second.first, p.y());
                it->second.second = std::max(it->second.second, p.y());
            }
        }
        QVERIFY(reduced == expected);
        const int columns = int(expected.size());
        QVERIFY2(c.lines.size() <= 10 * columns, qPrintable(QString::number(c.lines.size())));
        QVERIFY2(c.marks.size() <= GraphCurve::maxMarkGroups * columns, qPrintable(QString::number(c.marks.size())));
        // Every mark box still spans its column's extremes.
        double top = 1e9, bottom = -1e9;
        for (const QRectF& r : c.marks) {
            top = std::min(top, r.top() + 2);
            bottom = std::max(bottom, r.bottom() - 1);
        }
        QCOMPARE(
            top, m.y(GraphPane::Temperature, std::max_element(samples.begin(), samples.end(), [](auto& a, auto& b) {
                return a.temperature < b.temperature;
            })->temperature));
    }

    void reductionDrawsTheSamePixels_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("gapEvery");
        QTest::addColumn<bool>("nulls");
        QTest::addColumn<QSize>("size");
        QTest::newRow("dense, joined") << 20000 << 0 << false << QSize(240, 200);
        QTest::newRow("dense, with breaks and NULLs") << 20000 << 997 << true << QSize(240, 200);
        QTest::newRow("sparse") << 150 << 7 << true << QSize(800, 300);
        // Breaks every few samples leave runs inside one column.
        QTest::newRow("broken often") << 5000 << 3 << true << QSize(120, 200);
    }
    void reductionDrawsTheSamePixels()
    {
        QFETCH(int, count);
        QFETCH(int, gapEvery);
        QFETCH(bool, nulls);
        QFETCH(QSize, size);
        const QVector<GraphSample> samples = noisy(count, 60, gapEvery, nulls);
        const GraphModel m = modelFor(samples, 0, samples.last().msecs / 1000, 120, size);
        const GraphCurve c = GraphCurve::build(samples, GraphPane::Temperature, m);
        const QVector<QLine> full = fullCurve(samples, m);
        QVERIFY(c.lines.size() <= full.size());
        QCOMPARE(drawn(c.lines, size), drawn(full, size));
    }

    // A long period is reduced while it is read: the axes come from what the database counted,
    // the samples go one by one into the curves and none is held. The chart, the cursor's
    // readout and the picture are those of the samples held whole.
    void readReductionMatchesTheWholeSamples_data()
    {
        QTest::addColumn<QVector<GraphSample>>("samples");
        QTest::addColumn<qint64>("fromSecs");
        QTest::addColumn<qint64>("toSecs");
        QTest::newRow("dense with breaks and NULLs") << noisy(20000, 60, 997, true) << qint64(0) << qint64(1300000);
        QTest::newRow("breaks every few samples") << noisy(3000, 60, 3, true) << qint64(0) << qint64(1400000);
        QTest::newRow("gaps around a humidity-only row") << QVector<GraphSample> { sample(0, 10.0),
            sample(100, QVariant(), 80.0), sample(260, 20.0), sample(270, QVariant(), QVariant()),
            sample(300, 21.0, 81.0) } << qint64(0) << qint64(600);
        // Below zero truncation rounds up: the axes must still frame the lowest value.
        QTest::newRow("below zero, beyond the thresholds")
            << QVector<GraphSample> { sample(10, -40.5, 1.5), sample(20, -3.25, 100.75), sample(30, 31.9, -0.5) }
            << qint64(0) << qint64(60);
        QTest::newRow("no values at all")
            << QVector<GraphSample> { sample(10, QVariant(), QVariant()), sample(20, QVariant(), QVariant()) }
            << qint64(0) << qint64(60);
        QTest::newRow("empty period") << QVector<GraphSample>() << qint64(0) << qint64(600);
        QTest::newRow("empty span, one instant")
            << QVector<GraphSample> { sample(50, 22.0, 60.0) } << qint64(50) << qint64(50);
        QTest::newRow("first sample before the period's start")
            << QVector<GraphSample> { sample(40, 22.0, 60.0), sample(90, 23.0, 61.0) } << qint64(45) << qint64(120);
    }
    void readReductionMatchesTheWholeSamples()
    {
        QFETCH(QVector<GraphSample>, samples);
        QFETCH(qint64, fromSecs);
        QFETCH(qint64, toSecs);
        const QSize size(480, 320);
        const GraphModel whole = modelFor(samples, fromSecs, toSecs, 120, size);

        GraphSummary summary;
        for (const GraphSample& s : samples)
            summary.add(s);
        GraphModel read;
        read.thresholds = whole.thresholds;
        read.breakInterval = whole.breakInterval;
        read.setRangesFrom(summary);
        read.setPeriodFrom(fromSecs * 1000, toSecs * 1000, summary);
        read.layout(size.width(), size.height());
        QCOMPARE(read.tempMin, whole.tempMin);
        QCOMPARE(read.tempMax, whole.tempMax);
        QCOMPARE(read.wetnessMin, whole.wetnessMin);
        QCOMPARE(read.wetnessMax, whole.wetnessMax);
        QCOMPARE(read.startMs, whole.startMs);
        QCOMPARE(read.spanMs, whole.spanMs);
        for (int x = 0; x < size.width(); x += 37) {
            QCOMPARE(read.msecsAt(x), whole.msecsAt(x));
            QCOMPARE(read.valueTextAt(x * size.height() / size.width()),
                whole.valueTextAt(x * size.height() / size.width()));
        }

        GraphCurve::Builder temperature(GraphPane::Temperature, read);
        GraphCurve::Builder wetness(GraphPane::Wetness, read);
        for (int i = 0; i < samples.size(); ++i) {
            temperature.add(samples[i]);
            wetness.add(samples[i]);
            if (i == samples.size() / 2) // looking at the curve half way leaves the rest as it was
                QVERIFY(!temperature.curve().marks.isEmpty() || !samples[0].hasTemperature);
        }
        const GraphCurve held = GraphCurve::build(samples, GraphPane::Temperature, whole);
        QCOMPARE(temperature.curve().lines, held.lines);
        QCOMPARE(temperature.curve().marks, held.marks);
        QCOMPARE(
            GraphRenderer::draw(read, temperature.curve(), wetness.curve()), GraphRenderer::draw(whole, samples, true));
    }
};

QTEST_MAIN(TestGraphCurve)
#include "tst_graphcurve.moc"
