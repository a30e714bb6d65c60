#include "ui/dialoginfo.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QFileInfo>
#include <QScrollBar>

#include "core/threadscheduling.h"
#include "links/modemmodule.h"
#include "links/networkmodule.h"
#include "links/zigbeeclient.h"
#include "storage/databaseinfo.h"
#include "ui_dialoginfo.h"

namespace {

QString esc(const QString& text)
{
    return text.toHtmlEscaped();
}

struct DeviceNames
{
    const char* code;
    const char* shortName;
    const char* longName;
};

const DeviceNames kDeviceNames[] = {
    { "COO", "(coordinator)", "ZigBee Coordinator (ZC)" },
    { "FFD", "(router)", "ZigBee Router (ZR)" },
    { "SED", "(sleep end device)", "ZigBee End Device, sleepy (ZED)" },
    { "MED", "(mobile sleep end device)", "ZigBee End Device, mobile sleepy (ZED)" },
    { "ZED", "(end device)", "ZigBee End Device, non sleepy (ZED)" },
};

QString deviceName(const QString& code, bool longName)
{
    for (const DeviceNames& d : kDeviceNames) {
        if (code == QLatin1String(d.code))
            return QLatin1String(longName ? d.longName : d.shortName);
    }
    return QString();
}

}  // namespace

DialogInfo::DialogInfo(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogInfo)
{
    ui->setupUi(this);
    connect(ui->pushOk, &QPushButton::clicked, this, &QWidget::close);
    connect(ui->pushRefresh, &QPushButton::clicked, this, &DialogInfo::slotRefresh);
    const QRect desktop = QApplication::desktop()->geometry();
    move((desktop.width() - width()) / 2, (desktop.height() - height()) / 2);
    counter = new DatabaseInfo;
    counter->moveToThread(&counterThread);
    connect(counter, &DatabaseInfo::counted, this, &DialogInfo::counted);
    ThreadScheduling::startBehind(&counterThread);
}

DialogInfo::~DialogInfo()
{
    // A count under way ends at once: closing never waits for it.
    counter->stop();
    QMetaObject::invokeMethod(counter, &DatabaseInfo::close, Qt::BlockingQueuedConnection);
    counterThread.quit();
    counterThread.wait();
    delete counter;
    delete ui;
}

QString DialogInfo::page(
    const ModemState& modem, const QList<Gateway>& gateways, qint64 databaseBytes, const QString& measureCount)
{
    const QString br = QStringLiteral("<br/>");
    const QString brbr = QStringLiteral("<br/><br/>");
    const QString noModem = tr("<B><span style=\" color:#ff0000;\">Связь с модемом не установлена!</span></B>") + brbr;
    QString html = tr("<B>Информация о модеме:</B>") + brbr;
    if (modem.initialized) {
        html += tr("Имя устройства: Telegesis ") + esc(modem.modemInfo.model) + br;
        html += tr("Версия: R") + esc(modem.modemInfo.revision) + br;
        html += tr("EUI: ") + esc(modem.modemInfo.EUI64) + brbr;
    } else {
        html += noModem;
    }
    html += tr("<B>Информация о сети:</B>") + brbr;
    if (modem.initialized) {
        html += tr("Канал: ") + QString::number(modem.panInfo.channel) + br;
        html += tr("Мощность: ") + QString::number(modem.panInfo.power) + br;
        html += tr("PAN ID: ") + esc(modem.panInfo.panId) + br;
        html += tr("Extended PAN ID: ") + esc(modem.panInfo.extendedPanId) + brbr;
    } else {
        html += noModem;
    }
    html += tr("<B>Информация о базе измерений:</B>") + brbr;
    html += tr("Размер на диске: ") + QString::number(databaseBytes / 1024) + tr("Кб") + br;
    html += tr("Количество записей: ") + esc(measureCount) + brbr;
    html += tr("<B>Подключённые ZigBee устройства:</B>") + br;
    for (const ModemNode& node : modem.nodes) {
        html += QStringLiteral("EUI: ") + esc(node.EUI64) + br;
        html += QStringLiteral("NodeID: ") + esc(node.NodeID) + QStringLiteral("   ParentNodeID: ") + esc(node.ParentNodeID) + br;
        html += QStringLiteral("NodeType: ") + esc(node.DeviceType) + QLatin1Char(' ') + deviceName(node.DeviceType, false)
            + brbr;
    }
    for (const Gateway& g : gateways) {
        const ZigBeeClient* c = g.client;
        html += QStringLiteral("<h4>") + esc(c->name) + QStringLiteral("</h4>");
        html += QStringLiteral("IP адрес клиента: ") + esc(g.address) + br;
        html += QStringLiteral("Время подключения к серверу: ") + c->connectTime.toString(Qt::TextDate) + br;
        if (!c->modemConnected) {
            html += QStringLiteral("<span style=\" color:#ff0000;\">") + QStringLiteral("Модем не подсоеденён! ")
                + esc(c->statusText) + QStringLiteral("</span><br/>");
            continue;
        }
        html += QStringLiteral("Имя модема: ") + esc(c->modem.DeviceName) + br;
        html += QStringLiteral("Версия: ") + esc(c->modem.FirmwareRevision) + br;
        html += QStringLiteral("EUI64 модема: ") + esc(c->modem.EUI64) + br;
        html += QStringLiteral("Тип устройства: ") + esc(c->DeviceType) + QStringLiteral(" - ")
            + deviceName(c->DeviceType, true) + br;
        html += QStringLiteral("Канал сети: ") + QString::number(c->Channel) + br;
        html += QStringLiteral("Мощность сети: ") + QString::number(c->Power) + br;
        html += QStringLiteral("PID сети: ") + esc(c->PanID) + br;
        html += QStringLiteral("EPID сети: ") + esc(c->ExtendedPanID) + br;
    }
    return html;
}

void DialogInfo::slotRefresh()
{
    measureCount = counting();
    showPage();
    if (countRunning)
        countAgain = true;
    else
        startCount();
}

void DialogInfo::startCount()
{
    countRunning = true;
    countAgain = false;
    QMetaObject::invokeMethod(counter, &DatabaseInfo::count, Qt::QueuedConnection);
}

void DialogInfo::counted(const QString& figure)
{
    countRunning = false;
    if (countAgain) {
        startCount();
        return;
    }
    measureCount = figure;
    showPage();
}

void DialogInfo::showPage()
{
    const ModemState modem = gModemModule ? gModemModule->state() : ModemState();
    QList<Gateway> gateways;
    if (network) {
        for (const ZigBeeClient* c : network->clients)
            gateways.append({ c, NetworkModule::peerText(c) });
    }
    // The figure arrives while the page may be read further down.
    const int scrolled = ui->text->verticalScrollBar()->value();
    ui->text->setHtml(page(modem, gateways, QFileInfo(QStringLiteral("data/measurement.db3")).size(), measureCount));
    ui->text->verticalScrollBar()->setValue(scrolled);
}

QString DialogInfo::pageText() const
{
    return ui->text->toPlainText();
}

void DialogInfo::showEvent(QShowEvent*)
{
    slotRefresh();
}
