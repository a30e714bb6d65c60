// Breaks and the per-column reduction of the graph's curves.
#include <QImage>
#include <QPainter>
#include <QtTest>

#include <QRandomGenerator>

#include <map>

#include "samplemaker.h"
#include "ui/graphcolumns.h"
#include "ui/graphcurve.h"
#include "ui/graphmodel.h"
#include "ui/graphrenderer.h"

namespace
{

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
    // A long period kept as time columns: samples folded in as they arrive, samples cut from
    // the start (the window moving on, the purge) and two parts read apart and put together
    // give the columns a fresh build of the same samples gives, and so the same picture.
    void columnsCutAndFoldedMatchAFreshBuild_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<qint64>("stepMs");
        QTest::addColumn<int>("breakSecs");
        for (quint32 seed : { 1u, 2u, 3u, 4u }) {
            QTest::newRow(qPrintable(QStringLiteral("seed %1, wide columns").arg(seed)))
                << seed << qint64(95000) << 120;
            QTest::newRow(qPrintable(QStringLiteral("seed %1, narrow columns").arg(seed)))
                << seed << qint64(7000) << 30;
        }
    }
    void columnsCutAndFoldedMatchAFreshBuild()
    {
        QFETCH(quint32, seed);
        QFETCH(qint64, stepMs);
        QFETCH(int, breakSecs);
        QRandomGenerator random(seed);
        QVector<GraphSample> stored;
        GraphColumns kept(stepMs, breakSecs * 1000);
        qint64 t = 1000;
        int cuts = 0;
        for (int round = 0; round < 300; ++round) {
            if (random.bounded(4)) {
                for (int i = int(random.bounded(8)); i > 0; --i) {
                    t += random.bounded(12) ? random.bounded(20) : 200;
                    const GraphSample s
                        = sample(t, random.bounded(6) ? QVariant(random.bounded(400) / 10.0) : QVariant(),
                            random.bounded(9) ? QVariant(50 + random.bounded(400) / 10.0) : QVariant());
                    stored << s;
                    kept.add(s);
                }
            } else if (!stored.isEmpty()) {
                // What is left starts at a stored sample, as the oldest row the database still has.
                const qint64 cutMs = stored[int(random.bounded(stored.size()))].msecs;
                while (!stored.isEmpty() && stored.first().msecs < cutMs)
                    stored.removeFirst();
                qint64 through = -1;
                if (kept.prepareCut(cutMs, &through)) {
                    GraphColumns head(stepMs, breakSecs * 1000);
                    for (const GraphSample& s : qAsConst(stored)) {
                        if (kept.columnOf(s.msecs) <= through)
                            head.add(s);
                    }
                    if (through >= 0) {
                        kept.replaceHead(head, through);
                        ++cuts;
                    }
                } else {
                    kept = GraphColumns(stepMs, breakSecs * 1000);
                    for (const GraphSample& s : qAsConst(stored))
                        kept.add(s);
                }
            }
            GraphColumns fresh(stepMs, breakSecs * 1000);
            for (const GraphSample& s : qAsConst(stored))
                fresh.add(s);
            QVERIFY2(kept == fresh, qPrintable(QStringLiteral("round %1").arg(round)));
            // Read in two parts split where a column starts, and put together.
            if (stored.isEmpty())
                continue;
            const qint64 split = fresh.columnOf(stored[int(random.bounded(stored.size()))].msecs);
            GraphColumns early(stepMs, breakSecs * 1000);
            GraphColumns late(stepMs, breakSecs * 1000);
            for (const GraphSample& s : qAsConst(stored))
                (fresh.columnOf(s.msecs) < split ? early : late).add(s);
            early.append(late);
            QVERIFY2(early == fresh, qPrintable(QStringLiteral("round %1, split at %2").arg(round).arg(split)));
        }
        QVERIFY(cuts > 10);
        if (stored.isEmpty())
            return;
        // On the grid of a chart, every column's extremes are drawn within a pixel of where the
        // samples lie.
        const GraphModel m = modelFor(stored, stored.first().msecs / 1000, t, breakSecs);
        GraphColumns grid(GraphColumns::stepFor(m.spanMs, m.tempPane.width()), breakSecs * 1000);
        for (const GraphSample& s : qAsConst(stored))
            grid.add(s);
        for (GraphPane pane : { GraphPane::Temperature, GraphPane::Wetness }) {
            const GraphCurve c = grid.curve(pane, m);
            const GraphCurve exact = GraphCurve::build(stored, pane, m);
            for (const QLine& l : exact.lines) {
                for (const QPoint& p : { l.p1(), l.p2() }) {
                    const bool near = std::any_of(c.lines.cbegin(), c.lines.cend(), [&](const QLine& r) {
                        return std::abs(r.x1() - p.x()) <= 1 && std::min(r.y1(), r.y2()) <= p.y() + 1
                            && std::max(r.y1(), r.y2()) >= p.y() - 1;
                    }) || std::any_of(c.marks.cbegin(), c.marks.cend(), [&](const QRectF& r) {
                        return r.adjusted(-2, -2, 2, 2).contains(p);
                    });
                    QVERIFY2(near, qPrintable(QStringLiteral("%1,%2").arg(p.x()).arg(p.y())));
                }
            }
        }
    }

    // A column is never narrower than a pixel, so two never land in one; nor much wider.
    void columnStep_data()
    {
        QTest::addColumn<qint64>("spanMs");
        QTest::addColumn<double>("paneWidth");
        QTest::addColumn<qint64>("step");
        QTest::newRow("a year over 1557.5 pixels") << qint64(31536000000) << 1557.5 << qint64(20247834);
        QTest::newRow("an hour over 757.5 pixels") << qint64(3600000) << 757.5 << qint64(4753);
        QTest::newRow("shorter than the pane") << qint64(100) << 757.5 << qint64(1);
        QTest::newRow("no pane") << qint64(60000) << 0.0 << qint64(60000);
    }
    void columnStep()
    {
        QFETCH(qint64, spanMs);
        QFETCH(double, paneWidth);
        QFETCH(qint64, step);
        QCOMPARE(GraphColumns::stepFor(spanMs, paneWidth), step);
    }

    // Marks of one column group as the painter groups them, however the values came: clusters
    // merged past their cap never join marks drawn apart.
    void columnMarksGroupAsDrawn_data()
    {
        QTest::addColumn<QVector<double>>("values");
        QTest::addColumn<int>("boxes");
        QTest::newRow("touching values") << QVector<double> { 20, 20.05, 20.1, 20.02 } << 1;
        QTest::newRow("two groups") << QVector<double> { 10, 30, 10.05, 30.05 } << 2;
        QTest::newRow("four groups, many values") << QVector<double> { 5, 15, 25, 35, 5.01, 15.01, 25.01, 35.01, 5.02,
            15.02, 25.02, 35.02, 5.03, 35.03 } << 4;
        QTest::newRow("five groups make one box") << QVector<double> { 5, 12, 19, 26, 33 } << 1;
    }
    void columnMarksGroupAsDrawn()
    {
        QFETCH(QVector<double>, values);
        QFETCH(int, boxes);
        const qint64 step
            = GraphColumns::stepFor(36000000, modelFor({}, 0, 36000, 120, QSize(400, 600)).tempPane.width());
        const qint64 start = (100 * step + 999) / 1000; // the first second of a column
        QVector<GraphSample> samples;
        for (int i = 0; i < values.size(); ++i)
            samples << sample(start + i, values[i]);
        const GraphModel m = modelFor(samples, 0, 36000, 120, QSize(400, 600));
        GraphColumns columns(step, 120000);
        for (const GraphSample& s : qAsConst(samples))
            columns.add(s);
        QCOMPARE(columns.columns().size(), 1);
        const GraphCurve c = columns.curve(GraphPane::Temperature, m);
        const GraphCurve exact = GraphCurve::build(samples, GraphPane::Temperature, m);
        QCOMPARE(c.marks.size(), boxes);
        QCOMPARE(exact.marks.size(), boxes);
        for (int i = 0; i < boxes; ++i) {
            QCOMPARE(c.marks[i].top(), exact.marks[i].top());
            QCOMPARE(c.marks[i].height(), exact.marks[i].height());
        }
    }
};

QTEST_MAIN(TestGraphCurve)
#include "tst_graphcurve.moc"
