#pragma once

#include <QByteArray>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// The text of "data/config.ini" as people leave it: written by the program, by the settings
// store's own writer, or by hand in a text editor (a Windows one, often: CRLF, a byte-order
// mark, Windows-1251, '#' comments, keys in another case, paths with single backslashes).
//
// Everything the store's writer produces reads as the store reads it, except that a comma
// stays in the text and no "@Variant(…)" object is decoded. What a person typed and no writer
// would produce keeps its meaning instead of being mangled: a backslash before a character
// that is no escape (or at the end) stays a backslash, a quote without a partner stays a
// quote, a line that is not UTF-8 is Windows-1251, the code page of the program's users.
// A line that cannot be used is skipped and noted, never a reason to give up the file.
class ConfigText
{
public:
    enum class Skip {
        NotASetting, // no "=", or a '#' comment
        OutsideSection, // a key before any section, or in [General]: no setting lives there
        UnusableName, // a key or section name no writer writes unescaped
    };
    struct SkippedLine {
        int number; // from 1
        QString text; // the line, cut to a readable length, without control characters
        Skip why;
    };

    // Reads INI text. A key or section spelled like one of `knownKeys` ("Section/key") in
    // another case is taken in that spelling, as the settings store matches keys on Windows.
    static ConfigText parse(QByteArray bytes, const QStringList& knownKeys = QStringList());

    // "Section/key" and its value, in file order; a later entry of a key replaces an earlier.
    QVector<QPair<QString, QString>> entries;
    QVector<SkippedLine> skipped;
    // Keys whose line was not UTF-8 and was read as Windows-1251.
    QStringList windows1251;
};
