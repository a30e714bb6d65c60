#pragma once

#include <QAbstractTableModel>
#include <QColor>
#include <QHash>
#include <QVariant>
#include <QVector>

class AppState;

// Read-only model of the main window's tables: the rows of a query, with numbers shown with
// two decimals, battery voltages as words, and values beyond the alarm thresholds on the
// configured colours. The rows are loaded elsewhere and handed over whole.
class MyModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum ColumnKind { Plain = 0, Temperature = 1, Humidity = 2, Battery = 3 };

    explicit MyModel(int columns, QObject* parent = nullptr);

    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    bool setHeaderData(
        int section, Qt::Orientation orientation, const QVariant& value, int role = Qt::EditRole) override;

    // Makes the rows these; cells beyond the table's columns are not shown, and the first of
    // them, when there is one, is the address of the sensor whose thresholds colour the row.
    // Rows that left, came or changed are reported as such, so a view redraws only them; a
    // row whose name (the first cell) and sensor stay reports each changed cell alone. False
    // when the rows were these already.
    bool setRows(const QVector<QVector<QVariant>>& rows);
    // The thresholds, colours or the voltage choice the cells are drawn from changed: every
    // cell is reported changed, since the rows alone do not tell.
    void restyle();
    // The stored value of a cell, as the query gave it.
    QVariant stored(int row, int column) const;

    // Kind per column; the owning window sets them.
    QVector<int> columnKinds;

    // The four limits of one quantity: critical minimum, warning minimum, warning maximum,
    // critical maximum.
    struct Limits {
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

private:
    // The limits of a row's sensor, found by its address; without one, limitsFor through a
    // lookup by name, built once per set of rows: a repaint then costs the same whatever the
    // number of sensors.
    Limits rowLimits(int kind, int row, const AppState& config) const;
    // Reports what changed in `row`, which held `was`.
    void rowChanged(int row, const QVector<QVariant>& was);

    int columns;
    mutable QHash<QString, int> enabledByName; // name -> first sensor of it with own thresholds
    mutable bool lookupStale = true;
    QVector<QVector<QVariant>> rows;
    QVector<quint64> keys; // each row's key in setRows, where it was last worked out
    QHash<int, QHash<int, QVariant>> headers; // section -> role -> value
};
