#include "hub/closegate.h"

#include <QApplication>
#include <QDialog>
#include <QPointer>
#include <QWidget>

namespace
{

thread_local int deliveries = 0;
// Retries come this often while the loops unwind.
constexpr int kRetryMs = 10;

} // namespace

CloseGate::Delivery::Delivery()
{
    ++deliveries;
}

CloseGate::Delivery::~Delivery()
{
    --deliveries;
}

int CloseGate::depth()
{
    return deliveries;
}

CloseGate::CloseGate(QObject* parent)
    : QObject(parent)
{
    m_retry.setInterval(kRetryMs);
    connect(&m_retry, &QTimer::timeout, this, &CloseGate::retry);
}

void CloseGate::request()
{
    if (m_waiting)
        return;
    if (!m_armed || clear()) {
        emit passed();
        return;
    }
    m_waiting = true;
    m_attempts = 0;
    endModalLoops();
    m_retry.start();
}

// The request is answered by an event delivery of its own (the close signal's pipe, a queued
// call, a timer): at depth 1 it runs straight from the main loop, with no caller of ours below.
bool CloseGate::clear() const
{
    return depth() <= 1 && !QApplication::activePopupWidget() && !QApplication::activeModalWidget();
}

void CloseGate::retry()
{
    ++m_attempts;
    const bool patienceOut = m_attempts * kRetryMs >= patienceMs;
    if (!clear() && !(patienceOut && depth() <= 1)) {
        endModalLoops();
        return;
    }
    m_retry.stop();
    m_waiting = false;
    emit passed();
}

void CloseGate::endModalLoops()
{
    while (QWidget* popup = QApplication::activePopupWidget()) {
        if (!popup->close())
            break;
    }
    // Closing one dialog may delete or open others.
    QVector<QPointer<QDialog>> dialogs;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* dialog = qobject_cast<QDialog*>(widget))
            dialogs.append(dialog);
    }
    for (const QPointer<QDialog>& dialog : qAsConst(dialogs)) {
        if (!dialog || !dialog->isVisible())
            continue;
        // close() goes through the dialog's own handling (a message box answers with its escape
        // button, a progress dialog reports its cancel); reject() ends what refuses.
        dialog->close();
        if (dialog && dialog->isVisible())
            dialog->reject();
    }
}
