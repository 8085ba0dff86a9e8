// fmpanel_test.cpp - the file panel control on its own: row height, the text
// lines, the keys and clicks of the list, the colours of each row state and
// the column cells, read back from the painted pixels.
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <memory>

#include "gui_test_support.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"

using namespace vantrel;
using namespace vantrel::testing;
using panels::TFMPanel;

namespace {

// Explicit colours, one per role, far apart so each pixel tells its role.
constexpr platform::TColor kBack = 0xFFFFFF;      // white
constexpr platform::TColor kCursor = 0xFF0000;    // blue
constexpr platform::TColor kFile = 0x000000;      // black
constexpr platform::TColor kSelected = 0x0000FF;  // red
constexpr platform::TColor kCurrent = 0x00FF00;   // green
constexpr platform::TColor kCurSel = 0x00FFFF;    // yellow

QColor Q(platform::TColor c) { return platform::ColorToQColor(c); }

// Pixels of exactly `color` inside `rect` of `image`.
int CountPixels(const QImage& image, const QRect& rect, const QColor& color) {
  int n = 0;
  const QRgb want = color.rgb();
  const QRect r = rect.intersected(image.rect());
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if ((image.pixel(x, y) & 0xFFFFFF) == (want & 0xFFFFFF)) ++n;
  return n;
}

// Records the region of every paint of a widget.
class PaintSpy : public QObject {
 public:
  QRegion painted;
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) {
      ++paints;
      painted += static_cast<QPaintEvent*>(event)->region();
    }
    return false;
  }
};

}  // namespace

class FMPanelTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir tmp_;
  std::string dir_;       // a listing longer than the panel
  std::string smallDir_;  // three entries
  std::unique_ptr<QWidget> window_;
  TFMPanel* panel_ = nullptr;
  QLabel* dirLine_ = nullptr;
  QLabel* fileLine_ = nullptr;
  QLabel* infoLine_ = nullptr;
  QLineEdit* other_ = nullptr;

  // Text pixels of any role colour in a row, the icon left out.
  QImage Grab() { return panel_->viewport()->grab().toImage(); }
  QRect TextArea(int row) const { return panel_->RowRect(row).adjusted(16, 0, 0, 0); }
  int Index(const char* name) const { return panel_->IndexOfName(name); }
  QPoint RowPoint(int row) const { return panel_->RowRect(row).center(); }

 private slots:
  void initTestCase() {
    QVERIFY(tmp_.isValid());
    dir_ = Std(tmp_.filePath(QStringLiteral("big")));
    smallDir_ = Std(tmp_.filePath(QStringLiteral("small")));
    QVERIFY(QDir().mkpath(QString::fromStdString(dir_ + "/my.dir")));
    QVERIFY(QDir().mkpath(QString::fromStdString(smallDir_)));
    QVERIFY(MakeFile(dir_ + "/a.txt", 3, 2026, 2, 3, 9, 5));
    QVERIFY(MakeFile(dir_ + "/archive.tar.gz", 5));
    QVERIFY(MakeFile(dir_ + "/.profile", 1));
    QVERIFY(MakeFile(dir_ + "/b\xff.bin", 1234));
    for (int i = 0; i < 60; ++i) QVERIFY(MakeFile(dir_ + "/f" + std::to_string(100 + i), 10));
    QVERIFY(MakeFile(smallDir_ + "/one", 1));
    QVERIFY(MakeFile(smallDir_ + "/two", 2));
  }

  void init() {
    window_ = std::make_unique<QWidget>();
    auto* layout = new QVBoxLayout(window_.get());
    dirLine_ = new QLabel(window_.get());
    fileLine_ = new QLabel(window_.get());
    infoLine_ = new QLabel(window_.get());
    other_ = new QLineEdit(window_.get());
    panel_ = new TFMPanel(window_.get());
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    font.setStyleStrategy(QFont::NoAntialias);  // exact text colours in the pixels
    panel_->setFont(font);
    panel_->SetDirPanel(dirLine_);
    panel_->SetFilePanel(fileLine_);
    panel_->SetInfoPanel(infoLine_);
    panel_->SetNameWidth(120);
    layout->addWidget(dirLine_);
    layout->addWidget(panel_);
    layout->addWidget(fileLine_);
    layout->addWidget(infoLine_);
    layout->addWidget(other_);
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

  void rowHeightIsCharHeightTimesOnePointThreeHalfToEven() {
    QCOMPARE(TFMPanel::ItemHeightForCharHeight(13), 17);  // 16.9
    QCOMPARE(TFMPanel::ItemHeightForCharHeight(-13), 17);
    QCOMPARE(TFMPanel::ItemHeightForCharHeight(15), 20);  // 19.5 -> even 20
    QCOMPARE(TFMPanel::ItemHeightForCharHeight(5), 6);    // 6.5 -> even 6
    QCOMPARE(TFMPanel::ItemHeightForCharHeight(25), 32);  // 32.5 -> even 32
    QCOMPARE(TFMPanel::ItemHeightForCharHeight(10), 13);
    QCOMPARE(panel_->ItemHeight(), 17);
    QFont f = panel_->font();
    f.setPixelSize(15);
    panel_->setFont(f);
    QCOMPARE(panel_->ItemHeight(), 20);
    // Ten points at 96 dots per inch are 13 pixels, as on the desktop.
    QCOMPARE(TFMPanel::CharHeightOf(QFont(QStringLiteral("X"), 10), 96), 13);
  }

  void readFillsTheDirectoryAndDiskLines() {
    QCOMPARE(dirLine_->text(), QString::fromStdString(dir_));
    QVERIFY2(infoLine_->text().endsWith(QStringLiteral(" free")), qPrintable(infoLine_->text()));
    QCOMPARE(panel_->Count(), 2 + 4 + 60);  // "..", my.dir, four files, sixty more
    QCOMPARE(panel_->Cursor(), 0);
    QCOMPARE(panel_->TopIndex(), 0);
  }

  void keysMoveTheCursorLikeAListBox() {
    const int page = panel_->PageRows();
    QCOMPARE(page, 10);
    QTest::keyClick(panel_, Qt::Key_Down);
    QCOMPARE(panel_->Cursor(), 1);
    QTest::keyClick(panel_, Qt::Key_Up);
    QTest::keyClick(panel_, Qt::Key_Up);  // stays on the first entry
    QCOMPARE(panel_->Cursor(), 0);
    // Page Down: first to the last visible row, then a page less one row.
    QTest::keyClick(panel_, Qt::Key_PageDown);
    QCOMPARE(panel_->Cursor(), page - 1);
    QCOMPARE(panel_->TopIndex(), 0);
    QTest::keyClick(panel_, Qt::Key_PageDown);
    QCOMPARE(panel_->Cursor(), 2 * (page - 1));
    QCOMPARE(panel_->TopIndex(), 2 * (page - 1) - page + 1);
    QTest::keyClick(panel_, Qt::Key_PageUp);
    QCOMPARE(panel_->Cursor(), panel_->TopIndex());
    QTest::keyClick(panel_, Qt::Key_End);
    QCOMPARE(panel_->Cursor(), panel_->Count() - 1);
    QCOMPARE(panel_->TopIndex(), panel_->Count() - page);
    QTest::keyClick(panel_, Qt::Key_PageDown);
    QCOMPARE(panel_->Cursor(), panel_->Count() - 1);
    QTest::keyClick(panel_, Qt::Key_Home);
    QCOMPARE(panel_->Cursor(), 0);
    QCOMPARE(panel_->TopIndex(), 0);
    QCOMPARE(panel_->Model().MarkedCount(), 0);  // moving never marks
  }

  void spaceTogglesTheCursorMark() {
    QTest::keyClick(panel_, Qt::Key_Down);
    QTest::keyClick(panel_, Qt::Key_Space);
    QVERIFY(panel_->IsMarked(1));
    QCOMPARE(panel_->Cursor(), 1);  // Space does not move
    QTest::keyClick(panel_, Qt::Key_Space);
    QVERIFY(!panel_->IsMarked(1));
  }

  void keysThePanelDoesNotOwnGoToTheWindow() {
    // Insert, Enter and F8 are the window's; the panel leaves them alone.
    QKeyEvent insert(QEvent::KeyPress, Qt::Key_Insert, Qt::NoModifier);
    QApplication::sendEvent(panel_, &insert);
    QVERIFY(!insert.isAccepted());
    QCOMPARE(panel_->Model().MarkedCount(), 0);
    QCOMPARE(panel_->Cursor(), 0);
  }

  void clicksMoveTheCursorAndMark() {
    QSignalSpy menu(panel_, &TFMPanel::contextMenuRequested);
    QTest::mouseClick(panel_->viewport(), Qt::LeftButton, {}, RowPoint(2));
    QCOMPARE(panel_->Cursor(), 2);
    QVERIFY(panel_->IsMarked(2));
    QTest::mouseClick(panel_->viewport(), Qt::LeftButton, {}, RowPoint(4));
    QVERIFY(panel_->IsMarked(4));
    QTest::mouseClick(panel_->viewport(), Qt::LeftButton, {}, RowPoint(4));
    QVERIFY(!panel_->IsMarked(4));
    // A right click moves the cursor and leaves every mark as it was.
    QTest::mouseClick(panel_->viewport(), Qt::RightButton, {}, RowPoint(3));
    QCOMPARE(panel_->Cursor(), 3);
    QVERIFY(panel_->IsMarked(2));
    QVERIFY(!panel_->IsMarked(3));
    QCOMPARE(menu.count(), 1);
    QCOMPARE(menu.at(0).at(0).toInt(), 3);
  }

  void clicksBelowTheLastEntryDoNothing() {
    QVERIFY(panel_->ReadDirectory(smallDir_));
    QCOMPARE(panel_->Count(), 3);
    QSignalSpy menu(panel_, &TFMPanel::contextMenuRequested);
    const QPoint below = RowPoint(6);
    QTest::mouseClick(panel_->viewport(), Qt::RightButton, {}, below);
    QTest::mouseClick(panel_->viewport(), Qt::LeftButton, {}, below);
    QCOMPARE(panel_->Cursor(), 0);
    QCOMPARE(panel_->Model().MarkedCount(), 0);
    QCOMPARE(menu.count(), 0);
  }

  void doubleClickReportsAndLeavesTheMark() {
    QSignalSpy dbl(panel_, &TFMPanel::dblClick);
    // What the window system delivers: press, release, press, double-click, release.
    const QPoint at = RowPoint(1);
    QTest::mouseClick(panel_->viewport(), Qt::LeftButton, {}, at);
    QVERIFY(panel_->IsMarked(1));
    QTest::mousePress(panel_->viewport(), Qt::LeftButton, {}, at);
    QMouseEvent dblclick(QEvent::MouseButtonDblClick, at, panel_->viewport()->mapToGlobal(at),
                         Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(panel_->viewport(), &dblclick);
    QTest::mouseRelease(panel_->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(dbl.count(), 1);
    QCOMPARE(panel_->Cursor(), 1);
    QVERIFY(!panel_->IsMarked(1));
  }

  void fileLineFollowsTheCursorWhileFocused() {
    panel_->SetCursor(Index("a.txt"));
    QCOMPARE(fileLine_->text(), QStringLiteral("a.txt- size:3 bytes."));
    panel_->SetCursor(Index("my.dir"));
    QCOMPARE(fileLine_->text(), QStringLiteral("[my.dir]:  DIRECTORY"));
    panel_->SetCursor(Index("b\xff.bin"));
    QCOMPARE(fileLine_->text(), QStringLiteral("b\uFFFD.bin- size:1,234 bytes."));
    QCOMPARE(panel_->CurrentEntry()->FileName, std::string("b\xff.bin"));  // the real bytes
    // Without the focus the line is left alone.
    other_->setFocus();
    QTRY_VERIFY(!panel_->hasFocus());
    panel_->SetCursor(Index("a.txt"));
    QCOMPARE(fileLine_->text(), QStringLiteral("b\uFFFD.bin- size:1,234 bytes."));
  }

  void rowColoursFollowFocusAndMarks() {
    panel_->SetMarked(1, true);  // marked, not the cursor
    panel_->SetMarked(3, true);
    panel_->SetCursor(3);        // marked cursor
    QImage image = Grab();
    // Row 0: plain entry on the panel's background in the file colour.
    QVERIFY(CountPixels(image, TextArea(0), Q(kFile)) > 0);
    QCOMPARE(CountPixels(image, TextArea(0), Q(kCursor)), 0);
    // Row 1: marked, drawn in the selected colour.
    QVERIFY(CountPixels(image, TextArea(1), Q(kSelected)) > 0);
    QCOMPARE(CountPixels(image, TextArea(1), Q(kFile)), 0);
    // Row 3: the marked cursor row: cursor background, CurSel text, never Selected.
    QVERIFY(CountPixels(image, TextArea(3), Q(kCursor)) > 100);
    QVERIFY(CountPixels(image, TextArea(3), Q(kCurSel)) > 0);
    QCOMPARE(CountPixels(image, TextArea(3), Q(kSelected)), 0);
    QCOMPARE(CountPixels(image, TextArea(3), Q(kBack)), 0);

    // An unmarked cursor row is in the current colour.
    panel_->SetCursor(2);
    image = Grab();
    QVERIFY(CountPixels(image, TextArea(2), Q(kCurrent)) > 0);
    QCOMPARE(CountPixels(image, TextArea(2), Q(kFile)), 0);
    QVERIFY(CountPixels(image, TextArea(3), Q(kSelected)) > 0);

    // Without the focus there is no cursor bar at all.
    other_->setFocus();
    QTRY_VERIFY(!panel_->hasFocus());
    image = Grab();
    QCOMPARE(CountPixels(image, image.rect(), Q(kCursor)), 0);
    QCOMPARE(CountPixels(image, image.rect(), Q(kCurrent)), 0);
    QVERIFY(CountPixels(image, TextArea(2), Q(kFile)) > 0);
  }

  void focusRectangleOnlyWhileFocused() {
    panel_->SetCursor(1);
    const QRect row = panel_->RowRect(1);
    const QRect topEdge(row.left(), row.top(), row.width(), 1);
    QVERIFY(CountPixels(Grab(), topEdge, Q(kCurrent)) > 10);
    other_->setFocus();
    QTRY_VERIFY(!panel_->hasFocus());
    QCOMPARE(CountPixels(Grab(), topEdge, Q(kCurrent)), 0);
    QCOMPARE(CountPixels(Grab(), topEdge, Q(kFile)), 0);
  }

  void cellsStartWhereTheWidthsSay() {
    other_->setFocus();
    QTRY_VERIFY(!panel_->hasFocus());
    const int row = Index("my.dir");
    const QRect r = panel_->RowRect(row);
    // The name cell runs from 16 to NameWidth; a directory has no extension.
    QVERIFY(CountPixels(Grab(), QRect(16, r.top(), 104, r.height()), Q(kFile)) > 0);
    QCOMPARE(CountPixels(Grab(), QRect(121, r.top(), 31, r.height()), Q(kFile)), 0);
    // "DIR" stands in the size cell.
    QVERIFY(CountPixels(Grab(), QRect(152, r.top(), 70, r.height()), Q(kFile)) > 0);
    // With NameWidth 16 no name text is left, and the columns move left.
    panel_->SetNameWidth(16);
    QCOMPARE(CountPixels(Grab(), QRect(16, r.top(), 32, r.height()), Q(kFile)), 0);
    QVERIFY(CountPixels(Grab(), QRect(48, r.top(), 70, r.height()), Q(kFile)) > 0);
  }

  void fittingWidthsHoldTheWidestTexts() {
    // Cells are drawn in the bold form of the panel's font.
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

  void longNamesEndInAnEllipsis() {
    const std::string name(200, 'W');
    QVERIFY(MakeFile(smallDir_ + "/" + name, 1));
    QVERIFY(panel_->ReadDirectory(smallDir_));
    QCOMPARE(panel_->Count(), 4);
    // The text stays inside its cell: nothing spills into the gap before Ext.
    const QRect r = panel_->RowRect(panel_->IndexOfName(name));
    const QImage image = Grab();
    QVERIFY(CountPixels(image, QRect(16, r.top(), 104, r.height()), Q(kFile)) > 0);
    QCOMPARE(CountPixels(image, QRect(120, r.top(), 1, r.height()), Q(kFile)), 0);
    QFile::remove(QString::fromStdString(smallDir_ + "/" + name));
  }

  void markingAndMovingRepaintOnlyTheirRows() {
    QApplication::processEvents();
    PaintSpy spy;
    panel_->viewport()->installEventFilter(&spy);
    panel_->SetMarked(5, true);
    QApplication::processEvents();
    QVERIFY(spy.paints > 0);
    QCOMPARE(spy.painted.boundingRect(), panel_->RowRect(5));

    spy.painted = QRegion();
    QTest::keyClick(panel_, Qt::Key_Down);  // rows 0 and 1, no scrolling
    QApplication::processEvents();
    QCOMPARE(spy.painted.boundingRect(), panel_->RowRect(0).united(panel_->RowRect(1)));

    // Scrolling by one row moves the drawn pixels and paints the new row
    // (and the two cursor rows), not the whole screen.
    panel_->SetCursor(panel_->PageRows() - 1);
    QApplication::processEvents();
    spy.painted = QRegion();
    QTest::keyClick(panel_, Qt::Key_Down);
    QApplication::processEvents();
    QCOMPARE(panel_->TopIndex(), 1);
    QVERIFY2(spy.painted.boundingRect().height() <= 2 * panel_->ItemHeight(),
             qPrintable(QStringLiteral("%1").arg(spy.painted.boundingRect().height())));
    panel_->viewport()->removeEventFilter(&spy);
  }

  void readingAgainClearsMarksAndCursor() {
    panel_->SetMarked(2, true);
    panel_->SetCursor(5);
    QVERIFY(panel_->ReadDirectory(panel_->Directory()));
    QCOMPARE(panel_->Model().MarkedCount(), 0);
    QCOMPARE(panel_->Cursor(), 0);
    QCOMPARE(panel_->TopIndex(), 0);
  }
};

QTEST_MAIN(FMPanelTest)
#include "fmpanel_test.moc"
