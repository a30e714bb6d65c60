#pragma once

#include <QWidget>

namespace Ui {
class InitInfoWindow;
}

// Small tool window that shows the current start-up step.
class InitInfoWindow : public QWidget
{
    Q_OBJECT
public:
    explicit InitInfoWindow(QWidget* parent = nullptr);
    ~InitInfoWindow() override;

    void setText(QString text);
    QString text() const;

signals:
    void signalWindowClose();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    Ui::InitInfoWindow* ui;
};
