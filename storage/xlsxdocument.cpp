#include "storage/xlsxdocument.h"

#include <QAtomicInt>
#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <system_error>
#include <utility>
#include <xlsxwriter.h>

#include "storage/failuretext.h"

namespace
{

constexpr int kMaxSheetName = 31;

// Cuts a text to `count` code points without splitting a surrogate pair.
QString leftCodePoints(const QString& text, int count)
{
    const QVector<uint> points = text.toUcs4();
    if (points.size() <= count)
        return text;
    return QString::fromUcs4(points.constData(), count);
}

int codePoints(const QString& text)
{
    return text.toUcs4().size();
}

QByteArray utf8(const QString& text)
{
    return text.toUtf8();
}

// The streamed rows are sampled this much in all, a piece from the middle of each sheet.
constexpr long kSample = 1 << 20;

// The share of the part written when it holds `size` of the `expected` bytes. Past nine tenths
// of the estimate the share keeps growing, ever more slowly, towards 1, so an estimate that
// came out short still moves the bar to the end.
double shareWritten(qint64 size, qint64 expected)
{
    const double part = double(size) / double(expected);
    return part <= 0.9 ? part : 1.0 - 0.1 * std::exp((0.9 - part) / 0.1);
}

using Closed = std::pair<lxw_error, int>; // the library's result, and errno after it

Closed closeBook(lxw_workbook* book)
{
    errno = 0;
    const lxw_error result = workbook_close(book);
    return { result, errno };
}

} // namespace

int XlsxDocument::progressInterval = 100;

XlsxDocument::XlsxDocument(const QString& fileName, Mode mode)
    : m_fileName(fileName)
    , m_mode(mode)
{
    static QAtomicInt serial;
    const QFileInfo target(fileName);
    m_partName = target.dir().filePath(QStringLiteral(".%1.%2-%3.part")
                                           .arg(target.fileName())
                                           .arg(QCoreApplication::applicationPid())
                                           .arg(serial.fetchAndAddRelaxed(1)));
    lxw_workbook_options options = {};
    options.constant_memory = mode == Streaming ? LXW_TRUE : LXW_FALSE;
    m_book = workbook_new_opt(utf8(m_partName).constData(), &options);
    if (!m_book)
        note(QStringLiteral("библиотека XLSX не смогла начать книгу"));
}

XlsxDocument::~XlsxDocument()
{
    // An abandoned workbook is freed without being written: nothing reaches its name. The
    // library closes a streamed sheet's temporary file only when it writes the workbook, so
    // that file is closed here (it has no name; closing it frees its disk space).
    if (m_book) {
        for (lxw_worksheet* sheet : qAsConst(m_sheets)) {
            if (sheet->optimize_tmpfile) {
                std::fclose(sheet->optimize_tmpfile);
                sheet->optimize_tmpfile = nullptr;
            }
        }
        lxw_workbook_free(m_book);
    }
}

void XlsxDocument::note(const QString& problem)
{
    if (m_problem.isEmpty())
        m_problem = problem;
}

lxw_format* XlsxDocument::format(const XlsxStyle& style)
{
    if (style.isPlain() || !m_book)
        return nullptr;
    auto it = m_formats.constFind(style);
    if (it != m_formats.constEnd())
        return it.value();
    lxw_format* f = workbook_add_format(m_book);
    if (style.bold)
        format_set_bold(f);
    if (style.centred)
        format_set_align(f, LXW_ALIGN_CENTER);
    if (style.verticallyCentred)
        format_set_align(f, LXW_ALIGN_VERTICAL_CENTER);
    if (style.thinBorder)
        format_set_border(f, LXW_BORDER_THIN);
    if (style.rotation)
        format_set_rotation(f, int16_t(style.rotation));
    m_formats.insert(style, f);
    return f;
}

QString XlsxDocument::validSheetName(const QString& wanted, const QStringList& taken)
{
    QString base = wanted;
    for (QChar& c : base) {
        if (QStringLiteral("[]:*?/\\").contains(c) || c.category() == QChar::Other_Control)
            c = QLatin1Char('_');
    }
    if (base.startsWith(QLatin1Char('\'')))
        base[0] = QLatin1Char('_');
    base = leftCodePoints(base, kMaxSheetName);
    if (base.endsWith(QLatin1Char('\'')))
        base[base.size() - 1] = QLatin1Char('_');
    if (base.isEmpty())
        base = QStringLiteral("Sheet");

    QSet<QString> folded;
    for (const QString& name : taken)
        folded.insert(name.toCaseFolded());
    QString name = base;
    for (int n = 2; folded.contains(name.toCaseFolded()); ++n) {
        const QString suffix = QStringLiteral(" (%1)").arg(n);
        name = leftCodePoints(base, kMaxSheetName - codePoints(suffix)) + suffix;
    }
    return name;
}

QString XlsxDocument::addSheet(const XlsxSheet& sheet)
{
    if (!m_book || m_closed)
        return QString();
    const QString name = validSheetName(sheet.name, m_names);
    lxw_worksheet* ws = workbook_add_worksheet(m_book, utf8(name).constData());
    if (!ws) {
        note(QStringLiteral("лист \"%1\" не принят").arg(name));
        return QString();
    }
    m_names << name;
    m_sheets << ws;
    m_last = ws;
    m_lastRow = sheet.lastRow();

    QSet<QPair<int, int>> covered;
    for (const XlsxRange& m : sheet.merges) {
        for (int r = m.firstRow; r <= m.lastRow; ++r) {
            for (int c = m.firstColumn; c <= m.lastColumn; ++c)
                covered.insert({ r, c });
        }
    }
    // Row by row, so that a streaming sheet receives its rows in order: first the row's own
    // cells, then the ranges that begin in it.
    auto mergesFrom = [&](int row) {
        for (const XlsxRange& m : sheet.merges) {
            if (m.firstRow != row)
                continue;
            const XlsxCell* corner = sheet.cell(m.firstRow, m.firstColumn);
            worksheet_merge_range(ws, lxw_row_t(m.firstRow - 1), lxw_col_t(m.firstColumn - 1), lxw_row_t(m.lastRow - 1),
                lxw_col_t(m.lastColumn - 1), utf8(corner ? corner->text : QString()).constData(),
                format(corner ? corner->style : XlsxStyle()));
        }
    };
    int row = 0;
    for (const auto& entry : sheet.cells) {
        const int r = entry.first.first;
        const int c = entry.first.second;
        if (r != row) {
            if (row)
                mergesFrom(row);
            row = r;
        }
        if (covered.contains({ r, c }))
            continue;
        const XlsxCell& cell = entry.second;
        if (!cell.text.isEmpty())
            worksheet_write_string(
                ws, lxw_row_t(r - 1), lxw_col_t(c - 1), utf8(cell.text).constData(), format(cell.style));
        else if (!cell.style.isPlain())
            worksheet_write_blank(ws, lxw_row_t(r - 1), lxw_col_t(c - 1), format(cell.style));
    }
    if (row)
        mergesFrom(row);
    for (const auto& width : sheet.widths)
        worksheet_set_column(ws, lxw_col_t(width.first - 1), lxw_col_t(width.first - 1), width.second, nullptr);
    return name;
}

bool XlsxDocument::appendRow(int row, const QVector<QString>& texts, const XlsxStyle& style)
{
    if (!m_last || m_closed || row <= m_lastRow || row > XlsxSheet::kMaxRows || texts.size() > XlsxSheet::kMaxColumns)
        return false;
    lxw_format* f = format(style);
    for (int c = 0; c < texts.size(); ++c) {
        if (!texts[c].isEmpty())
            worksheet_write_string(m_last, lxw_row_t(row - 1), lxw_col_t(c), utf8(texts[c]).constData(), f);
        else if (f)
            worksheet_write_blank(m_last, lxw_row_t(row - 1), lxw_col_t(c), f);
    }
    m_lastRow = row;
    return true;
}

bool XlsxDocument::save(QString* error)
{
    return write(error) && place(m_partName, m_fileName, error);
}

bool XlsxDocument::write(QString* error, const std::function<void(double)>& progress)
{
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (m_closed)
        return fail(QStringLiteral("книга уже записана"));
    if (!m_book)
        return fail(m_problem);
    // A workbook needs one sheet at least; the first one is named as Excel names it.
    if (m_names.isEmpty())
        addSheet(XlsxSheet(QStringLiteral("Sheet1")));
    if (m_last)
        worksheet_activate(m_last);
    m_closed = true;
    const qint64 expected = progress ? expectedSize() : 0;
    lxw_workbook* book = m_book;
    m_book = nullptr;
    std::future<Closed> closing;
    try {
        // The library writes in a thread of its own, while this one tells how far it got.
        if (expected > 0)
            closing = std::async(std::launch::async, closeBook, book);
    } catch (const std::system_error&) {
        // No thread to be had: written here, unwatched.
    }
    Closed closed;
    if (closing.valid()) {
        double shown = 0;
        while (closing.wait_for(std::chrono::milliseconds(progressInterval)) != std::future_status::ready) {
            const double share = shareWritten(QFileInfo(m_partName).size(), expected);
            if (share > shown)
                progress(shown = share);
        }
        closed = closing.get();
    } else {
        closed = closeBook(book);
    }
    const lxw_error result = closed.first;
    const int systemError = closed.second;
    if (result != LXW_NO_ERROR) {
        // Asked while the part still takes its room.
        const FailureText::Kind kind = FailureText::ofWrite(QFileInfo(m_partName).absolutePath(), systemError);
        QFile::remove(m_partName);
        return fail(FailureText::file(kind, QString::fromUtf8(lxw_strerror(result))));
    }
    if (!m_problem.isEmpty()) {
        QFile::remove(m_partName);
        return fail(m_problem);
    }
    return true;
}

qint64 XlsxDocument::expectedSize() const
{
    // The rows wait in the library's temporary files (one per streamed sheet) as the sheet's
    // XML, which the part holds compressed: as much as a sample of them compresses.
    qint64 rows = 0;
    QByteArray sample;
    for (lxw_worksheet* sheet : m_sheets) {
        FILE* file = sheet->optimize_tmpfile;
        const long end = file && std::fflush(file) == 0 ? std::ftell(file) : -1;
        if (end <= 0)
            continue;
        rows += end;
        const long piece = qMin(end, kSample / qMax(1, m_sheets.size()));
        const int at = sample.size();
        sample.resize(at + int(piece));
        // Read aside: the library finds its file where it left it.
        const bool read = std::fseek(file, (end - piece) / 2, SEEK_SET) == 0
            && std::fread(sample.data() + at, 1, size_t(piece), file) == size_t(piece);
        std::fseek(file, end, SEEK_SET);
        if (!read)
            return 0;
    }
    if (sample.isEmpty())
        return 0;
    // qCompress uses zlib's default level, as the library does; its own 4-byte header aside.
    const double ratio = double(qCompress(sample).size() - 4) / double(sample.size());
    return qMax<qint64>(1, qint64(double(rows) * ratio));
}

bool XlsxDocument::place(const QString& partName, const QString& fileName, QString* error)
{
    if (placeAll({ { partName, fileName } }, error) < 0)
        return true;
    QFile::remove(partName);
    return false;
}

namespace
{

bool move(const QString& from, const QString& to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

// A free name beside the file for its older version while the new one takes its place.
QString asideName(const QString& file)
{
    static QAtomicInt serial;
    const QFileInfo target(file);
    QString name;
    do {
        name = target.dir().filePath(QStringLiteral(".%1.%2-%3.old")
                                         .arg(target.fileName())
                                         .arg(QCoreApplication::applicationPid())
                                         .arg(serial.fetchAndAddRelaxed(1)));
    } while (QFileInfo::exists(name));
    return name;
}

} // namespace

int XlsxDocument::placeAll(const QVector<Placement>& placements, QString* error)
{
    // Each older file is moved aside before its name is taken, so that a plain rename puts the
    // part in place on every system and nothing is removed before the last part is in place.
    QStringList asides; // per placed part; empty where its name held no file
    int failed = -1;
    for (int i = 0; i < placements.size(); ++i) {
        const Placement& p = placements.at(i);
        const QString aside = QFileInfo::exists(p.file) ? asideName(p.file) : QString();
        if (!aside.isEmpty() && !move(p.file, aside)) {
            failed = i;
            break;
        }
        if (!move(p.part, p.file)) {
            if (!aside.isEmpty())
                move(aside, p.file);
            failed = i;
            break;
        }
        asides << aside;
    }
    if (failed < 0) {
        for (const QString& aside : qAsConst(asides)) {
            if (!aside.isEmpty())
                QFile::remove(aside);
        }
        return -1;
    }
    // The parts placed so far go back to their own names and the older files to theirs. An
    // older file that cannot go back stays under its aside name rather than be lost.
    for (int i = asides.size() - 1; i >= 0; --i) {
        const Placement& p = placements.at(i);
        if (!move(p.file, p.part))
            QFile::remove(p.file);
        if (!asides.at(i).isEmpty())
            move(asides.at(i), p.file);
    }
    if (error)
        *error = QStringLiteral("готовый файл не удалось поставить на место");
    return failed;
}
