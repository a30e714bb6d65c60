#pragma once

#include <QDialog>

// Product name and version.
class DialogAbout : public QDialog
{
    Q_OBJECT
public:
    explicit DialogAbout(QWidget* parent = nullptr);
    ~DialogAbout() override;
};
