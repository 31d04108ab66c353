#pragma once
// Qt's own texts (the OK, Cancel, Yes and No of message boxes and button
// boxes, the file dialog) in the window's language: Qt ships them as
// qtbase_<code>.qm, which Debian puts in qt6-translations-l10n. Where they
// are not installed, Qt's English texts stay.

#include <QString>
#include <QTranslator>

namespace zembra::gui {

// The language code of a language file ("Deutsch.ini" -> "de"), from its
// name in its own language or in English, or a file named by code
// ("pt_BR.ini"); empty for English and for names not known.
QString languageCode(const QString& languageFile);

class QtTranslations {
public:
    // `folder` empty: Qt's translations folder (QLibraryInfo::TranslationsPath).
    explicit QtTranslations(const QString& folder = QString());
    ~QtTranslations();  // takes its translation out of the application again
    QtTranslations(const QtTranslations&) = delete;
    QtTranslations& operator=(const QtTranslations&) = delete;

    // Puts the translation for this language file in place of the one
    // installed before (Qt then re-labels its own widgets). True when a
    // translation is installed now; false for English, for a language Qt
    // has no translation of, and when the file is missing.
    bool switchTo(const QString& languageFile);

private:
    QString folder_;
    QTranslator translator_;
    bool installed_ = false;
};

}  // namespace zembra::gui
