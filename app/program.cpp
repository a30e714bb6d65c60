#include "app/program.h"

#include <QApplication>
#include <QNetworkProxyFactory>
#include <QSharedMemory>

#include "app/mainclass.h"
#include "app/prompt.h"

namespace {

const char* const kInstanceKey = "29da3771-651b-405b-abd6-4e601f7bda3f";

// Takes the single-instance segment. A segment left behind by a copy that was killed is
// attached and detached first: the last detach removes it, while a segment of a copy that
// still runs stays. Only "already exists" means another copy is running.
bool takeInstanceSegment(QSharedMemory& guard)
{
    if (guard.attach())
        guard.detach();
    if (guard.create(512, QSharedMemory::ReadWrite))
        return true;
    if (guard.error() == QSharedMemory::AlreadyExists)
        return false;
    qWarning("Single-instance guard unavailable: %s", qPrintable(guard.errorString()));
    return true;
}

}  // namespace

int runProgram(int argc, char** argv)
{
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    QSharedMemory guard(QString::fromLatin1(kInstanceKey));
    if (!takeInstanceSegment(guard)) {
        QApplication app(argc, argv);
        prompt()->critical(QString(), QApplication::translate("main", "Приложение уже запущено"));
        return 0;
    }

    int code = 0;
    {
        MainClass mainClass(argc, argv);
        code = mainClass.exitCode;
    }
    return code;
}
