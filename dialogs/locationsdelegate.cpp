#include "dialogs/locationsdelegate.h"

QWidget* LocationsDelegate::createEditor(
    QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    if (index.column() != 0 || !index.sibling(index.row(), 1).data().toString().isEmpty())
        return nullptr;
    return QItemDelegate::createEditor(parent, option, index);
}
