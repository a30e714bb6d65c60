#include "mail/mimeletter.h"

#include <QUuid>

#include <cstring>

namespace
{

// UTF-8 bytes per encoded word: 45 bytes give 60 base64 characters, which with the
// "=?UTF-8?B?" and "?=" wrapping stays under the 75-character limit of RFC 2047.
constexpr int kEncodedWordBytes = 45;
constexpr int kBase64LineLength = 76;

bool isPrintableAscii(const QString& text)
{
    for (QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() > 0x7e)
            return false;
    }
    return true;
}

bool isTokenChar(char c)
{
    static const char specials[] = "()<>@,;:\\\"/[]?= ";
    return c > 0x20 && c < 0x7f && !strchr(specials, c);
}

} // namespace

QByteArray MimeLetter::build(const QString& from, const QString& to, const QString& subject, const QString& body,
    const QList<Attachment>& attachments, const QDateTime& date, const QByteArray& messageId)
{
    QByteArray text = head(from, to, subject, body, date, messageId);
    for (const Attachment& a : attachments)
        text += attachmentHead(a.name) + base64Lines(a.content, true);
    return text + tail();
}

QByteArray MimeLetter::head(const QString& from, const QString& to, const QString& subject, const QString& body,
    const QDateTime& date, const QByteArray& messageId)
{
    QByteArray text;
    text += "To: " + to.toUtf8() + "\n";
    text += "From: " + from.toUtf8() + "\n";
    text += "Subject: " + encodeHeaderText(subject) + "\n";
    if (date.isValid())
        text += "Date: " + date.toString(Qt::RFC2822Date).toLatin1() + "\n";
    if (!messageId.isEmpty())
        text += "Message-ID: " + messageId + "\n";
    text += "MIME-Version: 1.0\n";
    text += "Content-Type: multipart/mixed; boundary=frontier\n\n";
    text += "--frontier\n";
    text += "Content-Type: text/plain; charset=utf-8\n";
    text += "Content-Transfer-Encoding: 8bit\n\n";
    text += body.toUtf8() + "\n\n";
    return toWireText(text);
}

QByteArray MimeLetter::attachmentHead(const QString& name)
{
    return toWireText("--frontier\nContent-Type: application/octet-stream\nContent-Disposition: attachment; "
        + fileNameParameter(name) + ";\nContent-Transfer-Encoding: base64\n\n");
}

QByteArray MimeLetter::tail()
{
    return "--frontier--\r\n";
}

QByteArray MimeLetter::encodeHeaderText(const QString& text)
{
    if (isPrintableAscii(text))
        return text.toLatin1();
    QByteArray out;
    QByteArray word;
    const QVector<uint> codePoints = text.toUcs4();
    for (uint cp : codePoints) {
        // A character is never split between two words: each word must decode on its own.
        const QByteArray bytes = QString::fromUcs4(&cp, 1).toUtf8();
        if (word.size() + bytes.size() > kEncodedWordBytes) {
            out += (out.isEmpty() ? "" : "\n ") + QByteArray("=?UTF-8?B?") + word.toBase64() + "?=";
            word.clear();
        }
        word += bytes;
    }
    if (!word.isEmpty())
        out += (out.isEmpty() ? "" : "\n ") + QByteArray("=?UTF-8?B?") + word.toBase64() + "?=";
    return out;
}

QByteArray MimeLetter::fileNameParameter(const QString& name)
{
    const QByteArray utf8 = name.toUtf8();
    bool token = !utf8.isEmpty();
    bool ascii = true;
    for (char c : utf8) {
        token = token && isTokenChar(c);
        ascii = ascii && uchar(c) >= 0x20 && uchar(c) < 0x7f;
    }
    if (token)
        return "filename=" + utf8;
    if (ascii) {
        QByteArray quoted = utf8;
        quoted.replace('\\', "\\\\").replace('"', "\\\"");
        return "filename=\"" + quoted + "\"";
    }
    return "filename*=UTF-8''" + utf8.toPercentEncoding();
}

QByteArray MimeLetter::base64Lines(const QByteArray& data, bool crlf)
{
    const QByteArray encoded = data.toBase64();
    const QByteArray end = crlf ? "\r\n" : "\n";
    QByteArray out;
    out.reserve(encoded.size() + encoded.size() / kBase64LineLength * end.size() + 2);
    for (int i = 0; i < encoded.size(); i += kBase64LineLength) {
        out.append(encoded.constData() + i, qMin(kBase64LineLength, encoded.size() - i));
        out += end;
    }
    return out;
}

QByteArray MimeLetter::toWireText(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size() + text.size() / 16 + 2);
    bool lineStart = true;
    for (int i = 0; i < text.size(); ++i) {
        const char c = text.at(i);
        if (c == '\r' || c == '\n') {
            if (c == '\r' && i + 1 < text.size() && text.at(i + 1) == '\n')
                ++i;
            out += "\r\n";
            lineStart = true;
            continue;
        }
        if (lineStart && c == '.')
            out += '.';
        out += c;
        lineStart = false;
    }
    return out;
}

bool MimeLetter::hasLineBreak(const QString& text)
{
    return text.contains(QLatin1Char('\r')) || text.contains(QLatin1Char('\n'));
}

QByteArray MimeLetter::newMessageId(const QString& from)
{
    QString domain = from.section(QLatin1Char('@'), 1).trimmed();
    if (domain.isEmpty() || hasLineBreak(domain) || domain.contains(QLatin1Char('>')))
        domain = QStringLiteral("ostrivel.invalid");
    return "<" + QUuid::createUuid().toByteArray(QUuid::WithoutBraces) + "@" + domain.toUtf8() + ">";
}
