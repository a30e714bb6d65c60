#pragma once

#include <QDialog>

// Settings of the program: thresholds, colours, database, export, e-mail.
class DialogSettings : public QDialog
{
    Q_OBJECT
public:
    explicit DialogSettings(QWidget* parent = nullptr);
    ~DialogSettings() override;

signals:
    void signalMainWindowRefresh();
    void signalSendTestLetter();

public slots:
    void slotPushAcceptClicked();
    void slotPushNotificationEmailSettings();
};
