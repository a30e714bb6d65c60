// The close gate: a close asked for inside a dialog's loop, a message box over it, or a widget's
// own processEvents() passes only after those calls have returned.
#include <QDialog>
#include <QMessageBox>
#include <QtTest>

#include "hub/closegate.h"

namespace
{

class CountingApplication : public QApplication
{
public:
    using QApplication::QApplication;
    bool notify(QObject* receiver, QEvent* event) override
    {
        const CloseGate::Delivery delivery;
        return QApplication::notify(receiver, event);
    }
};

} // namespace

class TestCloseGate : public QObject
{
    Q_OBJECT

private slots:
    // Where the request is made, from a slot run by the event loop; what has returned by the
    // time the close passes.
    void passesOnceCallsReturned_data()
    {
        QTest::addColumn<QString>("inside");
        QTest::addColumn<bool>("armed");
        QTest::newRow("event loop") << "loop" << true;
        QTest::newRow("dialog") << "dialog" << true;
        QTest::newRow("box over a dialog") << "box" << true;
        QTest::newRow("processEvents") << "processEvents" << true;
        QTest::newRow("start-up, not armed") << "dialog" << false;
    }
    void passesOnceCallsReturned()
    {
        QFETCH(QString, inside);
        QFETCH(bool, armed);
        CloseGate gate;
        if (armed)
            gate.arm();
        QStringList events;
        connect(&gate, &CloseGate::passed, this, [&] { events << QStringLiteral("passed"); });
        QDialog dialog;
        QMessageBox box(QMessageBox::Warning, QStringLiteral("t"), QStringLiteral("x"), QMessageBox::Ok);
        auto ask = [&] {
            events << QStringLiteral("request");
            gate.request();
            // Start-up ends by itself once the question that was open returns.
            if (!armed)
                QTimer::singleShot(0, &dialog, &QDialog::reject);
        };
        QTimer::singleShot(0, this, [&] {
            if (inside == QLatin1String("loop")) {
                ask();
            } else if (inside == QLatin1String("processEvents")) {
                QTimer::singleShot(0, this, ask);
                QTest::qWait(100);
                events << QStringLiteral("slot returned");
            } else {
                QTimer::singleShot(0, this, [&] {
                    if (inside == QLatin1String("box")) {
                        QTimer::singleShot(0, this, ask);
                        box.exec();
                        events << QStringLiteral("box returned");
                    } else {
                        ask();
                    }
                });
                dialog.exec();
                events << QStringLiteral("dialog returned");
            }
        });
        QTRY_VERIFY(events.contains(QStringLiteral("passed")));
        QTest::qWait(50);
        QStringList expected { QStringLiteral("request") };
        if (!armed || inside == QLatin1String("loop"))
            expected << QStringLiteral("passed");
        if (inside == QLatin1String("box"))
            expected << QStringLiteral("box returned");
        if (inside == QLatin1String("processEvents"))
            expected << QStringLiteral("slot returned");
        if (inside == QLatin1String("box") || inside == QLatin1String("dialog"))
            expected << QStringLiteral("dialog returned");
        if (armed && inside != QLatin1String("loop"))
            expected << QStringLiteral("passed");
        QCOMPARE(events, expected);
        QVERIFY(!dialog.isVisible() && !box.isVisible());
    }
};

int main(int argc, char** argv)
{
    CountingApplication app(argc, argv);
    TestCloseGate test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_closegate.moc"
