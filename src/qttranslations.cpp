// Qt's own translations for the window's language.
#include "qttranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace qttranslations {

bool follow(int languageId)
{
    // One translator for the life of the program, replaced on every language switch.
    static QTranslator* installed = nullptr;
    if (installed != nullptr) {
        QCoreApplication::removeTranslator(installed);
        delete installed;
        installed = nullptr;
    }
    const char* locale = languageId == 2052 ? "zh_CN" : languageId == 1028 ? "zh_TW" : nullptr;
    if (locale == nullptr) {
        return true;
    }
    auto* translator = new QTranslator();
    if (!translator->load(QStringLiteral("qtbase_") + QLatin1String(locale),
                          QLibraryInfo::location(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    QCoreApplication::installTranslator(translator);
    installed = translator;
    return true;
}

} // namespace qttranslations
