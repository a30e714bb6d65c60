#include "ui/initinfowindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDesktopWidget>

#include "ui_initinfowindow.h"

InitInfoWindow::InitInfoWindow(QWidget* parent)
    : QWidget(parent)
    , ui(new Ui::InitInfoWindow)
{
    ui->setupUi(this);
    const QRect desktop = QApplication::desktop()->geometry();
    move((desktop.width() - width()) / 2, (desktop.height() - height()) / 2);
    setWindowFlags(Qt::Tool);
    setFixedSize(size());
}

InitInfoWindow::~InitInfoWindow()
{
    delete ui;
}

void InitInfoWindow::setText(QString text)
{
    ui->labelInfo->setText(text);
}

QString InitInfoWindow::text() const
{
    return ui->labelInfo->text();
}

void InitInfoWindow::closeEvent(QCloseEvent* event)
{
    emit signalWindowClose();
    event->accept();
}
