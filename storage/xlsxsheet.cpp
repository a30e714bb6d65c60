#include "storage/xlsxsheet.h"

uint qHash(const XlsxStyle& style, uint seed)
{
    const uint bits = uint(style.bold) | uint(style.centred) << 1 | uint(style.verticallyCentred) << 2
        | uint(style.thinBorder) << 3;
    return ::qHash(bits, seed) ^ ::qHash(style.rotation, seed);
}

namespace
{

bool inside(int row, int column)
{
    return row >= 1 && row <= XlsxSheet::kMaxRows && column >= 1 && column <= XlsxSheet::kMaxColumns;
}

} // namespace

bool XlsxSheet::write(int row, int column, const QString& text, const XlsxStyle& style)
{
    if (!inside(row, column))
        return false;
    cells[{ row, column }] = XlsxCell { text, style };
    return true;
}

bool XlsxSheet::merge(const XlsxRange& range, const XlsxStyle& style)
{
    if (!inside(range.firstRow, range.firstColumn) || !inside(range.lastRow, range.lastColumn)
        || range.lastRow < range.firstRow || range.lastColumn < range.firstColumn
        || (range.lastRow == range.firstRow && range.lastColumn == range.firstColumn))
        return false;
    for (const XlsxRange& other : merges) {
        if (range.firstRow <= other.lastRow && other.firstRow <= range.lastRow && range.firstColumn <= other.lastColumn
            && other.firstColumn <= range.lastColumn)
            return false;
    }
    merges.append(range);
    for (int r = range.firstRow; r <= range.lastRow; ++r) {
        for (int c = range.firstColumn; c <= range.lastColumn; ++c)
            cells[{ r, c }].style = style;
    }
    return true;
}

QString XlsxSheet::read(int row, int column) const
{
    const XlsxCell* c = cell(row, column);
    return c ? c->text : QString();
}

const XlsxCell* XlsxSheet::cell(int row, int column) const
{
    const auto it = cells.find({ row, column });
    return it == cells.end() ? nullptr : &it->second;
}

void XlsxSheet::setColumnWidth(int firstColumn, int lastColumn, double width)
{
    for (int c = qMax(1, firstColumn); c <= qMin(lastColumn, kMaxColumns); ++c)
        widths[c] = width;
}
