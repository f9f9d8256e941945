#pragma once
// Qt's own texts (the file pickers, a text field's menu, the standard buttons) in a
// language, from Qt's translations (Debian's qt6-translations-l10n).

class QCoreApplication;
class QLocale;
class QTranslator;

namespace corvane {

// Installs Qt's translation for the locale's language; the translator belongs to the
// application. None when Qt has no translation for it (English needs none).
QTranslator* installQtTranslations(QCoreApplication& app, const QLocale& locale);

}  // namespace corvane
