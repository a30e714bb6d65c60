#pragma once

#include <QByteArray>
#include <QSettings>
#include <QString>
#include <QStringList>

#include "app/configtext.h"

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
// the copy failed or does not read back as the file.
QString keepConfigAside(const QString& path);

// The settings store's format of "data/config.ini". The INI text is read and written here, as
// the INI store writes it, and never handed to that store: it would decode a value such as
// "@Variant(…)" with QDataStream, and a crafted one makes it allocate without bound. Every value
// reads as its whole text (the INI store would cut one with a comma into a list), and the text
// is read as people write it (see ConfigText).
QSettings::Format configFormat();
// The format's two halves. Reading never fails: a line that cannot be used is left out.
bool readConfigText(QIODevice& device, QSettings::SettingsMap& map);
bool writeConfigText(QIODevice& device, const QSettings::SettingsMap& map);
// Every key the program reads and writes, "Section/key", in the order of the default file.
const QStringList& configKeys();
// What reading the file at `path` skipped and how it decoded it; empty when it cannot be opened.
ConfigText configText(const QString& path);

// A string value written the way the INI settings store reads it back unchanged
// (backslashes, quotes, commas, semicolons, non-ASCII letters).
QByteArray iniValueText(const QString& value);
