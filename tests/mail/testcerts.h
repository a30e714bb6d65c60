#pragma once

#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QString>

// A throw-away CA and a server certificate for "localhost"/127.0.0.1 signed by it, made with
// the openssl tool, plus a self-signed "rogue" certificate for the same names that no client
// trusts.
class TestCerts
{
public:
    // Writes the files into dir; false (with error set) when openssl fails.
    bool create(const QString& dir);

    // A client configuration that trusts the test CA and nothing else.
    QSslConfiguration clientConfiguration() const;

    QString caPath, serverCertPath, serverKeyPath, rogueCertPath, rogueKeyPath;
    QSslCertificate serverCert, rogueCert;
    QSslKey serverKey, rogueKey;
    QString error;

private:
    bool run(const QString& dir, const QStringList& args);
};
