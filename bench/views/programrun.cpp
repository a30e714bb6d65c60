#include "programrun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTcpServer>

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
    return cpuMs(QStringLiteral("/proc/%1/task/%1/stat").arg(id));
}

qint64 ProgramRun::processCpuMs() const
{
    return cpuMs(QStringLiteral("/proc/%1/stat").arg(process.processId()));
}

qint64 ProgramRun::cpuMs(const QString& statFile) const
{
    QFile stat(statFile);
    if (process.processId() <= 0 || !stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray line = stat.readAll();
    // Fields after the command name, which is in parentheses and may hold blanks.
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const qint64 ticks = fields[11].toLongLong() + fields[12].toLongLong();
    return ticks * 1000 / sysconf(_SC_CLK_TCK);
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
