#include "dialogs/dialogsettings.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QDir>
#include <QHostInfo>
#include <QScrollArea>

#include "app/appstate.h"
#include "dialogs/prompt.h"
#include "storage/sqlquerybuilder.h"
#include "ui_dialogsettings.h"

namespace
{

// The colour dialog's title, by colour index.
const char* const kColorTitles[SettingsValues::kColors] = {
    QT_TRANSLATE_NOOP("DialogSettings", "Выбор цвета минимальной критической влажности"),
    QT_TRANSLATE_NOOP("DialogSettings", "Выбор цвета максимальной критической влажности"),
    QT_TRANSLATE_NOOP("DialogSettings", "Выбор цвета минимальной критической температуры"),
    QT_TRANSLATE_NOOP("DialogSettings", "Выбор цвета максимальной критической температуры"),
    QT_TRANSLATE_NOOP("DialogSettings", "Выбор цвета минимальной некритической влажности"),
    QT_TRANSLATE_NOOP("DialogSettings", "Выбор цвета максимальной некритической влажности"),
    QT_TRANSLATE_NOOP("DialogSettings", "Выбор цвета минимальной некритической температуры"),
    QT_TRANSLATE_NOOP("DialogSettings", "Выбор цвета максимальной некритической температуры"),
    QT_TRANSLATE_NOOP("DialogSettings", "Выбор цвета фона"),
    QT_TRANSLATE_NOOP("DialogSettings", "Выбор цвета линии"),
    QT_TRANSLATE_NOOP("DialogSettings", "Выбор цвета точки с данными"),
};

// Items the form gives each combo; their positions are the stored values.
constexpr int kDateTimeStyles = 4;
constexpr int kBaseTypes = SqlQueryBuilder::SQLServer; // the listed types come before it

AppState& config()
{
    return *gAppState;
}

} // namespace

DialogSettings::DialogSettings(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogSettings)
{
    ui->setupUi(this);
    ui->lineEdit_Hostname->setText(QHostInfo::localHostName() + QStringLiteral("\\\\SQLEXPRESS"));
    for (int i = 0; i < kDateTimeStyles; ++i)
        ui->comboDateTimeStyle->setItemData(i, i);
    for (int i = 0; i < kBaseTypes; ++i)
        ui->comboBoxBaseType->setItemData(i, i);
    connectWidgets();

    // Each tab's fields scroll above its buttons, so that the dialog fits a low screen too;
    // where there is room it opens as large as the form, or larger where a platform font needs
    // the room, with every field in view.
    const QList<QScrollArea*> areas = { ui->scrollMain, ui->scrollOther, ui->scrollEmail };
    for (QScrollArea* area : areas) {
        // The fields lie on the tab's own background, as without the scroll area.
        area->viewport()->setAutoFillBackground(false);
        area->widget()->setAutoFillBackground(false);
        // The fields' sizes were first taken before their texts were set.
        area->widget()->layout()->invalidate();
        area->widget()->layout()->activate();
        area->setMinimumSize(area->widget()->minimumSizeHint());
    }
    resize(size().expandedTo(minimumSizeHint()));
    // Then the fields may scroll; the tabs' sizes are taken afresh.
    for (QScrollArea* area : areas) {
        area->setMinimumSize(0, 0);
        area->parentWidget()->updateGeometry();
    }
    ui->tabWidget->updateGeometry();
    const QRect desktop = QApplication::desktop()->geometry();
    move((desktop.width() - width()) / 2, (desktop.height() - height()) / 2);

    // The mail account of the alarm letters is the built-in relay's; only the recipient is
    // the user's to choose.
    for (QWidget* w : { static_cast<QWidget*>(ui->lineEditServer), static_cast<QWidget*>(ui->lineEditLogin),
             static_cast<QWidget*>(ui->lineEditPassword), static_cast<QWidget*>(ui->lineEditPort),
             static_cast<QWidget*>(ui->label_32), static_cast<QWidget*>(ui->label_30),
             static_cast<QWidget*>(ui->label_31), static_cast<QWidget*>(ui->label_33) })
        w->hide();
}

DialogSettings::~DialogSettings()
{
    delete ui;
}

void DialogSettings::connectWidgets()
{
    connect(ui->pushReset, &QPushButton::clicked, this, &DialogSettings::slotPushResetClicked);
    connect(ui->pushAccept, &QPushButton::clicked, this, &DialogSettings::slotPushAcceptClicked);
    connect(ui->pushAcceptOther, &QPushButton::clicked, this, &DialogSettings::slotPushAcceptClicked);
    connect(ui->pushDefault, &QPushButton::clicked, this, &DialogSettings::slotPushDefaultClicked);
    connect(ui->hideStart, &QCheckBox::clicked, this, &DialogSettings::slotHideStartStateChanged);
    connect(ui->trayMessages, &QCheckBox::clicked, this, &DialogSettings::slotTrayMessagesChanged);
    connect(ui->viewVoltage, &QCheckBox::clicked, this, &DialogSettings::slotViewVoltageChanged);
    connect(ui->pushButtonSelectPathExportDBF, &QPushButton::clicked, this, &DialogSettings::slotPushSelectDBFPath);
    connect(
        ui->pushButtonSendTestLetter, &QPushButton::clicked, this, &DialogSettings::slotPushNotificationEmailSettings);
    connect(ui->pushAcceptNotifications, &QPushButton::clicked, this, &DialogSettings::slotPushAcceptClicked);
    connect(ui->pushResetNotifications, &QPushButton::clicked, this, &DialogSettings::slotResetNotifications);
    connect(ui->checkBoxEmailNotifications, &QCheckBox::clicked, this, &DialogSettings::slotNotificationsActiveChanged);
    connect(ui->checkBoxMinCritTemp, &QCheckBox::clicked, this, &DialogSettings::slotMinCritTempChanged);
    connect(ui->checkBoxMinNonCritTemp, &QCheckBox::clicked, this, &DialogSettings::slotMinNonCritTempChanged);
    connect(ui->checkBoxMaxNonCritTemp, &QCheckBox::clicked, this, &DialogSettings::slotMaxNonCritTempChanged);
    connect(ui->checkBoxMaxCritTemp, &QCheckBox::clicked, this, &DialogSettings::slotMaxCritTempChanged);
    connect(ui->checkBoxMinCritHumidity, &QCheckBox::clicked, this, &DialogSettings::slotMinCritHumidityChanged);
    connect(ui->checkBoxMinNonCritHumidity, &QCheckBox::clicked, this, &DialogSettings::slotMinNonCritHumidityChanged);
    connect(ui->checkBoxMaxCritHumidity, &QCheckBox::clicked, this, &DialogSettings::slotMaxCritHumidityChanged);
    connect(ui->checkBoxMaxNonCritHumidity, &QCheckBox::clicked, this, &DialogSettings::slotMaxNonCritHumidityChanged);
    connect(ui->checkBoxBatteryLow, &QCheckBox::clicked, this, &DialogSettings::slotBatteryLowChanged);
    connect(ui->checkBoxLostSensor, &QCheckBox::clicked, this, &DialogSettings::slotLostSensorChanged);
    connect(ui->spinMaxTableRows, QOverload<int>::of(&QSpinBox::valueChanged), this,
        &DialogSettings::slotSpinMaxTableRowsValueChanged);
    connect(ui->comboDateTimeStyle, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
        &DialogSettings::slotComboDateTimeStyleCurrentIndexChanged);
    connect(ui->spinDaysSave, QOverload<int>::of(&QSpinBox::valueChanged), this,
        &DialogSettings::slotSpinDaysSaveValueChange);
    connect(
        ui->timeEditBreakInterval, &QTimeEdit::timeChanged, this, &DialogSettings::slotTimeEditBreakIntervalChanged);
    connect(ui->comboBoxBaseType, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
        &DialogSettings::slotBaseTypeChanged);
    for (int i = 0; i < SettingsValues::kColors; ++i)
        connect(colorButton(i), &QPushButton::clicked, this, [this, i] { slotChangeGraphColor(i); });
}

QPushButton* DialogSettings::colorButton(int index) const
{
    QPushButton* const buttons[SettingsValues::kColors]
        = { ui->colorPick_minCritHum, ui->colorPick_maxCritHum, ui->colorPick_minCritTemp, ui->colorPick_maxCritTemp,
              ui->colorPick_minNonCritHum, ui->colorPick_maxNonCritHum, ui->colorPick_minNonCritTemp,
              ui->colorPick_maxNonCritTemp, ui->colorPick_font, ui->colorPick_line, ui->colorPick_node };
    return buttons[index];
}

std::array<QDoubleSpinBox*, SettingsValues::kThresholds> DialogSettings::thresholdSpins() const
{
    return { ui->spinMinCritTemp, ui->spinMinNecritTemp, ui->spinMaxNecritTemp, ui->spinMaxCritTemp,
        ui->spinMinCritWetn, ui->spinMinNecritWetn, ui->spinMaxNecritWetn, ui->spinMaxCritWetn };
}

std::array<QCheckBox*, SettingsValues::kEvents> DialogSettings::eventBoxes() const
{
    return { ui->checkBoxMinCritTemp, ui->checkBoxMinNonCritTemp, ui->checkBoxMaxNonCritTemp, ui->checkBoxMaxCritTemp,
        ui->checkBoxMinCritHumidity, ui->checkBoxMinNonCritHumidity, ui->checkBoxMaxNonCritHumidity,
        ui->checkBoxMaxCritHumidity, ui->checkBoxBatteryLow, ui->checkBoxLostSensor };
}

void DialogSettings::setColor(int index, const QColor& color)
{
    colors[index] = color;
    colorButton(index)->setStyleSheet(QStringLiteral("background-color: ") + color.name());
}

void DialogSettings::setComboValue(QComboBox* combo, int baseCount, int value, const QString& extraText)
{
    while (combo->count() > baseCount)
        combo->removeItem(combo->count() - 1);
    if (value < 0 || value >= baseCount)
        combo->addItem(extraText, value);
    combo->setCurrentIndex(combo->findData(value));
}

int DialogSettings::comboValue(const QComboBox* combo)
{
    return combo->currentData().toInt();
}

void DialogSettings::showEvent(QShowEvent* event)
{
    isFilling = true;
    fill(SettingsValues::fromConfig(config()));
    isFilling = false;
    QDialog::showEvent(event);
}

void DialogSettings::fill(const SettingsValues& v)
{
    fillMain(v);
    fillOther(v);
    fillNotifications(v);
}

void DialogSettings::fillMain(const SettingsValues& v)
{
    ui->linePort->setText(v.portName);
    ui->lineNetworkPort->setText(v.networkPort);
    const auto spins = thresholdSpins();
    for (int i = 0; i < SettingsValues::kThresholds; ++i)
        spins[i]->setValue(v.thresholds[i]);
    for (int i = 0; i < SettingsValues::kColors; ++i)
        setColor(i, v.colors[i]);
}

void DialogSettings::fillOther(const SettingsValues& v)
{
    ui->timeEditBreakInterval->setTime(v.breakInterval);
    ui->spinMaxTableRows->setValue(v.maxTableRows);
    setComboValue(ui->comboDateTimeStyle, kDateTimeStyles, v.dateTimeStyle, QString::number(v.dateTimeStyle));
    ui->spinDaysSave->setValue(v.daysSave);
    ui->hideStart->setChecked(v.hideStart);
    ui->trayMessages->setChecked(v.trayMessages);
    ui->viewVoltage->setChecked(v.viewVoltage);

    ui->lineEdit_Database->setText(v.database);
    ui->lineEdit_Hostname->setText(v.hostname);
    ui->lineEdit_Password->setText(v.password);
    ui->lineEdit_Username->setText(v.username);
    ui->lineEdit_Port->setText(v.dbPort);
    // SQL Server is chosen in the configuration file only; the combo names it, so that an
    // apply keeps it.
    setComboValue(ui->comboBoxBaseType, kBaseTypes, v.dbType,
        v.dbType == SqlQueryBuilder::SQLServer ? QStringLiteral("SQL Server") : QString::number(v.dbType));
    ui->groupBoxExternDB->setVisible(comboValue(ui->comboBoxBaseType) != SqlQueryBuilder::SQLite);

    ui->checkBoxIsExportDBF->setChecked(v.exportDbf);
    ui->spinBoxIntervalExportDBF->setValue(v.intervalExportDbf);
    ui->lineEditPathExportDBF->setText(v.pathExportDbf);
}

void DialogSettings::fillNotifications(const SettingsValues& v)
{
    ui->lineEditServer->setText(v.smtpServer);
    ui->lineEditLogin->setText(v.smtpLogin);
    ui->lineEditPassword->setText(v.smtpPassword);
    ui->lineEditEmail->setText(v.email);
    ui->lineEditPort->setText(v.smtpPort);
    ui->checkBoxEmailNotifications->setChecked(v.notificationsActive);
    const auto boxes = eventBoxes();
    for (int i = 0; i < SettingsValues::kEvents; ++i)
        boxes[i]->setChecked(v.events[i]);
}

SettingsValues DialogSettings::values() const
{
    SettingsValues v;
    v.portName = ui->linePort->text();
    v.networkPort = ui->lineNetworkPort->text();
    const auto spins = thresholdSpins();
    for (int i = 0; i < SettingsValues::kThresholds; ++i)
        v.thresholds[i] = spins[i]->value();
    for (int i = 0; i < SettingsValues::kColors; ++i)
        v.colors[i] = colors[i];

    v.breakInterval = ui->timeEditBreakInterval->time();
    v.maxTableRows = ui->spinMaxTableRows->value();
    v.dateTimeStyle = comboValue(ui->comboDateTimeStyle);
    v.daysSave = ui->spinDaysSave->value();
    v.hideStart = ui->hideStart->isChecked();
    v.trayMessages = ui->trayMessages->isChecked();
    v.viewVoltage = ui->viewVoltage->isChecked();
    v.dbType = comboValue(ui->comboBoxBaseType);
    v.hostname = ui->lineEdit_Hostname->text();
    v.username = ui->lineEdit_Username->text();
    v.password = ui->lineEdit_Password->text();
    v.database = ui->lineEdit_Database->text();
    v.dbPort = ui->lineEdit_Port->text();
    v.exportDbf = ui->checkBoxIsExportDBF->checkState() != Qt::Unchecked;
    v.intervalExportDbf = ui->spinBoxIntervalExportDBF->value();
    v.pathExportDbf = ui->lineEditPathExportDBF->text();

    v.notificationsActive = ui->checkBoxEmailNotifications->checkState() != Qt::Unchecked;
    v.smtpServer = ui->lineEditServer->text();
    v.smtpPort = ui->lineEditPort->text();
    v.smtpLogin = ui->lineEditLogin->text();
    v.smtpPassword = ui->lineEditPassword->text();
    v.email = ui->lineEditEmail->text();
    const auto boxes = eventBoxes();
    for (int i = 0; i < SettingsValues::kEvents; ++i)
        v.events[i] = boxes[i]->checkState() != Qt::Unchecked;
    return v;
}

void DialogSettings::slotPushAcceptClicked()
{
    const SettingsValues::Applied applied = values().applyTo(config());
    if (applied.portNameChanged) {
        prompt()->information(tr("Внимание!"),
            tr("Вы выбрали другой COM порт.\nЧтобы изменения вступили в силу\nнеобходимо перезапустить приложение"));
    }
    switch (applied.networkPort) {
    case SettingsValues::PortChange::Unchanged:
        break;
    case SettingsValues::PortChange::Changed:
        prompt()->information(tr("Внимание!"),
            tr("Вы выбрали другой сетевой порт.\nЧтобы изменения вступили в силу\nнеобходимо перезапустить "
               "приложение"));
        break;
    case SettingsValues::PortChange::Refused:
        ui->lineNetworkPort->setText(QString::number(config().NetworkPort));
        prompt()->warning(tr("Внимание!"),
            tr("Сетевой порт должен быть числом от 1 до 65535.\nОставлен прежний порт: %1").arg(config().NetworkPort));
        break;
    }
    config().saveConfig(true);
    emit signalMainWindowRefresh();
}

void DialogSettings::slotPushResetClicked()
{
    SettingsValues v = values();
    v.resetMain(config());
    fillMain(v);
}

void DialogSettings::slotPushDefaultClicked()
{
    SettingsValues v = values();
    v.resetOther(QDir::currentPath(), QHostInfo::localHostName());
    fillOther(v);
    // The values this tab writes at once follow its defaults, also where a widget did not
    // change (a stored 125 s already shows as 00:02) or changes only on a click (the three
    // display switches).
    config().BreakInterval = SettingsValues::breakSeconds(v.breakInterval);
    config().MaxTableRows = v.maxTableRows;
    config().DateTimeStyle = v.dateTimeStyle;
    config().DaysSave = v.daysSave;
    config().HideStart = v.hideStart;
    config().TrayMessages = v.trayMessages;
    config().ViewVoltage = v.viewVoltage;
}

void DialogSettings::slotResetNotifications()
{
    SettingsValues v = values();
    v.resetNotifications();
    fillNotifications(v);
}

void DialogSettings::slotChangeGraphColor(int index)
{
    if (index < 0 || index >= SettingsValues::kColors)
        return;
    const QColor color = prompt()->chooseColor(this, colors[index], tr(kColorTitles[index]));
    if (!color.isValid())
        return;
    config().setColorByIndex(unsigned(index), color);
    setColor(index, color);
    // The colour is the configuration's at once, and so is the window's.
    emit signalMainWindowRefresh();
}

void DialogSettings::slotPushNotificationEmailSettings()
{
    emit signalSetNotificationsSettings(ui->lineEditServer->text(),
        SettingsValues::portNumber(ui->lineEditPort->text()), ui->lineEditLogin->text(), ui->lineEditPassword->text(),
        ui->lineEditEmail->text());
    emit signalSendTestLetter();
    prompt()->information(tr("Информация"),
        tr("Тестовое письмо было добавлено в очередь на отправку.\r\nБудет отправлено в течение 30 сек."));
}

void DialogSettings::slotPushSelectDBFPath()
{
    const QString path
        = prompt()->chooseFolder(this, QStringLiteral("Выберите папку для DBF файла"), QDir::currentPath());
    if (!path.isEmpty())
        ui->lineEditPathExportDBF->setText(path);
}

void DialogSettings::slotBaseTypeChanged(int index)
{
    ui->groupBoxExternDB->setVisible(index != 0);
}

void DialogSettings::slotTimeEditBreakIntervalChanged(QTime time)
{
    if (!isFilling)
        config().BreakInterval = SettingsValues::breakSeconds(time);
}

void DialogSettings::slotNotificationsActiveChanged(bool checked)
{
    config().isActive = checked;
}

void DialogSettings::slotMinCritTempChanged(bool checked)
{
    config().isMinCriticalTemperature = checked;
}

void DialogSettings::slotMinNonCritTempChanged(bool checked)
{
    config().isMinNonCriticalTemperature = checked;
}

void DialogSettings::slotMaxNonCritTempChanged(bool checked)
{
    config().isMaxNonCriticalTemperature = checked;
}

void DialogSettings::slotMaxCritTempChanged(bool checked)
{
    config().isMaxCriticalTemperature = checked;
}

void DialogSettings::slotMinCritHumidityChanged(bool checked)
{
    config().isMinCriticalHumidity = checked;
}

void DialogSettings::slotMinNonCritHumidityChanged(bool checked)
{
    config().isMinNonCriticalHumidity = checked;
}

void DialogSettings::slotMaxNonCritHumidityChanged(bool checked)
{
    config().isMaxNonCriticalHumidity = checked;
}

void DialogSettings::slotMaxCritHumidityChanged(bool checked)
{
    config().isMaxCriticalHumidity = checked;
}

void DialogSettings::slotBatteryLowChanged(bool checked)
{
    config().isBatteryLow = checked;
}

void DialogSettings::slotLostSensorChanged(bool checked)
{
    config().isSensorLost = checked;
}

void DialogSettings::slotHideStartStateChanged(bool checked)
{
    config().HideStart = checked;
}

void DialogSettings::slotTrayMessagesChanged(bool checked)
{
    config().TrayMessages = checked;
}

void DialogSettings::slotViewVoltageChanged(bool checked)
{
    config().ViewVoltage = checked;
    emit signalMainWindowRefresh();
}

void DialogSettings::slotSpinMaxTableRowsValueChanged(int value)
{
    if (!isFilling)
        config().MaxTableRows = value;
}

void DialogSettings::slotComboDateTimeStyleCurrentIndexChanged(int index)
{
    if (!isFilling && index >= 0)
        config().DateTimeStyle = ui->comboDateTimeStyle->itemData(index).toInt();
}

void DialogSettings::slotSpinDaysSaveValueChange(int value)
{
    if (!isFilling)
        config().DaysSave = value;
}
