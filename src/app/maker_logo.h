#pragma once
// The maker's artwork shown by the splash and the information window: a drawn emblem with
// the maker's name and contact lines beside or below it. Drawn, not loaded, so the program
// needs no image files; it scales to whatever size its window gives it.
#include <QIcon>
#include <QImage>
#include <QWidget>

#include "common/msg_table.h"

namespace mirte {

inline constexpr const char* kProductName = "MIRTE";
inline constexpr const char* kMakerName = "Arcovento Elettronica";
inline constexpr const char* kMakerLines[] = {"Via delle Officine 7 - Borgo Nuovo",
                                              "www.arcovento.example - info@arcovento.example"};
class TMakerLogo : public QWidget {
public:
  // `compact` puts the emblem above the name (information window); otherwise the artwork
  // fills a wide banner (splash).
  explicit TMakerLogo(QWidget* parent, bool compact);

protected:
  void paintEvent(QPaintEvent* event) override;

private:
  bool compact_;
};

// The emblem as the windows' icon.
QIcon ProductIcon();
// The emblem alone on a transparent square of `side` pixels (the desktop's icon files).
QImage EmblemImage(int side);

// A yellow panel with the product name in large letters and its description below, in
// `language` (the language switch re-captions it later).
QWidget* NewProductPanel(QWidget* parent, int language = kLanguageItalian);

}  // namespace mirte
