#pragma once

#include <QItemDelegate>

// Editors of the locations table: only the name of a room of our own can be edited; a
// gateway's location (one with an address) and the address columns cannot.
class LocationsDelegate : public QItemDelegate
{
    Q_OBJECT
public:
    using QItemDelegate::QItemDelegate;

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};
