// Windows within the screen: the placement rule, then every window of the program opened on X
// screens (Xvfb) of several sizes, each of its buttons checked to lie where a user reaches it.
#include <QAbstractButton>
#include <QDialog>
#include <QMainWindow>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QtTest>

#include "app/sqliteworkspace.h"
#include "ui/interfacemodule.h"
#include "ui/screenfit.h"

Q_DECLARE_METATYPE(QMargins)

namespace
{

const char* const kChild = "OSTRIVEL_SCREENFIT_CHILD";

// The buttons of the window's current page outside the free area or outside what the window
// shows, each scrolled into view first; `scrolls` tells whether some field needed that.
QStringList unreachable(QWidget* window, const QRect& available, bool* scrolls)
{
    QStringList out;
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(window) || button->size().isEmpty())
            continue;
        QRect seen(window->mapToGlobal(QPoint()), window->size());
        for (QWidget* w = button->parentWidget(); w != window; w = w->parentWidget()) {
            if (auto* area = qobject_cast<QScrollArea*>(w)) {
                area->ensureWidgetVisible(button);
                *scrolls = *scrolls || area->verticalScrollBar()->maximum() > 0;
                seen &= QRect(area->viewport()->mapToGlobal(QPoint()), area->viewport()->size());
            }
        }
        const QRect at(button->mapToGlobal(QPoint()), button->size());
        if (!available.contains(at) || !seen.contains(at))
            out << window->objectName() + ": " + button->text() + " (" + button->objectName() + ")";
    }
    return out;
}

// The child on the parent's X screen: the windows as the interface makes them, shown one by
// one; prints a line for each fault, and "scrolls" when some field had to be scrolled to.
int childMain()
{
    SqliteWorkspace work;
    auto* interface = new InterfaceModule;
    interface->slotStopInitializing();
    QStringList faults;
    bool scrolls = false;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!qobject_cast<QDialog*>(window) && !qobject_cast<QMainWindow*>(window))
            continue;
        window->show();
        const QRect available = window->screen()->availableGeometry();
        if (!QTest::qWaitForWindowExposed(window, 10000) || !available.contains(window->frameGeometry()))
            faults << window->objectName() + ": outside the free area";
        faults << unreachable(window, available, &scrolls);
        for (QTabWidget* tab : window->findChildren<QTabWidget*>()) {
            for (int i = 0; i < tab->count(); ++i) {
                tab->setCurrentIndex(i);
                QCoreApplication::processEvents(); // the page is laid out
                faults << unreachable(window, available, &scrolls);
            }
        }
        window->hide();
    }
    faults.removeDuplicates();
    QTextStream(stdout) << faults.join('\n') << (scrolls ? "\nscrolls" : "");
    delete interface;
    return faults.isEmpty() ? 0 : 1;
}

} // namespace

class TestScreenFit : public QObject
{
    Q_OBJECT

private slots:
    // What the X screens below do not show: a window manager's frame, and a minimum larger
    // than the screen.
    void fit_data()
    {
        QTest::addColumn<QRect>("window");
        QTest::addColumn<QSize>("minimum");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QMargins>("frame");
        QTest::addColumn<QRect>("placed");
        QTest::newRow("title bar") << QRect(478, 6, 443, 756) << QSize(400, 300) << QRect(0, 0, 1366, 768)
                                   << QMargins(1, 24, 1, 4) << QRect(461, 24, 443, 740);
        QTest::newRow("minimum larger") << QRect(100, 100, 800, 600) << QSize(700, 500) << QRect(0, 0, 640, 480)
                                        << QMargins(2, 20, 2, 2) << QRect(2, 20, 700, 500);
    }
    void fit()
    {
        QFETCH(QRect, window);
        QFETCH(QSize, minimum);
        QFETCH(QRect, available);
        QFETCH(QMargins, frame);
        QFETCH(QRect, placed);
        QCOMPARE(ScreenFit::fit(window, minimum, available, frame), placed);
    }

    // `panel` px of the screen belong to a panel, below (above when negative), announced as a
    // desktop does in _NET_WORKAREA. Where there is room no field scrolls, as the forms were drawn.
    void windowsOnScreen_data()
    {
        QTest::addColumn<QSize>("screen");
        QTest::addColumn<int>("panel");
        QTest::addColumn<bool>("scrolls");
        QTest::newRow("1700x1000") << QSize(1700, 1000) << 0 << false;
        QTest::newRow("1366x768") << QSize(1366, 768) << 0 << false;
        QTest::newRow("1366x768, panel below") << QSize(1366, 768) << 40 << false;
        QTest::newRow("1024x700") << QSize(1024, 700) << 0 << false;
        QTest::newRow("1024x700, panel above") << QSize(1024, 700) << -30 << false;
        QTest::newRow("1024x600") << QSize(1024, 600) << 0 << true;
    }
    void windowsOnScreen()
    {
        QFETCH(QSize, screen);
        QFETCH(int, panel);
        QFETCH(bool, scrolls);
        QProcess xvfb;
        xvfb.start("Xvfb",
            { "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()) });
        QVERIFY2(xvfb.waitForStarted(), "Xvfb (Debian's xvfb) does not start");
        auto stop = qScopeGuard([&] {
            xvfb.terminate();
            xvfb.waitForFinished(10000);
        });
        QTRY_VERIFY_WITH_TIMEOUT(xvfb.canReadLine() || xvfb.state() == QProcess::NotRunning, 30000);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", ':' + QString::fromLatin1(xvfb.readLine()).trimmed());
        if (panel != 0) {
            QProcess xprop;
            xprop.setProcessEnvironment(env);
            xprop.start("xprop",
                { "-root", "-f", "_NET_WORKAREA", "32c", "-set", "_NET_WORKAREA",
                    QStringLiteral("0, %1, %2, %3")
                        .arg(qMax(0, -panel))
                        .arg(screen.width())
                        .arg(screen.height() - qAbs(panel)) });
            QVERIFY2(xprop.waitForFinished(30000) && xprop.exitCode() == 0, "xprop (Debian's x11-utils) failed");
        }
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert(kChild, "1");
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(120000));
        const QString out = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(out));
        QCOMPARE(out == "scrolls", scrolls);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kChild))
        return childMain();
    TestScreenFit test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_screenfit.moc"
