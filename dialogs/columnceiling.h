#pragma once

#include <QFontMetrics>
#include <QWidget>

#include <algorithm>

namespace TableColumns
{

// The widest a column grows to fit its contents: forty average characters of the view's font.
inline int columnCeiling(const QWidget* view)
{
    return std::max(view->fontMetrics().averageCharWidth() * 40, 200);
}

} // namespace TableColumns
