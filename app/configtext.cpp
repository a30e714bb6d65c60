#include "app/configtext.h"

#include <QHash>
#include <QRegularExpression>
#include <QTextCodec>

#include <cstring>

namespace
{

// A skipped line is shown cut: the warning must stay readable.
constexpr int kShownLength = 40;

// A section or key name as the INI store writes it unescaped; it writes any other with "%XX".
bool plainName(const QString& name)
{
    static const QRegularExpression plain(QStringLiteral("^[A-Za-z0-9_.-]+$"));
    return plain.match(name).hasMatch();
}

int digitValue(char c, int base)
{
    const int lower = c | 0x20;
    const int d = c >= '0' && c <= '9' ? c - '0' : lower >= 'a' && lower <= 'f' ? lower - 'a' + 10 : 99;
    return d < base ? d : -1;
}

bool isUtf8(const QByteArray& bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForMib(106)->toUnicode(bytes.constData(), bytes.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

QString decode(const QByteArray& bytes, bool utf8)
{
    // Windows-1251 maps every byte but 0x98 to a letter or sign; that one reads as U+FFFD.
    static QTextCodec* const windows1251 = QTextCodec::codecForName("Windows-1251");
    return utf8 ? QString::fromUtf8(bytes) : windows1251->toUnicode(bytes);
}

// Where the quote that closes one opened before `from` stands, -1 when none does.
int closingQuote(const QByteArray& raw, int from)
{
    for (int at = from; at < raw.size(); ++at) {
        if (raw.at(at) == '\\')
            ++at;
        else if (raw.at(at) == '"')
            return at;
    }
    return -1;
}

// A value as the INI store unescapes it, but whole: a comma stays in the text with the blanks
// around it. A value that opens with a quote and has its closing one is quoted, as the store's
// writer quotes; any other quote is a character of the text. Outside quotes a ';' starts a
// comment. "\x" and octal escapes run over every digit that follows and keep the low 16 bits;
// a backslash before anything that is no escape is kept with what follows.
QString valueText(const QByteArray& raw, bool utf8)
{
    static const char kNames[] = "abfnrtv\"?'\\";
    static const char kCodes[] = "\a\b\f\n\r\t\v\"?'\\";
    QString text;
    QByteArray run;
    const auto flush = [&] {
        text += decode(run, utf8);
        run.clear();
    };
    bool quoted = raw.startsWith('"') && closingQuote(raw, 1) > 0;
    for (int at = quoted ? 1 : 0; at < raw.size();) {
        const char c = raw.at(at++);
        if (c == '"' && quoted) {
            quoted = false;
            flush();
            continue;
        }
        if (c == ';' && !quoted) {
            while (run.endsWith(' ') || run.endsWith('\t'))
                run.chop(1);
            break;
        }
        const char e = at < raw.size() ? raw.at(at) : '\0';
        const int base = e == 'x' ? 16 : e >= '0' && e <= '7' ? 8 : 0;
        const char* simple = e ? std::strchr(kNames, e) : nullptr;
        const bool hexDigits = base == 16 && at + 1 < raw.size() && digitValue(raw.at(at + 1), 16) >= 0;
        if (c != '\\') {
            run += c;
            continue;
        }
        if (!(simple || base == 8 || hexDigits)) {
            // Typed by a person ("DBSRV\SQLEXPRESS", "DOMAIN\ivan", "a\;b"): both stay as they are.
            run += c;
            if (at < raw.size())
                run += raw.at(at++);
            continue;
        }
        flush();
        ++at;
        if (simple) {
            text += QLatin1Char(kCodes[simple - kNames]);
            continue;
        }
        uint value = base == 8 ? uint(e - '0') : 0;
        for (int d; at < raw.size() && (d = digitValue(raw.at(at), base)) >= 0; ++at)
            value = value * uint(base) + uint(d);
        text += QChar(ushort(value));
    }
    flush();
    // The store's writer doubles a leading '@': a single one marks a typed value there.
    return text.startsWith(QLatin1String("@@")) ? text.mid(1) : text;
}

QString shownLine(const QByteArray& line, bool utf8)
{
    QString shown = decode(line, utf8);
    for (QChar& c : shown) {
        if (!c.isPrint())
            c = QChar(0xfffd);
    }
    return shown.size() > kShownLength ? shown.left(kShownLength) + QChar(0x2026) : shown;
}

// The bytes as UTF-8: a UTF-16 file (Notepad's "Unicode") is converted, a UTF-8 mark dropped.
QByteArray asUtf8(const QByteArray& bytes)
{
    if (bytes.startsWith("\xff\xfe") || bytes.startsWith("\xfe\xff"))
        return QTextCodec::codecForUtfText(bytes)->toUnicode(bytes).toUtf8();
    return bytes.startsWith("\xef\xbb\xbf") ? bytes.mid(3) : bytes;
}

} // namespace

ConfigText ConfigText::parse(QByteArray bytes, const QStringList& knownKeys)
{
    QHash<QString, QString> spelling;
    for (const QString& key : knownKeys) {
        spelling.insert(key.toLower(), key);
        spelling.insert(key.left(key.indexOf(QLatin1Char('/'))).toLower(), key.left(key.indexOf(QLatin1Char('/'))));
    }
    const auto spelled = [&](const QString& name) { return spelling.value(name.toLower(), name); };

    ConfigText result;
    QString section;
    bytes = asUtf8(bytes).replace("\r\n", "\n").replace('\r', '\n');
    const QList<QByteArray> lines = bytes.split('\n');
    for (int number = 1; number <= lines.size(); ++number) {
        const QByteArray line = lines.at(number - 1).trimmed();
        const bool utf8 = isUtf8(line);
        const auto skip = [&](Skip why) { result.skipped.append({ number, shownLine(line, utf8), why }); };
        const int equals = line.indexOf('=');
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[')) {
            // A missing ']' is forgiven, as the store forgives it; what follows one is ignored, and
            // a ';' starts a comment here too.
            const QByteArray header = line.contains(';') ? line.left(line.indexOf(';')) : line;
            const int close = header.indexOf(']');
            section = spelled(decode(header.mid(1, close < 0 ? -1 : close - 1), utf8).trimmed());
            if (section.compare(QLatin1String("General"), Qt::CaseInsensitive) == 0)
                section.clear();
        } else if (equals < 0 || line.startsWith('#')) {
            skip(Skip::NotASetting);
        } else if (section.isEmpty()) {
            skip(Skip::OutsideSection);
        } else {
            const QString name = decode(line.left(equals).trimmed(), utf8);
            if (!plainName(name) || !plainName(section)) {
                skip(Skip::UnusableName);
                continue;
            }
            const QString key = spelled(section + QLatin1Char('/') + name);
            result.entries.append({ key, valueText(line.mid(equals + 1).trimmed(), utf8) });
            if (!utf8 && !result.windows1251.contains(key))
                result.windows1251.append(key);
        }
    }
    return result;
}
