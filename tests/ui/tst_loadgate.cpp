// Pacing of a view's loads: one at a time, one more for whatever was asked meanwhile, after a
// rest as long as the load took, and never so short that the rows come back hundreds of times
// a second; or a rest after every load, a multiple of what it took.
#include <QtTest>

#include <atomic>

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "core/threadscheduling.h"
#include "ui/loadgate.h"

class TestLoadGate : public QObject
{
    Q_OBJECT

private slots:
    // A loading thread runs behind the others (ten steps of niceness of its own), and the
    // thread that started it keeps its place.
    void loadsRunBehindTheOtherThreads()
    {
        QThread thread;
        std::atomic<int> niceness { -100 };
        auto* probe = new QObject;
        probe->moveToThread(&thread);
        connect(&thread, &QThread::finished, probe, &QObject::deleteLater);
        ThreadScheduling::startBehind(&thread);
        QMetaObject::invokeMethod(
            probe, [&niceness] { niceness = getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid))); });
        QTRY_VERIFY(niceness != -100);
        // Niceness ends at 19, where a test run with nice may already be.
        const int own = getpriority(PRIO_PROCESS, id_t(syscall(SYS_gettid)));
        QCOMPARE(int(niceness), qMin(own + 10, 19));
        thread.quit();
        thread.wait();
    }

    void sequences_data()
    {
        // Steps: r = request (answer: s start now, q left for later), f<ms> = the load ended
        // (answer: the rest, or - when the gate is idle again), g = the rest is over.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("answers");
        QTest::addColumn<bool>("busyAfter");
        QTest::addColumn<int>("restPerLoad"); // 0: rest only before a queued load
        QTest::newRow("one load") << "r f30"
                                  << "s -" << false << 0;
        QTest::newRow("many requests meanwhile make one more") << "r r r r f30 g f10"
                                                               << "s q q q 250 . -" << false << 0;
        QTest::newRow("request while resting joins the queued load") << "r r f40 r g f5"
                                                                     << "s q 250 q . -" << false << 0;
        QTest::newRow("a long load rests as long as it took") << "r r f900 g f1200"
                                                              << "s q 900 . -" << false << 0;
        QTest::newRow("rest is capped") << "r r f9000"
                                        << "s q 2000" << true << 0;
        QTest::newRow("idle again, next request starts at once") << "r f1 r"
                                                                 << "s - s" << true << 0;
    }
    void restsAfterEveryLoad_data()
    {
        // The same steps; g answers whether a load starts (s) or the gate goes idle (-).
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("answers");
        QTest::addColumn<bool>("busyAfter");
        QTest::addColumn<int>("restPerLoad");
        QTest::newRow("a load asked for at every commit rests between") << "r f10 r g f10 g"
                                                                        << "s 250 q s 250 -" << false << 8;
        QTest::newRow("rest is the load times the factor") << "r f100 g"
                                                           << "s 800 -" << false << 8;
        QTest::newRow("requests while loading and resting make one load") << "r r r f40 r r g"
                                                                          << "s q q 320 q q s" << true << 8;
        QTest::newRow("rest is capped") << "r f900"
                                        << "s 2000" << true << 8;
        QTest::newRow("idle after a rest nobody asked during") << "r f1 g r"
                                                               << "s 250 - s" << true << 8;
        QTest::newRow("a longer least rest") << "r f10 r g"
                                             << "s 500 q s" << true << -8;
    }
    void restsAfterEveryLoad() { sequences(); }

    void sequences()
    {
        QFETCH(QString, steps);
        QFETCH(QString, answers);
        QFETCH(bool, busyAfter);
        QFETCH(int, restPerLoad);
        LoadGate gate;
        // A negative factor also asks for a rest of at least 500 ms.
        if (restPerLoad > 0)
            gate.restAfterEveryLoad(restPerLoad);
        else if (restPerLoad < 0)
            gate.restAfterEveryLoad(-restPerLoad, 500);
        QStringList got;
        for (const QString& step : steps.split(' ')) {
            if (step == QLatin1String("r")) {
                got << (gate.request() ? "s" : "q");
            } else if (step == QLatin1String("g")) {
                const bool starts = gate.resume();
                got << (restPerLoad == 0 ? "." : starts ? "s" : "-");
            } else {
                const int rest = gate.finished(step.mid(1).toLongLong());
                got << (rest < 0 ? QStringLiteral("-") : QString::number(rest));
            }
        }
        QCOMPARE(got.join(' '), answers);
        QCOMPARE(gate.busy(), busyAfter);
    }
};

QTEST_GUILESS_MAIN(TestLoadGate)
#include "tst_loadgate.moc"
