#pragma once

#include <QItemDelegate>

class AppState;

// Editors of the sensors table, one kind per column. An editor hands the chosen value to
// its cell and nothing else: the cell's change is what writes the database and then the
// registry. An editor closed without a change leaves the cell alone, so merely passing
// through a cell writes nothing even where the editor had to adjust the value it shows.
class SensorsDelegate : public QItemDelegate
{
    Q_OBJECT
public:
    // The location choice lists the locations of `state`.
    explicit SensorsDelegate(const AppState& state, QObject* parent = nullptr);

    QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const override;
    void setEditorData(QWidget* editor, const QModelIndex& index) const override;
    void setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const override;

    // The role of a choice cell that holds the chosen value (location index, flag 0 or 1).
    static constexpr int ChoiceRole = Qt::UserRole;

private:
    const AppState& state;
};
