#include "app/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

#include "common/msg_table.h"

namespace mirte {

QString TQtTranslations::CatalogueFolder() { return QLibraryInfo::path(QLibraryInfo::TranslationsPath); }

bool TQtTranslations::Apply(int language) {
  const bool wantItalian = language == kLanguageItalian;
  if (wantItalian == installed) return true;
  if (!wantItalian) {
    QCoreApplication::removeTranslator(&italian);
    installed = false;
    return true;
  }
  // qtbase holds every text of the widgets and dialogs this program uses.
  if (!loaded) loaded = italian.load(QStringLiteral("qtbase_it"), CatalogueFolder());
  if (!loaded) return false;
  installed = QCoreApplication::installTranslator(&italian);
  return installed;
}

}  // namespace mirte
