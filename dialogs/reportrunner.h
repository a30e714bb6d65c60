#pragma once

#include <QLocale>
#include <QMetaType>
#include <QObject>
#include <QString>
#include <QVector>

#include <atomic>
#include <memory>

#include "app/reportrequest.h"

class QThread;

// What one report run left behind.
struct ReportOutcome {
    struct Failure {
        QString file; // the workbook or folder concerned, as named to the user
        QString reason; // the library's or the database's words
    };
    QVector<Failure> failures;
    bool cancelled = false;
    bool folderFailed = false;
};
Q_DECLARE_METATYPE(ReportOutcome)

// Writes the checked workbooks, in order (rooms, daily, measurement data), into a folder. Meant
// to live in a thread of its own: it reads the database on a connection of its own and reports
// progress and its outcome through signals. Each workbook reaches its name only when it was
// written whole, so a cancelled or failed run never leaves a half-written file there.
class ReportRunner : public QObject
{
    Q_OBJECT
public:
    ReportRunner(const ReportRequest& request, const QString& folder, QObject* parent = nullptr);

    // Units of work `progress` counts up to.
    int steps() const;
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
    void finished(ReportOutcome outcome);

public slots:
    // run(), then finished().
    void start();

private:
    // Progress units of the read behind the room and daily reports.
    static constexpr int kPassSteps = 100;
    // Connections that read the room and daily figures at once.
    static constexpr int kMaxReaders = 4;

    bool writeRoomsAndDaily(ReportOutcome* outcome);
    bool writeMeasureData(std::unique_ptr<class ReportSource>& source, ReportOutcome* outcome);
    bool save(class XlsxDocument& document, ReportOutcome* outcome);
    void step();

    ReportRequest m_request;
    QString m_folder;
    std::atomic<bool> m_cancel { false };
    int m_done = 0;
};
