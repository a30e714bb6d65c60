#include "dialogs/reportrunner.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
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

namespace
{

// The relative cost of each part of a run, in work units, so that the progress bar moves
// evenly: a row read by the pass behind the room and daily reports, a row of the
// measurement-data workbook read and added to its sheet, and that row written out. A room or
// daily workbook is small: it counts as a few rows.
constexpr qint64 kPassRow = 1;
constexpr qint64 kDataRow = 7;
constexpr qint64 kDataSaveRow = 3;
constexpr qint64 kSmallWorkbook = 256;

} // namespace

void ReportRunner::setWork(qint64 units)
{
    m_work = qMax<qint64>(1, units);
    m_done = 0;
    m_shown = -1;
    advance(0);
}

void ReportRunner::advance(qint64 units)
{
    m_done = qMin(m_work, m_done + units);
    const int shown = int(kScale * m_done / m_work);
    if (shown != m_shown) {
        m_shown = shown;
        emit progress(shown);
    }
}

void ReportRunner::start()
{
    emit finished(run());
}

ReportOutcome ReportRunner::run()
{
    ReportOutcome outcome = writeAll();
    placeStaged(&outcome);
    return outcome;
}

ReportOutcome ReportRunner::writeAll()
{
    ReportOutcome outcome;
    m_staged.clear();
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
    m_dataRows = 0;
    if (m_request.measureData) {
        for (int index : DailyReport::chosenSensors(m_request))
            m_dataRows += qMax<qint64>(
                0, source->count(m_request.sensors[index].EUI64, m_request.startBound(), m_request.endBound()));
    }
    setWork(m_dataRows * (kDataRow + kDataSaveRow) + kSmallWorkbook);
    // The first failure or a cancel ends the run: nothing of it is put in place then.
    if ((m_request.rooms || m_request.daily) && !writeRoomsAndDaily(*source, &outcome))
        return outcome;
    if (m_request.measureData)
        writeMeasureData(source, &outcome);
    return outcome;
}

bool ReportRunner::stage(XlsxDocument& document, ReportOutcome* outcome)
{
    if (m_cancel) {
        outcome->cancelled = true;
        return false;
    }
    emit writingWorkbook(document.fileName());
    QString error;
    if (!document.write(&error)) {
        outcome->failures.append({ document.fileName(), error });
        return false;
    }
    m_staged.append({ document.partName(), document.fileName() });
    return true;
}

void ReportRunner::placeStaged(ReportOutcome* outcome)
{
    // A cancel that came while the last workbook was written still counts.
    if (m_cancel && !m_staged.isEmpty())
        outcome->cancelled = true;
    // A name held by a folder (or anything else that is no file) is never moved aside: the run fails.
    for (const XlsxDocument::Placement& s : qAsConst(m_staged)) {
        const QFileInfo target(s.file);
        if (!outcome->cancelled && outcome->failures.isEmpty() && target.exists() && !target.isFile())
            outcome->failures.append({ s.file, QStringLiteral("the name is taken by something that is not a file") });
    }
    if (!outcome->cancelled && outcome->failures.isEmpty()) {
        QString error;
        const int failed = XlsxDocument::placeAll(m_staged, &error);
        if (failed >= 0) {
            outcome->failures.append({ m_staged.at(failed).file, error });
        } else {
            for (const XlsxDocument::Placement& s : qAsConst(m_staged))
                outcome->written.append(s.file);
        }
    }
    for (const XlsxDocument::Placement& s : qAsConst(m_staged)) {
        if (!outcome->written.contains(s.file))
            QFile::remove(s.part);
    }
    m_staged.clear();
    advance(m_work);
}

bool ReportRunner::writeRoomsAndDaily(ReportSource& source, ReportOutcome* outcome)
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
    qint64 passRows = 0;
    for (int p = 0; anything && p < keys.size(); ++p)
        passRows += qMax<qint64>(0, source.count(keys.at(p), low, high));
    if (windowsOnly)
        passRows = passRows * 2 * DailyReport::kHalfWindow / 86400;
    const qint64 passUnits = passRows * kPassRow;
    setWork(passUnits + (int(r.rooms) + int(r.daily)) * kSmallWorkbook + m_dataRows * (kDataRow + kDataSaveRow));
    qint64 passShown = 0;
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
                const auto done = qint64(double(passUnits) * double(time - from) / double(qMax<qint64>(1, to - from)));
                if (done > passShown) {
                    advance(done - passShown);
                    passShown = done;
                }
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
    advance(passUnits - passShown);
    // A workbook whose figures could not be read is not written.
    auto finish = [&](const QString& file, const std::function<XlsxSheet()>& sheet) {
        XlsxDocument document(QDir(m_folder).filePath(file));
        if (!read) {
            outcome->failures.append({ document.fileName(), error });
            return false;
        }
        document.addSheet(sheet());
        if (!stage(document, outcome))
            return false;
        advance(kSmallWorkbook);
        return true;
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
        qint64 rows = 0;
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
                if ((++rows & 0xFFF) == 0)
                    advance(0x1000 * kDataRow);
                return !m_cancel;
            },
            &error);
        if (m_cancel) {
            outcome->cancelled = true;
            return false;
        }
        if (!read) {
            outcome->failures.append({ document.fileName(), error });
            return false;
        }
        if (full)
            document.appendRow(row, { MeasureDataReport::overflowNote() }, XlsxStyle());
        else if (!held.isEmpty())
            document.appendRow(row, held, style);
        advance((rows & 0xFFF) * kDataRow);
    }
    // The database is not needed for writing the workbook, which can take long.
    source.reset();
    return stage(document, outcome);
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
