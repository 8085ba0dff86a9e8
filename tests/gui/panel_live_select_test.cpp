// panel_live_select_test.cpp - the file panel control keeping up with other
// programs (a new file appears, a deleted directory sends the panel up,
// Ctrl+R), marking many entries (masks, ranges, inversion, the info line) and
// the quick-search field.
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>

#include <memory>

#include "gui_test_support.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"

using namespace vantrel;
using namespace vantrel::testing;
using panels::TFMPanel;

class PanelLiveSelectTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir tmp_;
  std::unique_ptr<QLabel> info_;
  std::unique_ptr<TFMPanel> panel_;

  std::string Dir(const char* name) const { return Std(tmp_.filePath(QString::fromLatin1(name))); }
  std::string NameAtCursor() const { return panel_->CurrentEntry()->FileName; }
  std::vector<std::string> MarkedNames() const {
    std::vector<std::string> out;
    for (int i = 0; i < panel_->Count(); ++i)
      if (panel_->IsMarked(i)) out.push_back(panel_->Entries()[static_cast<size_t>(i)]->FileName);
    return out;
  }
  // A fresh directory `name` holding `files`, shown in a focused panel.
  void Show(const char* name, const std::vector<std::string>& files) {
    const std::string dir = Dir(name);
    QVERIFY(QDir().mkpath(QString::fromStdString(dir)));
    for (const std::string& f : files) QVERIFY(MakeFile(dir + "/" + f, f.size()));
    info_ = std::make_unique<QLabel>();
    panel_ = std::make_unique<TFMPanel>();
    panel_->SetInfoPanel(info_.get());
    panel_->resize(400, 300);
    panel_->show();
    panel_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(panel_.get()));
    panel_->setFocus();
    QVERIFY(panel_->ReadDirectory(dir));
  }
  void Key(int key, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    QWidget* target = QApplication::focusWidget();
    QTest::keyClick(target != nullptr ? target : panel_.get(), static_cast<Qt::Key>(key), mods);
  }

 private slots:
  void initTestCase() { QVERIFY(tmp_.isValid()); }

  void fileFromAnotherProgramAppearsWithCursorAndMarksKept() {
    Show("live", {"a.txt", "c.txt"});
    panel_->SetCursor(panel_->IndexOfName("c.txt"));
    panel_->SetMarked(panel_->IndexOfName("a.txt"), true);
    QSignalSpy refreshed(panel_.get(), &TFMPanel::listingRefreshed);
    QVERIFY(MakeFile(Dir("live") + "/b.txt", 3));  // sorts between the two
    QTRY_VERIFY_WITH_TIMEOUT(panel_->Entries().size() == 4, 1000);
    QCOMPARE(NameAtCursor(), std::string("c.txt"));
    QCOMPARE(MarkedNames(), std::vector<std::string>{"a.txt"});
    QCOMPARE(refreshed.count(), 1);
    // A burst of changes is folded into few re-reads.
    for (int i = 0; i < 50; ++i) QVERIFY(MakeFile(Dir("live") + "/burst" + std::to_string(i), 1));
    QTRY_VERIFY_WITH_TIMEOUT(panel_->Entries().size() == 54, 1000);
    QVERIFY2(refreshed.count() <= 4, qPrintable(QString::number(refreshed.count())));
  }

  void ctrlRRereadsAndDeletedDirectorySendsThePanelUp() {
    Show("gone/inner/deep", {"x"});
    panel_->SetLive(false);
    QVERIFY(MakeFile(Dir("gone/inner/deep") + "/y", 1));
    QCOMPARE(panel_->Entries().size(), size_t(2));  // not live: not seen yet
    Key(Qt::Key_End);
    panel_->Reread();  // what Ctrl+R does
    QCOMPARE(panel_->Entries().size(), size_t(3));
    QCOMPARE(NameAtCursor(), std::string("x"));
    panel_->SetLive(true);
    QVERIFY(QDir(QString::fromStdString(Dir("gone/inner"))).removeRecursively());
    QTRY_COMPARE_WITH_TIMEOUT(panel_->Directory(), Dir("gone"), 1000);
  }

  void masksInvertAllAndTheInfoLine() {
    // 10,000 entries of mixed kinds, a third of them .txt files.
    const std::string dir = Dir("mixed");
    QVERIFY(QDir().mkpath(QString::fromStdString(dir + "/sub.txt")));  // a directory is never marked
    for (int i = 0; i < 9999; ++i) {
      const char* ext = i % 3 == 0 ? ".txt" : i % 3 == 1 ? ".TXT" : ".txt.bak";
      QVERIFY(MakeFile(dir + "/f" + std::to_string(i) + ext, 1));
    }
    Show("mixed", {});
    QCOMPARE(panel_->MarkByMask("*.txt", true), 3333);
    for (const std::string& name : MarkedNames()) QVERIFY(name.size() > 4 && name.substr(name.size() - 4) == ".txt");
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
    Show("range", {"1", "2", "3", "4", "5", "6"});
    struct Step {
      int key;
      std::vector<std::string> marked;
      const char* cursor;
    };
    const Step steps[] = {
        {Qt::Key_Down, {"1", "2", "3"}, "4"},       // three times, from "1"
        {Qt::Key_Up, {"1", "2", "3", "4"}, "3"},    // marks where it stands, moves up
        {Qt::Key_End, {"1", "2"}, "6"},             // from a marked one: unmarks to the end
        {Qt::Key_Home, {"1", "2", "3", "4", "5", "6"}, ".."},  // ".." itself is never marked
    };
    panel_->SetCursor(1);
    for (int i = 0; i < 3; ++i) Key(Qt::Key_Down, Qt::ShiftModifier);
    QCOMPARE(MarkedNames(), steps[0].marked);
    QCOMPARE(NameAtCursor(), std::string(steps[0].cursor));
    for (size_t s = 1; s < std::size(steps); ++s) {
      Key(steps[s].key, Qt::ShiftModifier);
      QCOMPARE(MarkedNames(), steps[s].marked);
      QCOMPARE(NameAtCursor(), std::string(steps[s].cursor));
    }
    Key(Qt::Key_Asterisk, Qt::KeypadModifier);
    QVERIFY(MarkedNames().empty());
    Key(Qt::Key_A, Qt::ControlModifier);
    QCOMPARE(MarkedNames().size(), size_t(6));
  }

  void quickSearch() {
    Show("search", {"Ünïcode name.txt", "unicode.txt", "other.doc", "ÜNÏDATA.txt", "zeta"});
    Key(Qt::Key_S, Qt::ControlModifier);
    QLineEdit* field = panel_->QuickSearchEdit();
    QVERIFY(field != nullptr && field->isVisible() && field->hasFocus());
    for (const QChar c : QStringLiteral("ün")) {  // typed, as a keyboard with these keys would
      QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
      QApplication::sendEvent(field, &press);
    }
    QCOMPARE(field->text(), QStringLiteral("ün"));
    QCOMPARE(NameAtCursor(), std::string("Ünïcode name.txt"));
    Key(Qt::Key_Down);
    QCOMPARE(NameAtCursor(), std::string("ÜNÏDATA.txt"));
    Key(Qt::Key_Down);  // no further match: stays
    QCOMPARE(NameAtCursor(), std::string("ÜNÏDATA.txt"));
    Key(Qt::Key_Up);
    QCOMPARE(NameAtCursor(), std::string("Ünïcode name.txt"));
    Key(Qt::Key_Escape);
    QVERIFY(!field->isVisible());
    QVERIFY(panel_->hasFocus());
    Key(Qt::Key_Down);  // the panel has its keys again
    QCOMPARE(NameAtCursor(), std::string("ÜNÏDATA.txt"));
    // Alt+letter opens the field with the letter; wildcards work.
    Key(Qt::Key_O, Qt::AltModifier);
    QCOMPARE(field->text(), QStringLiteral("o"));
    QCOMPARE(NameAtCursor(), std::string("other.doc"));
    QTest::keyClicks(field, QStringLiteral("*.d?c"));
    QCOMPARE(NameAtCursor(), std::string("other.doc"));
    Key(Qt::Key_Return);
    QVERIFY(!field->isVisible());
    // A printable key without a modifier is not the panel's to search with.
    Key(Qt::Key_Z);
    QVERIFY(!field->isVisible());
  }
};

QTEST_MAIN(PanelLiveSelectTest)
#include "panel_live_select_test.moc"
