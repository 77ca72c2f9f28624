#include "platform/qt_russian.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace qelta {

QString QtTranslationsFolder() {
  return QLibraryInfo::path(QLibraryInfo::TranslationsPath);
}

QTranslator* InstallQtRussianTranslations(QString* why) {
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) {
    if (why != nullptr) *why = QStringLiteral("no application object");
    return nullptr;
  }
  auto* translator = new QTranslator(app);
  // qtbase holds the texts of the widgets and dialogs the program uses.
  const QString folder = QtTranslationsFolder();
  if (!translator->load(QStringLiteral("qtbase_ru"), folder) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    if (why != nullptr) *why = QStringLiteral("qtbase_ru.qm not found in ") + folder;
    return nullptr;
  }
  return translator;
}

QLocale RussianWidgetLocale() {
  return QLocale(QLocale::Russian, QLocale::Russia);
}

}  // namespace qelta
