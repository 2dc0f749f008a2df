// Writes the maker's emblem as the desktop's icon files: <folder>/<n>x<n>/apps/<name>.png
// for every size given. Run at build time; the emblem is drawn, so no artwork is stored.
#include <QDir>
#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app/maker_logo.h"

int main(int argc, char* argv[]) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s <folder> <name> <size>...\n", argv[0]);
    return 2;
  }
  QGuiApplication app(argc, argv);
  const QString folder = QString::fromLocal8Bit(argv[1]);
  const QString name = QString::fromLocal8Bit(argv[2]);
  for (int i = 3; i < argc; ++i) {
    const int side = std::atoi(argv[i]);
    if (side <= 0) return 2;
    const QString sized = QStringLiteral("%1/%2x%2/apps").arg(folder).arg(side);
    if (!QDir().mkpath(sized)) return 1;
    if (!mirte::EmblemImage(side).save(sized + "/" + name + ".png")) return 1;
  }
  return 0;
}
