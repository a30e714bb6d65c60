#pragma once

#include <QByteArray>
#include <QString>

// Takes the next whole "UCAST:<EUI64>,<LL>=<LL bytes>\r\n" off the front of `buffer`, a sensor's
// message as the modem forwards it, and gives its sender; empty while none is whole. Both
// anchors cut the serial stream this way, so neither does more work than the other.
inline QString takeUcastSender(QByteArray& buffer)
{
    // The modem's echo of a reply ("AT+UCASTB:...") and its "OK" are no sensor's message.
    const int colon = buffer.indexOf("UCAST:") + 5;
    if (colon < 5) {
        buffer = buffer.right(5);
        return QString();
    }
    const int comma = colon + 17;
    if (buffer.size() < comma + 4)
        return QString();
    const int end = comma + 4 + buffer.mid(comma + 1, 2).toInt(nullptr, 16) + 2;
    if (buffer.size() < end)
        return QString();
    const QString eui = QString::fromLatin1(buffer.mid(colon + 1, comma - colon - 1));
    buffer.remove(0, end);
    return eui;
}
