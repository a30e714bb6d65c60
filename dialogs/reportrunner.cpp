#include "dialogs/reportrunner.h"

#include <QDir>
#include <QThread>

#include <functional>
#include <limits>
#include <thread>
#include <vector>

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
    if (m_request.rooms || m_request.daily)
        n += kPassSteps + int(m_request.rooms) + int(m_request.daily);
    if (m_request.measureData)
        n += DailyReport::chosenSensors(m_request).size() + 1;
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
    if ((m_request.rooms || m_request.daily) && !writeRoomsAndDaily(&outcome))
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

bool ReportRunner::writeRoomsAndDaily(ReportOutcome* outcome)
{
    const ReportRequest& r = m_request;
    const QVector<int> roomSensors = r.rooms ? RoomReport::sensorsToFigure(r) : QVector<int>();
    const QVector<int> dailySensors = r.daily ? DailyReport::chosenSensors(r) : QVector<int>();
    const QVector<DayWindow> windows = r.daily ? DailyReport::windows(r) : QVector<DayWindow>();

    // Both reports take their figures from one read along the time, over the span of both.
    QStringList keys;
    QVector<int> roomSlot;
    QVector<int> dailySlot;
    for (int i = 0; i < r.sensors.size(); ++i) {
        const int daily = windows.isEmpty() ? -1 : dailySensors.indexOf(i);
        if (!roomSensors.contains(i) && daily < 0)
            continue;
        keys << r.sensors[i].EUI64;
        roomSlot << (roomSensors.contains(i) ? i : -1);
        dailySlot << daily;
    }
    qint64 low = std::numeric_limits<qint64>::max();
    qint64 high = std::numeric_limits<qint64>::min();
    // Each bound converts a local time, which may read the zone file: once, not for every row.
    const qint64 start = r.startBound();
    const qint64 end = r.endBound();
    if (!roomSensors.isEmpty() && start <= end) {
        low = start;
        high = end;
    }
    if (!windows.isEmpty() && !dailySensors.isEmpty()) {
        low = qMin(low, windows.first().low);
        high = qMax(high, windows.last().high);
    }

    QVector<RoomSensorFigures> figures(r.sensors.size(), RoomSensorFigures(r.globalThresholds));
    QVector<QVector<DayAverage>> averages(dailySensors.size(), QVector<DayAverage>(windows.size()));
    // Plain pointers: the readers below fill the entries of different sensors side by side.
    RoomSensorFigures* figureOf = figures.data();
    QVector<DayAverage*> daysOf;
    for (QVector<DayAverage>& days : averages)
        daysOf << days.data();
    int shown = 0;
    auto sink = [&](int position, qint64 time, const QVariant& t, const QVariant& h, const QVariant& b) {
        if (roomSlot.at(position) >= 0 && time >= start && time <= end)
            figureOf[roomSlot.at(position)].add(time, t, h, b);
        if (dailySlot.at(position) >= 0) {
            const int day = DailyReport::windowOf(windows, time);
            if (day >= 0)
                daysOf.at(dailySlot.at(position))[day].add(t, h);
        }
        return !m_cancel;
    };

    // The sensors are shared out among a few readers, each on a connection of its own and each
    // following the time for its share, so a long period of many sensors is not bound to one
    // core. The first reader's progress along the time stands for all of them.
    const int readers = qBound(1, qMin(QThread::idealThreadCount(), kMaxReaders), keys.size());
    std::vector<QString> errors(static_cast<size_t>(readers));
    std::vector<char> reads(size_t(readers), 1);
    // Without the room report only the daily windows need reading.
    const bool windowsOnly = roomSensors.isEmpty();
    auto readShare = [&](int reader) {
        QStringList share;
        QVector<int> positions;
        for (int p = reader; p < keys.size(); p += readers) {
            share << keys.at(p);
            positions << p;
        }
        ReportSource own;
        qint64 rows = 0;
        auto shareSink = [&](int i, qint64 time, const QVariant& t, const QVariant& h, const QVariant& b) {
            if (reader == 0 && (++rows & 0xFFF) == 0) {
                const int done = int(kPassSteps * double(time - low) / double(qMax<qint64>(1, high - low)));
                for (; shown < qMin(done, kPassSteps); ++shown)
                    step();
            }
            return sink(positions[i], time, t, h, b);
        };
        reads[size_t(reader)] = own.open(&errors[size_t(reader)])
            && own.measurements(share, low, high, shareSink, &errors[size_t(reader)], windowsOnly ? 86400 : 0,
                windowsOnly ? 2 * DailyReport::kHalfWindow : 0);
    };
    bool read = true;
    QString error;
    if (!keys.isEmpty() && low <= high) {
        std::vector<std::thread> threads;
        for (int reader = 1; reader < readers; ++reader)
            threads.emplace_back(readShare, reader);
        readShare(0);
        for (std::thread& thread : threads)
            thread.join();
        for (int reader = 0; reader < readers; ++reader) {
            if (!reads[size_t(reader)]) {
                read = false;
                error = errors[size_t(reader)];
            }
        }
    }
    if (m_cancel) {
        outcome->cancelled = true;
        return false;
    }
    for (; shown < kPassSteps; ++shown)
        step();
    // A workbook whose figures could not be read is not written.
    auto finish = [&](const QString& file, const std::function<XlsxSheet()>& sheet) {
        XlsxDocument document(QDir(m_folder).filePath(file));
        if (!read) {
            outcome->failures.append({ document.fileName(), error });
            return true;
        }
        document.addSheet(sheet());
        return save(document, outcome);
    };
    if (r.rooms && !finish(roomsFile(), [&] { return RoomReport::sheet(r, figures); }))
        return false;
    return !r.daily || finish(dailyFile(), [&] { return DailyReport::sheet(r, averages); });
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
        LocalTimeText times;
        bool full = false;
        QString error;
        const bool read = source.measurements(
            m_request.sensors[index].EUI64, m_request.startBound(), m_request.endBound(),
            [&](int, qint64 time, const QVariant& t, const QVariant& h, const QVariant&) {
                if (!held.isEmpty()) {
                    full = true;
                    return false;
                }
                if (row >= rowLimit)
                    held = MeasureDataReport::row(times, time, t, h, locale);
                else
                    document.appendRow(row++, MeasureDataReport::row(times, time, t, h, locale), style);
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
