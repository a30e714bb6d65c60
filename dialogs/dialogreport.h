#pragma once

#include <QDialog>
#include <QPointer>

#include "core/reportrequest.h"
#include "dialogs/reportrunner.h"

class QProgressDialog;
class QShowEvent;
class QThread;
class Ui_DialogReport;

// Choice and generation of the XLSX reports: period, locations and sensors. Ok hides the dialog
// and writes the checked workbooks into "reports" in a thread of its own behind a progress
// dialog with Cancel, so the sensors are still answered meanwhile; one message closes the run.
class DialogReport : public QDialog
{
    Q_OBJECT
public:
    explicit DialogReport(QWidget* parent = nullptr);
    ~DialogReport() override;

    // The choice as a run takes it, with the registry and thresholds it reads.
    ReportRequest request() const;
    // The message that closes a run: what was written into `folder`, or why nothing was.
    static QString closingText(const ReportOutcome& outcome, const QString& folder);

    Ui_DialogReport* ui;
    // Where the workbooks go, relative to the working directory.
    QString reportsFolder = QStringLiteral("reports");

signals:
    // A run has ended and its closing message was shown.
    void signalReportsFinished();

public slots:
    void slotCheckLocationsStateChanged(int state);
    void slotCheckSensorsStateChanged(int state);
    void slotPushCurrentClicked();
    void slotAccept();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void reportsEnded(const ReportOutcome& outcome);

    QThread* m_thread = nullptr;
    ReportRunner* m_runner = nullptr;
    QPointer<QProgressDialog> m_progress;
    ReportRequest m_running;
};
