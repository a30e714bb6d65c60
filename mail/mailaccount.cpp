#include "mail/mailaccount.h"

#include "buildconfig.h"

namespace
{

// The relay is reached with TLS from the first byte; 465 is that service's port.
constexpr int kSmtpsPort = 465;

} // namespace

MailAccount MailAccount::builtIn()
{
    MailAccount a;
    a.host = QStringLiteral(OSTRIVEL_RELAY_HOST);
    // "+ 0" keeps an empty cache value compilable; it then means the default port.
    a.port = OSTRIVEL_RELAY_PORT + 0;
    if (a.port <= 0)
        a.port = kSmtpsPort;
    a.login = QStringLiteral(OSTRIVEL_RELAY_LOGIN);
    a.password = QStringLiteral(OSTRIVEL_RELAY_PASSWORD);
    return a;
}

QString MailAccount::supportAddress()
{
    return QStringLiteral(OSTRIVEL_SUPPORT_EMAIL);
}

MailAccount MailAccount::forAlarms(const MailAccount& builtInRelay, const MailAccount& configured)
{
    return builtInRelay.host.isEmpty() ? configured : builtInRelay;
}
