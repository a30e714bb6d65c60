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

bool ReportRunner::stage(XlsxDocument& document, ReportOutcome* outcome, qint64 units)
{
    if (m_cancel) {
        outcome->cancelled = true;
        return false;
    }
    emit writingWorkbook(document.fileName());
    QString error;
    qint64 shown = 0;
    const auto written = [&](double share) {
        const auto done = qint64(share * double(units));
        advance(done - shown);
        shown = done;
    };
    if (!document.write(&error, written)) {
        outcome->failures.append({ document.fileName(), error });
        return false;
    }
    advance(units - shown);
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

// The one read behind the room and daily reports: which sensors it reads over which span, and
// what it found.
struct ReportRunner::Pass {
    QVector<int> roomSensors;
    QVector<int> dailySensors;
    QVector<DayWindow> windows;
    // The sensors read; for each, its index in the request when the room report lists it and
    // its place among the daily sensors when the daily report does (-1 where not).
    QStringList keys;
    QVector<int> roomSlot;
    QVector<int> dailySlot;
    // The period, and the span read: the period and the daily windows together.
    qint64 start = 0;
    qint64 end = 0;
    qint64 low = std::numeric_limits<qint64>::max();
    qint64 high = std::numeric_limits<qint64>::min();
    int readers = 1;
    // Work units of the read.
    qint64 units = 0;
    // What it found: figures by sensor index, averages by place among the daily sensors.
    QVector<RoomSensorFigures> figures;
    QVector<QVector<DayAverage>> averages;
    bool read = true;
    QString error;

    bool anything() const { return !keys.isEmpty() && low <= high; }
    // Without the room report only the daily windows need reading.
    bool windowsOnly() const { return roomSensors.isEmpty(); }
};

// What one reader gathered along its slice of the span.
struct ReportRunner::Share {
    QVector<RoomSensorFigures> figures;
    QVector<QVector<DayAverage>> days;
    QString error;
    bool read = true;
};

bool ReportRunner::writeRoomsAndDaily(ReportSource& source, ReportOutcome* outcome)
{
    Pass pass = planPass();
    countPass(source, pass);
    if (!readPass(pass)) {
        outcome->cancelled = true;
        return false;
    }
    const auto rooms = [&] { return RoomReport::sheet(m_request, pass.figures); };
    const auto daily = [&] { return DailyReport::sheet(m_request, pass.averages); };
    if (m_request.rooms && !stageSmall(roomsFile(), pass, rooms, outcome))
        return false;
    return !m_request.daily || stageSmall(dailyFile(), pass, daily, outcome);
}

// Both reports take their figures from one read along the time over the span of both, for the
// sensors either of them needs.
ReportRunner::Pass ReportRunner::planPass() const
{
    const ReportRequest& r = m_request;
    Pass pass;
    pass.roomSensors = r.rooms ? RoomReport::sensorsToFigure(r) : QVector<int>();
    pass.dailySensors = r.daily ? DailyReport::chosenSensors(r) : QVector<int>();
    pass.windows = r.daily ? DailyReport::windows(r) : QVector<DayWindow>();
    for (int i = 0; i < r.sensors.size(); ++i) {
        const int daily = pass.windows.isEmpty() ? -1 : pass.dailySensors.indexOf(i);
        if (!pass.roomSensors.contains(i) && daily < 0)
            continue;
        pass.keys << r.sensors[i].EUI64;
        pass.roomSlot << (pass.roomSensors.contains(i) ? i : -1);
        pass.dailySlot << daily;
    }
    // Each bound converts a local time, which may read the zone file: once, not for every row.
    pass.start = r.startBound();
    pass.end = r.endBound();
    if (!pass.roomSensors.isEmpty() && pass.start <= pass.end) {
        pass.low = pass.start;
        pass.high = pass.end;
    }
    if (!pass.windows.isEmpty() && !pass.dailySensors.isEmpty()) {
        pass.low = qMin(pass.low, pass.windows.first().low);
        pass.high = qMax(pass.high, pass.windows.last().high);
    }
    pass.readers = pass.anything() ? qBound(1, QThread::idealThreadCount(), kMaxReaders) : 1;
    return pass;
}

// The read's rows, counted before anything is read, weigh in the run's work.
void ReportRunner::countPass(ReportSource& source, Pass& pass)
{
    qint64 rows = 0;
    for (int p = 0; pass.anything() && p < pass.keys.size(); ++p)
        rows += qMax<qint64>(0, source.count(pass.keys.at(p), pass.low, pass.high));
    if (pass.windowsOnly())
        rows = rows * 2 * DailyReport::kHalfWindow / 86400;
    pass.units = rows * kPassRow;
    setWork(pass.units + (int(m_request.rooms) + int(m_request.daily)) * kSmallWorkbook
        + m_dataRows * (kDataRow + kDataSaveRow));
}

// The span is cut into a few slices read at once, each on a connection of its own; every slice
// gathers figures of its own, and they are joined in time order afterwards. False when the run
// was cancelled meanwhile.
bool ReportRunner::readPass(Pass& pass)
{
    std::vector<Share> shares(static_cast<size_t>(pass.readers));
    qint64 shown = 0;
    std::vector<std::thread> threads;
    for (int reader = 1; reader < pass.readers; ++reader)
        threads.emplace_back([&, reader] { readSlice(pass, reader, shares[size_t(reader)], nullptr); });
    readSlice(pass, 0, shares.front(), &shown);
    for (std::thread& thread : threads)
        thread.join();
    joinShares(shares, pass);
    if (m_cancel)
        return false;
    advance(pass.units - shown);
    return true;
}

// One reader's slice. The first reader's progress along its slice (`shown`, given to it alone)
// stands for all of them.
void ReportRunner::readSlice(const Pass& pass, int reader, Share& mine, qint64* shown)
{
    mine.figures.fill(RoomSensorFigures(m_request.globalThresholds), pass.keys.size());
    mine.days.resize(pass.keys.size());
    for (int p = 0; p < pass.keys.size(); ++p) {
        if (pass.dailySlot.at(p) >= 0)
            mine.days[p].resize(pass.windows.size());
    }
    if (!pass.anything())
        return;
    const qint64 span = pass.high - pass.low + 1;
    const qint64 from = pass.low + span * reader / pass.readers;
    const qint64 to = pass.low + span * (reader + 1) / pass.readers - 1;
    qint64 rows = 0;
    auto sink = [&](int p, qint64 time, const QVariant& t, const QVariant& h, const QVariant& b) {
        if (pass.roomSlot.at(p) >= 0 && time >= pass.start && time <= pass.end)
            mine.figures[p].add(time, t, h, b);
        if (pass.dailySlot.at(p) >= 0) {
            const int day = DailyReport::windowOf(pass.windows, time);
            if (day >= 0)
                mine.days[p][day].add(t, h);
        }
        if (shown && (++rows & 0xFFF) == 0) {
            const auto done = qint64(double(pass.units) * double(time - from) / double(qMax<qint64>(1, to - from)));
            if (done > *shown) {
                advance(done - *shown);
                *shown = done;
            }
        }
        return !m_cancel;
    };
    const bool windowsOnly = pass.windowsOnly();
    ReportSource own;
    mine.read = own.open(&mine.error)
        && own.measurements(pass.keys, from, to, sink, &mine.error,
            pass.windows.isEmpty() ? 0 : pass.windows.first().low, windowsOnly ? 86400 : 0,
            windowsOnly ? 2 * DailyReport::kHalfWindow : 0);
}

// Joins the slices in time order and hands each sensor's figures to the report that lists it.
void ReportRunner::joinShares(std::vector<Share>& shares, Pass& pass) const
{
    Share& all = shares.front();
    for (size_t k = 1; k < shares.size(); ++k) {
        for (int p = 0; p < pass.keys.size(); ++p) {
            all.figures[p].append(shares[k].figures[p]);
            for (int j = 0; j < all.days[p].size(); ++j)
                all.days[p][j].append(shares[k].days[p][j]);
        }
        if (!shares[k].read) {
            all.read = false;
            all.error = shares[k].error;
        }
    }
    pass.read = all.read;
    pass.error = all.error;
    pass.figures = QVector<RoomSensorFigures>(m_request.sensors.size());
    pass.averages = QVector<QVector<DayAverage>>(pass.dailySensors.size());
    for (int p = 0; p < pass.keys.size(); ++p) {
        if (pass.roomSlot.at(p) >= 0)
            pass.figures[pass.roomSlot.at(p)] = all.figures[p];
        if (pass.dailySlot.at(p) >= 0)
            pass.averages[pass.dailySlot.at(p)] = all.days[p];
    }
}

// A workbook whose figures could not be read is not written.
bool ReportRunner::stageSmall(
    const QString& file, const Pass& pass, const std::function<XlsxSheet()>& sheet, ReportOutcome* outcome)
{
    XlsxDocument document(QDir(m_folder).filePath(file));
    if (!pass.read) {
        outcome->failures.append({ document.fileName(), pass.error });
        return false;
    }
    document.addSheet(sheet());
    return stage(document, outcome, kSmallWorkbook);
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
    return stage(document, outcome, m_dataRows * kDataSaveRow);
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
