#pragma once

#include <QAtomicInt>
#include <QByteArray>
#include <QtGlobal>

// Counts warnings and errors logged anywhere in the test process, so that a test can fail on
// a message nobody expected.
class WarningGuard
{
public:
    static void install() { previous = qInstallMessageHandler(&handle); }
    static int take() { return count.fetchAndStoreRelaxed(0); }

private:
    static void handle(QtMsgType type, const QMessageLogContext& context, const QString& text)
    {
        if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg)
            count.ref();
        if (previous)
            previous(type, context, text);
    }
    static inline QtMessageHandler previous = nullptr;
    static inline QAtomicInt count;
};
