#include "hub/mainclass.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>
#include <QSettings>

#include "hub/closegate.h"
#include "hub/closesignals.h"
#include "app/configfile.h"
#include "app/processlocale.h"
#include "core/threadscheduling.h"
#include "dialogs/dialogsensors.h"
#include "dialogs/dialogsettings.h"
#include "dialogs/prompt.h"
#include "links/modemmodule.h"
#include "links/networkmodule.h"
#include "links/zigbeeclient.h"
#include "mail/notifications.h"
#include "storage/databasewriter.h"
#include "storage/dbfexport.h"
#include "storage/sqlbasemodule.h"
#include "ui/dialoginfo.h"
#include "ui/interfacemodule.h"

MainClass* gMainClass = nullptr;

template <typename Sender, typename Signal, typename Receiver, typename Slot>
void MainClass::wire(Sender* sender, Signal signal, Receiver* receiver, Slot slot)
{
    const bool ok = bool(QObject::connect(sender, signal, receiver, slot));
    if (!ok)
        qWarning("MainClass: connection %d failed", connectionResults.size() + 1);
    connectionResults.append(ok);
}

MainClass::MainClass(int& argc, char** argv)
    : QApplication(argc, argv)
    , intake(*this, *this, [] { return QDateTime::currentMSecsSinceEpoch(); })
{
    ProcessLocale::apply(*this);
    qRegisterMetaType<NotificationsMessage>("NotificationsMessage");
    addLibraryPath(QStringLiteral("plugins/"));
    gMainClass = this;
    exitCode = 0;
    configSettings = nullptr;
    networkModule = nullptr;
    setQuitOnLastWindowClosed(false);
    closeGate = new CloseGate(this);
    connect(closeGate, &CloseGate::passed, this, &MainClass::shutDown);

    interfaceModule = new InterfaceModule(nullptr);
    showInitText(tr("Инициализация модулей"));

    sqlBaseModule = new SQLBaseModule(nullptr);
    modemModule = new ModemModule(nullptr);
    modemModule->moveToThread(modemModule);
    dbfExport = new DbfExport(nullptr);
    dbfExport->moveToThread(dbfExport);
    notifications = new Notifications(nullptr);
    notifications->moveToThread(notifications);

    connectModules();
    // A stop signal closes the program as closing its window does.
    wire(new CloseSignals(this), &CloseSignals::received, interfaceModule, &InterfaceModule::slotMainWindowClose);

    showInitText(tr("Проверка ресурсов"));
    if (!checkResources() || closing)
        return;

    setOrganizationName(tr("ООО \"Kestrum\""));
    setOrganizationDomain(QStringLiteral("kestrum.ru"));
    setApplicationName(tr("Ostrivel"));

    openViewSettings();

    showInitText(tr("Загрузка data/config.ini"));
    loadConfig();
    if (configUnread) {
        prompt()->warning(tr("Внимание!"), configUnreadWarning());
        if (closing)
            return;
    }

    networkModule = new NetworkModule(NetworkPort);
    connectNetworkModule();

    showInitText(tr("Инициалищация базы данных"));
    followDatabase(*sqlBaseModule);
    sqlBaseModule->init(DBType, Hostname, Username, Password, Database, Port);
    if (closing)
        return;
    connectWriter();

    // A changed database type takes effect at the next start, for the export too.
    emit signalSetDatabaseExportDBF(DBType, Hostname, Username, Password, Database, Port);

    showInitText(tr("Инициализация модема"));
    publishSleepIntervals();
    modemModule->setPortName(PortName);
    modemModule->start();
    dbfExport->start();
    notifications->start();

    emit signalSetIntervalExportDBF(IntervalExportDBF);
    emit signalSetExportDBFSettings(ExportDBF, PathExportDBF);
    emit signalSetNotificationsSettings(serverSMTP, serverPort, serverLogin, serverPassword, notificationEmail);

    closeGate->arm();
    // This thread answers the gateways' sensors as the modem thread answers its own, and takes
    // the core in short turns too. Beside hundreds of gateways it then also runs less: the
    // kernel's work for the modem's replies no longer waits out its long turns. Threads started
    // from now on inherit the turns; the main window's loaders among them still run behind the
    // others (a lower priority), in short turns.
    ThreadScheduling::answerPromptly();
    exec();
}

MainClass::~MainClass()
{
    saveConfig();
    delete interfaceModule;
    delete sqlBaseModule;
    delete modemModule;
    delete networkModule;
    delete viewSettings;
    delete dbfExport;
    delete notifications;
    interfaceModule = nullptr;
    sqlBaseModule = nullptr;
    modemModule = nullptr;
    networkModule = nullptr;
    viewSettings = nullptr;
    dbfExport = nullptr;
    notifications = nullptr;
    if (gMainClass == this)
        gMainClass = nullptr;
}

void MainClass::showInitText(const QString& text)
{
    if (interfaceModule)
        interfaceModule->slotSetInitInfoString(text);
}

void MainClass::connectModules()
{
    wire(interfaceModule, &InterfaceModule::signalCloseApplication, this, &MainClass::slotCloseApplication);
    wire(this, &MainClass::signalStopInterfaceModule, interfaceModule, &InterfaceModule::slotStopModule);
    wire(this, &MainClass::signalSetStatusTest, interfaceModule, &InterfaceModule::slotSetStatusText);
    wire(this, &MainClass::signalNewSensor, interfaceModule, &InterfaceModule::slotNewSensor);
    wire(this, &MainClass::signalRoomAppended, interfaceModule, &InterfaceModule::slotRoomAppended);
    wire(sqlBaseModule, &SQLBaseModule::signalCloseApplication, this, &MainClass::slotCloseApplication);
    wire(sqlBaseModule, &SQLBaseModule::signalSetInitInfoString, interfaceModule,
        &InterfaceModule::slotSetInitInfoString);
    wire(this, &MainClass::signalStopSQLBaseModule, sqlBaseModule, &SQLBaseModule::slotStopModule);
    wire(sqlBaseModule, &SQLBaseModule::signalSetStatusText, interfaceModule, &InterfaceModule::slotSetStatusText);
    wire(sqlBaseModule, &SQLBaseModule::signalStartFailed, this, &MainClass::slotDatabaseStartFailed);
    wire(sqlBaseModule, &SQLBaseModule::signalWarning, this, &MainClass::slotDatabaseWarning);
    // Direct, in this thread: a reading joins the writer's queue behind the registry writes the
    // intake queued for it.
    wire(this, &MainClass::signalSensorDataReceived, sqlBaseModule, &SQLBaseModule::slotSensorDataReceived);
    wire(modemModule, &ModemModule::signalCloseApplication, this, &MainClass::slotCloseApplication);
    wire(this, &MainClass::signalStopModemModule, modemModule, &ModemModule::slotStopModule);
    wire(modemModule, &ModemModule::signalEndInitialization, this, &MainClass::slotModemModuleStopInitialization);
    wire(modemModule, &ModemModule::signalSetInitInfoString, interfaceModule, &InterfaceModule::slotSetInitInfoString);
    wire(modemModule, &ModemModule::signalCastsReceived, &modemCasts,
        [this](const QVector<ModemCast>& casts) { intake.modemCasts(casts); });
    wire(this, &MainClass::signalModemSendData, modemModule, &ModemModule::slotSendData);
    wire(modemModule, &ModemModule::signalDataReaded, interfaceModule, &InterfaceModule::signalModemDataReaded);
    wire(interfaceModule, &InterfaceModule::signalTerminalShown, modemModule, &ModemModule::slotTerminalShown);
    wire(interfaceModule, &InterfaceModule::signalModemSendData, modemModule, &ModemModule::slotSendData);
    wire(modemModule, &ModemModule::signalSetStatusText, interfaceModule, &InterfaceModule::slotSetStatusText);
    wire(this, &MainClass::signalRefrSensorList, interfaceModule, &InterfaceModule::slotRefrSensorList);
    wire(this, &MainClass::signalRefrSensorData, interfaceModule, &InterfaceModule::slotRefrSensorData);
    wire(this, &MainClass::signalStopDbfExportModule, dbfExport, &DbfExport::slotStopModule);
    wire(this, &MainClass::signalStopNotificationModule, notifications, &Notifications::slotStopModule);
    wire(dbfExport, &DbfExport::signalUpdateStatus, interfaceModule, &InterfaceModule::slotSetStatusText);
    wire(this, &MainClass::signalSetIntervalExportDBF, dbfExport, &DbfExport::slotSetInterval);
    wire(this, &MainClass::signalAddNotificationMessage, notifications, &Notifications::slotAddMessage);
    wire(this, &MainClass::signalSetNotificationsSettings, notifications, &Notifications::slotSetEmailSettings);
    wire(notifications, &Notifications::signalSetStatusText, interfaceModule, &InterfaceModule::slotSetStatusText);
    wire(this, &MainClass::signalSetExportDBFSettings, dbfExport, &DbfExport::slotSetSettings);
    wire(this, &MainClass::signalSetDatabaseExportDBF, dbfExport, &DbfExport::slotSetDatabase);
}

void MainClass::connectNetworkModule()
{
    wire(networkModule, &NetworkModule::signalNewConnection, this, &MainClass::slotNewConnection);
    wire(networkModule, &NetworkModule::signalDisconnected, this, &MainClass::slotNetworkDisconnected);
    wire(networkModule, &NetworkModule::signalInitReceived, this, &MainClass::slotNetworkInitReceived);
    wire(networkModule, &NetworkModule::signalClosReceived, this, &MainClass::slotNetworkClosReceived);
    wire(networkModule, &NetworkModule::signalStatReceived, this, &MainClass::slotNetworkStatReceived);
    wire(networkModule, &NetworkModule::signalNetworkCastReceived, this, &MainClass::slotNetworkCastReceived);
    wire(networkModule, &NetworkModule::signalInterfNetworkMess, interfaceModule, &InterfaceModule::slotNetworkMessage);
    wire(this, &MainClass::signalNetworkSleepSend, networkModule, &NetworkModule::slotSlepSend);
    wire(this, &MainClass::signalNetworkSleepSend2, networkModule, &NetworkModule::slotSlepSend2);
}

void MainClass::connectDialogs()
{
    // The dialogs are made with the main window, once.
    if (dialogsConnected || !interfaceModule->dialogSettings)
        return;
    dialogsConnected = true;
    DialogSettings* settings = interfaceModule->dialogSettings;
    // The settings go out as this object's own signal, whose connection to the notification
    // thread is queued; the letter request follows them into the same queue.
    wire(settings, &DialogSettings::signalSetNotificationsSettings, this, &MainClass::signalSetNotificationsSettings);
    wire(settings, &DialogSettings::signalSendTestLetter, notifications, &Notifications::slotSendTestLetter);
    wire(interfaceModule->dialogSensors, &DialogSensors::signalSleepIntervalChanged, this,
        &MainClass::slotNewSleepInterval);
    interfaceModule->dialogInfo->setNetwork(networkModule);
}

void MainClass::connectWriter()
{
    DatabaseWriter* writer = sqlBaseModule->writer;
    // One refresh per committed batch rather than one per measurement.
    wire(writer, &DatabaseWriter::batchCommitted, interfaceModule, [this] { interfaceModule->refreshIfLive(); });
    wire(writer, &DatabaseWriter::queueLengthChanged, interfaceModule, [this, writer](int length) {
        interfaceModule->slotWriterQueue(length, writer->refusedCount(), writer->discardedCount());
    });
    wire(writer, &DatabaseWriter::faultChanged, interfaceModule,
        [this](const QString& reason, bool) { interfaceModule->slotWriterFault(reason); });
}

// Asks one question for the first missing resource (folder, configuration, database) and,
// on Yes, creates the folder and the default configuration. False ends start-up.
bool MainClass::checkResources()
{
    // A regular file named "data" is no folder, and none can be made beside it.
    const auto folderMissing = [] { return !QFileInfo(QStringLiteral("data")).isDir(); };
    QString question;
    if (folderMissing())
        question = tr("Поддиректория \"data\" не найдена.\nСоздать её и вложенные ресурсы?");
    else if (!QFileInfo::exists(QString::fromLatin1(kConfigPath)))
        question = tr("Файл \"data/config.ini\" не найден.\nСоздать его и другие не найденные ресурсы?");
    else if (!QFileInfo::exists(QStringLiteral("data/measurement.db3")))
        question = tr("Файл \"data/measurement.db3\" не найден.\nСоздать его и другие не найденные ресурсы?");
    if (question.isEmpty())
        return true;

    const bool yes = prompt()->question(question);
    if (closing)
        return false;
    if (!yes) {
        slotCloseApplication(1);
        return false;
    }
    interfaceModule->showInitInfoWindow();
    if (folderMissing() && !QDir::current().mkdir(QStringLiteral("data"))) {
        slotCloseApplication(2);
        return false;
    }
    if (!QFileInfo::exists(QString::fromLatin1(kConfigPath)) && !createDefaultConfig()) {
        slotCloseApplication(3);
        return false;
    }
    return true;
}

bool MainClass::notify(QObject* receiver, QEvent* event)
{
    const CloseGate::Delivery delivery;
    return QApplication::notify(receiver, event);
}

void MainClass::slotCloseApplication(int code)
{
    exitCode = code;
    // A second request (a window closed during shutdown, a late module error) only
    // changes the code that main returns.
    if (closing)
        return;
    closing = true;
    // A dialog or box still open ends first; the windows go once their calls have returned.
    closeGate->request();
}

void MainClass::shutDown()
{
    // Intake ends before the writer goes: no sensor is answered for a reading that would not be
    // stored, and the writer's count of what it could not write covers every reading taken. The
    // modem answers no more messages; those it answered before its thread ended are taken first.
    modemModule->sleepIntervals().close();
    emit signalStopModemModule();
    modemModule->wait();
    sendPostedEvents(&modemCasts, QEvent::MetaCall);
    intake.close();
    if (networkModule)
        networkModule->stop();
    emit signalStopDbfExportModule();
    emit signalStopNotificationModule();
    emit signalStopInterfaceModule();
    dbfExport->wait();
    notifications->wait();
    // The database goes last, once no module thread can reach it any more.
    emit signalStopSQLBaseModule();
    exit(exitCode);
}

void MainClass::slotDatabaseStartFailed(QString text)
{
    prompt()->critical(tr("Ошибка"), text);
}

void MainClass::slotDatabaseWarning(QString text)
{
    prompt()->warning(tr("Внимание!"), text);
}

void MainClass::slotModemModuleStopInitialization(QString text)
{
    if (!text.isEmpty())
        prompt()->warning(tr("Внимание!"), text);
    if (closing)
        return;
    interfaceModule->slotStopInitializing();
    connectDialogs();
    if (networkModule && !networkModule->listenFailure().isEmpty()) {
        networkModule->announceListenFailure();
        emit signalSetStatusTest(networkModule->listenFailure());
    }
    const QString settingsText = settingsWarning();
    if (!settingsText.isEmpty() && !closing)
        prompt()->warning(tr("Внимание!"), settingsText);
}

void MainClass::configSaved()
{
    emit signalSetIntervalExportDBF(IntervalExportDBF);
    emit signalSetExportDBFSettings(ExportDBF, PathExportDBF);
    emit signalSetNotificationsSettings(serverSMTP, serverPort, serverLogin, serverPassword, notificationEmail);
    // The sensors dialog's edits (intervals, addresses, removals) end in a save.
    if (!registering)
        publishSleepIntervals();
}

void MainClass::slotNetworkCastReceived(ZigBeeClient* client, QString eui64, QByteArray payload)
{
    intake.networkCast(client, eui64, payload);
}

void MainClass::modemSensorInterval(const QString& eui64, int interval)
{
    modemModule->sleepIntervals().set(eui64, interval);
}

void MainClass::publishSleepIntervals()
{
    modemModule->sleepIntervals().assign(sleepIntervals());
}

void MainClass::sensorRegistered()
{
    emit signalNewSensor();
}

void MainClass::sensorMoved()
{
    emit signalRefrSensorList();
}

void MainClass::announceSleepInterval(ZigBeeClient* client, const QString& eui64, int interval)
{
    emit signalNetworkSleepSend2(client, eui64, interval);
}

void MainClass::registryChanged()
{
    registering = true;
    saveConfig();
    registering = false;
}

void MainClass::storeMeasurement(const PendingMeasurement& measurement)
{
    emit signalSensorDataReceived(measurement);
}

void MainClass::raiseNotification(const NotificationsMessage& message)
{
    emit signalAddNotificationMessage(message);
}

void MainClass::showStatus(const QString& text)
{
    emit signalSetStatusTest(text);
}

void MainClass::resendSensorList(ZigBeeClient* client)
{
    if (networkModule && networkModule->sensorListDue(client))
        slotNewConnection(client);
}

void MainClass::slotNewSleepInterval(Sensor* sensor, int interval)
{
    if (binding.setSleepInterval(sensor, interval))
        emit signalNetworkSleepSend2(nullptr, sensor->EUI64, interval);
}

void MainClass::slotNewConnection(ZigBeeClient* client)
{
    emit signalNetworkSleepSend(client, binding.sleepList());
}

void MainClass::slotNetworkInitReceived(ZigBeeClient* client)
{
    slotNetworkStatReceived(client);
}

void MainClass::slotNetworkClosReceived(ZigBeeClient*)
{
    emit signalRefrSensorData();
}

void MainClass::slotNetworkStatReceived(ZigBeeClient* client)
{
    switch (binding.bind(client, NetworkModule::peerText(client))) {
    case GatewayBinding::Outcome::Created:
        emit signalRoomAppended();
        break;
    case GatewayBinding::Outcome::Bound:
        emit signalRefrSensorData();
        break;
    case GatewayBinding::Outcome::Ignored:
        break;
    }
}

void MainClass::slotNetworkDisconnected(ZigBeeClient* client)
{
    binding.release(client);
    emit signalRefrSensorData();
}
