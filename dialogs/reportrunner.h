#pragma once

#include <QLocale>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "core/reportrequest.h"
#include "storage/xlsxdocument.h"

class QThread;

// What one report run left behind.
struct ReportOutcome {
    struct Failure {
        QString file; // the workbook or folder concerned, as named to the user
        QString reason; // the library's or the database's words
    };
    QVector<Failure> failures;
    // The workbooks put in place, in order, as named to the user. A run replaces its workbooks
    // together: all of them, or none when one failed or the run was cancelled.
    QStringList written;
    bool cancelled = false;
    bool folderFailed = false;
};
Q_DECLARE_METATYPE(ReportOutcome)

// Writes the checked workbooks, in order (rooms, daily, measurement data), into a folder. Meant
// to live in a thread of its own: it reads the database on a connection of its own and reports
// progress and its outcome through signals. Every workbook is first written under a temporary
// name; only when all of them were written are they put in place, together, so a cancelled or
// failed run leaves the folder's workbooks as they were.
class ReportRunner : public QObject
{
    Q_OBJECT
public:
    ReportRunner(const ReportRequest& request, const QString& folder, QObject* parent = nullptr);

    // Units of work `progress` counts up to: a scale of the run's reading and writing, weighed
    // by the rows each part handles.
    static constexpr int steps() { return kScale; }
    // Runs in the calling thread.
    ReportOutcome run();
    // From any thread: the run stops at its next row or query.
    void cancel() { m_cancel = true; }
    // When the program closes: cancels the run in `thread` and waits at most `waitMs` for it.
    // A run still writing its workbook by then (the XLSX library cannot stop halfway) is left
    // to its thread, which nobody waits for any more; false then, and the thread and the runner
    // must be left alone.
    static bool stopForClose(QThread* thread, ReportRunner* runner, int waitMs = 500);
    // Runs left so. The process they run in ends without tearing down what they may still use.
    static int abandonedRuns();

    static QString roomsFile() { return QStringLiteral("reportRooms.xlsx"); }
    static QString dailyFile() { return QStringLiteral("reportSensors.xlsx"); }
    static QString measureDataFile() { return QStringLiteral("reportSensorsMeasureData.xlsx"); }

    // The system's notation for the measurement rows and thresholds.
    QLocale locale = QLocale::system();
    // Last row a measurement sheet may use.
    int rowLimit = 1048576;

signals:
    void progress(int done);
    // Right before a workbook is written out (the library's last and longest step for a large
    // one, which no cancel can interrupt).
    void writingWorkbook(QString file);
    void finished(ReportOutcome outcome);

public slots:
    // run(), then finished().
    void start();

private:
    static constexpr int kScale = 1000;
    // Connections that read the room and daily figures at once.
    static constexpr int kMaxReaders = 4;

    ReportOutcome writeAll();
    bool writeRoomsAndDaily(class ReportSource& source, ReportOutcome* outcome);
    // The room and daily reports' read, step by step (see the .cpp).
    struct Pass;
    struct Share;
    Pass planPass() const;
    void countPass(class ReportSource& source, Pass& pass);
    bool readPass(Pass& pass);
    void readSlice(const Pass& pass, int reader, Share& mine, qint64* shown);
    void joinShares(std::vector<Share>& shares, Pass& pass) const;
    bool stageSmall(
        const QString& file, const Pass& pass, const std::function<XlsxSheet()>& sheet, ReportOutcome* outcome);
    bool writeMeasureData(std::unique_ptr<class ReportSource>& source, ReportOutcome* outcome);
    // Writes the workbook under its temporary name, `units` of the run's work; false ends the
    // run.
    bool stage(class XlsxDocument& document, ReportOutcome* outcome, qint64 units);
    // Puts every staged workbook in place when nothing failed; removes what is left.
    void placeStaged(ReportOutcome* outcome);
    void setWork(qint64 units);
    void advance(qint64 units);

    ReportRequest m_request;
    QString m_folder;
    std::atomic<bool> m_cancel { false };
    QVector<XlsxDocument::Placement> m_staged;
    // Work units: rows read and written, weighed (see the .cpp); `m_work` is the whole run.
    qint64 m_work = 1;
    qint64 m_done = 0;
    int m_shown = -1;
    // The measurement-data rows to write, counted before anything is read.
    qint64 m_dataRows = 0;
};
