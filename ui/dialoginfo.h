#pragma once

#include <QDialog>

// System information: modem, network, database, devices and connected gateways.
class DialogInfo : public QDialog
{
    Q_OBJECT
public:
    explicit DialogInfo(QWidget* parent = nullptr);
    ~DialogInfo() override;
};
