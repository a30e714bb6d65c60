#pragma once

class QTableView;

namespace TableColumns
{

// Widens every column but the stretched last one to what its header and the rows on screen
// need in the platform's font. A column is never narrowed: the form's widths and the ones the
// user dragged stay as minimums.
void growToContents(QTableView* view);

} // namespace TableColumns
