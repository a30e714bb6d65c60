#pragma once

#include <QColor>
#include <QList>
#include <QString>

class QSettings;

// Reads the values of "data/config.ini" for the loader. A key that is missing gives its loader
// default; a key that is there but whose value cannot mean anything for it (no number, NaN or
// infinite, out of its range, a colour without a name, a flag that is neither true nor false)
// gives the key's default instead and is noted, so that the user can be told which values were
// replaced and by what.
class ConfigReader
{
public:
    struct Fallback {
        QString key;
        QString found; // the text of the file, cut to a readable length
        QString used;
    };

    explicit ConfigReader(const QSettings& settings);

    QString text(const char* key, const QString& loaderDefault) const;
    // "true" or "false" as the store writes them, or "1" or "0"; false when missing.
    bool flag(const char* key);
    // Whether the text is such a flag, and which.
    static bool flagText(const QString& text, bool* value);
    // An integer in [min, max]; `fallback` replaces a value outside it, `loaderDefault` a missing one.
    int integer(const char* key, int loaderDefault, int min, int max, int fallback);
    int integer(const char* key, int loaderDefault, int min, int max)
    {
        return integer(key, loaderDefault, min, max, loaderDefault);
    }
    // A finite number in [min, max].
    double real(const char* key, double loaderDefault, double min, double max);
    QColor color(const char* key, const QColor& loaderDefault);

    const QList<Fallback>& fallbacks() const { return replaced; }
    // Whether the key's value is the file's own: there, and not replaced by its default.
    bool readAsWritten(const char* key) const;

private:
    // Whether the key is there, and its text.
    bool found(const char* key, QString* text) const;
    void note(const char* key, const QString& found, const QString& used);

    const QSettings& settings;
    QList<Fallback> replaced;
};
