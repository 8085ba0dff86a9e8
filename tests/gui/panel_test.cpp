// panel_test.cpp - the file panel control on its own: row height, the text
// lines, keys and clicks, marking (masks, ranges, inversion), fitting column
// widths, and the colours of each row state read back from the painted
// pixels; and the colour values and volume texts of the Qt side.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTextBoundaryFinder>
#include <QVBoxLayout>

#include "gui_support.h"
#include "panels/qt/fmpanel.h"
#include "platform/qt/colors.h"
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

// `line` at every width from far too narrow to wide enough for its text,
// with what every line passes at each: never wider than its room and empty
// only when not even "…" fits, whole exactly when it fits, the whole text
// its tip exactly while it shows less. Then `check` of what it shows, in
// how much room, and a description for failures.
template <typename Check>
void AtEveryWidth(panels::TInfoLine& line, const char* what, Check check) {
  const QString whole = line.text();
  const QFontMetrics m = line.fontMetrics();
  for (int width = 4; width <= m.horizontalAdvance(whole) + 20 && !QTest::currentTestFailed(); width += 3) {
    line.resize(width, line.height());
    const int room = line.TextRect().width();
    const QString shown = line.ShownText();
    const QByteArray where = QByteArray(what) + " in " + QByteArray::number(room) + ": " + shown.toUtf8();
    QVERIFY2(shown.isEmpty() || m.horizontalAdvance(shown) <= room, where);
    QVERIFY2(!shown.isEmpty() || m.horizontalAdvance(QStringLiteral("\u2026")) > room, where);
    QVERIFY2((shown == whole) == (m.horizontalAdvance(whole) <= room), where);
    QVERIFY2(line.toolTip() == (shown == whole ? QString() : whole), where);
    check(shown, room, where);
  }
}

}  // namespace

class PanelTest : public QObject {
  Q_OBJECT

  QTemporaryDir tmp_;
  std::string dir_;  // ".." , my.dir, four files and sixty more: longer than the panel
  std::unique_ptr<QWidget> window_;
  TFMPanel* panel_ = nullptr;
  panels::TInfoLine *dirLine_ = nullptr, *fileLine_ = nullptr, *info_ = nullptr;
  QLineEdit* other_ = nullptr;

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

 private slots:
  void initTestCase() {
    dir_ = Std(tmp_.filePath(QStringLiteral("big")));
    QVERIFY(MakeDir(dir_ + "/my.dir") && MakeFile(dir_ + "/a.txt", 3, 2026, 2, 3, 9, 5));
    for (auto [name, size] : {std::pair{"archive.tar.gz", 5}, {".profile", 1}, {"b\xff.bin", 1234}})
      QVERIFY(MakeFile(dir_ + "/" + name, size));
    for (int i = 0; i < 60; ++i) QVERIFY(MakeFile(dir_ + "/f" + std::to_string(100 + i), 10));
  }

  void init() {
    window_ = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window_.get());
    dirLine_ = new panels::TInfoLine, fileLine_ = new panels::TInfoLine, info_ = new panels::TInfoLine;
    other_ = new QLineEdit;
    panel_ = new TFMPanel;
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    font.setStyleStrategy(QFont::NoAntialias);  // exact text colours in the pixels
    panel_->setFont(font);
    panel_->SetDirPanel(dirLine_), panel_->SetFilePanel(fileLine_), panel_->SetInfoPanel(info_);
    panel_->SetNameWidth(120);
    for (QWidget* w : std::initializer_list<QWidget*>{dirLine_, panel_, fileLine_, info_, other_}) layout->addWidget(w);
    panel_->setFixedSize(400, 17 * 10 + 2 * panel_->frameWidth());  // ten rows
    panel_->SetColor(kBack), panel_->SetCursorColor(kCursor), panel_->SetFileColor(kFile);
    panel_->SetSelectedColor(kSelected), panel_->SetCurrentColor(kCurrent), panel_->SetCurSelColor(kCurSel);
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
    QVERIFY2(dirLine_->text() == Q(dir_) && info_->text().endsWith(QStringLiteral(" free")), qPrintable(info_->text()));
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
      int cursor, top;  // -1: the cursor on the top row shown
    } steps[] = {{Qt::Key_Down, 1, 0},
                 {Qt::Key_Up, 0, 0},
                 {Qt::Key_Up, 0, 0},                            // stays on top
                 {Qt::Key_PageDown, page - 1, 0},               // first to the last visible row
                 {Qt::Key_PageDown, 2 * (page - 1), page - 1},  // then a page less one row
                 {Qt::Key_PageUp, -1, page - 1},                // to the top row shown
                 {Qt::Key_End, last, last + 1 - page},
                 {Qt::Key_PageDown, last, last + 1 - page},     // stays at the end
                 {Qt::Key_Home, 0, 0}};
    for (const auto& s : steps) {
      QTest::keyClick(panel_, s.key);
      QCOMPARE(QPoint(panel_->Cursor(), panel_->TopIndex()), QPoint(s.cursor < 0 ? s.top : s.cursor, s.top));
    }
    QCOMPARE(panel_->Model().MarkedCount(), 0);  // moving never marks
    // Space toggles the cursor's mark and stays.
    panel_->SetCursor(1);
    for (bool marked : {true, false}) {
      QTest::keyClick(panel_, Qt::Key_Space);
      QCOMPARE(QPoint(panel_->IsMarked(1), panel_->Cursor()), QPoint(marked, 1));
    }
    // Reading again clears the marks and puts the cursor on top.
    panel_->SetMarked(2, true);
    QVERIFY(panel_->ReadDirectory(panel_->Directory()));
    QCOMPARE(panel_->Model().MarkedCount() + panel_->Cursor() + panel_->TopIndex(), 0);
  }

  // A plain click moves the cursor; Ctrl+click toggles a mark; Shift+click
  // marks from the cursor to the clicked entry (never ".."); with ClickMarks
  // a plain click toggles as well.
  void clicksMoveTheCursorAndMark() {
    QSignalSpy menu(panel_, &TFMPanel::contextMenuRequested);
    const auto names = [&](std::initializer_list<int> rows) {
      std::vector<std::string> out;
      for (int row : rows) out.push_back(panel_->Entries()[static_cast<size_t>(row)]->FileName);
      return out;
    };
    const struct {
      int row;
      Qt::KeyboardModifiers mods;
      int cursor;
      std::initializer_list<int> marked;
    } clicks[] = {{2, {}, 2, {}},
                  {4, Qt::ControlModifier, 4, {4}},
                  {4, Qt::ControlModifier, 4, {}},
                  {6, Qt::ShiftModifier, 6, {4, 5, 6}},
                  {0, Qt::ShiftModifier, 0, {1, 2, 3, 4, 5, 6}},  // ".." stays unmarked
                  {3, {}, 3, {1, 2, 3, 4, 5, 6}}};
    for (const auto& c : clicks) {
      QTest::mouseClick(panel_->viewport(), Qt::LeftButton, c.mods, At(c.row));
      QCOMPARE(panel_->Cursor(), c.cursor);
      QCOMPARE(Marked(), names(c.marked));
    }
    panel_->SetClickMarks(true);
    QTest::mouseClick(panel_->viewport(), Qt::LeftButton, {}, At(8));
    QCOMPARE(Marked(), names({1, 2, 3, 4, 5, 6, 8}));
    panel_->SetClickMarks(false);
    // A right click moves the cursor and leaves every mark as it was.
    QTest::mouseClick(panel_->viewport(), Qt::RightButton, {}, At(7));
    QCOMPARE(panel_->Cursor(), 7);
    QCOMPARE(Marked(), names({1, 2, 3, 4, 5, 6, 8}));
    QVERIFY(menu.count() == 1 && menu.at(0).at(0).toInt() == 7);  // the entry menu for row 7
    // Below the last entry clicks do nothing.
    Fresh("small", {"one", "two"});
    for (auto button : {Qt::RightButton, Qt::LeftButton}) QTest::mouseClick(panel_->viewport(), button, {}, At(6));
    QCOMPARE(panel_->Cursor() + panel_->Model().MarkedCount(), 0);
    QCOMPARE(menu.count(), 1);
  }

  // Each row state in its colour; without the focus the cursor row is a
  // faint bar with the plain text colours.
  void rowColoursFollowFocusAndMarks() {
    panel_->SetMarked(1, true), panel_->SetMarked(3, true), panel_->SetCursor(3);
    const auto grab = [&] { return panel_->viewport()->grab().toImage(); };
    const auto text = [&](int row) { return panel_->RowRect(row).adjusted(16, 0, 0, 0); };  // no icon
    QImage image = grab();
    QVERIFY(Pixels(image, text(0), kFile) > 0 && Pixels(image, text(0), kCursor) == 0);            // plain
    QVERIFY(Pixels(image, text(1), kSelected) > 0 && Pixels(image, text(1), kFile) == 0);          // marked
    QVERIFY(Pixels(image, text(3), kCursor) > 100 && Pixels(image, text(3), kCurSel) > 0);        // marked cursor
    QCOMPARE(Pixels(image, text(3), kSelected) + Pixels(image, text(3), kBack), 0);
    panel_->SetCursor(2);  // an unmarked cursor row: a filled bar
    image = grab();
    QVERIFY(Pixels(image, text(2), kCurrent) > 0 && Pixels(image, text(2), kFile) == 0);
    const QRect row = panel_->RowRect(2);
    QCOMPARE(Pixels(image, QRect(row.left() + 16, row.top(), row.width() - 16, 1), kCursor), row.width() - 16);
    Unfocus();
    image = grab();
    QCOMPARE(Pixels(image, image.rect(), kCursor) + Pixels(image, image.rect(), kCurrent), 0);
    QVERIFY(Pixels(image, text(2), kFile) > 0 && Pixels(image, text(2), kBack) == 0);  // faint bar
  }

  // With the default colours (cursor colour = background) the cursor is a bar
  // in the palette's highlight with the highlighted-text colour, strong in
  // the active panel and faint in the other; settings' colours win.
  void defaultCursorIsAHighlightBar() {
    QPalette pal = panel_->palette();
    pal.setColor(QPalette::Highlight, QColor(0, 0, 200));
    pal.setColor(QPalette::HighlightedText, QColor(255, 255, 0));
    panel_->setPalette(pal);
    panel_->SetCursorColor(kBack), panel_->SetCurrentColor(kFile), panel_->SetCurSelColor(kSelected);
    const QColor back = platform::ColorToQColor(kBack);
    const struct {
      bool cursor, marked, active;
      QColor background, text;
    } rows[] = {{false, false, true, back, QColor(0, 0, 0)},
                {true, false, true, QColor(0, 0, 200), QColor(255, 255, 0)},
                {true, false, false, QColor(179, 179, 239), QColor(0, 0, 0)},
                {true, true, true, QColor(0, 0, 200), QColor(255, 115, 0)}};  // red towards yellow
    for (const auto& r : rows) {
      const TFMPanel::TRowColors colors = panel_->RowColors(r.cursor, r.marked, r.active);
      QCOMPARE(colors.background, r.background);
      QCOMPARE(colors.text, r.text);
    }
    panel_->SetCursorColor(kCursor);
    QCOMPARE(panel_->RowColors(true, false, true).background, platform::ColorToQColor(kCursor));
  }

  // The name column takes the width the other columns leave, NameWidth at
  // least; a font change fits the other columns to the new texts.
  void nameColumnTakesTheFreeWidth() {
    const int others = panel_->ExtWidth() + panel_->SizeWidth() + panel_->DateWidth() + panel_->TimeWidth() + 4;
    panel_->SetNameWidth(16);
    QCOMPARE(panel_->ShownNameWidth(), panel_->viewport()->width() - others - 1);
    panel_->SetNameWidth(120);  // the room left is narrower: 120 it is
    QCOMPARE(panel_->ShownNameWidth(), 120);
    panel_->SetNameWidth(1000);
    QCOMPARE(panel_->ShownNameWidth(), 1000);
    QFont font = panel_->font();
    font.setPixelSize(26);
    panel_->setFont(font);
    const TFMPanel::TColumnWidths fit = panel_->FittingColumnWidths();
    QCOMPARE(QList<int>({panel_->ExtWidth(), panel_->SizeWidth(), panel_->DateWidth(), panel_->TimeWidth()}),
             QList<int>({fit.ext, fit.size, fit.date, fit.time}));
  }

  // Fitting widths hold the widest texts in the bold cell font.
  void fittingWidthsHoldTheWidestTexts() {
    for (int pixels : {11, 13, 20}) {
      QFont font(QStringLiteral("DejaVu Sans"));
      font.setPixelSize(pixels);
      panel_->setFont(font);
      font.setBold(true);
      const QFontMetrics bold(font);
      const TFMPanel::TColumnWidths fit = panel_->FittingColumnWidths();
      QVERIFY(fit.ext > bold.horizontalAdvance(QStringLiteral(".JPEG")) &&
              fit.size > bold.horizontalAdvance(QStringLiteral("999,999,999,999")) &&
              fit.date > bold.horizontalAdvance(QStringLiteral("31.12.2025")) &&
              fit.time > bold.horizontalAdvance(QStringLiteral("23:59")));
    }
  }

  // The info line at every width from far too narrow to wide enough: never
  // wider than its room, whole when it fits, the marks whole before the
  // rest gets any room, the count kept while it fits, anything cut
  // ending in "…", and the whole text as the tip only while shortened.
  void infoLineShortensTheLeastImportantFirst() {
    const QString dots = QStringLiteral("\u2026"), bar = QStringLiteral(" | ");
    const struct {
      const char* what;
      panels::TInfoText text;
    } cases[] = {
        {"marks and space",
         {"Marked ", "1,234,567", ": 736,674,304,512 bytes", "1,234,567.89 Mb of 9,876,543.21 Mb free"}},
        {"Russian",
         {"\u041e\u0442\u043c\u0435\u0447\u0435\u043d\u043e: ", "3 \u044d\u043b\u0435\u043c\u0435\u043d\u0442\u0430",
          ", 736,674,304 \u0431\u0430\u0439\u0442\u0430", "\u0441\u0432\u043e\u0431\u043e\u0434\u043d\u043e 67,881.43 MB"}},
        {"count last", {"736,674,304 bytes in ", "3 entries", "", "free 1.00 Mb"}},
        {"no count", {"Marked, 12 bytes", "", "", "12.00 Mb of 20.00 Mb free"}},
        {"marks only", {"Marked ", "2", ": 5 bytes", ""}},
        {"no marks", {"", "", "", "3 files: 1,234 bytes, packed 567 bytes | read-only: a nested archive"}},
    };
    panels::TInfoLine line;
    line.setFrameStyle(QFrame::Panel | QFrame::Sunken);
    line.resize(100, 19);
    line.show();  // a hidden widget hears of its new size only when shown
    for (const auto& c : cases) {
      line.SetLine(c.text);
      const QFontMetrics m = line.fontMetrics();
      const panels::TInfoText& t = c.text;
      const QString whole = t.Whole(), first = t.First();
      QCOMPARE(line.text(), whole);
      AtEveryWidth(line, c.what, [&](const QString& shown, int room, const QByteArray& what) {
        if (!first.isEmpty() && m.horizontalAdvance(first) <= room) QVERIFY2(shown.startsWith(first), what);
        if (!first.isEmpty() && shown.contains(bar)) QVERIFY2(shown.startsWith(first + bar), what);
        if (!t.count.isEmpty() && m.horizontalAdvance(t.count) <= room) QVERIFY2(shown.contains(t.count), what);
        // The rest is cut short before it goes.
        if (!first.isEmpty() && m.horizontalAdvance(first + bar + t.rest.left(12) + dots) <= room)
          QVERIFY2(shown.startsWith(first + bar), what);
        // Whole parts may go without "…": the rest, the words after the
        // count, those before it.
        const bool partsLeftOut = shown == first || shown == t.head + t.count ||
                                  (!t.count.isEmpty() && (shown == t.count + t.tail || shown == t.count));
        if (shown != whole && !partsLeftOut && !shown.isEmpty()) QVERIFY2(shown.endsWith(dots), what);
      });
    }
  }

  // The entry line at every width: the name shortens in its middle first,
  // keeping its start and its extension, while the words after it stay
  // whole; then those words are cut short; at last the line is cut from
  // its start. Never wider than its room, the whole text the tip while
  // shortened, and a name that is not UTF-8 shown with its stand-ins.
  void entryLineShortensTheNameFirst() {
    const QString dots = QStringLiteral("\u2026");
    const struct {
      const char* what;
      panels::TEntryText text;
    } cases[] = {
        {"long name", {"", "Annual report of the department of roads 2026 (final).pdf", "- size:1,234,567 bytes.", ".pdf"}},
        {"Russian",
         {"", "\u041e\u0442\u0447\u0451\u0442 \u043e \u0440\u0430\u0431\u043e\u0442\u0435 \u043e\u0442\u0434\u0435"
              "\u043b\u0430 \u0434\u043e\u0440\u043e\u0433 \u0437\u0430 2026 \u0433\u043e\u0434.docx",
          " \u2014 \u0440\u0430\u0437\u043c\u0435\u0440: 736 674 304 \u0431\u0430\u0439\u0442\u0430", ".docx"}},
        {"not UTF-8", {"", "b\uFFFD\uFFFDlong-name-of-a-download-kept-for-later.tar.gz", "- size:12 bytes.", ".gz"}},
        {"directory", {"[", "a directory with a long name and no extension", "]:  DIRECTORY", ""}},
        {"packed", {"", "photo-2026-12-08-holiday.jpeg", "- size:1,234,567 bytes, packed:1,000 bytes.", ".jpeg"}},
        {"accents", {"", "e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301e\u0301.txt", "- size:1 byte.", ".txt"}},
    };
    panels::TInfoLine line;
    line.setFrameStyle(QFrame::Panel | QFrame::Sunken);
    line.resize(100, 19);
    line.show();
    for (const auto& c : cases) {
      const panels::TEntryText& t = c.text;
      line.SetEntryLine(t);
      const QFontMetrics m = line.fontMetrics();
      const QString whole = t.Whole();
      QCOMPARE(line.text(), whole);
      // The least of the name kept while the words after it are whole: six
      // characters of its start and its extension, or three of its start
      // and three of its end (an accent counts with its letter).
      const int kept = t.ending.isEmpty() ? 3 : 6;
      QTextBoundaryFinder characters(QTextBoundaryFinder::Grapheme, t.name);
      for (int i = 0; i < kept; ++i) characters.toNextBoundary();
      const QString start = t.name.left(characters.position());
      characters.toEnd();
      for (int i = 0; i < kept; ++i) characters.toPreviousBoundary();
      const QString end = t.ending.isEmpty() ? t.name.mid(characters.position()) : t.ending;
      int shortenedNames = 0;
      AtEveryWidth(line, c.what, [&](const QString& shown, int room, const QByteArray& what) {
        if (shown == whole || shown.isEmpty()) return;
        QVERIFY2(shown.contains(dots) && shown.startsWith(t.head.left(shown.size() - 1)), what);
        // The words after the name stay whole while the least of the name
        // fits beside them; the name then keeps its start and extension.
        const QString least = t.head + start + dots + end;
        if (m.horizontalAdvance(least + t.tail) <= room) {
          QVERIFY2(shown.endsWith(t.tail), what);
          const QString name = shown.mid(t.head.size(), shown.size() - t.head.size() - t.tail.size());
          QVERIFY2(name.startsWith(start) && name.endsWith(end) && name.count(dots) == 1, what);
          // The middle that went is the name's own: start and end are the name's.
          const qsizetype cut = name.indexOf(dots);
          QVERIFY2(t.name.startsWith(name.left(cut)) && t.name.endsWith(name.mid(cut + 1)), what);
          QVERIFY2(cut + (name.size() - cut - 1) < t.name.size(), what);
          ++shortenedNames;
        } else if (shown.size() > t.head.size() + start.size()) {
          // Then the name has its least and the words after it are cut.
          QVERIFY2(shown.startsWith(t.head + start) && shown.endsWith(dots), what);
        }
      });
      QVERIFY2(shortenedNames >= 5, c.what);
    }
  }

  // The directory line at every width: the most of the path's last
  // components that fit after "…/", with the first component before them
  // while it fits too; at worst the last component shortened.
  void directoryLineKeepsTheLastComponents() {
    const QString dots = QStringLiteral("\u2026"), left = dots + QLatin1Char('/');
    const char* const paths[] = {
        "/home/user/projects/vantrel/panels/qt/deeply/nested/place",
        "/mnt/\u0434\u0438\u0441\u043a/\u0434\u043e\u043a\u0443\u043c\u0435\u043d\u0442\u044b/2026/\u043e\u0442\u0447\u0451\u0442\u044b",
        "/tmp/b\uFFFD\uFFFD/a-rather-long-last-component-of-the-path",
        "trash:///files/old/photos",
        "/home/user/archive.zip/inner/dir",
    };
    panels::TInfoLine line;
    line.setFrameStyle(QFrame::Panel | QFrame::Sunken);
    line.setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    line.resize(100, 17);
    line.show();
    for (const char* p : paths) {
      const QString path = QString::fromUtf8(p);
      line.SetPathText(path);
      const QFontMetrics m = line.fontMetrics();
      QCOMPARE(line.text(), path);
      // Each tail of whole components after the first, longest first.
      QStringList tails;
      for (qsizetype at = 1; at < path.size(); ++at) {
        if (path[at] != QLatin1Char('/') || path[at - 1] == QLatin1Char('/')) continue;
        qsizetype from = at;
        while (from < path.size() && path[from] == QLatin1Char('/')) ++from;
        tails << path.mid(from);
      }
      const QString last = tails.last();
      const QString head = path.left(path.size() - tails.first().size());  // "/home/", "trash:///"
      AtEveryWidth(line, p, [&](const QString& shown, int room, const QByteArray& what) {
        if (shown == path || shown.isEmpty()) return;
        QVERIFY2(shown.contains(dots), what);
        // The longest tail that fits after "…/" is shown whole.
        const auto fits = [&](const QString& tail) { return m.horizontalAdvance(left + tail) <= room; };
        const auto longest = std::find_if(tails.begin(), tails.end(), fits);
        if (longest == tails.end()) {
          if (m.horizontalAdvance(left + last.left(1) + dots) <= room) QVERIFY2(shown.startsWith(left + last.left(1)), what);
          return;
        }
        QVERIFY2(shown.endsWith(left + *longest), what);
        // Before "…" the first component while there is room for it.
        const QString before = shown.left(shown.size() - longest->size() - left.size());
        const bool headFits = longest != tails.begin() && m.horizontalAdvance(head + left + *longest) <= room;
        QVERIFY2(before == (headFits ? head : QString()), what);
      });
    }
  }

  // What a line paints is what a label showing the shortened text paints,
  // also for a text given to it as to any label, and right-aligned as the
  // directory line is.
  void infoLinePaintsTheShortenedText() {
    const QString direct = QStringLiteral("3 files: 1,234 bytes, packed 567 bytes | read-only: a nested archive");
    const QString path = QStringLiteral("/home/user/projects/vantrel/panels/qt/deeply/nested/place");
    const std::function<void(panels::TInfoLine&)> sets[] = {
        [](panels::TInfoLine& l) {
          l.SetLine({"Marked ", "1,234", ": 736,674,304 bytes", "67,881.43 Mb of 258,019.61 Mb free"});
        },
        [&](panels::TInfoLine& l) { l.setText(direct); },
        [](panels::TInfoLine& l) {
          l.SetEntryLine({"", "Annual report of the department of roads.pdf", "- size:1,234,567 bytes.", ".pdf"});
        },
        [&](panels::TInfoLine& l) { l.SetPathText(path); },
        [&](panels::TInfoLine& l) { l.setText(path + QStringLiteral("/deeper")); },  // a path again
    };
    for (const Qt::Alignment align : {Qt::AlignLeft | Qt::AlignVCenter, Qt::AlignRight | Qt::AlignVCenter}) {
      panels::TInfoLine line;
      QLabel label;
      for (QLabel* l : {static_cast<QLabel*>(&line), &label}) {
        l->setFrameStyle(QFrame::Panel | QFrame::Sunken);
        l->setFont(panel_->font());
        l->setAlignment(align);
        l->show();
      }
      for (int width : {60, 150, 260}) {
        for (const auto& set : sets) {
          set(line);
          line.resize(width, 19), label.resize(width, 19);
          const QString shown = line.ShownText();
          label.setText(shown);
          QVERIFY2(shown != line.text(), qPrintable(shown));
          QVERIFY2(line.grab().toImage() == label.grab().toImage(), qPrintable(shown));
          QCOMPARE(line.toolTip(), line.text());
        }
        if (width > 60) QVERIFY2(line.ShownText().endsWith(QStringLiteral("/deeper")), qPrintable(line.ShownText()));
      }
    }
  }

  // Masks are case-sensitive lists; directories are never marked; the info
  // line counts the marks.
  void masksInvertAllAndTheInfoLine() {
    const std::string dir = Std(tmp_.filePath(QStringLiteral("mixed")));
    QVERIFY(MakeDir(dir + "/sub.txt"));
    for (int i = 0; i < 3000; ++i)
      QVERIFY(MakeFile(dir + "/f" + std::to_string(i) + (i % 3 == 0 ? ".txt" : i % 3 == 1 ? ".TXT" : ".txt.bak"), 1));
    panel_->ReadDirectory(dir);
    QCOMPARE(panel_->MarkByMask("*.txt", true), 1000);
    QVERIFY2(info_->text().startsWith(QStringLiteral("Marked 1,000: 1,000 bytes | ")), qPrintable(info_->text()));
    // f1*.txt: numbers starting with 1 that are multiples of three.
    QCOMPARE(panel_->MarkByMask("f1*.txt; *.none", false), 3 + 33 + 333);
    panel_->InvertFileMarks();  // files only
    QVERIFY(panel_->Model().MarkedCount() == 3000 - (1000 - 369) && !panel_->IsMarked(panel_->IndexOfName("sub.txt")));
    panel_->MarkByMask("*", false);
    QVERIFY(!info_->text().contains(QStringLiteral("Marked")));
  }

  void shiftKeysMarkRanges() {
    Fresh("range", {"1", "2", "3", "4", "5", "6"});
    panel_->SetCursor(1);
    for (int i = 0; i < 2; ++i) QTest::keyClick(panel_, Qt::Key_Down, Qt::ShiftModifier);
    const struct {
      Qt::Key key;
      std::vector<std::string> marked;
      const char* cursor;
    } steps[] = {
        {Qt::Key_Down, {"1", "2", "3"}, "4"},
        {Qt::Key_Up, {"1", "2", "3", "4"}, "3"},               // marks where it stands, moves up
        {Qt::Key_End, {"1", "2"}, "6"},                        // from a marked one: unmarks to the end
        {Qt::Key_Home, {"1", "2", "3", "4", "5", "6"}, ".."},  // ".." itself is never marked
    };
    for (const auto& s : steps) {
      QTest::keyClick(panel_, s.key, Qt::ShiftModifier);
      QCOMPARE(Marked(), s.marked);
      QCOMPARE(AtCursor(), std::string(s.cursor));
    }
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
    // System colours come from the palette.
    QPalette pal;
    for (auto [role, color] : {std::pair{QPalette::Base, QColor(1, 2, 3)}, {QPalette::Text, QColor(4, 5, 6)},
                               {QPalette::Highlight, QColor(7, 8, 9)}})
      pal.setColor(role, color);
    QCOMPARE(QList<QColor>({ColorToQColor(platform::clWindow, pal), ColorToQColor(platform::clWindowText, pal),
                            ColorToQColor(0x8000000Du, pal)}),
             QList<QColor>({QColor(1, 2, 3), QColor(4, 5, 6), QColor(7, 8, 9)}));
    QCOMPARE(static_cast<TColor>(-2147483643), platform::clWindow);
    QVERIFY(platform::IsSystemColor(platform::clWindow) && !platform::IsSystemColor(platform::clRed));
    // A volume's label follows its mount point.
    platform::Volume v;
    v.mountPoint = "/media/usb", v.label = "STICK";
    QCOMPARE(platform::VolumeDisplayText(v), QStringLiteral("/media/usb [STICK]"));
  }

};

QTEST_MAIN(PanelTest)
#include "panel_test.moc"
