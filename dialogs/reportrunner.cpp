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
    auto source = std::make_unique<ReportSource>();
    QString error;
    if (!source->open(&error)) {
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

    // Both reports take their figures from one read along the time over the span of both, for
    // the sensors either of them needs.
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

    // The period is cut into a few slices read at once, each on a connection of its own; every
    // slice gathers figures of its own, and they are joined in time order afterwards. The first
    // reader's progress along its slice stands for all of them.
    struct Share {
        QVector<RoomSensorFigures> figures;
        QVector<QVector<DayAverage>> days;
        QString error;
        bool read = true;
    };
    const bool anything = !keys.isEmpty() && low <= high;
    const int readers = anything ? qBound(1, QThread::idealThreadCount(), kMaxReaders) : 1;
    std::vector<Share> shares(static_cast<size_t>(readers));
    // Without the room report only the daily windows need reading.
    const bool windowsOnly = roomSensors.isEmpty();
    int shown = 0;
    auto readSlice = [&](int reader) {
        Share& mine = shares[size_t(reader)];
        mine.figures.fill(RoomSensorFigures(r.globalThresholds), keys.size());
        mine.days.resize(keys.size());
        for (int p = 0; p < keys.size(); ++p) {
            if (dailySlot.at(p) >= 0)
                mine.days[p].resize(windows.size());
        }
        if (!anything)
            return;
        const qint64 span = high - low + 1;
        const qint64 from = low + span * reader / readers;
        const qint64 to = low + span * (reader + 1) / readers - 1;
        qint64 rows = 0;
        auto sink = [&](int p, qint64 time, const QVariant& t, const QVariant& h, const QVariant& b) {
            if (roomSlot.at(p) >= 0 && time >= start && time <= end)
                mine.figures[p].add(time, t, h, b);
            if (dailySlot.at(p) >= 0) {
                const int day = DailyReport::windowOf(windows, time);
                if (day >= 0)
                    mine.days[p][day].add(t, h);
            }
            if (reader == 0 && (++rows & 0xFFF) == 0) {
                const int done = int(kPassSteps * double(time - from) / double(qMax<qint64>(1, to - from)));
                for (; shown < qMin(done, kPassSteps); ++shown)
                    step();
            }
            return !m_cancel;
        };
        ReportSource own;
        mine.read = own.open(&mine.error)
            && own.measurements(keys, from, to, sink, &mine.error, windows.isEmpty() ? 0 : windows.first().low,
                windowsOnly ? 86400 : 0, windowsOnly ? 2 * DailyReport::kHalfWindow : 0);
    };
    std::vector<std::thread> threads;
    for (int reader = 1; reader < readers; ++reader)
        threads.emplace_back(readSlice, reader);
    readSlice(0);
    for (std::thread& thread : threads)
        thread.join();
    Share& all = shares.front();
    for (size_t k = 1; k < shares.size(); ++k) {
        for (int p = 0; p < keys.size(); ++p) {
            all.figures[p].append(shares[k].figures[p]);
            for (int j = 0; j < all.days[p].size(); ++j)
                all.days[p][j].append(shares[k].days[p][j]);
        }
        if (!shares[k].read) {
            all.read = false;
            all.error = shares[k].error;
        }
    }
    const bool read = all.read;
    const QString error = all.error;
    QVector<RoomSensorFigures> figures(r.sensors.size());
    QVector<QVector<DayAverage>> averages(dailySensors.size());
    for (int p = 0; p < keys.size(); ++p) {
        if (roomSlot.at(p) >= 0)
            figures[roomSlot.at(p)] = all.figures[p];
        if (dailySlot.at(p) >= 0)
            averages[dailySlot.at(p)] = all.days[p];
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

bool ReportRunner::writeMeasureData(std::unique_ptr<ReportSource>& source, ReportOutcome* outcome)
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
        const bool read = source->measurements(
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
    // The database is not needed for writing the workbook, which can take long.
    source.reset();
    return save(document, outcome);
}

namespace
{

QAtomicInt abandoned;

} // namespace

bool ReportRunner::stopForClose(QThread* thread, ReportRunner* runner, int waitMs)
{
    runner->cancel();
    thread->quit();
    if (thread->wait(waitMs))
        return true;
    abandoned.ref();
    return false;
}

int ReportRunner::abandonedRuns()
{
    return abandoned.loadRelaxed();
}
