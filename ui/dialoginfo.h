#pragma once

#include <QDialog>
#include <QList>
#include <QString>
#include <QThread>

class DatabaseInfo;
struct ModemState;
class NetworkModule;
class ZigBeeClient;

namespace Ui {
class DialogInfo;
}

// System information: the local modem, its network, the database, the devices the modem
// has seen and every connected gateway, as one page built each time it is shown. The number of
// stored measurements is counted in a thread of its own (seconds for a long history); the page
// shows counting() in its place until the figure arrives.
class DialogInfo : public QDialog
{
    Q_OBJECT
public:
    explicit DialogInfo(QWidget* parent = nullptr);
    ~DialogInfo() override;

    // The page from a copy of the modem's state, the connected gateways (with the peer
    // address of each), the database file's size and the number of stored measurements.
    // Text that comes from the modem or a gateway is escaped.
    struct Gateway
    {
        const ZigBeeClient* client;
        QString address;
    };
    static QString page(const ModemState& modem, const QList<Gateway>& gateways, qint64 databaseBytes,
        const QString& measureCount);

    QString pageText() const;
    // What the page shows for the number of measurements while they are being counted.
    static QString counting() { return QStringLiteral("…"); }
    // The gateway server whose connected gateways the page lists; none lists none.
    void setNetwork(const NetworkModule* module) { network = module; }

public slots:
    void slotRefresh();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showPage();
    void startCount();
    void counted(const QString& figure);

    Ui::DialogInfo* ui;
    const NetworkModule* network = nullptr;
    QString measureCount;
    // One count at a time; a refresh meanwhile counts once more after it.
    bool countRunning = false;
    bool countAgain = false;
    QThread counterThread;
    DatabaseInfo* counter = nullptr;
};
