#include "mail/smtpreplyreader.h"

namespace
{

int lineCode(const QString& line)
{
    if (line.size() < 3 || (line.size() > 3 && line.at(3) != QLatin1Char(' ') && line.at(3) != QLatin1Char('-')))
        return -1;
    for (int i = 0; i < 3; ++i) {
        if (line.at(i).unicode() < '0' || line.at(i).unicode() > '9')
            return -1;
    }
    return line.leftRef(3).toInt();
}

} // namespace

void SmtpReplyReader::append(const QByteArray& bytes)
{
    buffer += bytes;
}

bool SmtpReplyReader::takeReply(Reply* reply)
{
    int end;
    while (!tooLong && (end = buffer.indexOf('\n', head)) >= 0) {
        const int length = end + 1 - head;
        if (replyBytes + length > kMaxPending) {
            tooLong = true;
            break;
        }
        QByteArray raw = buffer.mid(head, length - 1);
        head = end + 1;
        replyBytes += length;
        if (raw.endsWith('\r'))
            raw.chop(1);
        const QString line = QString::fromUtf8(raw);
        const int code = lineCode(line);
        // "xyz-text" continues a reply; "xyz text", a bare "xyz" or anything malformed ends it.
        if (code >= 0 && line.size() > 3 && line.at(3) == QLatin1Char('-')) {
            lines.append(line);
            continue;
        }
        lines.append(line);
        reply->code = code;
        for (const QString& l : qAsConst(lines)) {
            if (lineCode(l) != code)
                reply->code = -1;
        }
        reply->lines = lines;
        lines.clear();
        replyBytes = 0;
        return true;
    }
    // Dropping what was read once, rather than line by line, keeps a packet of many short
    // replies as cheap as one long one.
    buffer.remove(0, head);
    head = 0;
    return false;
}

void SmtpReplyReader::clear()
{
    buffer.clear();
    head = 0;
    lines.clear();
    replyBytes = 0;
    tooLong = false;
}
