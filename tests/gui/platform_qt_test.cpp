// platform_qt_test.cpp - the desktop services of the Qt side: colour values
// and system colour numbers, file-type icons judged by name alone, and the
// texts of volumes and byte names.
#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QMimeDatabase>
#include <QTest>

#include "gui_test_support.h"
#include "platform/qt/colors.h"
#include "platform/qt/icons.h"
#include "platform/qt/volumes.h"

using namespace vantrel;
using namespace vantrel::platform;

class PlatformQtTest : public QObject {
  Q_OBJECT

 private slots:
  void explicitColoursAreBlueGreenRed() {
    QCOMPARE(ColorToQColor(0x000000FF), QColor(255, 0, 0));
    QCOMPARE(ColorToQColor(0x0000FF00), QColor(0, 255, 0));
    QCOMPARE(ColorToQColor(0x00FF0000), QColor(0, 0, 255));
    QCOMPARE(ColorToQColor(0x00123456), QColor(0x56, 0x34, 0x12));
    QCOMPARE(ColorFromQColor(QColor(0x56, 0x34, 0x12)), TColor{0x00123456});
    QCOMPARE(ColorFromQColor(QColor(0, 255, 0, 10)), TColor{0x0000FF00});  // alpha dropped
    for (TColor c : {0x0u, 0xFFFFFFu, 0x00ABCDEFu, 0x00010203u})
      QCOMPARE(ColorFromQColor(ColorToQColor(c)), c);
  }

  void systemColoursFollowThePalette() {
    QPalette pal;
    pal.setColor(QPalette::Base, QColor(1, 2, 3));
    pal.setColor(QPalette::Text, QColor(4, 5, 6));
    pal.setColor(QPalette::Highlight, QColor(7, 8, 9));
    QCOMPARE(ColorToQColor(clWindow, pal), QColor(1, 2, 3));
    QCOMPARE(ColorToQColor(clWindowText, pal), QColor(4, 5, 6));
    QCOMPARE(ColorToQColor(0x8000000Du, pal), QColor(7, 8, 9));  // highlight
    QVERIFY(IsSystemColor(static_cast<TColor>(-2147483643)));
    QCOMPARE(static_cast<TColor>(-2147483643), clWindow);
    QVERIFY(!IsSystemColor(clRed));
  }

  void mimeTypeComesFromTheNameAlone() {
    // The files do not exist: nothing is opened or examined.
    QCOMPARE(MimeTypeNameOf("notes.txt", false), QStringLiteral("text/plain"));
    QCOMPARE(MimeTypeNameOf("PHOTO.PNG", false), QStringLiteral("image/png"));
    QCOMPARE(MimeTypeNameOf("archive.tar.gz", false), QStringLiteral("application/x-compressed-tar"));
    QCOMPARE(MimeTypeNameOf("my.dir", true), QStringLiteral("inode/directory"));
    QCOMPARE(MimeTypeNameOf("b\xff\xfe.zip", false), QStringLiteral("application/zip"));
    // A file whose content says otherwise is still judged by its name.
    QTemporaryDir tmp;
    const std::string png = testing::Std(tmp.filePath(QStringLiteral("really-text.png")));
    testing::WriteText(png, "just some text\n");
    QCOMPARE(MimeTypeNameOf(png, false), QStringLiteral("image/png"));
  }

  void commandIconsLookEnabled() {
    // A theme of three pictures: a washed-out one with a dark symbolic
    // variant, and a dark one.
    QTemporaryDir tmp;
    const QString dir = tmp.filePath(QStringLiteral("probe/32x32/actions"));
    QVERIFY(QDir().mkpath(dir));
    testing::WriteText(testing::Std(tmp.filePath(QStringLiteral("probe/index.theme"))),
                       "[Icon Theme]\nName=probe\nDirectories=32x32/actions\n"
                       "[32x32/actions]\nSize=32\nType=Fixed\n");
    const auto picture = [&](const char* name, QColor color) {
      QPixmap pixmap(32, 32);
      pixmap.fill(color);
      QVERIFY(pixmap.save(dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png")));
    };
    picture("pale", QColor(235, 235, 235));
    picture("pale-symbolic", QColor(46, 52, 54));
    picture("inky", QColor(0, 0, 160));
    const QStringList paths = QIcon::themeSearchPaths();
    const QString theme = QIcon::themeName();
    QIcon::setThemeSearchPaths({tmp.path()});
    QIcon::setThemeName(QStringLiteral("probe"));
    QPixmap pale(32, 32);
    pale.fill(QColor(240, 240, 240));
    const QIcon paleFallback(pale);
    QVERIFY(!LooksEnabled(paleFallback));
    QVERIFY(!LooksEnabled(QIcon::fromTheme(QStringLiteral("pale"))));
    QCOMPARE(ThemeIcon(QStringLiteral("pale"), {}).name(), QStringLiteral("pale-symbolic"));
    QCOMPARE(ThemeIcon(QStringLiteral("missing;inky"), {}).name(), QStringLiteral("inky"));
    // Nothing better to be had: the washed-out picture rather than none.
    QCOMPARE(ThemeIcon(QStringLiteral("missing"), paleFallback).cacheKey(),
             paleFallback.cacheKey());
    QIcon::setThemeSearchPaths(paths);
    QIcon::setThemeName(theme);
  }

  void iconsAreSixteenPixelsAndSharedByType() {
    EnsureIconTheme();
    const QPixmap& a = SmallFileIcon("one.txt", false);
    const QPixmap& b = SmallFileIcon("two.txt", false);
    const QPixmap& dir = SmallFileIcon("sub", true);
    QVERIFY(!a.isNull());
    QVERIFY(!dir.isNull());
    QCOMPARE(a.size(), QSize(kSmallIconSize, kSmallIconSize));
    QCOMPARE(&a, &b);  // one pixmap per MIME type
    QVERIFY(&a != &dir);
    // Looking a name up again gives the same pixmap, even after many other
    // types were added to the table.
    const QImage before = a.toImage();
    int types = 0;
    for (const QMimeType& type : QMimeDatabase().allMimeTypes()) {
      if (type.preferredSuffix().isEmpty() || ++types > 300) continue;
      SmallFileIcon("many." + type.preferredSuffix().toStdString(), false);
    }
    QVERIFY(types > 100);
    QCOMPARE(&SmallFileIcon("one.txt", false), &a);
    QCOMPARE(&SmallFileIcon("a-name-never-seen.txt", false), &a);
    QCOMPARE(a.toImage(), before);
  }

  void volumeAndNameTexts() {
    Volume v;
    v.mountPoint = "/media/usb";
    QCOMPARE(VolumeDisplayText(v), QStringLiteral("/media/usb"));
    v.label = "STICK";
    QCOMPARE(VolumeDisplayText(v), QStringLiteral("/media/usb [STICK]"));
    QCOMPARE(ToDisplay("caf\xc3\xa9"), QStringLiteral("caf\u00e9"));
    QVERIFY(ToDisplay("bad\xff").contains(QChar(0xFFFD)));
  }
};

QTEST_MAIN(PlatformQtTest)
#include "platform_qt_test.moc"
