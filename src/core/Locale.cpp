#include "Locale.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

bool UseBulgarianLocale(QCoreApplication& app)
{
    QLocale bulgarian(QLocale::Bulgarian, QLocale::Bulgaria);
    // "1 000" in a list would read as two numbers to administrators used to the suite.
    bulgarian.setNumberOptions(QLocale::OmitGroupSeparator);
    QLocale::setDefault(bulgarian);

    auto* qtTexts = new QTranslator(&app);
    if (!qtTexts->load(bulgarian, QStringLiteral("qtbase"), QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete qtTexts;
        return false;
    }
    return QCoreApplication::installTranslator(qtTexts);
}
