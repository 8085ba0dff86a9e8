// panel_test.cpp - the file panel control on its own: row height, the text
// lines, keys and clicks, marking (masks, ranges, inversion, quick search),
// keeping up with other programs, and the colours of each row state read back
// from the painted pixels; and the desktop services of the Qt side: colour
// values, file types judged by name alone, volume and byte-name texts.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QSignalSpy>
#include <QVBoxLayout>

#include "gui_support.h"
#include "panels/qt/fmpanel.h"
#include "platform/qt/colors.h"
#include "platform/qt/icons.h"
#include "platform/qt/volumes.h"

using namespace vantrel;
using namespace vantrel::testing;
using panels::TFMPanel;
using platform::TColor;

namespace {

// One colour per role, far apart so each pixel tells its role.
constexpr TColor kBack = 0xFFFFFF, kCursor = 0xFF0000, kFile = 0x000000, kSelected = 0x0000FF,
                 kCurrent = 0x00FF00, kCurSel = 0x00FFFF;

// Pixels of exactly colour `c` inside `rect` of `image`.
int Pixels(const QImage& image, const QRect& rect, TColor c) {
  const QRgb want = platform::ColorToQColor(c).rgb() & 0xFFFFFF;
  int n = 0;
  const QRect r = rect.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x) n += (image.pixel(x, y) & 0xFFFFFF) == want;
  return n;
}

}  // namespace

class PanelTest : public QObject {
  Q_OBJECT

  QTemporaryDir tmp_;
  std::string dir_;  // ".." , my.dir, four files and sixty more: longer than the panel
  std::unique_ptr<QWidget> window_;
  TFMPanel* panel_ = nullptr;
  QLabel *dirLine_ = nullptr, *fileLine_ = nullptr, *info_ = nullptr;
  QLineEdit* other_ = nullptr;

  QImage Grab() { return panel_->viewport()->grab().toImage(); }
  QRect TextArea(int row) const { return panel_->RowRect(row).adjusted(16, 0, 0, 0); }  // no icon
  QPoint At(int row) const { return panel_->RowRect(row).center(); }
  void Unfocus() {
    other_->setFocus();
    QTRY_VERIFY(!panel_->hasFocus());
  }
  std::string AtCursor() const { return panel_->CurrentEntry()->FileName; }
  std::vector<std::string> Marked() const {
    std::vector<std::string> out;
    for (int i = 0; i < panel_->Count(); ++i)
      if (panel_->IsMarked(i)) out.push_back(panel_->Entries()[static_cast<size_t>(i)]->FileName);
    return out;
  }
  // A fresh directory `name` holding `files` (each as long as its name) in the panel.
  std::string Fresh(const char* name, const std::vector<std::string>& files) {
    const std::string dir = Std(tmp_.filePath(QString::fromUtf8(name)));
    MakeDir(dir);
    for (const std::string& f : files) MakeFile(dir + "/" + f, f.size());
    panel_->ReadDirectory(dir);
    return dir;
  }
  void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    QTest::keyClick(target ? target : panel_, static_cast<Qt::Key>(key), mods);
  }

 private slots:
  void initTestCase() {
    QVERIFY(tmp_.isValid());
    dir_ = Std(tmp_.filePath(QStringLiteral("big")));
    QVERIFY(MakeDir(dir_ + "/my.dir"));
    QVERIFY(MakeFile(dir_ + "/a.txt", 3, 2026, 2, 3, 9, 5));
    QVERIFY(MakeFile(dir_ + "/archive.tar.gz", 5));
    QVERIFY(MakeFile(dir_ + "/.profile", 1));
    QVERIFY(MakeFile(dir_ + "/b\xff.bin", 1234));
    for (int i = 0; i < 60; ++i) QVERIFY(MakeFile(dir_ + "/f" + std::to_string(100 + i), 10));
  }

  void init() {
    window_ = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window_.get());
    dirLine_ = new QLabel;
    fileLine_ = new QLabel;
    info_ = new QLabel;
    other_ = new QLineEdit;
    panel_ = new TFMPanel;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    font.setStyleStrategy(QFont::NoAntialias);  // exact text colours in the pixels
    panel_->setFont(font);
    panel_->SetDirPanel(dirLine_);
    panel_->SetFilePanel(fileLine_);
    panel_->SetInfoPanel(info_);
    panel_->SetNameWidth(120);
    for (QWidget* w : std::initializer_list<QWidget*>{dirLine_, panel_, fileLine_, info_, other_})
      layout->addWidget(w);
    panel_->setFixedSize(400, 17 * 10 + 2 * panel_->frameWidth());  // ten rows
    panel_->SetColor(kBack);
    panel_->SetCursorColor(kCursor);
    panel_->SetFileColor(kFile);
    panel_->SetSelectedColor(kSelected);
    panel_->SetCurrentColor(kCurrent);
    panel_->SetCurSelColor(kCurSel);
    QVERIFY(panel_->ReadDirectory(dir_));
    window_->show();
    window_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
    panel_->setFocus();
    QTRY_VERIFY(panel_->hasFocus());
  }
  void cleanup() { window_.reset(); }

  void rowHeightAndTextLines() {
    // Character height times 1.3, halves rounded to even.
    for (auto [chars, rows] : {std::pair{13, 17}, {-13, 17}, {15, 20}, {5, 6}, {25, 32}, {10, 13}})
      QCOMPARE(TFMPanel::ItemHeightForCharHeight(chars), rows);
    QCOMPARE(panel_->ItemHeight(), 17);
    // Ten points at 96 dots per inch are 13 pixels, as on the desktop.
    QCOMPARE(TFMPanel::CharHeightOf(QFont(QStringLiteral("X"), 10), 96), 13);
    QCOMPARE(dirLine_->text(), Q(dir_));
    QVERIFY2(info_->text().endsWith(QStringLiteral(" free")), qPrintable(info_->text()));
    QCOMPARE(panel_->Count(), 2 + 4 + 60);
    // The file line follows the cursor while the panel has the focus; the
    // entry keeps the real bytes of its name.
    const std::pair<const char*, const char*> lines[] = {
        {"a.txt", "a.txt- size:3 bytes."}, {"my.dir", "[my.dir]:  DIRECTORY"},
        {"b\xff.bin", "b\uFFFD.bin- size:1,234 bytes."}};
    for (const auto& [name, line] : lines) {
      panel_->SetCursor(panel_->IndexOfName(name));
      QCOMPARE(fileLine_->text(), QString::fromUtf8(line));
      QCOMPARE(AtCursor(), std::string(name));
    }
    Unfocus();
    panel_->SetCursor(panel_->IndexOfName("a.txt"));
    QCOMPARE(fileLine_->text(), QStringLiteral("b\uFFFD.bin- size:1,234 bytes."));
  }

  void keysMoveTheCursorLikeAListBox() {
    const int page = panel_->PageRows(), last = panel_->Count() - 1;
    QCOMPARE(page, 10);
    const struct {
      Qt::Key key;
      int cursor, top;
    } steps[] = {{Qt::Key_Down, 1, 0},
                 {Qt::Key_Up, 0, 0},
                 {Qt::Key_Up, 0, 0},
                 {Qt::Key_PageDown, page - 1, 0},  // first to the last visible row
                 {Qt::Key_PageDown, 2 * (page - 1), page - 1},  // then a page less one row
                 {Qt::Key_PageUp, -1, -1},  // to the top row shown
                 {Qt::Key_End, last, last + 1 - page},
                 {Qt::Key_PageDown, last, last + 1 - page},
                 {Qt::Key_Home, 0, 0}};
    for (const auto& s : steps) {
      QTest::keyClick(panel_, s.key);
      QCOMPARE(panel_->Cursor(), s.cursor < 0 ? panel_->TopIndex() : s.cursor);
      if (s.top >= 0) QCOMPARE(panel_->TopIndex(), s.top);
    }
    QCOMPARE(panel_->Model().MarkedCount(), 0);  // moving never marks
    // Space toggles the cursor's mark and stays; Insert is the window's key.
    panel_->SetCursor(1);
    for (bool marked : {true, false}) {
      QTest::keyClick(panel_, Qt::Key_Space);
      QCOMPARE(panel_->IsMarked(1), marked);
      QCOMPARE(panel_->Cursor(), 1);
    }
    QKeyEvent insert(QEvent::KeyPress, Qt::Key_Insert, Qt::NoModifier);
    QApplication::sendEvent(panel_, &insert);
    QVERIFY(!insert.isAccepted());
    QCOMPARE(panel_->Model().MarkedCount(), 0);
    // Reading again clears the marks and puts the cursor on top.
    panel_->SetMarked(2, true);
    QVERIFY(panel_->ReadDirectory(panel_->Directory()));
    QCOMPARE(panel_->Model().MarkedCount() + panel_->Cursor() + panel_->TopIndex(), 0);
  }

  void clicksMoveTheCursorAndMark() {
    QSignalSpy menu(panel_, &TFMPanel::contextMenuRequested);
    QSignalSpy dbl(panel_, &TFMPanel::dblClick);
    QTest::mouseClick(panel_->viewport(), Qt::LeftButton, {}, At(2));
    QCOMPARE(panel_->Cursor(), 2);
    QVERIFY(panel_->IsMarked(2));
    QTest::mouseClick(panel_->viewport(), Qt::LeftButton, {}, At(4));
    QTest::mouseClick(panel_->viewport(), Qt::LeftButton, {}, At(4));
    QVERIFY(!panel_->IsMarked(4));
    // A right click moves the cursor and leaves every mark as it was.
    QTest::mouseClick(panel_->viewport(), Qt::RightButton, {}, At(3));
    QCOMPARE(panel_->Cursor(), 3);
    QCOMPARE(Marked(), std::vector<std::string>{panel_->Entries()[2]->FileName});
    QCOMPARE(menu.count(), 1);
    QCOMPARE(menu.at(0).at(0).toInt(), 3);
    // What the window system delivers for a double click: press, release,
    // press, double-click, release. It reports, and the mark is as before.
    QTest::mouseClick(panel_->viewport(), Qt::LeftButton, {}, At(1));
    QTest::mousePress(panel_->viewport(), Qt::LeftButton, {}, At(1));
    QMouseEvent dblclick(QEvent::MouseButtonDblClick, At(1), panel_->viewport()->mapToGlobal(At(1)),
                         Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel_->viewport(), &dblclick);
    QTest::mouseRelease(panel_->viewport(), Qt::LeftButton, {}, At(1));
    QCOMPARE(dbl.count(), 1);
    QVERIFY(!panel_->IsMarked(1));
    // Below the last entry clicks do nothing.
    Fresh("small", {"one", "two"});
    QTest::mouseClick(panel_->viewport(), Qt::RightButton, {}, At(6));
    QTest::mouseClick(panel_->viewport(), Qt::LeftButton, {}, At(6));
    QCOMPARE(panel_->Cursor(), 0);
    QCOMPARE(panel_->Model().MarkedCount(), 0);
    QCOMPARE(menu.count(), 1);
  }

  void rowColoursFollowFocusAndMarks() {
    panel_->SetMarked(1, true);
    panel_->SetMarked(3, true);
    panel_->SetCursor(3);
    QImage image = Grab();
    QVERIFY(Pixels(image, TextArea(0), kFile) > 0);  // plain
    QCOMPARE(Pixels(image, TextArea(0), kCursor), 0);
    QVERIFY(Pixels(image, TextArea(1), kSelected) > 0);  // marked
    QCOMPARE(Pixels(image, TextArea(1), kFile), 0);
    QVERIFY(Pixels(image, TextArea(3), kCursor) > 100);  // marked cursor row
    QVERIFY(Pixels(image, TextArea(3), kCurSel) > 0);
    QCOMPARE(Pixels(image, TextArea(3), kSelected) + Pixels(image, TextArea(3), kBack), 0);
    panel_->SetCursor(2);  // an unmarked cursor row, with its focus frame
    image = Grab();
    QVERIFY(Pixels(image, TextArea(2), kCurrent) > 0);
    QCOMPARE(Pixels(image, TextArea(2), kFile), 0);
    const QRect row = panel_->RowRect(2), topEdge(row.left(), row.top(), row.width(), 1);
    QVERIFY(Pixels(image, topEdge, kCurrent) > 10);
    // Without the focus there is no cursor bar and no frame at all.
    Unfocus();
    image = Grab();
    QCOMPARE(Pixels(image, image.rect(), kCursor) + Pixels(image, image.rect(), kCurrent), 0);
    QVERIFY(Pixels(image, TextArea(2), kFile) > 0);
  }

  void cellsStartWhereTheWidthsSay() {
    Unfocus();
    const QRect r = panel_->RowRect(panel_->IndexOfName("my.dir"));
    const auto ink = [&](int x, int width) { return Pixels(Grab(), QRect(x, r.top(), width, r.height()), kFile); };
    QVERIFY(ink(16, 104) > 0);  // the name from 16 to NameWidth
    QCOMPARE(ink(121, 31), 0);  // a directory has no extension
    QVERIFY(ink(152, 70) > 0);  // "DIR" in the size cell
    panel_->SetNameWidth(16);  // no name text left, the columns move left
    QCOMPARE(ink(16, 32), 0);
    QVERIFY(ink(48, 70) > 0);
    // A long name stays inside its cell.
    panel_->SetNameWidth(120);
    const std::string name(200, 'W');
    Fresh("long", {name});
    const QRect l = panel_->RowRect(panel_->IndexOfName(name));
    QVERIFY(Pixels(Grab(), QRect(16, l.top(), 104, l.height()), kFile) > 0);
    QCOMPARE(Pixels(Grab(), QRect(120, l.top(), 1, l.height()), kFile), 0);
    // Fitting widths hold the widest texts in the bold cell font.
    for (int pixels : {11, 13, 20}) {
      QFont font(QStringLiteral("DejaVu Sans"));
      font.setPixelSize(pixels);
      panel_->setFont(font);
      font.setBold(true);
      const QFontMetrics bold(font);
      const TFMPanel::TColumnWidths fit = panel_->FittingColumnWidths();
      QVERIFY(fit.ext > bold.horizontalAdvance(QStringLiteral(".JPEG")));
      QVERIFY(fit.size > bold.horizontalAdvance(QStringLiteral("999,999,999,999")));
      QVERIFY(fit.date > bold.horizontalAdvance(QStringLiteral("31.12.2025")));
      QVERIFY(fit.time > bold.horizontalAdvance(QStringLiteral("23:59")));
    }
  }

  void anotherProgramsChangesAreFollowed() {
    const std::string dir = Fresh("live", {"a.txt", "c.txt"});
    panel_->SetCursor(panel_->IndexOfName("c.txt"));
    panel_->SetMarked(panel_->IndexOfName("a.txt"), true);
    QSignalSpy refreshed(panel_, &TFMPanel::listingRefreshed);
    QVERIFY(MakeFile(dir + "/b.txt", 3));  // sorts between the two
    QTRY_VERIFY_WITH_TIMEOUT(panel_->Entries().size() == 4, 1000);
    QCOMPARE(AtCursor(), std::string("c.txt"));
    QCOMPARE(Marked(), std::vector<std::string>{"a.txt"});
    QCOMPARE(refreshed.count(), 1);
    // A burst of changes is folded into few re-reads.
    for (int i = 0; i < 50; ++i) QVERIFY(MakeFile(dir + "/burst" + std::to_string(i), 1));
    QTRY_VERIFY_WITH_TIMEOUT(panel_->Entries().size() == 54, 1000);
    QVERIFY2(refreshed.count() <= 4, qPrintable(QString::number(refreshed.count())));
    // Not live: a change is seen at the next re-read (Ctrl+R), cursor kept.
    const std::string deep = Fresh("gone/inner/deep", {"x"});
    panel_->SetLive(false);
    QVERIFY(MakeFile(deep + "/y", 1));
    QCOMPARE(panel_->Entries().size(), size_t(2));
    Key(Qt::Key_End);
    panel_->Reread();
    QCOMPARE(panel_->Entries().size(), size_t(3));
    QCOMPARE(AtCursor(), std::string("x"));
    // A deleted directory sends the panel up to what still exists.
    panel_->SetLive(true);
    QVERIFY(QDir(tmp_.filePath(QStringLiteral("gone/inner"))).removeRecursively());
    QTRY_COMPARE_WITH_TIMEOUT(panel_->Directory(), Std(tmp_.filePath(QStringLiteral("gone"))), 1000);
  }

  void masksInvertAllAndTheInfoLine() {
    // 9,999 files, a third of them .txt, and a directory that is never marked.
    const std::string dir = Std(tmp_.filePath(QStringLiteral("mixed")));
    QVERIFY(MakeDir(dir + "/sub.txt"));
    for (int i = 0; i < 9999; ++i)
      QVERIFY(MakeFile(dir + "/f" + std::to_string(i) + (i % 3 == 0 ? ".txt" : i % 3 == 1 ? ".TXT" : ".txt.bak"), 1));
    panel_->ReadDirectory(dir);
    QCOMPARE(panel_->MarkByMask("*.txt", true), 3333);
    for (const std::string& name : Marked()) QVERIFY(name.ends_with(".txt"));
    QVERIFY2(info_->text().startsWith(QStringLiteral("Marked 3,333: 3,333 bytes | ")), qPrintable(info_->text()));
    // f1*.txt: numbers starting with 1 that are multiples of three.
    QCOMPARE(panel_->MarkByMask("f1*.txt; *.none", false), 3 + 33 + 333);
    panel_->InvertFileMarks();
    QCOMPARE(panel_->Model().MarkedCount(), 9999 - (3333 - 369));
    panel_->MarkAllFiles();
    QCOMPARE(panel_->Model().MarkedCount(), 9999);
    QVERIFY(!panel_->IsMarked(panel_->IndexOfName("sub.txt")));
    panel_->MarkByMask("*", false);
    QVERIFY(!info_->text().contains(QStringLiteral("Marked")));
  }

  void shiftKeysMarkRanges() {
    Fresh("range", {"1", "2", "3", "4", "5", "6"});
    panel_->SetCursor(1);
    for (int i = 0; i < 2; ++i) Key(Qt::Key_Down, Qt::ShiftModifier);
    const struct {
      int key;
      std::vector<std::string> marked;
      const char* cursor;
    } steps[] = {
        {Qt::Key_Down, {"1", "2", "3"}, "4"},
        {Qt::Key_Up, {"1", "2", "3", "4"}, "3"},               // marks where it stands, moves up
        {Qt::Key_End, {"1", "2"}, "6"},                        // from a marked one: unmarks to the end
        {Qt::Key_Home, {"1", "2", "3", "4", "5", "6"}, ".."},  // ".." itself is never marked
    };
    for (const auto& s : steps) {
      Key(s.key, Qt::ShiftModifier);
      QCOMPARE(Marked(), s.marked);
      QCOMPARE(AtCursor(), std::string(s.cursor));
    }
    Key(Qt::Key_Asterisk, Qt::KeypadModifier);
    QVERIFY(Marked().empty());
    Key(Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(Marked().size(), size_t(6));
  }

  void quickSearch() {
    Fresh("search", {"Ünïcode name.txt", "unicode.txt", "other.doc", "ÜNÏDATA.txt", "zeta"});
    Key(Qt::Key_S, Qt::ControlModifier);
    QLineEdit* field = panel_->QuickSearchEdit();
    QVERIFY(field != nullptr && field->isVisible() && field->hasFocus());
    for (const QChar c : QStringLiteral("ün")) {  // typed, as a keyboard with these keys would
      QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
      QApplication::sendEvent(field, &press);
    }
    // Down and Up go to the next and previous match; no further match: stays.
    const std::pair<int, const char*> steps[] = {{0, "Ünïcode name.txt"}, {Qt::Key_Down, "ÜNÏDATA.txt"},
                                                 {Qt::Key_Down, "ÜNÏDATA.txt"}, {Qt::Key_Up, "Ünïcode name.txt"}};
    for (const auto& [key, name] : steps) {
      if (key) Key(key);
      QCOMPARE(AtCursor(), std::string(name));
    }
    Key(Qt::Key_Escape);
    QVERIFY(!field->isVisible() && panel_->hasFocus());
    Key(Qt::Key_Down);  // the panel has its keys again
    QCOMPARE(AtCursor(), std::string("ÜNÏDATA.txt"));
    // Alt+letter opens the field with the letter; wildcards work.
    Key(Qt::Key_O, Qt::AltModifier);
    QCOMPARE(field->text(), QStringLiteral("o"));
    QTest::keyClicks(field, QStringLiteral("*.d?c"));
    QCOMPARE(AtCursor(), std::string("other.doc"));
    Key(Qt::Key_Return);
    QVERIFY(!field->isVisible());
    Key(Qt::Key_Z);  // a printable key without a modifier does not search
    QVERIFY(!field->isVisible());
  }

  // ------------------------------------------------------ desktop services

  void coloursAndSystemColours() {
    using platform::ColorToQColor;
    for (auto [value, color] : {std::pair{0x000000FFu, QColor(255, 0, 0)}, {0x0000FF00u, QColor(0, 255, 0)},
                                {0x00FF0000u, QColor(0, 0, 255)}, {0x00123456u, QColor(0x56, 0x34, 0x12)}}) {
      QCOMPARE(ColorToQColor(value), color);
      QCOMPARE(platform::ColorFromQColor(color), TColor{value});
    }
    QCOMPARE(platform::ColorFromQColor(QColor(0, 255, 0, 10)), TColor{0x0000FF00});  // alpha dropped
    QPalette pal;
    pal.setColor(QPalette::Base, QColor(1, 2, 3));
    pal.setColor(QPalette::Text, QColor(4, 5, 6));
    pal.setColor(QPalette::Highlight, QColor(7, 8, 9));
    QCOMPARE(ColorToQColor(platform::clWindow, pal), QColor(1, 2, 3));
    QCOMPARE(ColorToQColor(platform::clWindowText, pal), QColor(4, 5, 6));
    QCOMPARE(ColorToQColor(0x8000000Du, pal), QColor(7, 8, 9));
    QCOMPARE(static_cast<TColor>(-2147483643), platform::clWindow);
    QVERIFY(platform::IsSystemColor(platform::clWindow) && !platform::IsSystemColor(platform::clRed));
    // Texts of volumes and of names that are not UTF-8.
    platform::Volume v;
    v.mountPoint = "/media/usb";
    QCOMPARE(platform::VolumeDisplayText(v), QStringLiteral("/media/usb"));
    v.label = "STICK";
    QCOMPARE(platform::VolumeDisplayText(v), QStringLiteral("/media/usb [STICK]"));
    QCOMPARE(platform::ToDisplay("caf\xc3\xa9"), QStringLiteral("caf\u00e9"));
    QVERIFY(platform::ToDisplay("bad\xff").contains(QChar(0xFFFD)));
  }

  void fileTypesComeFromTheNameAlone() {
    // The files do not exist, or say otherwise inside: only the name counts.
    const std::string png = Std(tmp_.filePath(QStringLiteral("really-text.png")));
    WriteText(png, "just some text\n");
    const std::pair<std::string, const char*> byName[] = {
        {"notes.txt", "text/plain"}, {"PHOTO.PNG", "image/png"}, {"archive.tar.gz", "application/x-compressed-tar"},
        {"b\xff\xfe.zip", "application/zip"}, {png, "image/png"}};
    for (const auto& [name, type] : byName) QCOMPARE(platform::MimeTypeNameOf(name, false), QLatin1String(type));
    QCOMPARE(platform::MimeTypeNameOf("my.dir", true), QStringLiteral("inode/directory"));
  }

  void commandIconsLookEnabled() {
    // A theme of a washed-out picture with a dark symbolic variant, and a dark one.
    const QString dir = tmp_.filePath(QStringLiteral("probe/32x32/actions"));
    QVERIFY(QDir().mkpath(dir));
    WriteText(Std(tmp_.filePath(QStringLiteral("probe/index.theme"))),
              "[Icon Theme]\nName=probe\nDirectories=32x32/actions\n[32x32/actions]\nSize=32\nType=Fixed\n");
    for (auto [name, color] : {std::pair{"pale", QColor(235, 235, 235)}, {"pale-symbolic", QColor(46, 52, 54)},
                               {"inky", QColor(0, 0, 160)}}) {
      QPixmap pixmap(32, 32);
      pixmap.fill(color);
      QVERIFY(pixmap.save(dir + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png")));
    }
    const QStringList paths = QIcon::themeSearchPaths();
    const QString theme = QIcon::themeName();
    QIcon::setThemeSearchPaths({tmp_.path()});
    QIcon::setThemeName(QStringLiteral("probe"));
    QPixmap pale(32, 32);
    pale.fill(QColor(240, 240, 240));
    const QIcon paleFallback(pale);
    QVERIFY(!platform::LooksEnabled(paleFallback));
    QVERIFY(!platform::LooksEnabled(QIcon::fromTheme(QStringLiteral("pale"))));
    QCOMPARE(platform::ThemeIcon(QStringLiteral("pale"), {}).name(), QStringLiteral("pale-symbolic"));
    QCOMPARE(platform::ThemeIcon(QStringLiteral("missing;inky"), {}).name(), QStringLiteral("inky"));
    // Nothing better to be had: the washed-out picture rather than none.
    QCOMPARE(platform::ThemeIcon(QStringLiteral("missing"), paleFallback).cacheKey(), paleFallback.cacheKey());
    QIcon::setThemeSearchPaths(paths);
    QIcon::setThemeName(theme);
  }
};

QTEST_MAIN(PanelTest)
#include "panel_test.moc"
