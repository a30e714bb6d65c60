#pragma once

class QTableView;
class QWidget;

namespace TableColumns
{

// Widens every column but the stretched last one to what its header and the rows on screen
// need in the platform's font. A column is never narrowed: the form's widths and the ones the
// user dragged stay as minimums.
void growToContents(QTableView* view);

// The widest a column grows to fit its contents: forty average characters of the view's font.
int columnCeiling(const QWidget* view);

} // namespace TableColumns
