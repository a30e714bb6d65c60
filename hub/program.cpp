#include "hub/program.h"

#include <QApplication>
#include <QNetworkProxyFactory>
#include <QSharedMemory>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <cstdlib>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "hub/mainclass.h"
#include "app/processlocale.h"
#include "dialogs/prompt.h"
#include "dialogs/reportrunner.h"
#include "storage/databasewriter.h"

namespace
{

const char* const kInstanceKey = "29da3771-651b-405b-abd6-4e601f7bda3f";

// Takes the single-instance segment. A segment left behind by a copy that was killed keeps
// its key (and a new key file can land on the key of another one); attaching and detaching
// such a segment removes it, because the last detach deletes a segment, while the segment of
// a copy that still runs stays. Only "already exists" after that means another copy runs.
//
// A copy killed a moment ago may still hold its segment while the system tears the process
// down (its threads finishing what they were doing in the kernel), so the attempts are spread
// over about a second before another copy is taken to be running.
bool takeInstanceSegment(QSharedMemory& guard)
{
    for (int attempt = 0; attempt < 8; ++attempt) {
        if (guard.create(512, QSharedMemory::ReadWrite))
            return true;
        if (guard.error() != QSharedMemory::AlreadyExists) {
            qWarning("Single-instance guard unavailable: %s", qPrintable(guard.errorString()));
            return true;
        }
        if (guard.attach())
            guard.detach();
        if (attempt >= 3)
            QThread::msleep(250);
    }
    return false;
}

// Every load of a table or a graph frees what it read, and the database frees its page cache
// whenever another connection has written. With glibc's defaults, a thread's heap returns such
// memory to the system as soon as 128 KiB lie free at its top, and the next load takes the same
// pages back, each one faulted in and zeroed again: a hundred faults a second for the summary
// tab's loads alone while sensors report. Up to 16 MiB free stay with a heap now. Blocks are
// mapped apart from the heaps from 32 MiB, the size glibc's own adjustment ends at.
void keepFreedMemory()
{
#ifdef __GLIBC__
    mallopt(M_MMAP_THRESHOLD, 32 * 1024 * 1024);
    mallopt(M_TRIM_THRESHOLD, 16 * 1024 * 1024);
#endif
}

// A write past a file-size limit (ulimit -f) would end the program with SIGXFSZ, in the middle
// of whatever it was writing; ignored, the write fails as on a full disk, which every writer of
// the program reports and survives.
void failWritesPastSizeLimit()
{
#ifdef SIGXFSZ
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

} // namespace

int runProgram(int argc, char** argv)
{
    keepFreedMemory();
    failWritesPastSizeLimit();
    QNetworkProxyFactory::setUseSystemConfiguration(true);

    QSharedMemory guard(QString::fromLatin1(kInstanceKey));
    if (!takeInstanceSegment(guard)) {
        QApplication app(argc, argv);
        ProcessLocale::apply(app);
        prompt()->critical(QString(), QApplication::translate("main", "Приложение уже запущено"));
        return 0;
    }

    int code = 0;
    {
        MainClass mainClass(argc, argv);
        code = mainClass.exitCode;
    }
    // A report still writing its workbook, or a database write stuck in the driver, was left
    // running at the close. Everything else is saved and closed now; the process ends here
    // rather than tear down what that thread uses.
    if (ReportRunner::abandonedRuns() > 0 || DatabaseWriter::abandonedThreads() > 0) {
        guard.detach();
        std::fflush(stdout);
        std::_Exit(code);
    }
    return code;
}
