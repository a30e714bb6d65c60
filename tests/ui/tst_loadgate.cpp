// Pacing of a view's loads: one at a time, one more for whatever was asked meanwhile, after a
// rest as long as the load took, and never so short that the rows come back hundreds of times
// a second.
#include <QtTest>

#include "ui/loadgate.h"

class TestLoadGate : public QObject
{
    Q_OBJECT

private slots:
    void sequences_data()
    {
        // Steps: r = request (answer: s start now, q left for later), f<ms> = the load ended
        // (answer: the rest, or - when the gate is idle again), g = the rest is over.
        QTest::addColumn<QString>("steps");
        QTest::addColumn<QString>("answers");
        QTest::addColumn<bool>("busyAfter");
        QTest::newRow("one load") << "r f30"
                                  << "s -" << false;
        QTest::newRow("many requests meanwhile make one more") << "r r r r f30 g f10"
                                                               << "s q q q 250 . -" << false;
        QTest::newRow("request while resting joins the queued load") << "r r f40 r g f5"
                                                                     << "s q 250 q . -" << false;
        QTest::newRow("a long load rests as long as it took") << "r r f900 g f1200"
                                                              << "s q 900 . -" << false;
        QTest::newRow("rest is capped") << "r r f9000"
                                        << "s q 2000" << true;
        QTest::newRow("idle again, next request starts at once") << "r f1 r"
                                                                 << "s - s" << true;
    }
    void sequences()
    {
        QFETCH(QString, steps);
        QFETCH(QString, answers);
        QFETCH(bool, busyAfter);
        LoadGate gate;
        QStringList got;
        for (const QString& step : steps.split(' ')) {
            if (step == QLatin1String("r")) {
                got << (gate.request() ? "s" : "q");
            } else if (step == QLatin1String("g")) {
                gate.resume();
                got << ".";
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
