#pragma once

#include <QFont>
#include <QHash>
#include <QHeaderView>
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
    // What the header of `column` needs, measured again only when its title changes.
    int headerWidth(const QTableView* view, int column);

private:
    void follow(const QAbstractItemView* view);

    QHash<QString, int> widths;
    QHash<QString, int> headers;
    QFont font;
};

// Widens every column but the stretched last one to what its header and the rows on screen
// need in the platform's font. A column is never narrowed: the form's widths and the ones the
// user dragged stay as minimums. With `widths`, the cells' widths come from it.
void growToContents(QTableView* view, TextWidths* widths = nullptr);

// Row numbers beside a table, as wide as the widest number shown. Qt's own header measures the
// numbers of a hundred rows at each end again after every change of rows: some hundreds of
// texts laid out at every load of a table that reloads twice a second. This one measures them
// again only when the count of rows, the font or the style changes.
class RowNumbers : public QHeaderView
{
public:
    explicit RowNumbers(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    bool event(QEvent* e) override;

private:
    mutable QSize hint;
    mutable int hintRows = -1;
};

// Gives `view` row numbers of that kind, set up as those it had.
void numberRows(QTableView* view);

} // namespace TableColumns
