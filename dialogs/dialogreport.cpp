#include "dialogs/dialogreport.h"

#include <QFileInfo>
#include <QGuiApplication>
#include <QProgressBar>
#include <QProgressDialog>
#include <QScreen>
#include <QSettings>
#include <QThread>

#include "app/appstate.h"
#include "app/dailyreport.h"
#include "dialogs/prompt.h"
#include "ui_dialogreport.h"

namespace
{

const QString kGroup = QStringLiteral("DialogReport/");

QSettings* view()
{
    return gAppState ? gAppState->viewSettings : nullptr;
}

QVariant stored(const char* key, const QVariant& fallback)
{
    QSettings* v = view();
    return v ? v->value(kGroup + QLatin1String(key), fallback) : fallback;
}

void store(const char* key, const QVariant& value)
{
    if (QSettings* v = view())
        v->setValue(kGroup + QLatin1String(key), value);
}

bool checked(const QListWidget* list, int row)
{
    return list->item(row)->checkState() == Qt::Checked;
}

} // namespace

DialogReport::DialogReport(QWidget* parent)
    : QDialog(parent)
    , ui(new Ui_DialogReport)
{
    ui->setupUi(this);
    connect(ui->checkLocations, &QCheckBox::stateChanged, this, &DialogReport::slotCheckLocationsStateChanged);
    connect(ui->checkDaily, &QCheckBox::stateChanged, this, &DialogReport::slotCheckSensorsStateChanged);
    connect(ui->checkMeasureData, &QCheckBox::stateChanged, this, &DialogReport::slotCheckSensorsStateChanged);
    connect(ui->pushCurrent, &QPushButton::clicked, this, &DialogReport::slotPushCurrentClicked);
    connect(this, &QDialog::accepted, this, &DialogReport::slotAccept);

    ui->checkLocations->setChecked(true);
    ui->checkLocations->setChecked(stored("CheckLocations", 2).toInt() != 0);
    ui->checkDaily->setChecked(stored("CheckDaily", 2).toInt() != 0);
    ui->checkMeasureData->setChecked(stored("CheckMeasureData", 2).toInt() != 0);
    const QDateTime end = stored("DateTimeEnd", QDateTime::currentDateTime()).toDateTime();
    // Without a stored start the period is the last day before the end.
    const QDateTime start = stored("DateTimeStart", end.addSecs(-24 * 3600)).toDateTime();
    ui->dateTimeStart->setDateTime(start);
    ui->dateTimeEnd->setDateTime(end);

    const QRect desktop
        = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->virtualGeometry() : QRect();
    move((desktop.width() - width()) / 2, (desktop.height() - height()) / 2);
}

DialogReport::~DialogReport()
{
    // A run still writing a large workbook when the program closes does not hold the close.
    if (m_thread && ReportRunner::stopForClose(m_thread, m_runner)) {
        delete m_runner;
        delete m_thread;
    }
    delete m_progress;
    store("CheckLocations", int(ui->checkLocations->checkState()));
    store("CheckDaily", int(ui->checkDaily->checkState()));
    store("CheckMeasureData", int(ui->checkMeasureData->checkState()));
    store("DateTimeStart", ui->dateTimeStart->dateTime());
    store("DateTimeEnd", ui->dateTimeEnd->dateTime());
    delete ui;
}

void DialogReport::slotCheckLocationsStateChanged(int state)
{
    ui->listLocations->setEnabled(state > 0);
}

void DialogReport::slotCheckSensorsStateChanged(int)
{
    ui->listSensors->setEnabled(
        ui->checkDaily->checkState() != Qt::Unchecked || ui->checkMeasureData->checkState() != Qt::Unchecked);
}

void DialogReport::slotPushCurrentClicked()
{
    ui->dateTimeEnd->setDateTime(QDateTime::currentDateTime());
}

void DialogReport::showEvent(QShowEvent*)
{
    ui->listLocations->clear();
    ui->listSensors->clear();
    if (!gAppState)
        return;
    for (const Location* location : qAsConst(gAppState->locations)) {
        auto* item = new QListWidgetItem(location->name, ui->listLocations);
        item->setCheckState(Qt::Checked);
    }
    for (const Sensor* sensor : qAsConst(gAppState->sensors)) {
        auto* item = new QListWidgetItem(
            reportSensorRowText(sensor->name, gAppState->locationName(sensor->location), sensor->EUI64),
            ui->listSensors);
        item->setCheckState(Qt::Checked);
    }
}

ReportRequest DialogReport::request() const
{
    ReportRequest r;
    r.rooms = ui->checkLocations->checkState() != Qt::Unchecked;
    r.daily = ui->checkDaily->checkState() != Qt::Unchecked;
    r.measureData = ui->checkMeasureData->checkState() != Qt::Unchecked;
    r.start = ui->dateTimeStart->dateTime();
    r.end = ui->dateTimeEnd->dateTime();
    for (int i = 0; i < ui->listLocations->count(); ++i)
        r.locationRows.append({ ui->listLocations->item(i)->text(), checked(ui->listLocations, i) });
    for (int i = 0; i < ui->listSensors->count(); ++i)
        r.sensorRows.append({ ui->listSensors->item(i)->text(), checked(ui->listSensors, i) });
    if (!gAppState)
        return r;
    const AppState& s = *gAppState;
    // The rows stand for the first entries of the registry, which only grows at its end while
    // the dialog is open.
    for (int i = 0; i < r.sensorRows.size() && i < s.sensors.size(); ++i) {
        const Sensor& sensor = *s.sensors[i];
        r.sensors.append({ sensor.EUI64, sensor.name, sensor.location, sensor.datecheck, sensor.isEnabled,
            { sensor.tMinCritical, sensor.tMinNoncritical, sensor.tMaxNoncritical, sensor.tMaxCritical,
                sensor.hMinCritical, sensor.hMinNoncritical, sensor.hMaxNoncritical, sensor.hMaxCritical } });
    }
    r.globalThresholds
        = { s.TemperatureMinCritical, s.TemperatureMinWarning, s.TemperatureMaxWarning, s.TemperatureMaxCritical,
              s.WetnessMinCritical, s.WetnessMinWarning, s.WetnessMaxWarning, s.WetnessMaxCritical };
    return r;
}

void DialogReport::slotAccept()
{
    if (m_thread)
        return;
    m_running = request();
    m_thread = new QThread;
    m_runner = new ReportRunner(m_running, reportsFolder);
    m_runner->moveToThread(m_thread);
    connect(m_thread, &QThread::started, m_runner, &ReportRunner::start);
    connect(m_runner, &ReportRunner::finished, this, &DialogReport::reportsEnded);

    m_progress = new QProgressDialog(tr("Формирование отчётов…"), tr("Отмена"), 0, ReportRunner::steps());
    m_progress->setWindowTitle(tr("Отчеты"));
    m_progress->setWindowModality(Qt::ApplicationModal);
    m_progress->setAutoReset(false);
    m_progress->setAutoClose(false);
    // The run's progress goes to the bar alone: the dialog's own setValue() processes events
    // while it is shown, and the run's end could then arrive inside it.
    auto* bar = new QProgressBar;
    m_progress->setBar(bar);
    m_progress->setRange(0, ReportRunner::steps());
    m_progress->setMinimumDuration(300);
    m_progress->setValue(0);
    connect(m_runner, &ReportRunner::progress, bar, &QProgressBar::setValue);
    // A cancel that comes after the run's end (a close of the program ends every dialog) finds
    // no runner any more.
    connect(m_progress.data(), &QProgressDialog::canceled, this, [this] {
        if (m_runner)
            m_runner->cancel();
    });
    m_thread->start();
}

QString DialogReport::closingText(const ReportOutcome& outcome, const QString& folder)
{
    QStringList names;
    for (const QString& file : outcome.written)
        names << QFileInfo(file).fileName();
    const QString unchanged = tr("Файлы отчетов в папке \"%1\" не изменены").arg(folder);
    if (outcome.cancelled)
        return tr("Формирование отчетов отменено") + QStringLiteral("\r\n") + unchanged;
    if (outcome.failures.isEmpty()) {
        if (names.isEmpty())
            return tr("Не выбран ни один отчет") + QStringLiteral("\r\n") + unchanged;
        return tr("Отчеты созданы в папке \"reports\" (.xlsx файлы)\r\nДанная папка находится в директории с "
                  "программой")
            + QStringLiteral("\r\n") + tr("Записаны: %1").arg(names.join(QStringLiteral(", ")));
    }
    QStringList lines;
    for (const ReportOutcome::Failure& f : outcome.failures) {
        if (outcome.folderFailed)
            lines << tr("Не удалось создать папку \"%1\"").arg(f.file);
        else if (f.file.isEmpty())
            lines << tr("Не удалось открыть базу данных: %1").arg(f.reason);
        else
            lines << tr("Не удалось записать отчет \"%1\": %2").arg(f.file, f.reason);
    }
    lines << (names.isEmpty() ? unchanged : tr("Записаны только: %1").arg(names.join(QStringLiteral(", "))));
    return lines.join(QStringLiteral("\r\n"));
}

void DialogReport::reportsEnded(const ReportOutcome& outcome)
{
    m_thread->quit();
    m_thread->wait();
    delete m_runner;
    delete m_thread;
    m_runner = nullptr;
    m_thread = nullptr;
    // The progress window goes now, not later: its own delayed show would otherwise bring it
    // back over the closing message, whose nested loop never runs a deferred delete. Nothing of
    // it is on the stack here: the run's end arrives as a queued call, and the run's progress
    // goes to the bar alone.
    delete m_progress;

    const QString title = tr("Отчеты");
    if (!outcome.cancelled && m_running.daily && DailyReport::datesReversed(m_running))
        prompt()->warning(tr("Ошибка в выборе даты"), tr("Дата конца отчетного периода меньше его начала"));
    prompt()->warning(title, closingText(outcome, reportsFolder));
    emit signalReportsFinished();
}
