#include "SavePanelUIHelper/PanelApplicationSetup.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
#include <QTranslator>

namespace brindle {

void keepUserSettingsUnwritten() {
    // Settings beneath a file cannot be made, so the dialog reads none and keeps none.
    for (const QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
        QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));
}

void installPanelTranslations() {
    static QTranslator translations;
    if (translations.load(QLocale(QLocale::Chinese, QLocale::SimplifiedHanScript, QLocale::China),
                          QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QCoreApplication::installTranslator(&translations);
}

} // namespace brindle
