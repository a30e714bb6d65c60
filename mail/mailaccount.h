#pragma once

#include <QString>

// An SMTP account: where letters go and how the client logs in.
struct MailAccount {
    QString host;
    int port = 0;
    QString login;
    QString password;

    // The relay account fixed when the program is configured (empty unless the build was
    // given one), and the recipient of problem reports.
    static MailAccount builtIn();
    static QString supportAddress();
    // Alarm letters use the built-in relay when the build has one, the configured account
    // otherwise.
    static MailAccount forAlarms(const MailAccount& builtInRelay, const MailAccount& configured);
};
