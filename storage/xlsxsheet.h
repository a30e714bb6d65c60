#pragma once

#include <QHash>
#include <QString>
#include <QVector>

#include <map>
#include <utility>

// The look of one cell: the few properties the reports use.
struct XlsxStyle {
    bool bold = false;
    bool centred = false; // horizontal alignment centre (general otherwise)
    bool verticallyCentred = false;
    bool thinBorder = false; // thin border on all four sides (none otherwise)
    int rotation = 0; // degrees

    bool operator==(const XlsxStyle& o) const
    {
        return bold == o.bold && centred == o.centred && verticallyCentred == o.verticallyCentred
            && thinBorder == o.thinBorder && rotation == o.rotation;
    }
    bool operator!=(const XlsxStyle& o) const { return !(*this == o); }
    bool isPlain() const { return *this == XlsxStyle(); }
};
uint qHash(const XlsxStyle& style, uint seed = 0);

struct XlsxCell {
    QString text;
    XlsxStyle style;
};

// A rectangle of cells, rows and columns counted from 1.
struct XlsxRange {
    int firstRow = 1;
    int firstColumn = 1;
    int lastRow = 1;
    int lastColumn = 1;
    bool operator==(const XlsxRange& o) const
    {
        return firstRow == o.firstRow && firstColumn == o.firstColumn && lastRow == o.lastRow
            && lastColumn == o.lastColumn;
    }
    bool contains(int row, int column) const
    {
        return row >= firstRow && row <= lastRow && column >= firstColumn && column <= lastColumn;
    }
};

// One worksheet held in memory: text cells with their looks, merged ranges and column widths.
// Rows and columns count from 1 (column 1 is A). A merge gives its style to every cell of the
// range, the cell already written in its corner included, so writing first and merging after
// gives the corner text the merge's look. Knows nothing of what the cells mean.
class XlsxSheet
{
public:
    // The limits of an XLSX sheet.
    static constexpr int kMaxRows = 1048576;
    static constexpr int kMaxColumns = 16384;

    explicit XlsxSheet(const QString& name = QString())
        : name(name)
    {
    }

    // False (and nothing written) outside the sheet's limits.
    bool write(int row, int column, const QString& text, const XlsxStyle& style = XlsxStyle());
    // False for a range of one cell or less, outside the limits, or overlapping another merge.
    bool merge(const XlsxRange& range, const XlsxStyle& style);
    // The text of a cell; empty when nothing was written there.
    QString read(int row, int column) const;
    const XlsxCell* cell(int row, int column) const;
    void setColumnWidth(int firstColumn, int lastColumn, double width);

    // The highest row that holds a cell, 0 when none.
    int lastRow() const { return cells.empty() ? 0 : cells.rbegin()->first.first; }

    QString name;
    // Ordered by row, then column: the order a streaming writer needs.
    std::map<std::pair<int, int>, XlsxCell> cells;
    QVector<XlsxRange> merges;
    std::map<int, double> widths;
};
