#pragma once

#include <QDialog>

// Choice and generation of the XLSX reports.
class DialogReport : public QDialog
{
    Q_OBJECT
public:
    explicit DialogReport(QWidget* parent = nullptr);
    ~DialogReport() override;
};
