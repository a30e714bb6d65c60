#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

class QSettings;

// Path of the configuration file, relative to the working directory.
inline const char* kConfigPath = "data/config.ini";

// Writes the default "data/config.ini"; false when the file cannot be opened.
bool createDefaultConfig();

// The default configuration text, with the export folder given.
QByteArray defaultConfigText(const QString& currentDir);

// Whether the settings store read nothing the program knows from an existing file: a file
// that is garbage, binary, empty or not INI at all.
bool configUnreadable(const QSettings& settings);
// The same for any settings file, whose keys the program knows by their sections ("MainWindow/").
bool settingsUnreadable(const QSettings& settings, const QStringList& sections);
// Copies such a file beside itself as "<file>.bad-<local time>"; the copy's path, empty when
// the copy failed.
QString keepConfigAside(const QString& path);

// Whether some value of the INI text would be read as a serialized object ("@Variant(…)" or
// "@DateTime(…)"), which the settings store decodes with QDataStream: a crafted one makes it
// allocate without bound. The text is cut into entries and values exactly as the store cuts
// it. The program writes only text, numbers and flags, never one of those, so such a file
// never came from us.
bool carriesSerializedValue(const QByteArray& text);
// Moves such a configuration file aside before the settings store reads it; the copy's path,
// empty when the file is ours or the copy failed.
QString setAsideSerializedConfig(const QString& path);

// A string value written the way the INI settings store reads it back unchanged
// (backslashes, quotes, commas, semicolons, non-ASCII letters).
QByteArray iniValueText(const QString& value);
