#pragma once

#include <QColor>
#include <QDialog>
#include <QTime>

#include <array>

#include "dialogs/settingsvalues.h"

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QPushButton;

namespace Ui
{
class DialogSettings;
}

// Settings of the program: ports, thresholds and their colours, display and storage options,
// database, DBF export and e-mail notifications. Some widgets write their value at once, the
// rest waits for one of the three apply buttons; closing the window only hides it.
class DialogSettings : public QDialog
{
    Q_OBJECT
public:
    explicit DialogSettings(QWidget* parent = nullptr);
    ~DialogSettings() override;

    // What the widgets hold now, with the colours the buttons show.
    SettingsValues values() const;

    Ui::DialogSettings* ui;

signals:
    void signalMainWindowRefresh();
    void signalSendTestLetter();
    // The mail settings typed for the test letter; the program passes them on as the
    // application object's signalSetNotificationsSettings.
    void signalSetNotificationsSettings(QString server, int port, QString login, QString password, QString address);

public slots:
    void slotPushAcceptClicked();
    void slotPushResetClicked();
    void slotPushDefaultClicked();
    void slotResetNotifications();
    void slotChangeGraphColor(int index);
    void slotPushNotificationEmailSettings();
    void slotPushSelectDBFPath();
    void slotBaseTypeChanged(int index);
    void slotTimeEditBreakIntervalChanged(QTime time);

    void slotNotificationsActiveChanged(bool checked);
    void slotMinCritTempChanged(bool checked);
    void slotMinNonCritTempChanged(bool checked);
    void slotMaxNonCritTempChanged(bool checked);
    void slotMaxCritTempChanged(bool checked);
    void slotMinCritHumidityChanged(bool checked);
    void slotMinNonCritHumidityChanged(bool checked);
    void slotMaxNonCritHumidityChanged(bool checked);
    void slotMaxCritHumidityChanged(bool checked);
    void slotBatteryLowChanged(bool checked);
    void slotLostSensorChanged(bool checked);
    void slotHideStartStateChanged(bool checked);
    void slotTrayMessagesChanged(bool checked);
    void slotViewVoltageChanged(bool checked);
    void slotSpinMaxTableRowsValueChanged(int value);
    void slotComboDateTimeStyleCurrentIndexChanged(int index);
    void slotSpinDaysSaveValueChange(int value);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void connectWidgets();
    QPushButton* colorButton(int index) const;
    // The threshold spins and the event boxes, in the order of SettingsValues' arrays.
    std::array<QDoubleSpinBox*, SettingsValues::kThresholds> thresholdSpins() const;
    std::array<QCheckBox*, SettingsValues::kEvents> eventBoxes() const;
    void setColor(int index, const QColor& color);
    // Puts the values on screen. While filling, the widgets that write at once keep quiet.
    void fill(const SettingsValues& v);
    void fillMain(const SettingsValues& v);
    void fillOther(const SettingsValues& v);
    void fillNotifications(const SettingsValues& v);
    // The value a combo shows: one of its own items, or an extra item for a stored value it
    // does not offer, so that the value is kept rather than lost.
    static void setComboValue(QComboBox* combo, int baseCount, int value, const QString& extraText);
    static int comboValue(const QComboBox* combo);

    // The colours the buttons show; apply stores these.
    QColor colors[SettingsValues::kColors];
    bool isFilling = false;
};
