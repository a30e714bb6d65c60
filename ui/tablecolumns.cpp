#include "ui/tablecolumns.h"

#include <QEvent>
#include <QHeaderView>
#include <QTableView>

#include <algorithm>

namespace TableColumns
{

namespace
{

// Texts remembered at most; beyond it the memory starts afresh.
constexpr int kMostTexts = 20000;

// The widest cell of the column among the rows on screen (all rows of a hidden view, or of
// one whose rows do not fill it). Measuring every row of a table of thousands of sensors at
// each load would hold the GUI thread, which answers the sensors, for tens of milliseconds.
int cellsWidth(const QTableView* view, int column, TextWidths* widths)
{
    const QHeaderView* rows = view->verticalHeader();
    const int count = view->model()->rowCount(view->rootIndex());
    const int top = std::max(0, rows->visualIndexAt(0));
    int bottom = rows->visualIndexAt(view->viewport()->height());
    if (!view->isVisible() || bottom < 0)
        bottom = count - 1;
    const int grid = view->showGrid() ? 1 : 0;
    int hint = 0;
    for (int row = top; row <= bottom; ++row) {
        const int logical = rows->logicalIndex(row);
        if (rows->isSectionHidden(logical))
            continue;
        hint = std::max(hint, widths->width(view, view->model()->index(logical, column, view->rootIndex())) + grid);
    }
    return hint;
}

} // namespace

void TextWidths::follow(const QAbstractItemView* view)
{
    if (view->font() != font || widths.size() > kMostTexts) {
        widths.clear();
        headers.clear();
        font = view->font();
    }
}

int TextWidths::headerWidth(const QTableView* view, int column)
{
    follow(view);
    const QHeaderView* header = view->horizontalHeader();
    // The sort arrow's room counts in every title while arrows are shown.
    const QString title = QString::number(column) + QLatin1Char(header->isSortIndicatorShown() ? '^' : ' ')
        + view->model()->headerData(column, Qt::Horizontal).toString();
    const auto found = headers.constFind(title);
    if (found != headers.constEnd())
        return *found;
    const int measured = header->sectionSizeHint(column);
    headers.insert(title, measured);
    return measured;
}

int TextWidths::width(const QAbstractItemView* view, const QModelIndex& index)
{
    follow(view);
    const QString text = index.data(Qt::DisplayRole).toString();
    const auto found = widths.constFind(text);
    if (found != widths.constEnd())
        return *found;
    const int measured = view->sizeHintForIndex(index).width();
    widths.insert(text, measured);
    return measured;
}

void growToContents(QTableView* view, TextWidths* widths)
{
    if (!view || !view->model())
        return;
    QHeaderView* header = view->horizontalHeader();
    // QTableView narrows sizeHintForColumn to protected; the item view's is public and the same.
    const QAbstractItemView* cells = view;
    const int last = header->count() - 1;
    for (int column = 0; column < header->count(); ++column) {
        if (header->isSectionHidden(column) || (column == last && header->stretchLastSection()))
            continue;
        const int content = widths ? cellsWidth(view, column, widths) : cells->sizeHintForColumn(column);
        // A very long name would push every other column out of view: a column grows to a
        // ceiling, and the cut text is whole in its tooltip.
        const int title = widths ? widths->headerWidth(view, column) : header->sectionSizeHint(column);
        const int needed = std::min(std::max(title, content), columnCeiling(view));
        if (header->sectionSize(column) < needed)
            header->resizeSection(column, needed);
    }
}

RowNumbers::RowNumbers(QWidget* parent)
    : QHeaderView(Qt::Vertical, parent)
{
}

QSize RowNumbers::sizeHint() const
{
    if (hintRows != count() || !hint.isValid()) {
        hint = QHeaderView::sizeHint();
        hintRows = count();
    }
    return hint;
}

bool RowNumbers::event(QEvent* e)
{
    if (e->type() == QEvent::FontChange || e->type() == QEvent::StyleChange)
        hintRows = -1;
    return QHeaderView::event(e);
}

void numberRows(QTableView* view)
{
    const QHeaderView* shown = view->verticalHeader();
    auto* rows = new RowNumbers(view);
    rows->setDefaultSectionSize(shown->defaultSectionSize());
    rows->setMinimumSectionSize(shown->minimumSectionSize());
    rows->setCascadingSectionResizes(shown->cascadingSectionResizes());
    rows->setSectionsClickable(shown->sectionsClickable());
    rows->setHighlightSections(shown->highlightSections());
    rows->setDefaultAlignment(shown->defaultAlignment());
    rows->setVisible(!shown->isHidden());
    view->setVerticalHeader(rows);
}

} // namespace TableColumns
