#include "dialogs/reportrunner.h"

#include <QDir>

#include "app/dailyreport.h"
#include "app/measuredatareport.h"
#include "app/roomreport.h"
#include "storage/reportsource.h"
#include "storage/xlsxdocument.h"

ReportRunner::ReportRunner(const ReportRequest& request, const QString& folder, QObject* parent)
    : QObject(parent)
    , m_request(request)
    , m_folder(folder)
{
    qRegisterMetaType<ReportOutcome>("ReportOutcome");
}

int ReportRunner::steps() const
{
    int n = 0;
    if (m_request.rooms)
        n += RoomReport::sensorsToFigure(m_request).size() + 1;
    const int chosen = DailyReport::chosenSensors(m_request).size();
    if (m_request.daily)
        n += chosen + 1;
    if (m_request.measureData)
        n += chosen + 1;
    return n;
}

void ReportRunner::step()
{
    emit progress(++m_done);
}

void ReportRunner::start()
{
    emit finished(run());
}

ReportOutcome ReportRunner::run()
{
    ReportOutcome outcome;
    m_done = 0;
    if (!m_request.rooms && !m_request.daily && !m_request.measureData)
        return outcome;
    if (!QDir().mkpath(m_folder)) {
        outcome.folderFailed = true;
        outcome.failures.append({ m_folder, QString() });
        return outcome;
    }
    ReportSource source;
    QString error;
    if (!source.open(&error)) {
        outcome.failures.append({ QString(), error });
        return outcome;
    }
    // Each report goes on after another one failed; a cancel ends the run.
    if (m_request.rooms && !writeRooms(source, &outcome))
        return outcome;
    if (m_request.daily && !writeDaily(source, &outcome))
        return outcome;
    if (m_request.measureData)
        writeMeasureData(source, &outcome);
    return outcome;
}

bool ReportRunner::save(XlsxDocument& document, ReportOutcome* outcome)
{
    if (m_cancel) {
        outcome->cancelled = true;
        return false;
    }
    QString error;
    if (!document.save(&error))
        outcome->failures.append({ document.fileName(), error });
    step();
    return true;
}

bool ReportRunner::writeRooms(ReportSource& source, ReportOutcome* outcome)
{
    XlsxDocument document(QDir(m_folder).filePath(roomsFile()));
    QVector<RoomSensorFigures> figures(m_request.sensors.size(), RoomSensorFigures(m_request.globalThresholds));
    for (int index : RoomReport::sensorsToFigure(m_request)) {
        RoomSensorFigures& f = figures[index];
        QString error;
        const bool read = source.measurements(
            m_request.sensors[index].EUI64, m_request.startBound(), m_request.endBound(),
            [&](qint64 time, const QVariant& t, const QVariant& h, const QVariant& b) {
                f.add(time, t, h, b);
                return !m_cancel;
            },
            &error);
        if (m_cancel) {
            outcome->cancelled = true;
            return false;
        }
        if (!read) {
            outcome->failures.append({ document.fileName(), error });
            return true;
        }
        step();
    }
    document.addSheet(RoomReport::sheet(m_request, figures));
    return save(document, outcome);
}

bool ReportRunner::writeDaily(ReportSource& source, ReportOutcome* outcome)
{
    XlsxDocument document(QDir(m_folder).filePath(dailyFile()));
    const QVector<DayWindow> windows = DailyReport::windows(m_request);
    QVector<QVector<DayAverage>> averages;
    for (int index : DailyReport::chosenSensors(m_request)) {
        QVector<DayAverage> days(windows.size());
        for (int j = 0; j < windows.size(); ++j) {
            if (m_cancel) {
                outcome->cancelled = true;
                return false;
            }
            QVariant t, h;
            QString error;
            if (!source.averages(m_request.sensors[index].EUI64, windows[j].low, windows[j].high, &t, &h, &error)) {
                outcome->failures.append({ document.fileName(), error });
                return true;
            }
            days[j] = { !t.isNull(), !h.isNull(), t.toDouble(), h.toDouble() };
        }
        averages << days;
        step();
    }
    document.addSheet(DailyReport::sheet(m_request, averages));
    return save(document, outcome);
}

bool ReportRunner::writeMeasureData(ReportSource& source, ReportOutcome* outcome)
{
    XlsxDocument document(QDir(m_folder).filePath(measureDataFile()), XlsxDocument::Streaming);
    const XlsxStyle style = MeasureDataReport::rowStyle();
    for (int index : DailyReport::chosenSensors(m_request)) {
        document.addSheet(MeasureDataReport::head(m_request, index, locale));
        int row = MeasureDataReport::kFirstDataRow;
        // The sheet's last row takes the last measurement only when no other follows it.
        QVector<QString> held;
        bool full = false;
        QString error;
        const bool read = source.measurements(
            m_request.sensors[index].EUI64, m_request.startBound(), m_request.endBound(),
            [&](qint64 time, const QVariant& t, const QVariant& h, const QVariant&) {
                if (!held.isEmpty()) {
                    full = true;
                    return false;
                }
                if (row >= rowLimit)
                    held = MeasureDataReport::row(time, t, h, locale);
                else
                    document.appendRow(row++, MeasureDataReport::row(time, t, h, locale), style);
                return !m_cancel;
            },
            &error);
        if (m_cancel) {
            outcome->cancelled = true;
            return false;
        }
        if (!read) {
            outcome->failures.append({ document.fileName(), error });
            return true;
        }
        if (full)
            document.appendRow(row, { MeasureDataReport::overflowNote() }, XlsxStyle());
        else if (!held.isEmpty())
            document.appendRow(row, held, style);
        step();
    }
    return save(document, outcome);
}
