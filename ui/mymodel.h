#pragma once

#include <QColor>
#include <QSqlQueryModel>
#include <QVariant>
#include <QVector>

class AppState;

// Read-only query model of the main window's tables: numbers with two decimals, battery
// voltages as words, and values beyond the alarm thresholds on the configured colours.
class MyModel : public QSqlQueryModel
{
    Q_OBJECT
public:
    enum ColumnKind { Plain = 0, Temperature = 1, Humidity = 2, Battery = 3 };

    explicit MyModel(QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

    // Kind per column; the owning window sets them.
    QVector<int> columnKinds;

    // The four limits of one quantity: critical minimum, warning minimum, warning maximum,
    // critical maximum.
    struct Limits
    {
        double minCritical = 0;
        double minWarning = 0;
        double maxWarning = 0;
        double maxCritical = 0;
    };
    // What a cell shows and its background, from the stored value alone (null for SQL NULL).
    static QVariant displayText(int kind, const QVariant& stored, bool viewVoltage);
    static QVariant background(int kind, const QVariant& stored, const Limits& limits, const AppState& config);
    // Limits of a row: those of the first sensor of that name with its own thresholds on,
    // otherwise the configured ones.
    static Limits limitsFor(int kind, const QString& rowName, const AppState& config);
};
