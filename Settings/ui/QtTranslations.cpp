#include "Settings/ui/QtTranslations.h"

#include "Platform/Foundation/Log.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace kelvane::ui {

bool installQtTranslations(QCoreApplication& app) {
    auto* translator = new QTranslator(&app);
    const QString folder = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    if (translator->load(QLocale(), "qtbase", "_", folder) && QCoreApplication::installTranslator(translator))
        return true;
    delete translator;
    const QString language = QLocale().name();
    if (!language.startsWith("en") && language != "C")
        plat::log("Kelvane: no Qt translations for " + language.toStdString() + " in " + folder.toStdString());
    return false;
}

} // namespace kelvane::ui
