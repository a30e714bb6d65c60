#pragma once

#include <QString>
#include <QThread>

class QTimer;

// Timed export of the measurements to "export.dbf"; runs in a thread of its own.
class DbfExport : public QThread
{
    Q_OBJECT
public:
    explicit DbfExport(QObject* parent = nullptr);
    ~DbfExport() override;

    QTimer* timer = nullptr;

signals:
    void signalUpdateStatus(QString text);

public slots:
    void slotExportDBF();
    void slotStopModule();
    void slotSetInterval(int minutes);

protected:
    void run() override;
};
