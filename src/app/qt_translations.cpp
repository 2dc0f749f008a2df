#include "app/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>

#include "common/msg_table.h"

namespace mirte {

QString TQtTranslations::CatalogueFolder() { return QLibraryInfo::path(QLibraryInfo::TranslationsPath); }

bool TQtTranslations::Apply(int language) {
  const bool wantItalian = language == kLanguageItalian;
  if (wantItalian == installed_) return true;
  if (!wantItalian) {
    QCoreApplication::removeTranslator(&italian_);
    installed_ = false;
    return true;
  }
  // qtbase holds every text of the widgets and dialogs this program uses.
  if (!loaded_) loaded_ = italian_.load(QStringLiteral("qtbase_it"), CatalogueFolder());
  if (!loaded_) return false;
  installed_ = QCoreApplication::installTranslator(&italian_);
  return installed_;
}

}  // namespace mirte
