// archive_panel_test.cpp - the real main window, offscreen, showing places of
// a source as folders: the directory line, Enter on directories, Backspace,
// Ctrl+PgUp and ".." (at the root out to the file's directory with the
// cursor on the file), sort clicks, marks and Ctrl+R inside.
#include <QProcess>
#include <QHeaderView>
#include <QMenu>
#include <QLabel>

#include <map>
#include <set>

#include "app/commands/command_hooks.h"
#include "app/commands/item_menu.h"
#include "app/window/desktop_requests.h"
#include "gui_support.h"
#include "tests/support/scripted_source.h"

using namespace vantrel;
using namespace vantrel::testing;
using panels::TFMPanel;

namespace {

// A small ZIP archive made by Python's zipfile.
bool WriteZipTo(const std::string& path) {
  return QProcess::execute(QStringLiteral("python3"),
                           {QStringLiteral("-c"),
                            QStringLiteral("import sys, zipfile; zipfile.ZipFile(sys.argv[1], 'w').writestr('x', 'y')"),
                            Q(path)}) == 0;
}

}  // namespace

class ArchivePanelTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;
  std::shared_ptr<test::TScriptedSource> source_;
  std::string archive_;
  int opens_ = 0;
  // Files the opener takes for archives besides the one of source_ (each
  // with a directory "2024"), and those it finds damaged, with the reason.
  std::set<std::string> recognised_;
  std::map<std::string, std::string> failing_;
  std::vector<std::string> zips_, documents_;

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
    recognised_.clear();
    failing_.clear();
    zips_.clear(), documents_.clear();
    app::TNavHooks& hooks = app::NavHooks();
    hooks = app::DefaultNavHooks();
    hooks.OpenZipWindow = [this](app::TMainForm&, const std::string& p) { return zips_.push_back(p), true; };
    hooks.OpenDocument = [this](const std::string& p) { return documents_.push_back(p), true; };
    panels::SetSourceOpener([this](const std::string& path, std::string& place, std::string* error) {
      ++opens_;
      for (const auto& [file, reason] : failing_) {
        if (panels::PlaceBelow(file, path, place)) {
          *error = reason;
          return std::shared_ptr<panels::TPanelSource>();
        }
      }
      if (panels::PlaceBelow(source_->Root(), path, place)) return std::shared_ptr<panels::TPanelSource>(source_);
      for (const std::string& file : recognised_) {
        if (panels::PlaceBelow(file, path, place))
          return std::shared_ptr<panels::TPanelSource>(std::make_shared<test::TScriptedSource>(
              file, std::map<std::string, std::vector<std::string>>{{"", {"2024/"}}, {"2024", {"summer/"}},
                                                                    {"2024/summer", {}}}));
      }
      return std::shared_ptr<panels::TPanelSource>();
    });
    QVERIFY(f_->Show());
  }
  void cleanup() {
    f_.reset();
    panels::SetSourceOpener(nullptr);
    app::NavHooks() = app::DefaultNavHooks();
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

  // The info line tells the marks of the place shown: none on entering an
  // archive from a directory with marks (by Enter and by Ctrl+PgDn), the
  // archive's own while inside, and on the way out what the directory has
  // then (it is read afresh: its marks are gone).
  void infoLineTellsTheMarksOfThePlaceShown() {
    QVERIFY(MakeFile(f_->left + "/c.txt", 2));
    const QString summary = Q("summary of " + archive_);
    const struct {
      const char* what;
      Qt::Key in;
      Qt::KeyboardModifiers inMods;
      Qt::Key out;  // at the archive's root, the cursor on ".."
      Qt::KeyboardModifiers outMods;
    } cases[] = {
        {"Enter, then Enter on ..", Qt::Key_Return, Qt::NoModifier, Qt::Key_Return, Qt::NoModifier},
        {"Ctrl+PgDn, then Ctrl+PgUp", Qt::Key_PageDown, Qt::ControlModifier, Qt::Key_PageUp, Qt::ControlModifier},
        {"Enter, then Backspace", Qt::Key_Return, Qt::NoModifier, Qt::Key_Backspace, Qt::NoModifier},
    };
    for (const auto& c : cases) {
      QVERIFY2(L()->ReadDirectory(f_->left), c.what);
      QVERIFY2(f_->Mark(L(), "a.txt") && f_->Mark(L(), "c.txt"), c.what);
      QVERIFY2(InfoLine().startsWith(QStringLiteral("Marked 2: 3 bytes | ")), qPrintable(InfoLine()));
      QVERIFY2(f_->Put(L(), "photos.zip") && f_->Press(L(), c.in, c.inMods), c.what);
      QVERIFY2(L()->Directory() == archive_, c.what);
      QVERIFY2(L()->Model().MarkedCount() == 0, c.what);
      QVERIFY2(InfoLine() == summary, qPrintable(QLatin1String(c.what) + ": " + InfoLine()));
      // Marks made inside are the archive's.
      QVERIFY2(f_->Mark(L(), "b.jpg"), c.what);
      QVERIFY2(InfoLine() == QStringLiteral("Marked 1: 5 bytes | ") + summary, qPrintable(InfoLine()));
      QVERIFY2(f_->Put(L(), "..") && f_->Press(L(), c.out, c.outMods), c.what);
      QVERIFY2(L()->Directory() == f_->left, c.what);
      QVERIFY2(TFormFixture::AtCursor(L()) == "photos.zip", c.what);
      QVERIFY2(L()->Model().MarkedCount() == 0, c.what);
      QVERIFY2(!InfoLine().contains(QStringLiteral("Marked")) && InfoLine().endsWith(QStringLiteral(" free")),
               qPrintable(QLatin1String(c.what) + ": " + InfoLine()));
    }
  }

  // Enter and Ctrl+PgDn on files: archives by name with Enter, any archive
  // by content with Ctrl+PgDn; the ZIP window when the settings ask for it or
  // when a ZIP archive cannot be shown as a folder; other files as before.
  void enteringFilesByNameAndByContent() {
    QVERIFY(MakeFile(f_->left + "/report.docx", 3));
    QVERIFY(MakeFile(f_->left + "/bad.zip", 3));
    QVERIFY(MakeFile(f_->left + "/src.tar.gz", 3));
    recognised_ = {f_->left + "/report.docx"};
    failing_ = {{f_->left + "/bad.zip", "damaged archive"}, {f_->left + "/src.tar.gz", "truncated stream"}};
    struct Case {
      const char* name;
      Qt::KeyboardModifiers mods;  // Return, or Ctrl+PgDn with Ctrl
      bool zipWindowSetting;
      std::string dir;             // where the panel is afterwards
      int zips, documents, messages;
    } cases[] = {
        {"photos.zip", Qt::NoModifier, false, archive_, 0, 0, 0},
        {"photos.zip", Qt::NoModifier, true, f_->left, 1, 0, 0},
        {"photos.zip", Qt::ControlModifier, true, archive_, 0, 0, 0},  // Ctrl+PgDn: always as a folder
        {"report.docx", Qt::NoModifier, false, f_->left, 0, 1, 0},     // Enter opens a document
        {"report.docx", Qt::ControlModifier, false, f_->left + "/report.docx", 0, 0, 0},
        {"a.txt", Qt::ControlModifier, false, f_->left, 0, 0, 0},      // no archive: nothing happens
        {"a.txt", Qt::NoModifier, false, f_->left, 0, 1, 0},
        {"bad.zip", Qt::NoModifier, false, f_->left, 1, 0, 0},         // the ZIP window reports and repairs
        {"bad.zip", Qt::ControlModifier, false, f_->left, 0, 0, 1},
        {"src.tar.gz", Qt::NoModifier, false, f_->left, 0, 0, 1},
    };
    for (const Case& c : cases) {
      const QByteArray what = QByteArray(c.name) + (c.mods ? " Ctrl+PgDn" : " Enter") +
                              (c.zipWindowSetting ? " (ZIP window setting)" : "");
      QVERIFY(L()->ReadDirectory(f_->left));
      f_->form->SetZipWindowOnEnter(c.zipWindowSetting);
      zips_.clear(), documents_.clear(), ShownMessages().clear();
      QVERIFY2(f_->Put(L(), c.name), what);
      QVERIFY2(f_->Press(L(), c.mods ? Qt::Key_PageDown : Qt::Key_Return, c.mods), what);
      QVERIFY2(L()->Directory() == c.dir, what);
      QVERIFY2(std::make_tuple(int(zips_.size()), int(documents_.size()), int(ShownMessages().size())) ==
                   std::make_tuple(c.zips, c.documents, c.messages),
               what);
      QVERIFY2(L()->hasFocus(), what);
    }
    QVERIFY(f_->Action("actZipWindowOnEnter")->isChecked() == false);
    f_->Action("actZipWindowOnEnter")->trigger();
    QVERIFY(f_->form->ZipWindowOnEnter());
    QVERIFY(f_->Restart());
    QVERIFY(f_->form->ZipWindowOnEnter());
    QVERIFY(f_->Section("GENERAL").contains(QStringLiteral("ZipWindowOnEnter=1")));
  }

  // The entry menu offers the ZIP window for every ZIP archive, by name or
  // by content (a .jar), and opens it there; not for other files, nor inside
  // an archive.
  void entryMenuOpensTheZipWindow() {
    QVERIFY(WriteZipTo(f_->left + "/tool.jar"));
    QVERIFY(MakeFile(f_->left + "/notes.docx", 30));  // named so, but no archive
    QVERIFY(L()->Reread());
    const struct {
      std::string name;
      bool offered;
    } rows[] = {{"photos.zip", true}, {"tool.jar", true}, {"notes.docx", false}, {"a.txt", false}};
    for (const auto& row : rows) {
      QVERIFY2(f_->Put(L(), row.name), row.name.c_str());
      std::unique_ptr<QMenu> menu = app::BuildItemMenu(*f_->form, *L());
      QAction* item = menu->findChild<QAction*>(QStringLiteral("ItemZipWindow"));
      QVERIFY2((item != nullptr) == row.offered, row.name.c_str());
      if (item == nullptr) continue;
      zips_.clear();
      item->trigger();
      QCOMPARE(zips_, std::vector<std::string>{f_->left + "/" + row.name});
      QVERIFY2(L()->Directory() == f_->left, row.name.c_str());
    }
    QVERIFY(L()->ReadDirectory(archive_));
    QVERIFY(f_->Put(L(), "b.jpg"));
    QVERIFY(app::BuildItemMenu(*f_->form, *L())->findChild<QAction*>(QStringLiteral("ItemZipWindow")) == nullptr);
  }

  // A start with an archive (or a place inside one) shows it as a folder; a
  // plain file is shown in its directory with the cursor on it.
  void startPathsEnterArchives() {
    struct Case {
      std::string path, dir, cursor;
    } cases[] = {
        {archive_, archive_, ".."},
        {archive_ + "/2024/summer", archive_ + "/2024/summer", ".."},
        {f_->left + "/a.txt", f_->left, "a.txt"},
    };
    for (const Case& c : cases) {
      QVERIFY(L()->ReadDirectory(f_->right));
      app::OpenStartPaths(*f_->form, {c.path});
      QVERIFY2(L()->Directory() == c.dir, c.path.c_str());
      QVERIFY2(TFormFixture::AtCursor(L()) == c.cursor, c.path.c_str());
    }
  }
};

QTEST_MAIN(ArchivePanelTest)
#include "archive_panel_test.moc"
