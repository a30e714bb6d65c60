#pragma once

#include <QDialog>

class LocationsDelegate;
class QShowEvent;
class RegistryEditor;
class SensorsDelegate;
struct Sensor;

namespace Ui
{
class DialogSensors;
}

// Editing of the sensors and locations of the registry. Row i of each table shows entry i
// of its list; every edit is written through at once by the registry editor.
class DialogSensors : public QDialog
{
    Q_OBJECT
public:
    explicit DialogSensors(QWidget* parent = nullptr);
    ~DialogSensors() override;

signals:
    void signalMainWindowRefresh();
    void signalMainWindowRefrSensorList();
    // A sensor's sleep interval changed: the configuration is saved and the gateways told.
    void signalSleepIntervalChanged(Sensor* sensor, int seconds);

public slots:
    void slotRefrButtons();
    void slotTableLocationsCellChanged(int row, int column);
    void slotTableSensorsCellChanged(int row, int column);
    void slotPushAddClicked();
    void slotPushRemoveClicked();
    void slotSaveSettings();

protected:
    // Every showing fills both tables from the registry.
    void showEvent(QShowEvent* event) override;

private:
    void fill();
    void showSensorRow(int row);
    void showLocationRow(int row);
    void showLocationRenamed(int row);

    Ui::DialogSensors* ui;
    RegistryEditor* registryEditor;
    SensorsDelegate* sensorsDelegate;
    LocationsDelegate* locationsDelegate;
    // Set while the dialog itself writes cells, so that they are not taken for edits.
    bool isFilling = true;
};
