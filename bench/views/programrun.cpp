#include "programrun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTcpServer>

#include <algorithm>
#include <cstdio>
#include <sched.h>
#include <unistd.h>

ProgramRun::ProgramRun()
{
    QDir(dir.path()).mkdir(QStringLiteral("data"));
    process.setWorkingDirectory(dir.path());
    process.setProcessChannelMode(QProcess::MergedChannels);
}

ProgramRun::~ProgramRun()
{
    stop();
}

bool ProgramRun::writeConfig(const QString& portName, quint16 networkPort)
{
    QSettings ini(path(QStringLiteral("data/config.ini")), QSettings::IniFormat);
    ini.setValue(QStringLiteral("Modem/PortName"), portName);
    ini.setValue(QStringLiteral("Modem/NetworkPort"), networkPort);
    ini.setValue(QStringLiteral("Other/BreakInterval"), 120);
    ini.setValue(QStringLiteral("Other/MaxTableRows"), 500);
    ini.setValue(QStringLiteral("Other/DaysSave"), 400);
    ini.setValue(QStringLiteral("DB/DBType"), 0);
    ini.sync();
    return ini.status() == QSettings::NoError;
}

bool ProgramRun::writeView(int tabIndex, int timeFilterLast, const QString& refreshAction)
{
    QSettings view(path(QStringLiteral("data/view.conf")), QSettings::IniFormat);
    view.setValue(QStringLiteral("MainWindow/TabIndex"), tabIndex);
    view.setValue(QStringLiteral("MainWindow/TimeFilterType"), 0);
    view.setValue(QStringLiteral("MainWindow/TimeFilterLast"), timeFilterLast);
    view.setValue(QStringLiteral("MainWindow/RefreshIndex"), refreshAction);
    view.sync();
    return view.status() == QSettings::NoError;
}

QString ProgramRun::cores;

bool ProgramRun::pinTo(const QString& list)
{
    cores = list;
    if (list.isEmpty())
        return true;
    cpu_set_t own;
    if (sched_getaffinity(0, sizeof own, &own) != 0)
        return false;
    for (const QString& part : list.split(QLatin1Char(','))) {
        const QStringList range = part.split(QLatin1Char('-'));
        bool ok = false;
        const int first = range.first().toInt(&ok);
        const int last = ok && range.size() == 2 ? range.last().toInt(&ok) : first;
        if (!ok || range.size() > 2 || first < 0 || last < first || last >= CPU_SETSIZE)
            return false;
        for (int cpu = first; cpu <= last; ++cpu)
            CPU_CLR(cpu, &own);
    }
    if (CPU_COUNT(&own) == 0) {
        std::fprintf(stderr, "no core is left for the probes beside %s; they share them\n", qPrintable(list));
        return true;
    }
    // Every thread this process has now; those started later inherit it.
    bool all = true;
    for (const QString& task : QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot))
        all = sched_setaffinity(pid_t(task.toInt()), sizeof own, &own) == 0 && all;
    return all;
}

bool ProgramRun::start(const QString& program, const QStringList& arguments)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    // The single-instance guard's key file lives in the temporary folder: a private one lets
    // the benchmark run beside another copy of the program.
    env.insert(QStringLiteral("TMPDIR"), dir.path());
    process.setProcessEnvironment(env);
    if (cores.isEmpty())
        process.start(program, arguments);
    else
        process.start(QStringLiteral("taskset"), QStringList { QStringLiteral("-c"), cores, program } + arguments);
    return process.waitForStarted(10000);
}

qint64 ProgramRun::mainThreadCpuMs() const
{
    const qint64 id = process.processId();
    return id > 0 ? runNs(QStringLiteral("/proc/%1/task/%1/schedstat").arg(id)) / 1000000 : -1;
}

// The sum over the threads running now: a stretch under a steady stream starts and ends none.
qint64 ProgramRun::processCpuMs() const
{
    const qint64 id = process.processId();
    const QStringList threads = QDir(QStringLiteral("/proc/%1/task").arg(id)).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    if (id <= 0 || threads.isEmpty())
        return -1;
    qint64 ns = 0;
    for (const QString& thread : threads)
        ns += std::max<qint64>(0, runNs(QStringLiteral("/proc/%1/task/%2/schedstat").arg(id).arg(thread)));
    return ns / 1000000;
}

qint64 ProgramRun::minorFaults() const
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(process.processId()));
    if (process.processId() <= 0 || !stat.open(QIODevice::ReadOnly))
        return -1;
    // The name in parentheses may hold spaces; the fields after it are numbers: minflt is the
    // eighth of them.
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return fields.size() > 7 ? fields[7].toLongLong() : -1;
}

// Time on a core in ns, as the scheduler counts it: /proc's user and system ticks are 10 ms
// apiece, a tenth of what a quiet program uses in a 10 s stretch.
qint64 ProgramRun::runNs(const QString& schedstatFile)
{
    QFile stat(schedstatFile);
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const qint64 ns = stat.readAll().split(' ').value(0).toLongLong(&ok);
    return ok ? ns : -1;
}

bool ProgramRun::waitForOutput(const QByteArray& text, int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!seen.contains(text) && t.elapsed() < timeoutMs && process.state() == QProcess::Running) {
        process.waitForReadyRead(100);
        seen += process.readAll();
    }
    return seen.contains(text);
}

qint64 ProgramRun::fileSize(const QString& relative) const
{
    return QFileInfo(path(relative)).size();
}

void ProgramRun::stop()
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.kill();
    process.waitForFinished(10000);
}

quint16 ProgramRun::freePort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}
