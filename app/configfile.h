#pragma once

#include <QByteArray>
#include <QString>

// Path of the configuration file, relative to the working directory.
inline const char* kConfigPath = "data/config.ini";

// Writes the default "data/config.ini"; false when the file cannot be opened.
bool createDefaultConfig();

// The default configuration text, with the export folder given.
QByteArray defaultConfigText(const QString& currentDir);

// A string value written the way the INI settings store reads it back unchanged
// (backslashes, quotes, commas, semicolons, non-ASCII letters).
QByteArray iniValueText(const QString& value);
