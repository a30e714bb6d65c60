#include "dialogs/sensorsdelegate.h"

#include <QComboBox>
#include <QDateEdit>
#include <QDoubleSpinBox>
#include <QTimeEdit>

#include "app/appstate.h"
#include "dialogs/registryeditor.h"

namespace
{

// The editor's value when it was opened, compared at commit.
const char* const kOpenedWith = "openedWith";
const QString kTimeFormat = QStringLiteral("HH:mm");
const QString kDateFormat = QStringLiteral("yyyy.MM.dd");

enum class Kind { Standard, Key, Interval, Location, Date, Flag, Temperature, Humidity };

Kind kindOf(int column)
{
    switch (column) {
    case RegistryEditor::ColumnEUI:
        return Kind::Key;
    case RegistryEditor::ColumnInterval:
        return Kind::Interval;
    case RegistryEditor::ColumnLocation:
        return Kind::Location;
    case RegistryEditor::ColumnDateCheck:
        return Kind::Date;
    case RegistryEditor::ColumnEnabled:
    case RegistryEditor::ColumnLowBattery:
    case RegistryEditor::ColumnLostConnection:
        return Kind::Flag;
    default:
        if (column >= RegistryEditor::ColumnFirstThreshold && column < RegistryEditor::ColumnFirstThreshold + 4)
            return Kind::Temperature;
        if (column > RegistryEditor::ColumnFirstThreshold + 3 && column <= RegistryEditor::ColumnLastThreshold)
            return Kind::Humidity;
        return Kind::Standard;
    }
}

QVariant editorValue(QWidget* editor, Kind kind)
{
    switch (kind) {
    case Kind::Interval:
        return static_cast<QTimeEdit*>(editor)->time();
    case Kind::Date:
        return static_cast<QDateEdit*>(editor)->date();
    case Kind::Location:
    case Kind::Flag:
        return static_cast<QComboBox*>(editor)->currentIndex();
    case Kind::Temperature:
    case Kind::Humidity:
        return static_cast<QDoubleSpinBox*>(editor)->value();
    default:
        return QVariant();
    }
}

} // namespace

SensorsDelegate::SensorsDelegate(const AppState& state, QObject* parent)
    : QItemDelegate(parent)
    , state(state)
{
}

QWidget* SensorsDelegate::createEditor(
    QWidget* parent, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    switch (kindOf(index.column())) {
    case Kind::Interval: {
        // No maximum of its own: the longest interval offered is 23:59.
        auto* edit = new QTimeEdit(parent);
        edit->setDisplayFormat(kTimeFormat);
        edit->setMinimumTime(QTime(0, 1));
        return edit;
    }
    case Kind::Date: {
        auto* edit = new QDateEdit(parent);
        edit->setDisplayFormat(kDateFormat);
        return edit;
    }
    case Kind::Location: {
        auto* combo = new QComboBox(parent);
        for (const Location* location : state.locations)
            combo->addItem(location->name);
        return combo;
    }
    case Kind::Flag: {
        auto* combo = new QComboBox(parent);
        combo->addItems({ RegistryEditor::flagText(false), RegistryEditor::flagText(true) });
        return combo;
    }
    case Kind::Temperature:
    case Kind::Humidity: {
        auto* spin = new QDoubleSpinBox(parent);
        spin->setRange(kindOf(index.column()) == Kind::Temperature ? -40 : 0, 100);
        return spin;
    }
    default:
        return QItemDelegate::createEditor(parent, option, index);
    }
}

void SensorsDelegate::setEditorData(QWidget* editor, const QModelIndex& index) const
{
    const Kind kind = kindOf(index.column());
    const QString text = index.data(Qt::EditRole).toString();
    switch (kind) {
    case Kind::Interval:
        static_cast<QTimeEdit*>(editor)->setTime(QTime::fromString(text, kTimeFormat));
        break;
    case Kind::Date:
        static_cast<QDateEdit*>(editor)->setDate(QDate::fromString(text, kDateFormat));
        break;
    case Kind::Location:
    case Kind::Flag:
        static_cast<QComboBox*>(editor)->setCurrentIndex(index.data(ChoiceRole).toInt());
        break;
    case Kind::Temperature:
    case Kind::Humidity:
        // Out of range shows as the nearest bound; it is written only if the user changes it.
        static_cast<QDoubleSpinBox*>(editor)->setValue(index.data(Qt::EditRole).toDouble());
        break;
    default:
        QItemDelegate::setEditorData(editor, index);
        return;
    }
    editor->setProperty(kOpenedWith, editorValue(editor, kind));
}

void SensorsDelegate::setModelData(QWidget* editor, QAbstractItemModel* model, const QModelIndex& index) const
{
    const Kind kind = kindOf(index.column());
    if (kind == Kind::Key)
        return;
    if (kind == Kind::Standard) {
        QItemDelegate::setModelData(editor, model, index);
        return;
    }
    const QVariant value = editorValue(editor, kind);
    if (value == editor->property(kOpenedWith))
        return;
    switch (kind) {
    case Kind::Interval:
        model->setData(index, value.toTime().toString(kTimeFormat));
        break;
    case Kind::Date:
        model->setData(index, value.toDate().toString(kDateFormat));
        break;
    case Kind::Location:
    case Kind::Flag:
        // Value and text in one change, so that another location of the same name still
        // counts as a change of the cell.
        model->setItemData(
            index, { { Qt::DisplayRole, static_cast<QComboBox*>(editor)->currentText() }, { ChoiceRole, value } });
        break;
    default:
        model->setData(index, value.toDouble());
        break;
    }
}
