// Windows within the screen: the placement rule, then every window of the program opened on X
// screens (Xvfb) of several sizes, each of its buttons checked to lie where a user reaches it.
#include <QAbstractButton>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QtTest>

#include "app/sqliteworkspace.h"
#include "ui/interfacemodule.h"
#include "ui/screenfit.h"

namespace
{

const char* const kChild = "--screenfit-child"; // the first argument of the child process

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
// one, each page of their tabs too; prints a line for each fault, and "scrolls" when some field
// had to be scrolled to.
int childMain()
{
    SqliteWorkspace work;
    InterfaceModule interface;
    interface.slotStopInitializing();
    // A long reason in the status bar does not widen the main window.
    interface.slotWriterQueue(1900, 0, 0);
    interface.slotWriterFault(QString(300, QLatin1Char('x')));
    QStringList faults;
    bool scrolls = false;
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (!window->inherits("QDialog") && !window->inherits("QMainWindow"))
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
    return faults.isEmpty() ? 0 : 1;
}

// The child's environment: the windows are drawn without OpenGL, but Qt's xcb platform starts
// its GLX integration all the same, and the GL driver it loads leaks a block that LeakSanitizer
// reports only after the driver is unloaded, with no library name a suppression could match; so
// the child runs without it, whatever driver the machine has. It sees no session bus either (a
// desktop's bus could take the menu bar out of the main window), only a socket that is not there.
QProcessEnvironment childEnvironment(const QString& scratch)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), QStringLiteral("none"));
    env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), QStringLiteral("unix:path=") + scratch + "/no-bus");
    return env;
}

} // namespace

class TestScreenFit : public QObject
{
    Q_OBJECT

private slots:
    // What the X screens below do not show: a window manager's frame, and a minimum larger
    // than the screen.
    void fit()
    {
        QCOMPARE(ScreenFit::fit({ 478, 6, 443, 756 }, { 400, 300 }, { 0, 0, 1366, 768 }, { 1, 24, 1, 4 }),
            QRect(461, 24, 443, 740));
        QCOMPARE(ScreenFit::fit({ 100, 100, 800, 600 }, { 700, 500 }, { 0, 0, 640, 480 }, { 2, 20, 2, 2 }),
            QRect(2, 20, 700, 500));
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
        QTemporaryDir scratch;
        QVERIFY(scratch.isValid());
        QProcess xvfb;
        xvfb.start("Xvfb",
            { "-displayfd", "1", "-nolisten", "tcp", "-screen", "0",
                QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()) });
        auto stop = qScopeGuard([&] { xvfb.terminate(), xvfb.waitForFinished(10000); });
        QTRY_VERIFY2_WITH_TIMEOUT(xvfb.canReadLine(), "Xvfb (Debian's xvfb) does not start", 30000);
        const QString display = ':' + QString::fromLatin1(xvfb.readLine()).trimmed();
        const QStringList workArea {
            "-display", display, "-root", "-f", "_NET_WORKAREA", "32c", "-set", "_NET_WORKAREA",
            QStringLiteral("0, %1, %2, %3").arg(qMax(0, -panel)).arg(screen.width()).arg(screen.height() - qAbs(panel))
        };
        QVERIFY2(!panel || QProcess::execute("xprop", workArea) == 0, "xprop (Debian's x11-utils) failed");
        QProcess child;
        child.setProcessEnvironment(childEnvironment(scratch.path()));
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), { kChild, "-platform", "xcb", "-display", display });
        QVERIFY(child.waitForFinished(120000));
        const QString out = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(out));
        QCOMPARE(out == "scrolls", scrolls);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc > 1 && qstrcmp(argv[1], kChild) == 0)
        return childMain();
    TestScreenFit test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_screenfit.moc"
