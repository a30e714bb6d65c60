// CPU per modem message: the real program on each tab with 20, 1,000 and 10,000 known sensors
// reporting through the modem, beside the bare wiring program under the same stream.
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "bench/common/modemprobe.h"
#include "bench/percentile.h"
#include "bench/views/programrun.h"
#include "bench/views/viewsbench.h"
#include "tools/modemsim/simulatedsensor.h"

using namespace ViewsBench;

namespace
{

// One stretch of a process under the stream: its share of one core and its replies.
struct Sample {
    double cpu = 0; // % of one core
    double faults = 0; // minor page faults a second
    QVector<double> replies;
    int unanswered = 0;
    double p99() const { return percentile(replies, 0.99); }
};

// A process under measure and the modem line it answers on.
struct Target {
    ProgramRun* run;
    ModemProbe* line;
};

// `rate` messages a second on each line at once, in turn from the first `sensors` sensors
// (newSensorKey), for `seconds`: one sample per line.
QVector<Sample> stream(const QVector<Target>& targets, int rate, int sensors, int seconds)
{
    struct Feed {
        QRandomGenerator random { 3 };
        std::vector<SimulatedSensor> simulated;
        int next = 0;
    };
    // Values that wander as a room's do, each sensor from its own start; every line gets the same.
    std::vector<std::unique_ptr<Feed>> feeds;
    for (int k = 0; k < targets.size(); ++k) {
        feeds.push_back(std::make_unique<Feed>());
        feeds.back()->simulated.reserve(size_t(sensors));
        for (int i = 0; i < sensors; ++i)
            feeds.back()->simulated.emplace_back(i, &feeds.back()->random);
    }
    QVector<qint64> cpu0, faults0;
    for (const Target& t : targets) {
        t.line->takeLatencies();
        cpu0 << t.run->processCpuMs();
        faults0 << t.run->minorFaults();
    }
    QElapsedTimer wall;
    wall.start();
    for (int k = 0; k < targets.size(); ++k) {
        Feed* feed = feeds[size_t(k)].get();
        ModemProbe* line = targets[k].line;
        line->startTicking(std::max(1, 1000 / rate), [feed, line, sensors] {
            const int i = feed->next++ % sensors;
            line->send(newSensorKey(i), feed->simulated[size_t(i)].nextPayload());
        });
    }
    pause(seconds * 1000);
    for (const Target& t : targets)
        t.line->stopTicking();
    QVector<Sample> samples(targets.size());
    for (int k = 0; k < targets.size(); ++k) {
        samples[k].cpu = 100.0 * double(targets[k].run->processCpuMs() - cpu0[k]) / double(wall.elapsed());
        samples[k].faults = 1000.0 * double(targets[k].run->minorFaults() - faults0[k]) / double(wall.elapsed());
    }
    pause(300); // the last replies
    for (int k = 0; k < targets.size(); ++k) {
        samples[k].replies = targets[k].line->takeLatencies();
        samples[k].unanswered = targets[k].line->unanswered();
    }
    return samples;
}

Sample stream(ProgramRun& run, ModemProbe& line, int rate, int sensors, int seconds)
{
    return stream({ { &run, &line } }, rate, sensors, seconds).first();
}

// The bare wiring program on a line of its own.
bool startAnchor(ProgramRun& anchor, ModemProbe& line)
{
    if (line.open() && anchor.start(QStringLiteral(WIRING_ANCHOR), { line.portName() })
        && anchor.waitForOutput("ready", 10000))
        return true;
    std::fprintf(stderr, "the wiring anchor did not start: %s\n", qPrintable(anchor.output()));
    return false;
}

struct Row {
    int tab = 0;
    int known = 0;
    QVector<double> cpu, anchorCpu, p99, anchorP99;
};

double median(QVector<double> v)
{
    return percentile(v, 0.5);
}

const char* const kTabNames[] = { "summary", "measurement", "graph" };

void printTable(const QVector<Row>& rows, int rate, int runs, bool together)
{
    std::printf(
        "\nCPU per modem message, %d messages/s, medians of %d (ratios: of each run's pair), program beside the bare "
        "wiring program (%s)\n",
        rate, runs, together ? "both streamed at once" : "streamed one after the other");
    std::printf("%-12s %7s | %8s %8s %6s | %9s %9s %6s\n", "tab", "known", "CPU %", "anchor", "ratio", "p99 ms",
        "anchor", "ratio");
    // The host's speed drifts over minutes: each run's ratio is taken between the program and the
    // anchor stretch beside it (at the same time, or right after it), and the ratios' median counts.
    const auto ratio = [](const QVector<double>& of, const QVector<double>& to) {
        QVector<double> ratios;
        for (int k = 0; k < of.size() && k < to.size(); ++k)
            ratios << (to[k] > 0 ? of[k] / to[k] : 0.0);
        return median(ratios);
    };
    for (const Row& r : rows) {
        std::printf("%-12s %7d | %8.2f %8.2f %6.2f | %9.2f %9.2f %6.2f\n", kTabNames[std::clamp(r.tab, 0, 2)], r.known,
            median(r.cpu), median(r.anchorCpu), ratio(r.cpu, r.anchorCpu), median(r.p99), median(r.anchorP99),
            ratio(r.p99, r.anchorP99));
    }
    std::printf("targets: CPU ratio <= 3 with 20 sensors, reply p99 ratio <= 1.5 everywhere\n");
    for (const Row& low : rows) {
        for (const Row& high : rows) {
            if (low.tab == high.tab && low.known == 1000 && high.known == 10000)
                std::printf("%s tab: CPU at 10,000 known / at 1,000 known = %.2f (target <= 1.5)\n",
                    kTabNames[std::clamp(low.tab, 0, 2)], median(high.cpu) / std::max(0.01, median(low.cpu)));
        }
    }
}

} // namespace

int cpuScenario(const QVector<int>& tabs, const QVector<int>& known, int rate, int seconds, int runs, bool together,
    const QString& program)
{
    QVector<Row> rows;
    for (int tab : tabs) {
        for (int n : known) {
            Row row;
            row.tab = tab;
            row.known = n;
            ProgramRun run;
            ModemProbe line;
            if (!startEmptyProgram(run, line, program, ProgramRun::freePort(), tab, 17, n))
                return 1;
            // The first loads, and every known sensor heard once, so that later stretches are alike.
            stream(run, line, 1000, n, n / 1000 + 3);
            for (int k = 0; k < runs; ++k) {
                const qint64 before = storedRows(run, QStringLiteral("measure"));
                ProgramRun anchorRun;
                ModemProbe anchorLine;
                if (!startAnchor(anchorRun, anchorLine))
                    return 1;
                // Together, both meet the host in the same seconds, so that a slow minute slows both;
                // each one's replies then also wait for the other's work on the shared cores. Apart,
                // the anchor's stretch follows the program's and neither shares its cores.
                Sample s, anchor;
                if (together) {
                    const QVector<Sample> both
                        = stream({ { &run, &line }, { &anchorRun, &anchorLine } }, rate, n, seconds);
                    s = both[0];
                    anchor = both[1];
                } else {
                    s = stream(run, line, rate, n, seconds);
                }
                // A program that answers and stores nothing would look cheap: every reply counts
                // only once its reading is in the file.
                qint64 stored = 0;
                waitFor([&] { return (stored = storedRows(run, QStringLiteral("measure")) - before) >= s.replies.size(); },
                    5000);
                if (stored != s.replies.size()) {
                    std::fprintf(stderr, "tab %d, %d known: %lld readings stored for %d replies\n", tab, n, stored,
                        s.replies.size());
                    return 1;
                }
                if (!together)
                    anchor = stream(anchorRun, anchorLine, rate, n, seconds);
                std::printf("tab %d, %d known, run %d: program %.2f %% of a core, %.0f page faults/s, p99 %.2f ms (%d "
                            "replies, %d unanswered); wiring anchor %.2f %%, %.0f faults/s, p99 %.2f ms (%d replies)\n",
                    tab, n, k + 1, s.cpu, s.faults, s.p99(), s.replies.size(), s.unanswered, anchor.cpu, anchor.faults,
                    anchor.p99(), anchor.replies.size());
                std::fflush(stdout);
                row.cpu << s.cpu;
                row.anchorCpu << anchor.cpu;
                row.p99 << s.p99();
                row.anchorP99 << anchor.p99();
            }
            rows << row;
        }
    }
    printTable(rows, rate, runs, together);
    return 0;
}
