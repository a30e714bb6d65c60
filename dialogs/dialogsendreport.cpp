#include "dialogs/dialogsendreport.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QDir>
#include <QProgressDialog>
#include <QThread>

#include "dialogs/prompt.h"
#include "dialogs/reportarchive.h"
#include "mail/smtp.h"
#include "ui_dialogsendreport.h"

namespace
{

const QString kArchiveName = QStringLiteral("sent_data.zip");
const QString kDataFolder = QStringLiteral("data");
// The SQLite database of the data folder, which the writer may be changing during the build.
const QString kDatabaseName = QStringLiteral("measurement.db3");
// The longest wait for the connection and for each reply of the relay.
constexpr int kSmtpTimeoutMs = 30000;

} // namespace

DialogSendReport::DialogSendReport(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogSendReport)
    , relay(MailAccount::builtIn())
    , recipient(MailAccount::supportAddress())
{
    ui->setupUi(this);
    mailThread = new QThread(this);
    smtp = new Smtp(relay.login, relay.password, relay.host, relay.port, kSmtpTimeoutMs);
    smtp->moveToThread(mailThread);
    // The client goes with its thread, in that thread.
    connect(mailThread, &QThread::finished, smtp, &QObject::deleteLater);
    mailThread->start();
    progress = new QProgressDialog(tr("Идет отправка письма.\r\nПожалуйста, подождите..."), tr("Отмена"), 0, 0, this,
        Qt::Window | Qt::WindowTitleHint | Qt::CustomizeWindowHint);
    progress->setWindowModality(Qt::WindowModal);
    // The progress window would otherwise show itself a few seconds after its construction.
    progress->setValue(progress->minimum());
    progress->reset();

    connect(ui->pushCancel, &QPushButton::clicked, this, &QWidget::close);
    connect(ui->pushSend, &QPushButton::clicked, this, &DialogSendReport::slotSendEmail);
    connect(ui->isSendData, &QCheckBox::clicked, this, &DialogSendReport::slotSendDataChanged);
    connect(smtp, &Smtp::done, this, &DialogSendReport::slotSmtpStatus, Qt::QueuedConnection);
    connect(progress, &QProgressDialog::canceled, this, &DialogSendReport::slotClose);
    // Escape on the progress window gives up the send as well.
    connect(progress, &QDialog::rejected, this, &DialogSendReport::slotClose);

    const QRect desktop = QApplication::desktop()->geometry();
    move((desktop.width() - width()) / 2, (desktop.height() - height()) / 2);
    setFixedSize(size());
}

DialogSendReport::~DialogSendReport()
{
    if (archiveCancel)
        *archiveCancel = true;
    // A build stops at its next piece; it must not outlive the dialog's memory.
    for (QThread* thread : archiveThreads) {
        thread->wait();
        delete thread;
    }
    // A letter under way is dropped with its client.
    mailThread->quit();
    mailThread->wait();
    delete ui;
}

void DialogSendReport::setRelay(const MailAccount& account, const QString& recipient)
{
    relay = account;
    this->recipient = recipient;
    Smtp* client = smtp;
    QMetaObject::invokeMethod(
        smtp, [client, account] { client->setParams(account.login, account.password, account.host, account.port); });
}

void DialogSendReport::setSslConfiguration(const QSslConfiguration& configuration)
{
    Smtp* client = smtp;
    QMetaObject::invokeMethod(smtp, [client, configuration] { client->setSslConfiguration(configuration); });
}

QString DialogSendReport::subject(const QString& answerAddress)
{
    QString from = answerAddress;
    // A line break would end the header line and start a header of the sender's choosing.
    for (QChar c : { QChar('\r'), QChar('\n'), QChar(QChar::LineSeparator), QChar(QChar::ParagraphSeparator) })
        from.replace(c, QLatin1Char(' '));
    QString text = tr("Проблемы с Ravok");
    if (!from.isEmpty())
        text += tr(" от ") + from;
    return text;
}

bool DialogSendReport::relayConfigured() const
{
    return !relay.host.isEmpty() && !recipient.isEmpty();
}

void DialogSendReport::slotSendEmail()
{
    if (phase != Phase::Idle)
        return;
    if (!relayConfigured()) {
        prompt()->warning(tr("Отправка E-mail"),
            tr("Отправка сообщений разработчику не настроена в этой сборке программы: "
               "не задан почтовый сервер для писем."));
        return;
    }
    letterSubject = subject(ui->msgFrom->toPlainText());
    letterBody = ui->msgMessage->toPlainText();
    progress->show();
    if (!isSendData) {
        startMail({});
        return;
    }

    // Reading the whole data folder takes as long as the folder is large; the window stays
    // responsive while a thread of its own writes the archive.
    phase = Phase::Archiving;
    auto cancel = std::make_shared<std::atomic_bool>(false);
    archiveCancel = cancel;
    auto outcome = std::make_shared<ReportArchive::Outcome>();
    const QString folder = QDir::current().filePath(kDataFolder);
    const QString target = QDir::current().filePath(kArchiveName);
    QThread* thread = QThread::create([folder, target, cancel, outcome] {
        *outcome = ReportArchive::write(folder, target, *cancel, { kDatabaseName });
    });
    archiveThreads.append(thread);
    connect(thread, &QThread::finished, this, [this, thread, cancel, outcome, target] {
        archiveThreads.removeOne(thread);
        thread->deleteLater();
        // A build that was cancelled belongs to a send that has already ended.
        if (*cancel || phase != Phase::Archiving)
            return;
        archiveCancel.reset();
        if (outcome->ok)
            startMail({ target });
        else
            finish(false, tr("Не удалось создать архив данных: ") + outcome->error);
    });
    thread->start();
}

void DialogSendReport::startMail(const QStringList& attachments)
{
    phase = Phase::Mailing;
    // The client is idle here: every earlier letter has ended with done() or been closed
    // through cloleConection(), which reached it before this call. A letter it refuses ends
    // with done(false) as well.
    Smtp* client = smtp;
    QMetaObject::invokeMethod(
        smtp, [client, from = relay.login, to = recipient, subject = letterSubject, body = letterBody, attachments] {
            client->sendMail(from, to, subject, body, attachments);
        });
}

void DialogSendReport::slotSendDataChanged(bool checked)
{
    isSendData = checked;
}

void DialogSendReport::slotSmtpStatus(bool success)
{
    // A result that arrives after the send ended (cancelled, or refused at its start) is old.
    if (phase != Phase::Mailing)
        return;
    if (!success)
        emit smtp->cloleConection();
    finish(success, smtp->lastError());
}

void DialogSendReport::slotClose()
{
    if (phase == Phase::Idle)
        return;
    if (archiveCancel) {
        *archiveCancel = true;
        archiveCancel.reset();
    }
    emit smtp->cloleConection();
    finish(true, QString());
}

void DialogSendReport::finish(bool success, const QString& reason)
{
    phase = Phase::Idle;
    // Hidden rather than closed: closing a progress window reports a cancel.
    progress->reset();
    progress->hide();
    if (!success)
        prompt()->warning(tr("Отправка E-mail"), tr("Неудалось отправить сообщение:\n\n") + reason);
    ui->msgFrom->clear();
    ui->msgMessage->clear();
    close();
}
