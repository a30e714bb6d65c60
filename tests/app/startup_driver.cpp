// Runs the whole program as main() does, with scripted answers to its questions and boxes,
// and reports what happened on stdout. Driven by environment variables:
//   DRIVER_ANSWER   yes | no | close  (close: the user closes the start-up window while the
//                                      question is up, then answers Yes)
//   DRIVER_CLOSE_MS close the program like a user this long after the event loop starts
//                   (unset: run until killed)
//   DRIVER_CLOSE_FILE close the program like a user once this file exists
//   DRIVER_OPEN     once the main window is up, opens through its menu like a user: settings
//                   (and types 123 into DaysSave), settings+box (also a refused network port,
//                   whose warning stays open), about, sendreport, sensors, report, info, or box
//                   (a report run whose closing box stays open, read for a second), or
//                   box+return (that box then answered by Return and the program closed like a
//                   user); from then on boxes are real. "OPEN <class>" is printed while that
//                   dialog or box is the modal window
//   DRIVER_SHOT     with DRIVER_OPEN=box: a PNG of the screen taken once the report's progress
//                   bar is between a quarter and three quarters
//   DRIVER_BOX_MS   each box stays open this long, its loop running, before it is answered
//   DRIVER_NETWORK_PORT the gateway port: written into "data/config.ini" just before the
//                   program loads it (one it has just created too), so that no run listens on
//                   the default port, which the real program may hold; "any": a port free now
// Alarms and status texts of the running program are reported as ALARM and STATUS lines.
#include <QAction>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QScreen>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTcpServer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <clocale>
#include <cstdio>

#include "hub/mainclass.h"
#include "hub/program.h"
#include "dialogs/prompt.h"
#include "ui/initinfowindow.h"
#include "ui/interfacemodule.h"
#include "ui/mainwindow.h"

namespace
{

void say(const QString& line)
{
    std::fputs(line.toUtf8().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// Closes the topmost window of the program the way a user would; without one, asks the
// application object to close directly.
void closeLikeUser()
{
    if (gMainClass) {
        int ok = 0;
        for (bool b : gMainClass->connectionResults)
            ok += b ? 1 : 0;
        say(QStringLiteral("CONNECTIONS %1/%2").arg(ok).arg(gMainClass->connectionResults.size()));
    }
    if (gInterfaceModule && gInterfaceModule->initInfoWindow) {
        gInterfaceModule->initInfoWindow->close();
        return;
    }
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->isVisible() && w->inherits("QMainWindow")) {
            w->close();
            return;
        }
    }
    if (gMainClass)
        gMainClass->slotCloseApplication(0);
}

class ScriptedPrompt : public Prompt
{
public:
    bool question(const QString& text) override
    {
        say(QStringLiteral("QUESTION ") + QString(text).replace('\n', QLatin1String("\\n")));
        const QByteArray answer = qgetenv("DRIVER_ANSWER");
        if (answer == "close") {
            gInterfaceModule->initInfoWindow->close();
            QEventLoop loop;
            QTimer::singleShot(200, &loop, &QEventLoop::quit);
            loop.exec();
            return true;
        }
        return answer != "no";
    }
    void critical(const QString& title, const QString& text) override { report("CRITICAL", title, text); }
    void warning(const QString& title, const QString& text) override { report("WARNING", title, text); }
    void information(const QString& title, const QString& text) override { report("INFORMATION", title, text); }

private:
    void report(const char* kind, const QString& title, const QString& text)
    {
        say(QString::fromLatin1(kind) + QLatin1Char(' ') + title + QLatin1Char('|')
            + QString(text).replace('\n', QLatin1String("\\n")));
        QEventLoop loop;
        QTimer::singleShot(qEnvironmentVariableIntValue("DRIVER_BOX_MS"), &loop, &QEventLoop::quit);
        if (qEnvironmentVariableIsSet("DRIVER_BOX_MS"))
            loop.exec();
    }
};

ScriptedPrompt scripted;

void setNetworkPort()
{
    QByteArray port = qgetenv("DRIVER_NETWORK_PORT");
    QTcpServer probe;
    if (port == "any" && probe.listen(QHostAddress::Any, 0))
        port = QByteArray::number(probe.serverPort());
    QFile file(QStringLiteral("data/config.ini"));
    if (port.isEmpty() || !file.open(QIODevice::ReadOnly))
        return;
    // Byte for byte: the file may be in any encoding.
    const QString was = QString::fromLatin1(file.readAll());
    file.close();
    QString text = was;
    text.replace(QRegularExpression(QStringLiteral("^NetworkPort *=.*$"), QRegularExpression::MultilineOption),
        QStringLiteral("NetworkPort=") + QString::fromLatin1(port));
    if (text != was && file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text.toLatin1());
}

void messages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (context.category && QByteArray(context.category) == "ostrivel.startup") {
        say(QStringLiteral("STARTUP ") + text);
        if (text == QStringLiteral("Загрузка data/config.ini"))
            setNetworkPort();
    } else if (text.startsWith(QLatin1String("This plugin does not support")))
        return; // the offscreen platform cannot raise windows
    else if (type != QtDebugMsg && type != QtInfoMsg)
        say(QStringLiteral("LOG ") + text);
}

// Clicks the action in its menu of the main window, as a user does: the dialog's exec() then
// runs inside the menu's own mouse handler.
void clickMenuAction(const char* name)
{
    auto* action = gInterfaceModule->mainWindow->findChild<QAction*>(QLatin1String(name));
    QMenu* menu = nullptr;
    for (QWidget* w : action->associatedWidgets()) {
        if (auto* m = qobject_cast<QMenu*>(w))
            menu = m;
    }
    menu->popup(QPoint(10, 10));
    QTest::mouseClick(menu, Qt::LeftButton, Qt::NoModifier, menu->actionGeometry(action).center());
}

// Opens what DRIVER_OPEN names once the main window exists and says so once the wanted dialog
// or box is the modal window.
void openLikeUser(const QByteArray& what)
{
    static const QHash<QByteArray, QPair<const char*, const char*>> plan {
        { "settings", { "actSettings", "DialogSettings" } }, { "settings+box", { "actSettings", "QMessageBox" } },
        { "about", { "actAbout", "DialogAbout" } }, { "sendreport", { "actSendReport", "DialogSendReport" } },
        { "sensors", { "actSensors", "DialogSensors" } }, { "report", { "actReport", "DialogReport" } },
        { "info", { "actInfo", "DialogInfo" } }, { "box", { "actReport", "QMessageBox" } },
        { "box+return", { "actReport", "QMessageBox" } }
    };
    const auto step = plan.value(what);
    auto* poll = new QTimer(QCoreApplication::instance());
    poll->start(50);
    QObject::connect(poll, &QTimer::timeout, [poll, what, step] {
        static bool clicked = false;
        if (!gInterfaceModule || !gInterfaceModule->mainWindow)
            return;
        if (!clicked) {
            clicked = true;
            setPrompt(nullptr);
            // From a timer of its own, so that this poll goes on inside the dialog's loop.
            QTimer::singleShot(0, [step] { clickMenuAction(step.first); });
            return;
        }
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        static const QString shot = qEnvironmentVariable("DRIVER_SHOT");
        auto* bar = modal->inherits("QProgressDialog") ? modal->findChild<QProgressBar*>() : nullptr;
        if (!shot.isEmpty() && bar && bar->value() * 4 >= bar->maximum() && bar->value() * 4 <= 3 * bar->maximum()) {
            QGuiApplication::primaryScreen()->grabWindow(0).save(shot);
            say(QStringLiteral("SHOT %1 of %2").arg(bar->value()).arg(bar->maximum()));
            const_cast<QString&>(shot).clear();
        }
        if (modal->inherits("DialogSettings") && !modal->property("typed").toBool()) {
            modal->setProperty("typed", true);
            modal->findChild<QSpinBox*>(QStringLiteral("spinDaysSave"))->setValue(123);
            if (what == "settings+box") {
                modal->findChild<QLineEdit*>(QStringLiteral("lineNetworkPort"))->setText(QStringLiteral("99999"));
                auto* accept = modal->findChild<QPushButton*>(QStringLiteral("pushAccept"));
                QTimer::singleShot(0, accept, &QPushButton::click);
            }
            return;
        }
        if (modal->inherits("DialogReport") && what.startsWith("box") && !modal->property("accepted").toBool()) {
            modal->setProperty("accepted", true);
            auto* ok = modal->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
            QTimer::singleShot(0, ok, &QPushButton::click);
            return;
        }
        static QElapsedTimer reading;
        if (what.startsWith("box") && modal->inherits("QMessageBox") && !reading.isValid())
            reading.start();
        if (reading.isValid() && reading.elapsed() < 1000)
            return;
        if (modal->inherits(step.second)) {
            poll->stop();
            say(QStringLiteral("OPEN %1").arg(QString::fromLatin1(modal->metaObject()->className())));
            if (what == "box+return") {
                QTest::keyClick(modal, Qt::Key_Return);
                closeLikeUser();
            }
        }
    });
}

// Runs when the application object's base is built, before its constructor goes on.
void onApplicationCreated()
{
    const QByteArray closeMs = qgetenv("DRIVER_CLOSE_MS");
    if (!closeMs.isEmpty())
        QTimer::singleShot(closeMs.toInt(), &closeLikeUser);
    QTimer::singleShot(0, [] {
        say(QStringLiteral("EVENT LOOP"));
        // Numbers the C library prints, and one of Qt's own button texts.
        say(QStringLiteral("LOCALE %1 %2")
                .arg(QString::fromLatin1(std::setlocale(LC_NUMERIC, nullptr)),
                    QCoreApplication::translate("QPlatformTheme", "Cancel")));
        if (!gMainClass)
            return;
        QObject::connect(gMainClass, &MainClass::signalAddNotificationMessage, [](const NotificationsMessage& m) {
            say(QStringLiteral("ALARM %1 %2 %3").arg(m.type).arg(m.EUI64, m.value.toString()));
        });
        QObject::connect(gMainClass, &MainClass::signalSetStatusTest,
            [](const QString& text) { say(QStringLiteral("STATUS ") + text); });
    });
    const QByteArray open = qgetenv("DRIVER_OPEN");
    if (!open.isEmpty())
        openLikeUser(open);
    const QString closeFile = qEnvironmentVariable("DRIVER_CLOSE_FILE");
    if (!closeFile.isEmpty()) {
        auto* poll = new QTimer(QCoreApplication::instance());
        QObject::connect(poll, &QTimer::timeout, [poll, closeFile] {
            if (QFile::exists(closeFile)) {
                poll->stop();
                closeLikeUser();
            }
        });
        poll->start(50);
    }
}

} // namespace

Q_COREAPP_STARTUP_FUNCTION(onApplicationCreated)

int main(int argc, char** argv)
{
    setPrompt(&scripted);
    qInstallMessageHandler(&messages);
    const int code = runProgram(argc, argv);
    say(QStringLiteral("EXIT %1").arg(code));
    return code;
}
