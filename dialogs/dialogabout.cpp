#include "dialogs/dialogabout.h"

#include <QApplication>
#include <QDesktopWidget>

#include "buildconfig.h"
#include "ui_dialogabout.h"

// The logos live in the program's library; a static library registers its images on demand,
// and this dialog is built before the main window.
static void initLogos()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    Q_UNUSED(done);
}

DialogAbout::DialogAbout(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogAbout)
{
    initLogos();
    ui->setupUi(this);
    ui->label_3->setTextFormat(Qt::PlainText);
    ui->label_3->setText(nameAndVersion());
    connect(ui->pushButton, &QPushButton::clicked, this, &QWidget::close);
    const QRect desktop = QApplication::desktop()->geometry();
    move((desktop.width() - width()) / 2, (desktop.height() - height()) / 2);
    setFixedSize(size());
}

DialogAbout::~DialogAbout()
{
    delete ui;
}

QString DialogAbout::nameAndVersion()
{
    return QStringLiteral("Tarnel - Ostrivel\n") + QString(45, QLatin1Char(' ')) + QLatin1Char('v')
        + QStringLiteral(OSTRIVEL_VERSION);
}
