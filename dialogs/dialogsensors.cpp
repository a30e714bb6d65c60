#include "dialogs/dialogsensors.h"

#include <QApplication>
#include <QDesktopWidget>
#include <QTreeWidgetItem>

#include "app/appstate.h"
#include "dialogs/columnceiling.h"
#include "dialogs/locationsdelegate.h"
#include "dialogs/registryeditor.h"
#include "dialogs/sensorsdelegate.h"
#include "ui_dialogsensors.h"

namespace
{

// Puts texts into a row of fresh items; a text cut at its column's ceiling is whole in the tooltip.
void setRow(QTableWidget* table, int row, const QStringList& texts)
{
    for (int column = 0; column < texts.size(); ++column) {
        auto* item = new QTableWidgetItem(texts[column]);
        item->setToolTip(texts[column]);
        table->setItem(row, column, item);
    }
}

} // namespace

DialogSensors::DialogSensors(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogSensors)
    , registryEditor(new RegistryEditor(*gAppState, RegistryEditor::writerOf(*gAppState), this))
    , sensorsDelegate(new SensorsDelegate(*gAppState, this))
    , locationsDelegate(new LocationsDelegate(this))
{
    ui->setupUi(this);
    ui->tabWidget->setCurrentIndex(0);
    ui->tableSensors->setItemDelegate(sensorsDelegate);
    ui->tableSensors->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    // Columns that size to their contents stop at a ceiling, so that a very long name does not
    // push the others out of view.
    for (QTableWidget* table : { ui->tableSensors, ui->tableLocations })
        table->horizontalHeader()->setMaximumSectionSize(TableColumns::columnCeiling(table));
    ui->tableLocations->setItemDelegate(locationsDelegate);
    // No default button: Enter belongs to the cell editors and never adds or removes anything.
    for (QPushButton* button : { ui->pushAdd, ui->pushRemove, ui->pushOk }) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    // Names and addresses are shown whole; the modem's EUI64 takes the rest of the width.
    for (int column : { 0, 1 })
        ui->tableLocations->horizontalHeader()->setSectionResizeMode(column, QHeaderView::ResizeToContents);

    connect(ui->pushOk, &QPushButton::clicked, this, &DialogSensors::slotSaveSettings);
    connect(ui->pushAdd, &QPushButton::clicked, this, &DialogSensors::slotPushAddClicked);
    connect(ui->pushRemove, &QPushButton::clicked, this, &DialogSensors::slotPushRemoveClicked);
    connect(ui->tabWidget, &QTabWidget::currentChanged, this, &DialogSensors::slotRefrButtons);
    connect(ui->tableLocations, &QTableWidget::cellPressed, this, &DialogSensors::slotRefrButtons);
    connect(ui->tableLocations, &QTableWidget::cellChanged, this, &DialogSensors::slotTableLocationsCellChanged);
    connect(ui->tableSensors, &QTableWidget::cellPressed, this, &DialogSensors::slotRefrButtons);
    connect(ui->tableSensors, &QTableWidget::cellChanged, this, &DialogSensors::slotTableSensorsCellChanged);

    connect(registryEditor, &RegistryEditor::sensorChanged, this, &DialogSensors::showSensorRow);
    connect(registryEditor, &RegistryEditor::locationChanged, this, &DialogSensors::showLocationRenamed);
    connect(registryEditor, &RegistryEditor::locationAdded, this, &DialogSensors::showLocationRow);
    connect(registryEditor, &RegistryEditor::rowsRemoved, this, &DialogSensors::fill);
    connect(registryEditor, &RegistryEditor::busyChanged, this, &DialogSensors::slotRefrButtons);
    connect(registryEditor, &RegistryEditor::treeChanged, this, [this]() {
        emit signalMainWindowRefrSensorList();
        emit signalMainWindowRefresh();
    });
    connect(registryEditor, &RegistryEditor::lookChanged, this, &DialogSensors::signalMainWindowRefresh);
    connect(registryEditor, &RegistryEditor::sleepIntervalChanged, this, &DialogSensors::signalSleepIntervalChanged);

    const QRect desktop = QApplication::desktop()->geometry();
    move((desktop.width() - width()) / 2, (desktop.height() - height()) / 2);
}

DialogSensors::~DialogSensors()
{
    delete ui;
}

void DialogSensors::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    fill();
}

void DialogSensors::fill()
{
    isFilling = true;
    const int locations = gAppState->locations.size();
    ui->tableLocations->setRowCount(locations);
    for (int i = 0; i < locations; ++i)
        setRow(ui->tableLocations, i, registryEditor->locationTexts(i));
    const int sensors = gAppState->sensors.size();
    ui->tableSensors->setRowCount(sensors);
    for (int i = 0; i < sensors; ++i)
        showSensorRow(i);
    isFilling = false;
    slotRefrButtons();
}

void DialogSensors::showSensorRow(int row)
{
    if (row < 0 || row >= ui->tableSensors->rowCount())
        return;
    const bool filling = isFilling;
    isFilling = true;
    setRow(ui->tableSensors, row, registryEditor->sensorTexts(row));
    for (int column = 0; column < RegistryEditor::SensorColumnCount; ++column) {
        if (RegistryEditor::isChoiceColumn(column))
            ui->tableSensors->item(row, column)
                ->setData(SensorsDelegate::ChoiceRole, registryEditor->sensorChoice(row, column));
    }
    isFilling = filling;
}

void DialogSensors::showLocationRow(int row)
{
    const bool filling = isFilling;
    isFilling = true;
    if (row >= ui->tableLocations->rowCount())
        ui->tableLocations->setRowCount(row + 1);
    setRow(ui->tableLocations, row, registryEditor->locationTexts(row));
    isFilling = filling;
}

void DialogSensors::showLocationRenamed(int row)
{
    showLocationRow(row);
    const Location* location = gAppState->locations.value(row);
    if (!location)
        return;
    if (location->treeItem)
        location->treeItem->setText(0, location->name);
    // The location column of its sensors shows the new name.
    for (int i = 0; i < gAppState->sensors.size(); ++i) {
        if (gAppState->sensors[i]->location == row)
            showSensorRow(i);
    }
}

void DialogSensors::slotRefrButtons()
{
    const bool busy = registryEditor->isBusy();
    const int tab = ui->tabWidget->currentIndex();
    const QTableWidget* table = tab == 0 ? ui->tableSensors : ui->tableLocations;
    const int fewest = tab == 0 ? 1 : 2;
    ui->pushAdd->setEnabled(tab == 1 && !busy);
    ui->pushRemove->setEnabled(!busy && table->rowCount() >= fewest && table->currentRow() >= 0);
}

void DialogSensors::slotTableLocationsCellChanged(int row, int)
{
    if (isFilling)
        return;
    const QTableWidgetItem* item = ui->tableLocations->item(row, 0);
    registryEditor->renameLocation(row, item ? item->text() : QString());
}

void DialogSensors::slotTableSensorsCellChanged(int row, int column)
{
    if (isFilling)
        return;
    const QTableWidgetItem* item = ui->tableSensors->item(row, column);
    if (!item)
        return;
    registryEditor->editSensor(row, column,
        item->data(RegistryEditor::isChoiceColumn(column) ? SensorsDelegate::ChoiceRole : int(Qt::EditRole)));
}

void DialogSensors::slotPushAddClicked()
{
    if (ui->tabWidget->currentIndex() == 1)
        registryEditor->addLocation();
}

void DialogSensors::slotPushRemoveClicked()
{
    const int tab = ui->tabWidget->currentIndex();
    if (tab == 0)
        registryEditor->removeSensor(ui->tableSensors->currentRow());
    else if (tab == 1)
        registryEditor->removeLocation(ui->tableLocations->currentRow());
}

void DialogSensors::slotSaveSettings()
{
    gAppState->saveConfig();
    close();
}
