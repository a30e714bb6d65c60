#pragma once

#include <QJsonObject>
#include <QProcess>
#include <QString>

class TestCerts;

// The aiosmtpd server of smtpsink.py, run by /usr/bin/python3 in a process of its own.
class AiosmtpdPeer
{
public:
    ~AiosmtpdPeer();
    // Starts the server with the test certificate, storing letters under dir; false (with
    // error set) when it does not come up.
    bool start(const TestCerts& certs, const QString& dir, const QString& login, const QString& password);
    // The n-th accepted letter as parsed by Python's email package; empty when none came in time.
    QJsonObject waitForLetter(int n, int timeoutMs);
    int letterCount() const;

    int port = 0;
    QString error;

private:
    QProcess process;
    QString folder;
};
