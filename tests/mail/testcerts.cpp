#include "testcerts.h"

#include <QFile>
#include <QProcess>

namespace
{

QSslKey readKey(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? QSslKey(f.readAll(), QSsl::Ec) : QSslKey();
}

QSslCertificate readCert(const QString& path)
{
    const QList<QSslCertificate> certs = QSslCertificate::fromPath(path);
    return certs.isEmpty() ? QSslCertificate() : certs.first();
}

} // namespace

bool TestCerts::run(const QString& dir, const QStringList& args)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("openssl"), args);
    if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        error
            = QStringLiteral("openssl %1: %2 %3").arg(args.join(' '), p.errorString(), QString::fromUtf8(p.readAll()));
        return false;
    }
    return true;
}

bool TestCerts::create(const QString& dir)
{
    const QString names = QStringLiteral("subjectAltName=DNS:localhost,IP:127.0.0.1");
    QFile ext(dir + "/server.ext");
    if (!ext.open(QIODevice::WriteOnly)
        || ext.write((names + "\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n").toLatin1()) < 0) {
        error = ext.errorString();
        return false;
    }
    ext.close();
    const QStringList ec = { "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes" };
    const bool ok = run(dir,
                        QStringList { "req", "-x509" } + ec
                            + QStringList { "-keyout", "ca.key", "-out", "ca.pem", "-days", "2", "-subj",
                                "/CN=Ostrivel Test CA", "-addext", "basicConstraints=critical,CA:TRUE", "-addext",
                                "keyUsage=critical,keyCertSign,cRLSign" })
        && run(dir,
            QStringList { "req" } + ec
                + QStringList { "-keyout", "server.key", "-out", "server.csr", "-subj", "/CN=localhost" })
        && run(dir,
            { "x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial", "-out",
                "server.pem", "-days", "2", "-extfile", "server.ext" })
        && run(dir,
            QStringList { "req", "-x509" } + ec
                + QStringList { "-keyout", "rogue.key", "-out", "rogue.pem", "-days", "2", "-subj", "/CN=localhost",
                    "-addext", names });
    if (!ok)
        return false;
    caPath = dir + "/ca.pem";
    serverCertPath = dir + "/server.pem";
    serverKeyPath = dir + "/server.key";
    rogueCertPath = dir + "/rogue.pem";
    rogueKeyPath = dir + "/rogue.key";
    serverCert = readCert(serverCertPath);
    rogueCert = readCert(rogueCertPath);
    serverKey = readKey(serverKeyPath);
    rogueKey = readKey(rogueKeyPath);
    if (serverCert.isNull() || rogueCert.isNull() || serverKey.isNull() || rogueKey.isNull()) {
        error = QStringLiteral("the generated certificates or keys do not load");
        return false;
    }
    return true;
}

QSslConfiguration TestCerts::clientConfiguration() const
{
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setCaCertificates(QSslCertificate::fromPath(caPath));
    return c;
}
