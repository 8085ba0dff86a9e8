// icons.h - the small file-type icons the panels draw beside each name.
//
// The icon of an entry is the icon theme's icon for the entry's MIME type,
// found from the name alone: painting never opens or reads a file. Pixmaps
// are cached by MIME type, which is what a system image list is.
#pragma once

#include <string_view>

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace vantrel::platform {

inline constexpr int kSmallIconSize = 16;

// The device pixels per logical pixel of the program's screens (the
// largest), at which icons are drawn so that they stay sharp on HiDPI screens.
qreal IconScale();

// Chooses an icon theme when the desktop named none (a bare X server, the
// offscreen platform): the first installed of the usual full themes.
void EnsureIconTheme();

// The MIME type name of an entry, judged by its name (bytes) only.
QString MimeTypeNameOf(std::string_view name, bool isDirectory);

// The 16-pixel icon of an entry. The reference stays valid for the life of
// the program.
const QPixmap& SmallFileIcon(std::string_view name, bool isDirectory);

// Whether an icon reads as the picture of an enabled command: dark or
// coloured pixels make up at least a twentieth of its drawing. A washed-out
// picture (a pale package, a white page with a grey arrow) looks like a
// disabled one beside the others.
bool LooksEnabled(const QIcon& icon);

// A toolbar command's icon from one consistent set: the theme's symbolic
// (one-colour) icon for the first of `names` that has one, drawn in `ink`
// (the palette's button text, so it suits light and dark palettes alike);
// without one, ThemeIcon(names, fallback).
QIcon CommandIcon(const QString& names, const QColor& ink, const QIcon& fallback);

// A command's icon: for each of `names` (theme names separated by ";", the
// preferred first) the theme's icon, then its symbolic variant, the first
// that looks enabled; else `fallback` when it looks enabled; else the first
// icon found, or `fallback`.
QIcon ThemeIcon(const QString& names, const QIcon& fallback);

// The programs' own icon: the icon theme's (installed in hicolor), else the
// drawing in the data folder.
QIcon ProgramIcon();

}  // namespace vantrel::platform
