#include "QtLanguage.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QTranslator>

namespace {

QTranslator *g_installed = nullptr;
int g_lang = -1; // the language g_installed serves; -1: none chosen yet

} // namespace

QString QtTranslationFile(int lang) {
    if (lang == 1)
        return QString();
    return QDir(QLibraryInfo::path(QLibraryInfo::TranslationsPath))
        .filePath(QStringLiteral("qtbase_ru.qm"));
}

bool UseQtLanguage(int lang) {
    const bool english = lang == 1;
    if (g_lang >= 0 && (g_lang == 1) == english)
        return english || g_installed; // unchanged: no LanguageChange to every widget
    if (g_installed) {
        QCoreApplication::removeTranslator(g_installed);
        delete g_installed;
        g_installed = nullptr;
    }
    g_lang = lang;
    if (english)
        return true;
    auto *translator = new QTranslator;
    if (!translator->load(QtTranslationFile(lang)) ||
        !QCoreApplication::installTranslator(translator)) {
        delete translator;
        return false;
    }
    g_installed = translator;
    return true;
}
