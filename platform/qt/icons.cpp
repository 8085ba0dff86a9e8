// icons.cpp - MIME type by name, icon by MIME type, cached.
#include "platform/qt/icons.h"

#include <QApplication>
#include <QDir>
#include <QHash>
#include <QImage>
#include <QMimeDatabase>
#include <QPainter>
#include <QScreen>
#include <QStyle>

#include <algorithm>
#include <unordered_map>

#include "platform/install_paths.h"
#include "platform/text.h"

namespace vantrel::platform {

namespace {

// Pixmaps by MIME type name; they live until the program ends. A node-based
// map: references handed out stay valid when it grows.
std::unordered_map<QString, QPixmap>& PixmapCache() {
  static std::unordered_map<QString, QPixmap> cache;
  return cache;
}

QPixmap LoadPixmap(const QString& mimeName) {
  QMimeDatabase db;
  const QMimeType type = db.mimeTypeForName(mimeName);
  QIcon icon;
  if (type.isValid()) {
    icon = QIcon::fromTheme(type.iconName());
    if (icon.isNull()) icon = QIcon::fromTheme(type.genericIconName());
  }
  if (icon.isNull() && mimeName == QLatin1String("inode/directory"))
    icon = QIcon::fromTheme(QStringLiteral("folder"));
  if (icon.isNull() && qApp != nullptr) {
    const bool dir = mimeName == QLatin1String("inode/directory");
    icon = QApplication::style()->standardIcon(dir ? QStyle::SP_DirIcon : QStyle::SP_FileIcon);
  }
  return icon.pixmap(QSize(kSmallIconSize, kSmallIconSize), IconScale());
}

// `pixmap` with every visible pixel in `ink`, its alpha kept.
QPixmap Tinted(QPixmap pixmap, const QColor& ink) {
  QPainter painter(&pixmap);
  painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
  painter.fillRect(QRect(QPoint(0, 0), pixmap.deviceIndependentSize().toSize()), ink);
  return pixmap;
}

}  // namespace

qreal IconScale() {
  qreal scale = 1;
  for (const QScreen* screen : QGuiApplication::screens()) scale = std::max(scale, screen->devicePixelRatio());
  return scale;
}

QIcon CommandIcon(const QString& names, const QColor& ink, const QIcon& fallback) {
  for (const QString& name : names.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    const QIcon symbolic = QIcon::fromTheme(name + QStringLiteral("-symbolic"));
    if (symbolic.isNull()) continue;
    QIcon tinted;
    for (int size : {16, 22, 24, 32}) {
      const QPixmap drawn = symbolic.pixmap(QSize(size, size), IconScale());
      if (!drawn.isNull()) tinted.addPixmap(Tinted(drawn, ink));
    }
    if (!tinted.isNull()) return tinted;
  }
  return ThemeIcon(names, fallback);
}

void EnsureIconTheme() {
  const QString current = QIcon::themeName();
  if (!current.isEmpty() && current != QLatin1String("hicolor")) return;
  for (const char* theme : {"Adwaita", "breeze", "oxygen", "gnome"}) {
    for (const QString& base : QIcon::themeSearchPaths()) {
      if (QDir(base + QLatin1Char('/') + QLatin1String(theme)).exists(QStringLiteral("index.theme"))) {
        QIcon::setThemeName(QLatin1String(theme));
        return;
      }
    }
  }
}

QString MimeTypeNameOf(std::string_view name, bool isDirectory) {
  if (isDirectory) return QStringLiteral("inode/directory");
  static const QMimeDatabase db;
  const std::string shown = DisplayName(name);
  // MatchExtension judges by the name alone; the file is never opened.
  return db.mimeTypeForFile(QString::fromUtf8(shown.data(), static_cast<qsizetype>(shown.size())),
                            QMimeDatabase::MatchExtension).name();
}

const QPixmap& SmallFileIcon(std::string_view name, bool isDirectory) {
  // The names on screen are drawn again and again: remember their pixmaps.
  // The memory stays bounded: the table starts afresh past a few screens.
  static QHash<QByteArray, const QPixmap*> byName;
  const QByteArray key = QByteArray(name.data(), static_cast<qsizetype>(name.size())) +
                         (isDirectory ? '/' : '\0');
  if (const auto hit = byName.constFind(key); hit != byName.constEnd()) return **hit;
  if (byName.size() >= 4096) byName.clear();

  const QString mime = MimeTypeNameOf(name, isDirectory);
  auto& cache = PixmapCache();
  auto it = cache.find(mime);
  if (it == cache.end()) it = cache.emplace(mime, LoadPixmap(mime)).first;
  byName.insert(key, &it->second);
  return it->second;
}

bool LooksEnabled(const QIcon& icon) {
  const QImage image =
      icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32);
  int visible = 0;
  int ink = 0;
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const QColor c = image.pixelColor(x, y);
      if (c.alpha() < 128) continue;
      ++visible;
      if (qGray(c.rgb()) < 128 || (c.hsvSaturation() > 80 && c.value() < 230)) ++ink;
    }
  }
  return visible > 0 && ink * 20 >= visible;
}

QIcon ThemeIcon(const QString& names, const QIcon& fallback) {
  QIcon firstFound;
  for (const QString& name : names.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
    for (const QString& candidate : {name, name + QStringLiteral("-symbolic")}) {
      // A theme may hold only scalable (SVG) files for a name; without the
      // SVG image plugin such an icon is not null but draws nothing.
      const QIcon icon = QIcon::fromTheme(candidate);
      if (icon.isNull() || icon.pixmap(kSmallIconSize, kSmallIconSize).isNull()) continue;
      if (LooksEnabled(icon)) return icon;
      if (firstFound.isNull()) firstFound = icon;
    }
  }
  if (!fallback.isNull() && LooksEnabled(fallback)) return fallback;
  return firstFound.isNull() ? fallback : firstFound;
}

QIcon ProgramIcon() {
  static const QString kName = QStringLiteral("org.vantrel.Vantrel");
  return QIcon::fromTheme(kName, QIcon(QString::fromStdString(DataDirectory()) + kName + QStringLiteral(".svg")));
}

}  // namespace vantrel::platform
