// archive_panel_test.cpp - the real main window, offscreen, showing places of
// a source as folders: the directory line, Enter on directories, Backspace,
// Ctrl+PgUp and ".." (at the root out to the file's directory with the
// cursor on the file), sort clicks, marks and Ctrl+R inside.
#include <QHeaderView>
#include <QLabel>

#include "app/commands/command_hooks.h"
#include "gui_support.h"
#include "tests/support/scripted_source.h"

using namespace vantrel;
using namespace vantrel::testing;
using panels::TFMPanel;

class ArchivePanelTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;
  std::shared_ptr<test::TScriptedSource> source_;
  std::string archive_;
  int opens_ = 0;

  TFMPanel* L() const { return f_->L(); }
  QString DirLine() const { return f_->form->Left().DirectoryPanel->text(); }
  QString InfoLine() const { return f_->form->Left().InfoPanel->text(); }

 private slots:
  void init() {
    f_ = std::make_unique<TFormFixture>();
    archive_ = f_->left + "/photos.zip";
    QVERIFY(MakeFile(archive_, 10));
    QVERIFY(MakeFile(f_->left + "/a.txt", 1));
    source_ = std::make_shared<test::TScriptedSource>(
        archive_, std::map<std::string, std::vector<std::string>>{
                      {"", {"2024/", "b.jpg", "a.jpg"}}, {"2024", {"summer/", "x.png"}}, {"2024/summer", {"c.png"}}});
    opens_ = 0;
    panels::SetSourceOpener([this](const std::string& path, std::string& place, std::string*) {
      ++opens_;
      return panels::PlaceBelow(source_->Root(), path, place) ? source_ : nullptr;
    });
    QVERIFY(f_->Show());
  }
  void cleanup() {
    f_.reset();
    panels::SetSourceOpener(nullptr);
  }

  void keysWalkDownUpAndOut() {
    QVERIFY(L()->ReadDirectory(archive_));
    QCOMPARE(DirLine(), Q(archive_));
    QCOMPARE(InfoLine(), Q("summary of " + archive_));
    struct Step {
      const char* what;
      std::string put;  // the entry to put the cursor on first ("" leaves it)
      Qt::Key key;
      Qt::KeyboardModifiers mods;
      std::string dir, cursor;
    } steps[] = {
        {"Enter on a directory", "2024", Qt::Key_Return, Qt::NoModifier, archive_ + "/2024", ".."},
        {"Enter again", "summer", Qt::Key_Return, Qt::NoModifier, archive_ + "/2024/summer", ".."},
        {"Backspace", "", Qt::Key_Backspace, Qt::NoModifier, archive_ + "/2024", "summer"},
        {"Ctrl+PgDn", "summer", Qt::Key_PageDown, Qt::ControlModifier, archive_ + "/2024/summer", ".."},
        {"Ctrl+PgUp", "", Qt::Key_PageUp, Qt::ControlModifier, archive_ + "/2024", "summer"},
        {"Enter on ..", "..", Qt::Key_Return, Qt::NoModifier, archive_, "2024"},
        {".. at the root", "..", Qt::Key_Return, Qt::NoModifier, f_->left, "photos.zip"},
    };
    for (const Step& s : steps) {
      if (!s.put.empty()) QVERIFY2(f_->Put(L(), s.put), s.what);
      QVERIFY2(f_->Press(L(), s.key, s.mods), s.what);
      QVERIFY2(L()->Directory() == s.dir, s.what);
      QVERIFY2(TFormFixture::AtCursor(L()) == s.cursor, s.what);
      QVERIFY2(DirLine() == Q(s.dir), s.what);
      QVERIFY2(L()->hasFocus(), s.what);
    }
    QVERIFY(!L()->Model().InSource());
    QCOMPARE(opens_, 1);  // walking inside never opened the file again
    // The next key after leaving works on the directory as before.
    QVERIFY(f_->Put(L(), "a.txt"));
    QVERIFY(f_->Press(L(), Qt::Key_Insert));
    QVERIFY(L()->IsMarked(L()->IndexOfName("a.txt")));
  }

  void sortMarksAndRereadStayInside() {
    QVERIFY(L()->ReadDirectory(archive_));
    QVERIFY(f_->Put(L(), "2024"));
    QVERIFY(f_->Press(L(), Qt::Key_End, Qt::ShiftModifier));  // a range from the directory to the end
    QCOMPARE(L()->Model().MarkedCount(), 3);
    QVERIFY(f_->Press(L(), Qt::Key_Insert));  // b.jpg unmarked again
    QCOMPARE(L()->Model().MarkedCount(), 2);
    emit f_->form->Left().Header->sectionClicked(2);  // by size, cursor and marks kept
    QCOMPARE(L()->Directory(), archive_);
    QVERIFY(L()->Model().InSource());
    QCOMPARE(TFormFixture::AtCursor(L()), std::string("b.jpg"));
    QVERIFY(L()->Reread());
    QCOMPARE(L()->Directory(), archive_);
    QCOMPARE(L()->Model().MarkedCount(), 2);
    QVERIFY(!L()->IsMarked(L()->IndexOfName("b.jpg")));
    QCOMPARE(opens_, 1);
  }
};

QTEST_MAIN(ArchivePanelTest)
#include "archive_panel_test.moc"
