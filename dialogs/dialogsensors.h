#pragma once

#include <QDialog>

// Editing of the sensors and locations of the registry.
class DialogSensors : public QDialog
{
    Q_OBJECT
public:
    explicit DialogSensors(QWidget* parent = nullptr);
    ~DialogSensors() override;

signals:
    void signalMainWindowRefresh();
    void signalMainWindowRefrSensorList();

public slots:
    void slotTableSensorsCellChanged(int row, int column);
    void slotPushRemoveClicked();
};
