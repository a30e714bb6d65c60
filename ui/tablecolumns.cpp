#include "ui/tablecolumns.h"

#include <QHeaderView>
#include <QTableView>

#include <algorithm>

void TableColumns::growToContents(QTableView* view)
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
        // A very long name would push every other column out of view: a column grows to a
        // ceiling, and the cut text is whole in its tooltip.
        const int needed = std::min(
            std::max(header->sectionSizeHint(column), cells->sizeHintForColumn(column)), columnCeiling(view));
        if (header->sectionSize(column) < needed)
            header->resizeSection(column, needed);
    }
}

int TableColumns::columnCeiling(const QWidget* view)
{
    return std::max(view->fontMetrics().averageCharWidth() * 40, 200);
}
