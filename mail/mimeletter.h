#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QList>
#include <QString>

// Builds the text of one letter as it goes after "DATA": a multipart/mixed message with the
// boundary "frontier", a UTF-8 plain-text part and base64 attachments. Everything here is
// pure, so the whole layout can be checked without a server.
class MimeLetter
{
public:
    struct Attachment {
        QString name; // file name only, without folders
        QByteArray content;
    };

    // The message with CRLF line ends and dot-stuffing applied, ready for the DATA phase.
    // A valid date and a non-empty id add the Date and Message-ID headers that receiving
    // servers expect (some mark a letter without them as spam).
    static QByteArray build(const QString& from, const QString& to, const QString& subject, const QString& body,
        const QList<Attachment>& attachments, const QDateTime& date = QDateTime(),
        const QByteArray& messageId = QByteArray());
    // The same letter in the pieces that a sender streams, each already in wire text: the
    // headers and the text part; the headers of one attachment part, which its base64 lines
    // follow; the closing boundary. Every piece ends with a line end, so the pieces joined with
    // each attachment's base64Lines (CRLF line ends) in between give exactly build()'s text.
    static QByteArray head(const QString& from, const QString& to, const QString& subject, const QString& body,
        const QDateTime& date = QDateTime(), const QByteArray& messageId = QByteArray());
    static QByteArray attachmentHead(const QString& name);
    static QByteArray tail();
    // "<unique@domain>", the domain taken from the sender's address.
    static QByteArray newMessageId(const QString& from);

    // Header text as it stands when it is printable ASCII, else RFC 2047 encoded words
    // (UTF-8, base64), folded so that no word is longer than 75 characters.
    static QByteArray encodeHeaderText(const QString& text);
    // The value of the filename parameter: a token as it stands, a quoted string, or an
    // RFC 2231 extended value for a non-ASCII name (including the "filename" key itself).
    static QByteArray fileNameParameter(const QString& name);
    // Base64 in lines of 76 characters, each ended by "\n" (by "\r\n" with crlf).
    static QByteArray base64Lines(const QByteArray& data, bool crlf = false);
    // Every line end (CRLF, LF or a lone CR) becomes CRLF; every line starting with "." gets
    // another "." so that no line of the letter can end the DATA phase early.
    static QByteArray toWireText(const QByteArray& text);
    // A header value with CR or LF in it could add headers or commands of its own.
    static bool hasLineBreak(const QString& text);
};
