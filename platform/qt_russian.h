#pragma once

#include <QLocale>
#include <QString>

class QTranslator;

namespace qelta {

// Every window of the program speaks Russian, whatever the user's locale; Qt's own texts
// (file dialogs, the folder browser, standard buttons, the calendar) must say the same.

// The folder that holds Qt's translations (Debian's qt6-translations-l10n).
QString QtTranslationsFolder();

// Loads Qt's Russian translations of its own texts into the application. Returns the
// installed translator, owned by the application (deleting it takes the texts back), or
// nullptr with `why` saying what is missing. Needs the application object.
QTranslator* InstallQtRussianTranslations(QString* why = nullptr);

// The locale of widgets whose words come from the locale rather than from a translation
// (the date picker's month and day names).
QLocale RussianWidgetLocale();

}  // namespace qelta
