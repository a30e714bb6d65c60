#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

// The real program in a working folder of its own, started on a prepared "data/" folder with
// the offscreen platform, so a benchmark measures what a user gets.
class ProgramRun
{
public:
    ProgramRun();
    ~ProgramRun();

    bool isValid() const { return dir.isValid(); }
    QString path(const QString& relative) const { return dir.filePath(relative); }

    // "data/config.ini" from the program's defaults with the modem on `portName` and the
    // gateway server on `networkPort`; "data/view.conf" with the given MainWindow keys.
    bool writeConfig(const QString& portName, quint16 networkPort);
    bool writeView(int tabIndex, int timeFilterLast, const QString& refreshAction);

    // Started on `cores` when set (taskset -c, which the program replaces in the same process).
    bool start(const QString& program, const QStringList& arguments = QStringList());
    static QString cores;
    // Sets `list` ("6,7", "4-7") as the cores of the measured processes, and moves this process
    // (its probes and simulated peers) off them, so that neither the program nor its anchor
    // shares a core with what measures it. False for a list this machine does not have.
    static bool pinTo(const QString& list);
    qint64 pid() const { return process.processId(); }
    // CPU time (user + system, ms) the program's main thread, which runs the GUI and answers
    // the sensors, has used so far; -1 when it cannot be read.
    qint64 mainThreadCpuMs() const;
    // The same for all its threads.
    qint64 processCpuMs() const;
    // Page faults of the whole process that needed no disk read: each is a page zeroed or
    // mapped anew, and on a virtual machine that hands free pages back to its host, a trip to it.
    qint64 minorFaults() const;
    qint64 fileSize(const QString& relative) const;
    // Waits until the process printed `text` (an anchor's "ready").
    bool waitForOutput(const QByteArray& text, int timeoutMs);
    QString output() { return QString::fromLocal8Bit(process.readAll()); }
    void stop();

    static quint16 freePort();

private:
    static qint64 runNs(const QString& schedstatFile);

    QTemporaryDir dir;
    QProcess process;
    QByteArray seen;
};
