#include "ui/interfacemodule.h"

#include <QLabel>
#include <QLoggingCategory>
#include <QStatusBar>

#include "dialogs/dialogabout.h"
#include "dialogs/dialogreport.h"
#include "dialogs/dialogsendreport.h"
#include "dialogs/dialogsensors.h"
#include "dialogs/dialogsettings.h"
#include "storage/failuretext.h"
#include "ui/dialoginfo.h"
#include "ui/elidedlabel.h"
#include "ui/initinfowindow.h"
#include "ui/mainwindow.h"
#include "ui/screenfit.h"

Q_LOGGING_CATEGORY(lcStartup, "ostrivel.startup")

InterfaceModule* gInterfaceModule = nullptr;
int InterfaceModule::statusTextInterval = 250;

namespace
{

template <typename T> void deleteWindow(T*& window)
{
    delete window;
    window = nullptr;
}

} // namespace

InterfaceModule::InterfaceModule(QObject* parent)
    : QObject(parent)
{
    gInterfaceModule = this;
    screenFit = new ScreenFit(this);
    statusTimer.setSingleShot(true);
    connect(&statusTimer, &QTimer::timeout, this, &InterfaceModule::showStatusText);
    createInitInfoWindow();
}

InterfaceModule::~InterfaceModule()
{
    // Windows it still holds (a start that ended early) go with it.
    slotStopModule();
    if (gInterfaceModule == this)
        gInterfaceModule = nullptr;
}

void InterfaceModule::createInitInfoWindow()
{
    initInfoWindow = new InitInfoWindow(nullptr);
    screenFit->watch(initInfoWindow);
    connect(initInfoWindow, &InitInfoWindow::signalWindowClose, this, &InterfaceModule::slotInitInfoWindowClose);
    initInfoWindow->show();
}

void InterfaceModule::showInitInfoWindow()
{
    deleteWindow(initInfoWindow);
    createInitInfoWindow();
}

void InterfaceModule::slotStopModule()
{
    initializingDone = true;
    deleteWindow(initInfoWindow);
    deleteWindow(mainWindow);
    deleteWindow(dialogInfo);
    deleteWindow(dialogSettings);
    deleteWindow(dialogSensors);
    deleteWindow(dialogReport);
    deleteWindow(dialogAbout);
    deleteWindow(dialogSendReport);
}

void InterfaceModule::slotSetInitInfoString(QString text)
{
    if (!initInfoWindow)
        return;
    qCInfo(lcStartup).noquote() << text;
    initInfoWindow->setText(text);
}

void InterfaceModule::slotStopInitializing()
{
    if (initializingDone)
        return;
    initializingDone = true;
    slotSetInitInfoString(tr("Создание главного окна"));

    // The main window connects itself to the dialogs, so they come first.
    dialogInfo = new DialogInfo(nullptr);
    dialogSettings = new DialogSettings(nullptr);
    dialogSensors = new DialogSensors(nullptr);
    dialogReport = new DialogReport(nullptr);
    dialogAbout = new DialogAbout(nullptr);
    dialogSendReport = new DialogSendReport(nullptr);
    mainWindow = new MainWindow(nullptr);
    connect(mainWindow, &MainWindow::signalWindowClose, this, &InterfaceModule::slotMainWindowClose);
    // Every window opens within the screen, a laptop's too.
    for (QWidget* window : std::initializer_list<QWidget*> {
             mainWindow, dialogInfo, dialogSettings, dialogSensors, dialogReport, dialogAbout, dialogSendReport })
        screenFit->watch(window);
    mainWindow->statusBar()->showMessage(tr("Ожидание событий..."));
    writerQueueLabel = new ElidedLabel(mainWindow);
    writerQueueLabel->hide();
    mainWindow->statusBar()->addPermanentWidget(writerQueueLabel, 0);

    deleteWindow(initInfoWindow);
    if (mainWindow->hideStart)
        mainWindow->hide();
    else
        mainWindow->show();
}

// Every sensor message sets a text, hundreds a second, and the status bar repaints itself at
// once for each: the texts of an interval make one, the newest, shown outside the intake's turn.
void InterfaceModule::slotSetStatusText(QString text)
{
    if (!mainWindow)
        return;
    statusText = text;
    if (statusTimer.isActive())
        return;
    const qint64 since = statusShown.isValid() ? statusShown.elapsed() : statusTextInterval;
    statusTimer.start(int(qBound<qint64>(0, statusTextInterval - since, statusTextInterval)));
}

void InterfaceModule::showStatusText()
{
    statusShown.start();
    if (mainWindow)
        mainWindow->statusBar()->showMessage(statusText, 10000);
}

void InterfaceModule::slotWriterQueue(int length, qint64 refused, qint64 discarded)
{
    writerLength = length;
    writerRefused = refused;
    writerDiscarded = discarded;
    showWriterState();
}

void InterfaceModule::slotWriterFault(const QString& reason)
{
    writerFault = reason;
    showWriterState();
}

void InterfaceModule::showWriterState()
{
    if (!writerQueueLabel)
        return;
    QStringList parts;
    if (writerLength > 0)
        parts << tr("Ожидают записи в базу данных: %1").arg(writerLength);
    if (writerRefused > 0)
        parts << tr("не принято (очередь заполнена): %1").arg(writerRefused);
    if (writerDiscarded > 0)
        parts << (parts.isEmpty() ? tr("Не сохранено (датчика нет в базе данных): %1")
                                  : tr("не сохранено (датчика нет в базе данных): %1"))
                     .arg(writerDiscarded);
    if (!writerFault.isEmpty())
        parts << (parts.isEmpty() ? tr("Ошибка базы данных: %1") : tr("ошибка базы данных: %1"))
                     .arg(FailureText::databaseBrief(writerFault));
    const QString text = parts.join(QStringLiteral("; "));
    writerQueueLabel->setText(text);
    writerQueueLabel->setToolTip(text);
    writerQueueLabel->setVisible(!text.isEmpty());
}

void InterfaceModule::slotNewSensor()
{
    if (mainWindow)
        mainWindow->slotRegistryAppended();
}

void InterfaceModule::slotRoomAppended()
{
    if (mainWindow)
        mainWindow->slotRegistryAppended();
}

QString InterfaceModule::networkLogLine(const QTime& time, const QString& text)
{
    return QStringLiteral(
               "<div style=\"text-indent: -12px; left: 40px; margin-left: 10px;\"><span style=\"color:#A0A0A0;\">")
        + time.toString(Qt::TextDate) + QStringLiteral("</span> ") + text + QStringLiteral("</div>");
}

void InterfaceModule::slotNetworkMessage(QString text)
{
    if (mainWindow)
        mainWindow->slotNetworkMessage(networkLogLine(QTime::currentTime(), text));
}

void InterfaceModule::slotRefrSensorList()
{
    if (mainWindow)
        mainWindow->slotRefrSensorList();
}

void InterfaceModule::slotRefrSensorData()
{
    if (mainWindow)
        mainWindow->slotRefresh();
}

void InterfaceModule::refreshIfLive()
{
    if (mainWindow && mainWindow->refreshOnArrival)
        mainWindow->slotRefresh();
}

// A close asked for from inside a window's own close handler is carried out once that
// handler has returned, so the window is never deleted under its own feet.
void InterfaceModule::requestClose()
{
    QMetaObject::invokeMethod(
        this, [this] { emit signalCloseApplication(0); }, Qt::QueuedConnection);
}

void InterfaceModule::slotInitInfoWindowClose()
{
    requestClose();
}

void InterfaceModule::slotMainWindowClose()
{
    requestClose();
}
