#pragma once
// Qt's own texts (standard buttons, the file, print, colour and input dialogs, message box
// questions) in the program's language. Qt speaks English by itself, so its Italian
// catalogue is installed while Italian is selected and removed again for English; either
// step sends every widget a LanguageChange, so dialogs already open follow the switch.
// Without the catalogue (Qt's translations not installed) Qt's texts simply stay English.
#include <QString>
#include <QTranslator>

namespace mirte {

class TQtTranslations {
public:
  // Language 1 Italian, 2 English. True when Qt's texts are now in that language.
  bool Apply(int language);
  // Where Qt's catalogues are looked for: Qt's own translations folder.
  static QString CatalogueFolder();

private:
  QTranslator italian_;
  bool loaded_ = false;
  bool installed_ = false;
};

}  // namespace mirte
