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
        const int needed = std::max(header->sectionSizeHint(column), cells->sizeHintForColumn(column));
        if (header->sectionSize(column) < needed)
            header->resizeSection(column, needed);
    }
}
