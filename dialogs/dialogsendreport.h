#pragma once

#include <QDialog>

// Problem report sent to the developers with the data folder attached.
class DialogSendReport : public QDialog
{
    Q_OBJECT
public:
    explicit DialogSendReport(QWidget* parent = nullptr);
    ~DialogSendReport() override;
};
