#include "aiosmtpdpeer.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QTest>

#include "testcerts.h"

AiosmtpdPeer::~AiosmtpdPeer()
{
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished(5000);
    }
}

bool AiosmtpdPeer::start(const TestCerts& certs, const QString& dir, const QString& login, const QString& password)
{
    folder = dir;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(QStringLiteral("/usr/bin/python3"),
        { QStringLiteral(OSTRIVEL_SOURCE_DIR "/tests/mail/smtpsink.py"), "--cert", certs.serverCertPath, "--key",
            certs.serverKeyPath, "--dir", dir, "--login", login, "--password", password });
    QDeadlineTimer deadline(20000);
    QByteArray out;
    while (!deadline.hasExpired() && process.state() != QProcess::NotRunning && !out.contains('\n')) {
        process.waitForReadyRead(200);
        out += process.readAllStandardOutput();
    }
    if (out.startsWith("PORT "))
        port = out.mid(5).trimmed().toInt();
    if (port <= 0) {
        error = QStringLiteral("smtpsink.py did not start: %1 %2")
                    .arg(process.errorString(), QString::fromUtf8(process.readAllStandardError()));
        return false;
    }
    return true;
}

QJsonObject AiosmtpdPeer::waitForLetter(int n, int timeoutMs)
{
    const QString path = folder + QStringLiteral("/%1.json").arg(n);
    QDeadlineTimer deadline(timeoutMs);
    while (!QFile::exists(path) && !deadline.hasExpired())
        QTest::qWait(20);
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QJsonObject();
    return QJsonDocument::fromJson(f.readAll()).object();
}

int AiosmtpdPeer::letterCount() const
{
    return QDir(folder).entryList({ QStringLiteral("*.json") }, QDir::Files).size();
}
