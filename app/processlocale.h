#pragma once

class QCoreApplication;

// What the program's process needs from the locale, set right after the application object is
// made: numbers in files keep their point, and Qt's own texts speak Russian as the program does.
namespace ProcessLocale
{

void apply(QCoreApplication& app);

} // namespace ProcessLocale
