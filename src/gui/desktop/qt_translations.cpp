#include "gui/desktop/qt_translations.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLocale>

namespace zembra::gui {

namespace {

struct NamedLanguage {
    const char* name;  // lower case, as a language file is named
    const char* code;
};

// Language files are named after the language, mostly in that language.
const NamedLanguage kNamedLanguages[] = {
    {"english", ""},        {"deutsch", "de"},       {"german", "de"},      {"français", "fr"},
    {"francais", "fr"},     {"french", "fr"},        {"español", "es"},     {"espanol", "es"},
    {"spanish", "es"},      {"italiano", "it"},      {"italian", "it"},     {"nederlands", "nl"},
    {"dutch", "nl"},        {"polski", "pl"},        {"polish", "pl"},      {"português", "pt_BR"},
    {"portugues", "pt_BR"}, {"portuguese", "pt_BR"}, {"русский", "ru"},     {"russian", "ru"},
    {"čeština", "cs"},      {"cestina", "cs"},       {"czech", "cs"},       {"dansk", "da"},
    {"danish", "da"},       {"suomi", "fi"},         {"finnish", "fi"},     {"magyar", "hu"},
    {"hungarian", "hu"},    {"türkçe", "tr"},        {"turkce", "tr"},      {"turkish", "tr"},
    {"українська", "uk"},   {"ukrainian", "uk"},     {"slovenčina", "sk"},  {"slovak", "sk"},
    {"日本語", "ja"},       {"japanese", "ja"},      {"한국어", "ko"},      {"korean", "ko"},
    {"简体中文", "zh_CN"},  {"chinese", "zh_CN"},    {"繁體中文", "zh_TW"},
};

}  // namespace

QString languageCode(const QString& languageFile) {
    const QString stem = QFileInfo(languageFile).completeBaseName();
    const QString lower = stem.toLower();
    for (const NamedLanguage& language : kNamedLanguages)
        if (lower == QString::fromUtf8(language.name)) return QString::fromLatin1(language.code);
    // A file named by its code, "de.ini" or "pt_BR.ini".
    const QLocale locale(stem);
    if (stem.size() >= 2 && locale.language() != QLocale::C &&
        locale.language() != QLocale::English &&
        QLocale::languageToCode(locale.language()).compare(stem.left(2), Qt::CaseInsensitive) == 0)
        return stem;
    return {};
}

QtTranslations::QtTranslations(const QString& folder)
    : folder_(folder.isEmpty() ? QLibraryInfo::path(QLibraryInfo::TranslationsPath) : folder) {}

QtTranslations::~QtTranslations() {
    if (installed_) QCoreApplication::removeTranslator(&translator_);
}

bool QtTranslations::switchTo(const QString& languageFile) {
    if (installed_) QCoreApplication::removeTranslator(&translator_);
    installed_ = false;
    const QString code = languageCode(languageFile);
    if (code.isEmpty()) return false;
    if (!translator_.load(QStringLiteral("qtbase_") + code, folder_)) return false;
    installed_ = QCoreApplication::installTranslator(&translator_);
    return installed_;
}

}  // namespace zembra::gui
