#include "app/processlocale.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <clocale>

namespace ProcessLocale
{

void apply(QCoreApplication& app)
{
    // The application object has taken the C library's locale from the environment, and under
    // a Russian one every printf writes a decimal comma: libxlsxwriter's column widths and page
    // margins would make workbooks no reader accepts. Texts for people are formatted by QLocale,
    // which does not follow this setting.
    std::setlocale(LC_NUMERIC, "C");

    // Standard buttons, message boxes, choosers and the text fields' menus come from Qt.
    auto* qt = new QTranslator(&app);
    if (qt->load(QLocale(QLocale::Russian, QLocale::Russia), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::location(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(qt);
    else
        delete qt;
}

} // namespace ProcessLocale
