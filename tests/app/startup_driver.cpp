// Runs the whole program as main() does, with scripted answers to its questions and boxes,
// and reports what happened on stdout. Driven by environment variables:
//   DRIVER_ANSWER   yes | no | close  (close: the user closes the start-up window while the
//                                      question is up, then answers Yes)
//   DRIVER_CLOSE_MS close the program like a user this long after the event loop starts
//                   (unset: run until killed)
//   DRIVER_CLOSE_FILE close the program like a user once this file exists
//   DRIVER_NETWORK_PORT the gateway port: written into "data/config.ini" just before the
//                   program loads it (one it has just created too), so that no run listens on
//                   the default port, which the real program may hold
// Alarms and status texts of the running program are reported as ALARM and STATUS lines.
#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>
#include <QWidget>

#include <clocale>
#include <cstdio>

#include "app/mainclass.h"
#include "app/program.h"
#include "app/prompt.h"
#include "ui/initinfowindow.h"
#include "ui/interfacemodule.h"

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
    }
};

ScriptedPrompt scripted;

void setNetworkPort()
{
    const QByteArray port = qgetenv("DRIVER_NETWORK_PORT");
    QFile file(QStringLiteral("data/config.ini"));
    if (port.isEmpty() || !file.open(QIODevice::ReadOnly))
        return;
    QString text = QString::fromUtf8(file.readAll());
    file.close();
    text.replace(QRegularExpression(QStringLiteral("^NetworkPort *=.*$"), QRegularExpression::MultilineOption),
        QStringLiteral("NetworkPort=") + QString::fromLatin1(port));
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(text.toUtf8());
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
