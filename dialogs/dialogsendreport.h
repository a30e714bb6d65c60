#pragma once

#include <QDialog>
#include <QList>
#include <QSslConfiguration>
#include <QString>

#include <atomic>
#include <memory>

#include "mail/mailaccount.h"

class QProgressDialog;
class QThread;
class Smtp;

namespace Ui
{
class DialogSendReport;
}

// Problem report to the developers: a description, an optional address for the answer and,
// on request, an archive of the data folder, mailed through the built-in relay account. A
// send runs in the background under a window-modal progress window; it ends with the dialog
// closed and its texts cleared, after a warning when it failed.
class DialogSendReport : public QDialog
{
    Q_OBJECT
public:
    explicit DialogSendReport(QWidget* parent = nullptr);
    ~DialogSendReport() override;

    // The relay and the recipient; the built-in ones unless replaced here.
    void setRelay(const MailAccount& account, const QString& recipient);
    void setSslConfiguration(const QSslConfiguration& configuration);

    // The subject for an answer address as typed; line breaks in it become blanks.
    static QString subject(const QString& answerAddress);

public slots:
    void slotSendEmail();
    void slotSendDataChanged(bool checked);
    void slotSmtpStatus(bool success);
    void slotClose();

private:
    enum class Phase { Idle, Archiving, Mailing };

    bool relayConfigured() const;
    void startMail(const QStringList& attachments);
    // Ends a send: the progress window goes, a failure is shown, the texts are cleared and
    // the dialog closes.
    void finish(bool success, const QString& reason);

    Ui::DialogSendReport* ui;
    // The client lives in a thread of its own, where the letter is built, its attachment read
    // and encoded from the file and every byte encrypted: the window and the gateways' replies
    // stay free while a large archive goes out. Every call reaches it queued, in the order made.
    QThread* mailThread;
    Smtp* smtp;
    QProgressDialog* progress;
    MailAccount relay;
    QString recipient;
    bool isSendData = false;
    Phase phase = Phase::Idle;
    // The letter being sent, fixed when the user pressed the button.
    QString letterSubject;
    QString letterBody;
    // Set to stop the archive being built; each build has its own.
    std::shared_ptr<std::atomic_bool> archiveCancel;
    QList<QThread*> archiveThreads;
};
