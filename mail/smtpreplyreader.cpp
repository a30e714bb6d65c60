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
    pendingBytes += bytes.size();
}

bool SmtpReplyReader::takeReply(Reply* reply)
{
    int end;
    while ((end = buffer.indexOf('\n')) >= 0) {
        QByteArray raw = buffer.left(end);
        buffer.remove(0, end + 1);
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
        pendingBytes = buffer.size();
        return true;
    }
    return false;
}

void SmtpReplyReader::clear()
{
    buffer.clear();
    lines.clear();
    pendingBytes = 0;
}
