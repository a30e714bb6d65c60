#pragma once

#include <QFont>
#include <QHash>
#include <QString>

#include "dialogs/columnceiling.h"

class QAbstractItemView;
class QModelIndex;
class QTableView;
class QWidget;

namespace TableColumns
{

// How wide the texts a view has shown need their cells, each text measured once: a table
// loaded again and again (the main window's, at every stored batch) measures only what it has
// not shown before, since laying out text is what measuring costs.
class TextWidths
{
public:
    int width(const QAbstractItemView* view, const QModelIndex& index);

private:
    QHash<QString, int> widths;
    QFont font;
};

// Widens every column but the stretched last one to what its header and the rows on screen
// need in the platform's font. A column is never narrowed: the form's widths and the ones the
// user dragged stay as minimums. With `widths`, the cells' widths come from it.
void growToContents(QTableView* view, TextWidths* widths = nullptr);

} // namespace TableColumns
