// Windows within the screen: the placement rule on its own, then every window of the program
// opened on real X screens (Xvfb) of a desktop's, a laptop's and a small size, with and without
// a panel, each of its buttons checked to lie where the user can reach it.
#include <QAbstractButton>
#include <QProcess>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTabWidget>
#include <QtTest>

#include "app/sqliteworkspace.h"
#include "ui/interfacemodule.h"
#include "ui/mainwindow.h"
#include "ui/screenfit.h"
#include "dialogs/dialogabout.h"
#include "dialogs/dialogreport.h"
#include "dialogs/dialogsendreport.h"
#include "dialogs/dialogsensors.h"
#include "dialogs/dialogsettings.h"
#include "ui/dialoginfo.h"

Q_DECLARE_METATYPE(QMargins)

namespace
{

const char* const kChild = "OSTRIVEL_SCREENFIT_CHILD";

// The buttons of the window's current page that lie outside the free area or outside what
// the window shows, scrolled to where a user would scroll; also whether any field scrolls.
QStringList unreachable(QWidget* window, const QRect& available, bool* scrolls)
{
    QStringList out;
    const QRect shown(window->mapToGlobal(QPoint()), window->size());
    for (QAbstractButton* button : window->findChildren<QAbstractButton*>()) {
        if (!button->isVisibleTo(window) || button->size().isEmpty())
            continue;
        QRect seen = shown;
        for (QWidget* w = button->parentWidget(); w != window; w = w->parentWidget()) {
            if (auto* area = qobject_cast<QScrollArea*>(w)) {
                area->ensureWidgetVisible(button);
                *scrolls = *scrolls || area->verticalScrollBar()->maximum() > 0;
                seen &= QRect(area->viewport()->mapToGlobal(QPoint()), area->viewport()->size());
            }
        }
        const QRect at(button->mapToGlobal(QPoint()), button->size());
        if (!available.contains(at) || !seen.contains(at))
            out << QStringLiteral("%1: \"%2\" at %3,%4 %5x%6")
                       .arg(window->objectName(), button->text().isEmpty() ? button->objectName() : button->text())
                       .arg(at.x())
                       .arg(at.y())
                       .arg(at.width())
                       .arg(at.height());
    }
    return out;
}

// Runs in a child on the X screen the parent started: opens the program's windows as the
// interface does, prints each fault on a line, and says "scrolls" when some field is out of view.
int childMain()
{
    SqliteWorkspace work;
    auto* interface = new InterfaceModule;
    interface->slotStopInitializing();
    const QList<QWidget*> windows = { interface->mainWindow, interface->dialogSettings, interface->dialogSensors,
        interface->dialogReport, interface->dialogSendReport, interface->dialogAbout, interface->dialogInfo };
    QStringList faults;
    bool scrolls = false;
    for (QWidget* window : windows) {
        window->show();
        if (!QTest::qWaitForWindowExposed(window, 10000))
            faults << window->objectName() + QStringLiteral(": not shown");
        const QRect available = window->screen()->availableGeometry();
        if (!available.contains(window->frameGeometry()))
            faults << QStringLiteral("%1: the window lies outside the free area").arg(window->objectName());
        QList<QTabWidget*> tabs = window->findChildren<QTabWidget*>();
        if (tabs.isEmpty())
            faults << unreachable(window, available, &scrolls);
        for (QTabWidget* tab : tabs) {
            for (int i = 0; i < tab->count(); ++i) {
                tab->setCurrentIndex(i);
                QCoreApplication::processEvents(); // the page is laid out
                faults << unreachable(window, available, &scrolls);
            }
        }
        if (window != interface->mainWindow)
            window->hide();
    }
    faults.removeDuplicates();
    QTextStream(stdout) << faults.join('\n') << (scrolls ? "\nscrolls\n" : "\n");
    delete interface;
    return faults.isEmpty() ? 0 : 1;
}

} // namespace

class TestScreenFit : public QObject
{
    Q_OBJECT

private slots:
    void fit_data()
    {
        QTest::addColumn<QRect>("window");
        QTest::addColumn<QSize>("minimum");
        QTest::addColumn<QRect>("available");
        QTest::addColumn<QMargins>("frame");
        QTest::addColumn<QRect>("placed");
        const QRect laptop(0, 0, 1366, 768);
        QTest::newRow("fits, stays") << QRect(478, 6, 443, 756) << QSize(400, 300) << laptop << QMargins()
                                     << QRect(478, 6, 443, 756);
        QTest::newRow("title bar") << QRect(478, 6, 443, 756) << QSize(400, 300) << laptop << QMargins(1, 24, 1, 4)
                                   << QRect(461, 24, 443, 740);
        QTest::newRow("panel below") << QRect(478, 6, 443, 756) << QSize(400, 300) << QRect(0, 0, 1366, 728)
                                     << QMargins() << QRect(461, 0, 443, 728);
        QTest::newRow("above the top") << QRect(290, -28, 443, 756) << QSize(400, 300) << QRect(0, 0, 1024, 700)
                                       << QMargins() << QRect(290, 0, 443, 700);
        QTest::newRow("too wide") << QRect(0, 0, 1579, 522) << QSize(900, 400) << QRect(0, 30, 1024, 670) << QMargins()
                                  << QRect(0, 104, 1024, 522);
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

    // Every window on an X screen of the given size; `panel` px of it are taken by a panel
    // (at the top when negative), as a desktop announces in _NET_WORKAREA.
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
        xvfb.start(QStringLiteral("Xvfb"),
            { QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                QStringLiteral("-screen"), QStringLiteral("0"),
                QStringLiteral("%1x%2x24").arg(screen.width()).arg(screen.height()) });
        QVERIFY2(xvfb.waitForStarted(), "Xvfb (Debian's xvfb) does not start");
        QTRY_VERIFY_WITH_TIMEOUT(xvfb.canReadLine() || xvfb.state() == QProcess::NotRunning, 30000);
        const QString display = QLatin1Char(':') + QString::fromLatin1(xvfb.readLine()).trimmed();
        QVERIFY2(display.size() > 1, "Xvfb gave no display number");
        auto stop = qScopeGuard([&] {
            xvfb.terminate();
            xvfb.waitForFinished(10000);
        });
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("DISPLAY"), display);
        if (panel != 0) {
            QProcess xprop;
            xprop.setProcessEnvironment(env);
            const int top = panel < 0 ? -panel : 0;
            xprop.start(QStringLiteral("xprop"),
                { QStringLiteral("-root"), QStringLiteral("-f"), QStringLiteral("_NET_WORKAREA"), QStringLiteral("32c"),
                    QStringLiteral("-set"), QStringLiteral("_NET_WORKAREA"),
                    QStringLiteral("0, %1, %2, %3").arg(top).arg(screen.width()).arg(screen.height() - qAbs(panel)) });
            QVERIFY2(xprop.waitForFinished(30000) && xprop.exitCode() == 0, "xprop (Debian's x11-utils) failed");
        }
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QLatin1String(kChild), QStringLiteral("1"));
        QProcess child;
        child.setProcessEnvironment(env);
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), QStringList());
        QVERIFY(child.waitForFinished(120000));
        const QString out = QString::fromUtf8(child.readAllStandardOutput()).trimmed();
        QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0, qPrintable(out));
        // Where there is room, every field is in view without scrolling, as the forms were drawn.
        QCOMPARE(out == QLatin1String("scrolls"), scrolls);
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
