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
    // The form's size is a minimum: a step whose text needs more room in the platform's font
    // widens the window about its centre.
    const QSize needed = size().expandedTo(minimumSizeHint());
    if (needed != size()) {
        const QPoint centre = geometry().center();
        setFixedSize(needed);
        move(centre - QPoint(needed.width() / 2, needed.height() / 2));
    }
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
