// archive_folders_test.cpp - the real main window, offscreen, with real ZIP
// archives as folders: listings with implied directories, F3 through a
// private copy, F5 out and in, F8, F7 and Shift+F6 read back by Python's
// zipfile and unzip -t with the untouched entries' compressed bytes kept,
// F6 out deleting only what was written, an archive inside an archive (read
// only, ".." back out), and the password asked once.
#include <QClipboard>
#include <QDir>
#include <QDropEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QPushButton>

#include <unistd.h>

#include <deque>
#include <functional>

#include "app/commands/command_hooks.h"
#include "app/panels/quick_view.h"
#include "app/commands/file_commands.h"
#include "app/commands/item_menu.h"
#include "app/commands/options_commands.h"
#include "app/settings/lang.h"
#include "app/panels/archive_places.h"
#include "app/panels/panel_navigation.h"
#include "app/panels/panel_tabs.h"
#include "app/panels/path_line.h"
#include "vfs/place.h"
#include "fileops/qt/operationform.h"
#include "gui_support.h"
#include "zip/ui/zip_dialogs.h"

using namespace vantrel;
using namespace vantrel::testing;
using panels::TFMPanel;

namespace {

// Runs Python with `script` (sys.argv[1] is `arg`); its standard output, or
// "FAILED: ..." when it did not run cleanly.
QString Python(const QString& script, const std::string& arg) {
  QProcess p;
  p.start(QStringLiteral("python3"), {QStringLiteral("-c"), script, Q(arg)});
  if (!p.waitForFinished(30000) || p.exitCode() != 0)
    return QStringLiteral("FAILED: ") + QString::fromUtf8(p.readAllStandardError());
  return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
}

// Every entry of the archive: "name size crc32 compressed-size", sorted.
QString Entries(const std::string& zip) {
  return Python(QStringLiteral("import sys, zipfile\n"
                               "z = zipfile.ZipFile(sys.argv[1])\n"
                               "print('|'.join(sorted(f'{i.filename} {i.file_size} {i.CRC} {i.compress_size}'"
                               " for i in z.infolist())))"),
                zip);
}

bool UnzipTest(const std::string& zip) {
  return QProcess::execute(QStringLiteral("unzip"), {QStringLiteral("-tqq"), Q(zip)}) == 0;
}

// A deflated archive with a file below directories that have no entries of
// their own, one at the root, and an archive inside.
const char* kMake =
    "import sys, zipfile, io\n"
    "inner = io.BytesIO()\n"
    "with zipfile.ZipFile(inner, 'w') as z: z.writestr('deep/inner.txt', 'inside\\n')\n"
    "with zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n"
    "  z.writestr('2024/summer/beach.txt', 'sand ' * 100)\n"
    "  z.writestr('2024/winter.txt', 'snow\\n')\n"
    "  z.writestr('top.txt', 'top\\n')\n"
    "  z.writestr('nested.zip', inner.getvalue())\n";

QStringList g_prompts;

}  // namespace

class ArchiveFoldersTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;
  std::string zip_;
  std::vector<std::string> documents_;

  TFMPanel* L() const { return f_->L(); }
  TFMPanel* R() const { return f_->R(); }
  QStringList Names(const TFMPanel* panel) const {
    QStringList names;
    for (const auto& e : panel->Entries()) names << Q(e->FileName);
    return names;
  }
  bool Into(const std::string& name) { return f_->Put(L(), name) && f_->Press(L(), Qt::Key_Return); }

 private slots:
  void initTestCase() {
    zipui::SetInputQuery([](const QString& caption, const QString& prompt, QString& text, bool) {
      g_prompts << prompt;
      return ScriptedInput(nullptr, caption, prompt, text);
    });
  }
  void init() {
    f_ = std::make_unique<TFormFixture>();
    zip_ = f_->left + "/photos.zip";
    QCOMPARE(Python(QString::fromLatin1(kMake), zip_), QString());
    documents_.clear();
    g_prompts.clear();
    app::NavHooks() = app::DefaultNavHooks();
    app::NavHooks().OpenDocument = [this](const std::string& p) {
      documents_.push_back(p + "=" + Std(ReadText(p)));
      return true;
    };
    QVERIFY(f_->Show());
  }
  void cleanup() {
    f_.reset();
    app::NavHooks() = app::DefaultNavHooks();
  }

  void listingsWithImpliedDirectoriesAndTheLines() {
    QVERIFY(Into("photos.zip"));
    QCOMPARE(L()->Directory(), zip_);
    QCOMPARE(Names(L()), (QStringList{"..", "2024", "nested.zip", "top.txt"}));
    QVERIFY(f_->form->Left().InfoPanel->text().contains(QStringLiteral("packed")));
    QVERIFY(Into("2024"));
    QCOMPARE(Names(L()), (QStringList{"..", "summer", "winter.txt"}));
    // Closed here, the next start shows the same place.
    QVERIFY(f_->Restart());
    QCOMPARE(L()->Directory(), zip_ + "/2024");
    QVERIFY(Into("summer"));
    QVERIFY(f_->Put(L(), "beach.txt"));
    const QString line = f_->form->Left().FilePanel->text();
    QVERIFY2(line.startsWith(QStringLiteral("beach.txt- size:500 bytes, packed:")) &&
                 line.endsWith(QStringLiteral(" bytes.")),
             qPrintable(line));
    // Enter on a file: the desktop's program gets a copy with its bytes.
    QVERIFY(f_->Press(L(), Qt::Key_Return));
    QCOMPARE(documents_.size(), size_t(1));
    std::string sand;
    for (int i = 0; i < 100; ++i) sand += "sand ";
    QVERIFY(documents_[0].ends_with("/beach.txt=" + sand));
    QVERIFY(documents_[0].find(f_->left) == std::string::npos);  // a copy, not inside the tree
  }

  void viewShowsAPrivateCopy() {
    const std::string out = f_->Path("viewed.txt"), prog = f_->Path("viewer.sh");
    WriteText(prog, "#!/bin/sh\ncp \"$1\" '" + out + ".tmp' && echo \"$1\" >> '" + out + ".tmp' && mv '" + out +
                        ".tmp' '" + out + "'\n");
    ::chmod(prog.c_str(), 0700);
    f_->form->ViewerCommand = prog;
    QVERIFY(Into("photos.zip") && Into("2024"));
    QVERIFY(f_->Put(L(), "winter.txt"));
    QVERIFY(f_->Press(L(), Qt::Key_F3));
    QTRY_VERIFY_WITH_TIMEOUT(Exists(out), 10000);
    const QStringList lines = ReadText(out).split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), QStringLiteral("snow"));
    const std::string copy = Std(lines.value(1));
    QVERIFY(copy.ends_with("/winter.txt") && copy.find(f_->left) == std::string::npos);
    // The copy's directory goes when the viewer has ended.
    QTRY_VERIFY_WITH_TIMEOUT(!Exists(copy.substr(0, copy.rfind('/'))), 10000);
    QVERIFY(ShownMessages().empty());
  }

  void copyOutAndInReadBackByOtherTools() {
    const QString before = Entries(zip_);
    QVERIFY(MakeFile(f_->right + "/top.txt", 3));
    QVERIFY(Into("photos.zip"));
    QVERIFY(f_->Mark(L(), "2024") && f_->Mark(L(), "top.txt"));
    Script().answers = {app::MessageAnswer::Yes};  // overwrite right/top.txt
    Script().inputs = {Q(f_->right)};
    QVERIFY(f_->Press(L(), Qt::Key_F5));
    QCOMPARE(ReadText(f_->right + "/top.txt"), QStringLiteral("top\n"));
    QCOMPARE(ReadText(f_->right + "/2024/winter.txt"), QStringLiteral("snow\n"));
    QCOMPARE(ReadText(f_->right + "/2024/summer/beach.txt").size(), 500);
    QCOMPARE(Entries(zip_), before);  // copying out changes nothing
    QCOMPARE(L()->Model().MarkedCount(), 0);

    // In: a file and a directory from the right panel into the archive's 2024.
    QVERIFY(Into("2024"));
    QVERIFY(MakeDir(f_->right + "/add/sub"));
    WriteText(f_->right + "/add/sub/new.txt", "new\n");
    WriteText(f_->right + "/one.txt", "one\n");
    R()->setFocus();
    QVERIFY(R()->ReadDirectory(f_->right));
    QVERIFY(f_->Mark(R(), "add") && f_->Mark(R(), "one.txt"));
    Script().inputs = {Q(zip_ + "/2024")};
    QVERIFY(f_->Press(R(), Qt::Key_F5));
    const QString after = Entries(zip_);
    QVERIFY2(after.contains(QStringLiteral("2024/one.txt 4 ")) && after.contains(QStringLiteral("2024/add/sub/new.txt 4 ")),
             qPrintable(after));
    for (const QString& kept : before.split(QLatin1Char('|')))  // same sizes, CRCs and compressed sizes
      QVERIFY2(after.contains(kept), qPrintable(kept));
    QVERIFY(UnzipTest(zip_));
    QVERIFY(Names(L()).contains(QStringLiteral("one.txt")));  // the panel shows what was added
  }

  void deleteMakeDirectoryAndRename() {
    const QString before = Entries(zip_);
    QVERIFY(Into("photos.zip"));
    struct Step {
      const char* what;
      std::string put;
      Qt::Key key;
      Qt::KeyboardModifiers mods;
      app::MessageAnswer answer;
      QString input;
      QString gone, added;  // an entry that must have left, one that must be there
    } steps[] = {
        {"F8 declined", "top.txt", Qt::Key_F8, Qt::NoModifier, app::MessageAnswer::No, {}, {}, "top.txt 4 "},
        {"F8", "top.txt", Qt::Key_F8, Qt::NoModifier, app::MessageAnswer::Yes, {}, "top.txt 4 ", {}},
        {"F7", "", Qt::Key_F7, Qt::NoModifier, app::MessageAnswer::Yes, "made", {}, "made/ 0 "},
        {"Shift+F6 on a directory", "2024", Qt::Key_F6, Qt::ShiftModifier, app::MessageAnswer::Yes, "2025",
         "2024/winter.txt", "2025/summer/beach.txt 500 "},
    };
    for (const Step& s : steps) {
      if (!s.put.empty()) QVERIFY2(f_->Put(L(), s.put), s.what);
      Script().answers = {s.answer};
      Script().inputs.clear();
      if (!s.input.isEmpty()) Script().inputs = {s.input};
      QVERIFY2(f_->Press(L(), s.key, s.mods), s.what);
      const QString now = Entries(zip_);
      if (!s.gone.isEmpty()) QVERIFY2(!now.contains(s.gone), s.what);
      if (!s.added.isEmpty()) QVERIFY2(now.contains(s.added), qPrintable(QLatin1String(s.what) + ": " + now));
      QVERIFY2(UnzipTest(zip_), s.what);
      QVERIFY2(L()->hasFocus(), s.what);
    }
    // The entries no step touched keep their compressed bytes' sizes and CRCs.
    const QString after = Entries(zip_);
    for (const QString& kept : before.split(QLatin1Char('|')))
      if (kept.startsWith(QStringLiteral("nested.zip"))) QVERIFY2(after.contains(kept), qPrintable(kept));
    QVERIFY(Names(L()).contains(QStringLiteral("2025")) && Names(L()).contains(QStringLiteral("made")));
  }

  // F5 out through the copy engine's window, with files in the way: the
  // overwrite question's answers hold for the rest of the copy as in
  // directories; Cancel there leaves everything after it undone and the
  // names marked.
  void copyOutAnswersTheOverwriteQuestion() {
    using app::MessageAnswer;
    QVERIFY(Into("photos.zip"));
    int shown = 0;
    QObject::connect(app::OperationForm(*f_->form), &fileops::TOperationForm::progressShown, [&](int) { ++shown; });
    const struct {
      const char* what;
      std::deque<MessageAnswer> answers;  // to the questions for 2024/winter.txt, then top.txt
      QString winter, top;                // afterwards
      int questions;
      bool marked;                        // top.txt still marked
    } cases[] = {
        {"No, then Yes", {MessageAnswer::No, MessageAnswer::Yes}, "old\n", "top\n", 2, false},
        {"All", {MessageAnswer::All}, "snow\n", "top\n", 1, false},
        {"None skips every other one", {MessageAnswer::None}, "old\n", "old\n", 1, true},
        {"Cancel", {MessageAnswer::Cancel}, "old\n", "old\n", 1, true},
    };
    for (const auto& c : cases) {
      QDir(Q(f_->right)).removeRecursively();
      QVERIFY(MakeDir(f_->right + "/2024"));
      WriteText(f_->right + "/2024/winter.txt", "old\n");
      WriteText(f_->right + "/top.txt", "old\n");
      QVERIFY(f_->Mark(L(), "2024") && f_->Mark(L(), "top.txt"));
      ShownMessages().clear();
      shown = 0;
      Script().answers = c.answers;
      Script().inputs = {Q(f_->right)};
      QVERIFY2(f_->Press(L(), Qt::Key_F5), c.what);
      QCOMPARE(int(ShownMessages().size()), c.questions);
      QCOMPARE(ShownMessages()[0].text.section(QLatin1Char('\n'), 0, 0), QStringLiteral("Overwrite file 2024/winter.txt?"));
      if (c.questions > 1)
        QCOMPARE(ShownMessages()[1].text.section(QLatin1Char('\n'), 0, 0), QStringLiteral("Overwrite file top.txt?"));
      QVERIFY2(shown > 0, c.what);  // the operation window followed the job
      QCOMPARE(ReadText(f_->right + "/2024/winter.txt"), c.winter);
      QCOMPARE(ReadText(f_->right + "/top.txt"), c.top);
      QCOMPARE(Exists(f_->right + "/2024/summer/beach.txt"), c.answers.front() != MessageAnswer::Cancel);
      QCOMPARE(L()->IsMarked(L()->IndexOfName("top.txt")), c.marked);
      // Nothing else: no partial or temporary file.
      const QStringList there = QDir(Q(f_->right)).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
      QCOMPARE(there, (QStringList{"2024", "top.txt"}));
      for (int i = 0; i < L()->Count(); ++i) L()->SetMarked(i, false);
    }
  }

  // Cancel in the operation window while a large file goes into the
  // archive: "Abort operation?" answered Yes stops the job inside the
  // rewrite, and the archive is as it was, byte for byte, with nothing left
  // beside it. Answered No, the copy goes on and the file is in.
  void cancelWhileAddingLeavesTheArchiveByteForByte() {
    QFile big(Q(f_->right + "/big.bin"));
    QVERIFY(big.open(QIODevice::WriteOnly));
    QFile random(QStringLiteral("/dev/urandom"));
    QVERIFY(random.open(QIODevice::ReadOnly));
    for (int i = 0; i < 12; ++i) big.write(random.read(1 << 20));
    big.close();
    const QByteArray pristine = [&] {
      QFile z(Q(zip_));
      return z.open(QIODevice::ReadOnly) ? z.readAll() : QByteArray();
    }();
    QVERIFY(Into("photos.zip"));
    R()->setFocus();
    QVERIFY(R()->ReadDirectory(f_->right));
    fileops::TOperationForm* window = app::OperationForm(*f_->form);
    for (const app::MessageAnswer answer : {app::MessageAnswer::Yes, app::MessageAnswer::No}) {
      bool clicked = false;
      const auto cancel = QObject::connect(window, &fileops::TOperationForm::progressShown, [&](int percent) {
        if (clicked || percent <= 0 || percent >= 100) return;
        clicked = true;
        QTimer::singleShot(0, window->CancelButton(), &QPushButton::click);
      });
      ShownMessages().clear();
      Script().answers = {answer};
      Script().inputs = {Q(zip_)};
      QVERIFY(f_->Put(R(), "big.bin"));
      QVERIFY(f_->Press(R(), Qt::Key_F5));
      QObject::disconnect(cancel);
      QVERIFY(clicked);
      QCOMPARE(Script().Texts(), QStringList{QStringLiteral("Abort operation?")});
      QFile z(Q(zip_));
      QVERIFY(z.open(QIODevice::ReadOnly));
      if (answer == app::MessageAnswer::Yes) {
        QVERIFY(z.readAll() == pristine);
      } else {
        QVERIFY(Entries(zip_).contains(QStringLiteral("big.bin 12582912 ")));
        QVERIFY(UnzipTest(zip_));
      }
      const QStringList beside = QDir(Q(f_->left)).entryList(QDir::Files | QDir::Hidden);
      QCOMPARE(beside, QStringList{QStringLiteral("photos.zip")});
    }
  }

  // Inside an archive, in German and Russian: the refusals of commands that
  // need the disk, a name no entry can have (the prompt too) and an entry's
  // Properties, each count of bytes with its form. No word stays English.
  void archiveMessagesSpeakTheLanguageChosen() {
    QVERIFY(Into("photos.zip"));
    const std::string source = std::getenv("VANTREL_SOURCE_DIR");
    const struct {
      const char* file;
      const char* action;
      const char* cursor;
      const char* input;  // typed into the one input box; "" none
      const char* prompt;  // its caption and prompt
      const char* text;   // the message, or the start of it
    } cases[] = {
        {"German.lng", "mnuFileNew", "top.txt", "", "",
         "„Neue Datei“ ist in einem Archiv nicht verfügbar. F4 bearbeitet einen Eintrag; F5 kopiert eine Datei hinein."},
        {"German.lng", "mnuCmndCompareDirs", "top.txt", "", "", "„Verzeichnisse vergleichen“ ist in einem Archiv nicht verfügbar."},
        {"German.lng", "mnuFileRename", "top.txt", "a/b", "Umbenennen|Neuer Name:", "„a/b“ kann nicht der Name eines Eintrags sein."},
        {"German.lng", "ItemProperties", "top.txt", "", "", "Name: top.txt\nOrt: %1\nGröße: 4 Bytes\nGepackt: "},
        {"German.lng", "ItemProperties", "2024", "", "", "Name: 2024\nOrt: %1\nVerzeichnis, 505 Bytes mit allem darin"},
        {"Russian.lng", "mnuCmndFindFile", "top.txt", "", "", "«Поиск файлов» недоступно внутри архива."},
        {"Russian.lng", "mnuFileMultiRename", "top.txt", "", "",
         "«Групповое переименование» недоступно внутри архива. Shift+F6 переименовывает один элемент."},
        {"Russian.lng", "mnuCmndMkDir", "top.txt", "x/", "Новый каталог|Имя каталога:", "«x/» не может быть именем элемента."},
        {"Russian.lng", "ItemProperties", "top.txt", "", "", "Имя: top.txt\nРасположение: %1\nРазмер: 4 байта\nСжато: "},
        {"Russian.lng", "ItemProperties", "2024", "", "", "Имя: 2024\nРасположение: %1\nКаталог, 505 байт со всем содержимым"},
    };
    for (const auto& c : cases) {
      app::Language(*f_->form).LanguageFile = source + "/app/language/" + c.file;
      app::ApplyLanguage(*f_->form);
      QVERIFY2(f_->Put(L(), c.cursor), c.action);
      L()->setFocus();
      ShownMessages().clear();
      Script().prompts.clear(), Script().captions.clear();
      if (*c.input) Script().inputs = {QString::fromUtf8(c.input)};
      if (c.action == std::string("ItemProperties")) {
        std::unique_ptr<QMenu> menu = app::BuildItemMenu(*f_->form, *L());
        menu->findChild<QAction*>(QStringLiteral("ItemProperties"))->trigger();
      } else {
        f_->Action(c.action)->trigger();
      }
      QCOMPARE(int(ShownMessages().size()), 1);
      const QString expected = QString::fromUtf8(c.text).replace(QLatin1String("%1"), Q(zip_));
      QVERIFY2(ShownMessages()[0].text.startsWith(expected), qPrintable(c.action + (": " + ShownMessages()[0].text)));
      if (*c.input) {
        QCOMPARE(int(Script().prompts.size()), 1);
        QCOMPARE(Script().captions[0] + '|' + Script().prompts[0], QString::fromUtf8(c.prompt));
      }
    }
    app::Language(*f_->form).LanguageFile.clear();
    app::ApplyLanguage(*f_->form);
  }

  // Every command on the cursor's or the marked entries, inside an archive
  // (the outer one, and one inside it): it works on the entries or says that
  // it is not available there, and never touches a file of the disk by a
  // path that only continues the archive's.
  void commandsInsideAnArchive() {
    const QString before = Entries(zip_);
    QVERIFY(Into("photos.zip"));
    const struct {
      const char* action;
      const char* cursor;
      QString message;   // the one message's text; empty: none
      QString fileLine;  // the panel's file line afterwards, when not empty
    } cases[] = {
        {"mnuFileNew", "top.txt", "New file is not available inside an archive. F4 edits an entry; F5 copies a file in.", {}},
        {"mnuFileMultiRename", "top.txt", "Multi-rename is not available inside an archive. Shift+F6 renames one entry.", {}},
        {"mnuFilePack", "2024",
         "Pack to .ZIP is not available inside an archive. Copy the entries to a directory with F5 and pack them there.", {}},
        {"mnuCmndFindFile", "top.txt", "Find file is not available inside an archive.", {}},
        {"mnuCmndCompareDirs", "top.txt", "Compare directories is not available inside an archive.", {}},
        {"mnuCmndDirSize", "2024", {}, "2024- size:505 bytes"},
        {"mnuCmndDirSize", "top.txt", {}, "top.txt- size:4 bytes"},
    };
    for (const auto& c : cases) {
      QVERIFY2(f_->Put(L(), c.cursor), c.action);
      L()->setFocus();
      ShownMessages().clear();
      f_->Action(c.action)->trigger();
      QCOMPARE(int(ShownMessages().size()), c.message.isEmpty() ? 0 : 1);
      if (!c.message.isEmpty()) QCOMPARE(ShownMessages()[0].text, c.message);
      if (!c.fileLine.isEmpty()) QCOMPARE(f_->form->Left().FilePanel->text(), c.fileLine);
      QCOMPARE(L()->Directory(), zip_);
    }
    // The entry's menu: no program to open a file that is not on the disk,
    // the properties of the entry, its path as text only.
    QVERIFY(f_->Put(L(), "top.txt"));
    std::unique_ptr<QMenu> menu = app::BuildItemMenu(*f_->form, *L());
    QVERIFY(!menu->findChild<QMenu*>(QStringLiteral("ItemOpenWith"))->menuAction()->isEnabled());
    ShownMessages().clear();
    menu->findChild<QAction*>(QStringLiteral("ItemProperties"))->trigger();
    QCOMPARE(ShownMessages().size(), size_t(1));
    QCOMPARE(ShownMessages()[0].caption, QStringLiteral("Properties"));
    QVERIFY2(ShownMessages()[0].text.startsWith(QStringLiteral("Name: top.txt\nIn: ") + Q(zip_) +
                                                QStringLiteral("\nSize: 4 bytes\nPacked: ")),
             qPrintable(ShownMessages()[0].text));
    menu->findChild<QAction*>(QStringLiteral("ItemCopyPath"))->trigger();
    QCOMPARE(QApplication::clipboard()->text(), Q(zip_ + "/top.txt"));
    QVERIFY(!QApplication::clipboard()->mimeData()->hasFormat(QStringLiteral("text/uri-list")));
    menu.reset();
    // Quick view beside it shows the entry, read through the archive.
    f_->Action("mnuCmndQuickView")->trigger();
    auto* quick = f_->form->findChild<app::TQuickViewer*>(QStringLiteral("QuickViewer"));
    QVERIFY(quick != nullptr);
    QTRY_COMPARE(quick->View()->Kind(), app::TQuickView::TKind::Text);
    QVERIFY2(quick->View()->VisibleRows().join('\n').startsWith(QStringLiteral("top")),
             qPrintable(quick->View()->VisibleRows().join('\n')));
    f_->Action("mnuCmndQuickView")->trigger();
    L()->setFocus();

    // Alt+F9: the archive shown, whole, into the directory asked for; from
    // the archive inside it, its own entries.
    ShownMessages().clear();
    Script().inputs = {Q(f_->right + "/whole")};
    QVERIFY(MakeDir(f_->right + "/whole"));
    f_->Action("mnuFileUnpack")->trigger();
    QTRY_COMPARE(ReadText(f_->right + "/whole/2024/winter.txt"), QStringLiteral("snow\n"));
    QVERIFY(Exists(f_->right + "/whole/nested.zip") && Exists(f_->right + "/whole/top.txt"));
    QVERIFY(f_->Put(L(), "nested.zip") && f_->Press(L(), Qt::Key_Return));
    QCOMPARE(L()->Directory(), zip_ + "/nested.zip");
    Script().inputs = {Q(f_->right + "/inner")};
    f_->Action("mnuFileUnpack")->trigger();
    QTRY_COMPARE(ReadText(f_->right + "/inner/deep/inner.txt"), QStringLiteral("inside\n"));
    QCOMPARE(Script().prompts.back(), QStringLiteral("Unpack files to directory:"));
    // Nothing but the archive beside it, and the archive as it was.
    QCOMPARE(QDir(Q(f_->left)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
             QStringList{QStringLiteral("photos.zip")});
    QCOMPARE(Entries(zip_), before);
  }

  // Places inside archives are places like directories: the history goes
  // back to them (Alt+Left, the Alt+Down menu), the hotlist jumps to them,
  // a typed path leads into them (also through an archive inside the
  // archive), and a tab on one comes back after a restart with its cursor.
  void historyHotlistTabsAndTypedPaths() {
    auto* path = f_->form->findChild<app::TPathLine*>();
    QVERIFY(path != nullptr);
    QVERIFY(Into("photos.zip") && Into("2024"));
    path->HotlistMenu(*L())->findChild<QAction*>(QStringLiteral("HotlistAdd"))->trigger();
    QCOMPARE(f_->form->Lists().Hotlist, app::TStringList{zip_ + "/2024"});
    QVERIFY(path->GoTo(*L(), f_->right));
    QTest::keyClick(L(), Qt::Key_Left, Qt::AltModifier);
    QCOMPARE(L()->Directory(), zip_ + "/2024");
    QVERIFY(L()->Model().InSource());
    QCOMPARE(Names(L()), (QStringList{"..", "summer", "winter.txt"}));
    const struct {
      const char* what;
      std::function<void()> go;
      std::string shown;
      QStringList names;
    } steps[] = {
        {"the history menu",
         [&] {
           for (QAction* a : path->HistoryMenu(*L())->actions())
             if (a->text() == Q(zip_)) return a->trigger();
         },
         zip_, {"..", "2024", "nested.zip", "top.txt"}},
        {"the hotlist", [&] { path->HotlistMenu(*L())->actions().front()->trigger(); }, zip_ + "/2024",
         {"..", "summer", "winter.txt"}},
        {"a typed path", [&] { QVERIFY(path->GoTo(*L(), zip_ + "/2024/summer")); }, zip_ + "/2024/summer",
         {"..", "beach.txt"}},
        {"a typed path into the archive inside", [&] { QVERIFY(path->GoTo(*L(), zip_ + "/nested.zip/deep")); },
         zip_ + "/nested.zip/deep", {"..", "inner.txt"}},
    };
    for (const auto& step : steps) {
      QVERIFY(path->GoTo(*L(), f_->right));
      step.go();
      QVERIFY2(L()->Directory() == step.shown, step.what);
      QCOMPARE(Names(L()), step.names);
    }
    // A second tab inside the archive, the cursor on winter.txt.
    QVERIFY(path->GoTo(*L(), f_->left));
    QTest::keyClick(L(), Qt::Key_T, Qt::ControlModifier);
    QVERIFY(path->GoTo(*L(), zip_ + "/2024"));
    QVERIFY(f_->Put(L(), "winter.txt"));
    QTest::keyClick(L(), Qt::Key_Tab, Qt::ControlModifier);  // to the first tab: the directory
    QCOMPARE(L()->Directory(), f_->left);
    QTest::keyClick(L(), Qt::Key_Tab, Qt::ControlModifier);  // back
    QCOMPARE(L()->Directory(), zip_ + "/2024");
    QCOMPARE(TFormFixture::AtCursor(L()), std::string("winter.txt"));
    QVERIFY(f_->Restart());
    QCOMPARE(f_->Find<app::TPanelTabs>("LeftPanelTabs")->Current(), 1);
    QCOMPARE(L()->Directory(), zip_ + "/2024");
    QVERIFY(L()->Model().InSource());
    QCOMPARE(TFormFixture::AtCursor(L()), std::string("winter.txt"));
    QCOMPARE(f_->form->Lists().Hotlist, app::TStringList{zip_ + "/2024"});
    QTest::keyClick(L(), Qt::Key_Tab, Qt::ControlModifier);
    QCOMPARE(L()->Directory(), f_->left);
  }

  // Drag and drop: files dropped from another program on an archive panel
  // go into the archive at its place through the copy job (a file in the
  // way asks first); a drag out of an archive panel offers other programs
  // no paths, since its entries are no files of the disk.
  void dragAndDropWithArchives() {
    WriteText(f_->right + "/dropped.txt", "dropped\n");
    WriteText(f_->right + "/winter.txt", "thaw\n");
    QVERIFY(Into("photos.zip") && Into("2024"));
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"),
                 QByteArray::fromStdString("file://" + f_->right + "/dropped.txt\r\nfile://" + f_->right +
                                           "/winter.txt\r\n"));
    const QPoint at = L()->viewport()->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(L()->viewport(), &enter);
    QVERIFY(enter.isAccepted());
    Script().answers = {app::MessageAnswer::No};  // keep the archive's winter.txt
    QDropEvent drop(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(L()->viewport(), &drop);
    QTRY_VERIFY(Entries(zip_).contains(QStringLiteral("2024/dropped.txt 8 ")));
    QCOMPARE(Script().Texts(), QStringList{QStringLiteral("Overwrite file winter.txt?")});
    QVERIFY(Entries(zip_).contains(QStringLiteral("2024/winter.txt 5 ")));
    QVERIFY(UnzipTest(zip_));
    QTRY_VERIFY(Names(L()).contains(QStringLiteral("dropped.txt")));
    QCOMPARE(L()->Directory(), zip_ + "/2024");
    QVERIFY(Exists(f_->right + "/dropped.txt"));  // copied, not moved

    auto* nav = f_->form->findChild<app::TNavigation*>(QStringLiteral("Navigation"));
    QVERIFY(f_->Put(L(), "winter.txt"));
    std::unique_ptr<QMimeData> out(nav->MimeDataFor(*L()));
    QVERIFY(!out->hasFormat(QStringLiteral("text/uri-list")) && app::TNavigation::LocalPathsOf(*out).empty());
  }

  void moveOutDeletesOnlyWhatWasWritten() {
    QVERIFY(MakeDir(f_->right + "/top.txt"));  // a directory where the file would go: it cannot be written
    QVERIFY(Into("photos.zip"));
    QVERIFY(f_->Mark(L(), "top.txt") && f_->Mark(L(), "nested.zip"));
    Script().inputs = {Q(f_->right)};
    QVERIFY(f_->Press(L(), Qt::Key_F6));
    QVERIFY(Exists(f_->right + "/nested.zip"));
    const QString now = Entries(zip_);
    QVERIFY2(!now.contains(QStringLiteral("nested.zip")) && now.contains(QStringLiteral("top.txt")), qPrintable(now));
    QVERIFY(!ShownMessages().empty());  // the one that failed is reported
  }

  void nestedArchiveIsReadOnlyAndLeadsBackOut() {
    const QString before = Entries(zip_);
    QVERIFY(Into("photos.zip") && Into("nested.zip"));
    QCOMPARE(L()->Directory(), zip_ + "/nested.zip");
    QCOMPARE(Names(L()), (QStringList{"..", "deep"}));
    QVERIFY(Into("deep"));
    QCOMPARE(L()->Directory(), zip_ + "/nested.zip/deep");
    QVERIFY(f_->Put(L(), "inner.txt"));
    Script().answers = {app::MessageAnswer::Yes};
    QVERIFY(f_->Press(L(), Qt::Key_F8));
    QCOMPARE(ShownMessages().size(), size_t(1));
    QVERIFY(ShownMessages()[0].text.contains(QStringLiteral("read-only")));
    // The reason ends the information line; cut by a narrow panel, its tip has it whole.
    const QLabel* info = f_->form->Left().InfoPanel;
    QVERIFY2(info->text().endsWith(QStringLiteral("| ") + QString::fromLatin1(vfs::TPlaceOpener::kNestedReadOnly)),
             qPrintable(info->text()));
    QCOMPARE(info->toolTip(), info->text());
    QVERIFY(f_->Press(L(), Qt::Key_Backspace) && f_->Put(L(), "..") && f_->Press(L(), Qt::Key_Return));
    QCOMPARE(L()->Directory(), zip_);
    QCOMPARE(TFormFixture::AtCursor(L()), std::string("nested.zip"));
    QCOMPARE(Entries(zip_), before);
  }

  // An archive inside an archive is read from memory up to the limit, else
  // from a nameless temporary file: nothing with a name is left in $TMPDIR,
  // and both read and copy out alike.
  void nestedArchiveIsReadFromMemoryBelowTheLimit() {
    const std::string tmp = f_->Path("tmp");
    QVERIFY(MakeDir(tmp));
    const QByteArray oldTmp = qgetenv("TMPDIR");
    qputenv("TMPDIR", QByteArray::fromStdString(tmp));
    const uint64_t oldLimit = app::NestedMemoryLimit();
    const struct {
      uint64_t limit;
      bool inMemory;
    } rows[] = {{64u << 20, true}, {0, false}};
    for (const auto& row : rows) {
      app::NestedMemoryLimit() = row.limit;
      QVERIFY(L()->ReadDirectory(f_->left));
      QVERIFY(Into("photos.zip") && Into("nested.zip"));
      const std::string file = app::ArchiveOriginOf(*L()).file;
      char target[4096] = {};
      QVERIFY(::readlink(file.c_str(), target, sizeof target - 1) > 0);
      const std::string held = target;
      QVERIFY2((held.find("memfd:") != std::string::npos) == row.inMemory, held.c_str());
      QVERIFY2(row.inMemory || held.find("(deleted)") != std::string::npos, held.c_str());
      QVERIFY(QDir(Q(tmp)).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).isEmpty());
      QVERIFY(Into("deep") && f_->Mark(L(), "inner.txt"));
      Script().inputs = {Q(f_->right)};
      QVERIFY(f_->Press(L(), Qt::Key_F5));
      QTRY_COMPARE(ReadText(f_->right + "/inner.txt"), QStringLiteral("inside\n"));
      QVERIFY(QFile::remove(Q(f_->right + "/inner.txt")));
      QVERIFY(f_->Press(L(), Qt::Key_Backspace) && f_->Press(L(), Qt::Key_Backspace));
      QCOMPARE(L()->Directory(), zip_);
      QCOMPARE(TFormFixture::AtCursor(L()), std::string("nested.zip"));
    }
    app::NestedMemoryLimit() = oldLimit;
    qputenv("TMPDIR", oldTmp);
  }

  // F4: the editor changes its copy; the archive takes it after "Update
  // <entry> in <archive>?" (Yes), keeps its bytes after No, and is not asked
  // when the editor changed nothing.
  void editAsksBeforeUpdatingTheArchive() {
    const std::string prog = f_->Path("editor.sh");
    QVERIFY(Into("photos.zip"));
    const struct {
      const char* script;  // what the editor does to the file ($1)
      app::MessageAnswer answer;
      QString content;     // top.txt in the archive afterwards
      int questions;
    } cases[] = {
        {"printf 'edited\\n' > \"$1\"", app::MessageAnswer::No, "top\n", 1},
        {"true", app::MessageAnswer::Yes, "top\n", 0},
        {"printf 'edited\\n' > \"$1\"", app::MessageAnswer::Yes, "edited\n", 1},
    };
    for (const auto& c : cases) {
      WriteText(prog, std::string("#!/bin/sh\nsleep 0.1\n") + c.script + "\n");
      ::chmod(prog.c_str(), 0700);
      f_->form->EditorCommand = prog;
      ShownMessages().clear();
      Script().answers = {c.answer};
      QVERIFY(f_->Put(L(), "top.txt"));
      QVERIFY(f_->Press(L(), Qt::Key_F4));
      if (c.questions > 0) {
        QTRY_COMPARE_WITH_TIMEOUT(int(ShownMessages().size()), c.questions, 10000);
        QCOMPARE(ShownMessages()[0].text, QStringLiteral("Update top.txt in photos.zip?"));
      } else {
        QTest::qWait(1500);
        QCOMPARE(int(ShownMessages().size()), 0);
      }
      QCOMPARE(Python(QStringLiteral("import sys, zipfile\nprint(zipfile.ZipFile(sys.argv[1]).read('top.txt').decode(), end='')"),
                      zip_) + "\n",
               c.content);
    }
    QVERIFY(UnzipTest(zip_));
  }

  // Another program adds an entry: the panel reads the archive again with
  // the cursor and the marks on their names; the archive deleted: the panel
  // goes to its directory with the cursor on where it was.
  void outsideChangesAreFollowed() {
    QVERIFY(Into("photos.zip"));
    QVERIFY(f_->Mark(L(), "top.txt") && f_->Put(L(), "nested.zip"));
    QCOMPARE(Python(QStringLiteral("import sys, zipfile, time\n"
                                   "time.sleep(1.1)\n"  // another modification time for certain
                                   "with zipfile.ZipFile(sys.argv[1], 'a') as z: z.writestr('added.txt', 'new')"),
                    zip_),
             QString());
    QTRY_VERIFY_WITH_TIMEOUT(Names(L()).contains(QStringLiteral("added.txt")), 5000);
    QCOMPARE(L()->Directory(), zip_);
    QCOMPARE(TFormFixture::AtCursor(L()), std::string("nested.zip"));
    QVERIFY(L()->IsMarked(L()->IndexOfName("top.txt")) && L()->Model().MarkedCount() == 1);
    QVERIFY(Into("2024"));
    QVERIFY(QFile::remove(Q(zip_)));
    QTRY_COMPARE_WITH_TIMEOUT(L()->Directory(), f_->left, 5000);
    QVERIFY(!L()->Model().InSource());
    QCOMPARE(f_->form->CommandPrompt()->toolTip(), Q(f_->left));  // the command line follows
  }

  // F5 and F6 between two archive places: into another archive, into
  // another folder of the same one, and refused into an archive inside an
  // archive; each change read back by unzip and Python's zipfile, and the
  // next key goes to the panel the copy started from.
  void copyAndMoveBetweenArchivePlaces() {
    const std::string other = f_->right + "/other.zip";
    QCOMPARE(Python(QStringLiteral("import sys, zipfile\n"
                                   "with zipfile.ZipFile(sys.argv[1], 'w') as z: z.writestr('kept.txt', 'kept')"),
                    other),
             QString());
    const QString before = Entries(zip_);
    R()->setFocus();
    QVERIFY(R()->ReadDirectory(f_->right));
    QVERIFY(f_->Put(R(), "other.zip") && f_->Press(R(), Qt::Key_Return));
    QCOMPARE(R()->Directory(), other);
    L()->setFocus();
    QVERIFY(Into("photos.zip"));
    // F5 into the other archive, as the prompt offers it.
    QVERIFY(f_->Mark(L(), "2024") && f_->Mark(L(), "top.txt"));
    Script().inputs = {Q(other)};
    QVERIFY(f_->Press(L(), Qt::Key_F5));
    const QString copied = Entries(other);
    for (const QString& entry : {QStringLiteral("kept.txt 4 "), QStringLiteral("2024/winter.txt 5 "),
                                 QStringLiteral("2024/summer/beach.txt 500 "), QStringLiteral("top.txt 4 ")})
      QVERIFY2(copied.contains(entry), qPrintable(entry + QStringLiteral(" in ") + copied));
    QVERIFY(UnzipTest(other));
    QCOMPARE(Entries(zip_), before);  // a copy leaves the source as it was
    QVERIFY(ShownMessages().empty());
    QTRY_VERIFY_WITH_TIMEOUT(Names(R()).contains(QStringLiteral("top.txt")), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(L()->hasFocus(), 5000);
    // F6 into another folder of the same archive: moved in it.
    R()->setFocus();
    QVERIFY(f_->Put(R(), "..") && f_->Press(R(), Qt::Key_Return));
    QCOMPARE(R()->Directory(), f_->right);
    QVERIFY(R()->ReadDirectory(f_->left));
    QVERIFY(f_->Put(R(), "photos.zip") && f_->Press(R(), Qt::Key_Return));
    QVERIFY(f_->Put(R(), "2024") && f_->Press(R(), Qt::Key_Return));
    QCOMPARE(R()->Directory(), zip_ + "/2024");
    L()->setFocus();
    QVERIFY(f_->Put(L(), "top.txt"));
    Script().inputs = {Q(zip_ + "/2024")};
    QVERIFY(f_->Press(L(), Qt::Key_F6));
    const QString moved = Entries(zip_);
    QVERIFY2(moved.contains(QStringLiteral("2024/top.txt 4 ")) && !moved.contains(QStringLiteral("|top.txt ")) &&
                 !moved.startsWith(QStringLiteral("top.txt ")),
             qPrintable(moved));
    QVERIFY(UnzipTest(zip_));
    QTRY_VERIFY_WITH_TIMEOUT(!Names(L()).contains(QStringLiteral("top.txt")), 5000);
    QTRY_VERIFY_WITH_TIMEOUT(L()->hasFocus(), 5000);
    // The next key after the job: Down moves the cursor in the same panel.
    QVERIFY(f_->Put(L(), "2024"));
    QVERIFY(f_->Press(L(), Qt::Key_Down));
    QCOMPARE(TFormFixture::AtCursor(L()), std::string("nested.zip"));
    // Into an archive inside an archive: refused, saying why.
    R()->setFocus();
    QVERIFY(f_->Put(R(), "..") && f_->Press(R(), Qt::Key_Return));
    QVERIFY(f_->Put(R(), "nested.zip") && f_->Press(R(), Qt::Key_Return));
    QVERIFY(R()->Directory().ends_with("/nested.zip"));
    const QString nested = Entries(zip_);
    L()->setFocus();
    QVERIFY(f_->Put(L(), "2024"));
    ShownMessages().clear();
    Script().inputs = {Q(zip_ + "/nested.zip")};
    QVERIFY(f_->Press(L(), Qt::Key_F5));
    QCOMPARE(ShownMessages().size(), size_t(1));
    QCOMPARE(ShownMessages()[0].text, QString::fromLatin1(vfs::TPlaceOpener::kNestedReadOnly));
    QCOMPARE(Entries(zip_), nested);
    QTRY_VERIFY_WITH_TIMEOUT(L()->hasFocus(), 5000);
    Script().inputs.clear();
  }

  // A file stored without a name is a row of the root with a visible
  // stand-in, counted on the information line; it leads nowhere (F3 says it
  // cannot be read) and the next key works.
  void namelessEntryIsShownAndCounted() {
    const std::string odd = f_->left + "/odd.zip";
    QCOMPARE(Python(QStringLiteral("import sys, zipfile\n"
                                   "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                                   "  z.writestr(zipfile.ZipInfo(''), 'n' * 140)\n"
                                   "  z.writestr('a.txt', 'aaaa')\n"
                                   "  z.writestr('dir/b.txt', 'bb')\n"),
                    odd),
             QString());
    QVERIFY(L()->ReadDirectory(f_->left));
    QVERIFY(Into("odd.zip"));
    QCOMPARE(Names(L()), (QStringList{"..", "dir", "a.txt", "\u2423"}));
    const QString info = f_->form->Left().InfoPanel->text();
    QVERIFY2(info.startsWith(QStringLiteral("2 files: 144 bytes, packed 144 bytes")), qPrintable(info));
    ShownMessages().clear();
    QVERIFY(f_->Put(L(), "\xE2\x90\xA3"));
    QVERIFY(f_->Press(L(), Qt::Key_F3));
    QCOMPARE(ShownMessages().size(), size_t(1));
    QVERIFY(f_->Press(L(), Qt::Key_Home));
    QVERIFY(f_->Press(L(), Qt::Key_Return));
    QCOMPARE(L()->Directory(), f_->left);
    QCOMPARE(TFormFixture::AtCursor(L()), std::string("odd.zip"));
  }

  // Names that would move the panel are shown behind an open box and lead
  // to the entries stored under them: "../../evil" is reached through two
  // rows "\u2423..", viewed and copied out (to the destination, never above
  // it); a name that begins with a box keeps its own.
  void boxedNamesLeadToTheirEntries() {
    const struct {
      std::string shown, stored;
    } rows[] = {{"a/b", "a/b"},
                {"\xE2\x90\xA3..", ".."},
                {"x/\xE2\x90\xA3../\xE2\x90\xA3.", "x/../."},
                {"\xE2\x90\xA3\xE2\x90\xA3x", "\xE2\x90\xA3x"},
                {"\xE2\x90\xA3", ""},
                {"\xE2\x90\xA3x", "\xE2\x90\xA3x"}};
    for (const auto& row : rows) QCOMPARE(app::EntryPathOf(row.shown), row.stored);

    const std::string odd = f_->left + "/odd.zip";
    QCOMPARE(Python(QStringLiteral("import sys, zipfile\n"
                                   "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                                   "  z.writestr('../../evil', 'evil')\n"
                                   "  z.writestr('\u2423box.txt', 'boxed')\n"),
                    odd),
             QString());
    QVERIFY(L()->ReadDirectory(f_->left));
    QVERIFY(Into("odd.zip"));
    QCOMPARE(Names(L()), (QStringList{"..", "\u2423..", "\u2423\u2423box.txt"}));
    QVERIFY(f_->Put(L(), "\xE2\x90\xA3\xE2\x90\xA3" "box.txt"));
    QVERIFY(f_->Press(L(), Qt::Key_Return));  // the desktop's program gets the entry's bytes
    QVERIFY(!documents_.empty() && documents_.back().ends_with("=boxed"));
    QVERIFY(Into("\xE2\x90\xA3..") && Into("\xE2\x90\xA3.."));
    QCOMPARE(Names(L()), (QStringList{"..", "evil"}));
    QCOMPARE(L()->Directory(), odd + "/\xE2\x90\xA3../\xE2\x90\xA3..");
    QVERIFY(f_->Mark(L(), "evil"));
    Script().inputs = {Q(f_->right)};
    QVERIFY(f_->Press(L(), Qt::Key_F5));
    QTRY_COMPARE(ReadText(f_->right + "/evil"), QStringLiteral("evil"));
    QVERIFY(!Exists(f_->left + "/../evil") && !Exists(f_->right + "/../evil"));
    QVERIFY(f_->Press(L(), Qt::Key_Backspace));
    QCOMPARE(TFormFixture::AtCursor(L()), std::string("\xE2\x90\xA3.."));
  }

  void passwordAskedOnceAndAgainAfterAWrongOne() {
    const std::string locked = f_->left + "/locked.zip";
    WriteText(f_->left + "/a.txt", "alpha\n");
    WriteText(f_->left + "/b.txt", "bravo\n");
    QProcess sevenZip;
    sevenZip.start(QStringLiteral("7zz"), {"a", "-tzip", "-mem=AES256", "-pletmein", Q(locked), Q(f_->left + "/a.txt"),
                                          Q(f_->left + "/b.txt")});
    if (!sevenZip.waitForFinished(30000) || sevenZip.exitCode() != 0) QSKIP("7zz cannot make an AES archive here");
    QVERIFY(L()->ReadDirectory(f_->left));
    QVERIFY(Into("locked.zip"));
    Script().inputs = {Q(f_->right)};
    zipui::SetInputQuery([](const QString&, const QString& prompt, QString& text, bool) {
      g_prompts << prompt;
      text = g_prompts.size() == 1 ? QStringLiteral("wrong") : QStringLiteral("letmein");
      return true;
    });
    QVERIFY(f_->Mark(L(), "a.txt"));
    QVERIFY(f_->Press(L(), Qt::Key_F5));
    QVERIFY(f_->Mark(L(), "b.txt"));
    Script().inputs = {Q(f_->right)};
    QVERIFY(f_->Press(L(), Qt::Key_F5));
    initTestCase();
    QCOMPARE(ReadText(f_->right + "/a.txt"), QStringLiteral("alpha\n"));
    QCOMPARE(ReadText(f_->right + "/b.txt"), QStringLiteral("bravo\n"));
    QCOMPARE(g_prompts.size(), 2);
    QVERIFY(g_prompts[1].startsWith(QStringLiteral("Wrong password")));
  }
  // F5 from an encrypted archive into another archive panel: the entry goes
  // as it is stored, still encrypted under its password, and nobody is
  // asked; F5 out to a directory asks once and decodes it.
  void encryptedEntriesStayEncryptedBetweenArchives() {
    const std::string locked = f_->left + "/locked.zip";
    const std::string other = f_->right + "/other.zip";
    WriteText(f_->left + "/a.txt", "alpha\n");
    QProcess sevenZip;
    sevenZip.start(QStringLiteral("7zz"), {"a", "-tzip", "-mem=AES256", "-pletmein", Q(locked), Q(f_->left + "/a.txt")});
    if (!sevenZip.waitForFinished(30000) || sevenZip.exitCode() != 0) QSKIP("7zz cannot make an AES archive here");
    QCOMPARE(Python(QStringLiteral("import sys, zipfile\n"
                                   "with zipfile.ZipFile(sys.argv[1], 'w') as z: z.writestr('kept.txt', 'kept')"),
                    other),
             QString());
    R()->setFocus();
    QVERIFY(R()->ReadDirectory(f_->right));
    QVERIFY(f_->Put(R(), "other.zip") && f_->Press(R(), Qt::Key_Return));
    L()->setFocus();
    QVERIFY(L()->ReadDirectory(f_->left));
    QVERIFY(Into("locked.zip"));
    QVERIFY(f_->Put(L(), "a.txt"));
    // The file line says that it is encrypted.
    const QString line = f_->form->Left().FilePanel->text();
    QVERIFY2(line.startsWith(QStringLiteral("a.txt- size:6 bytes, packed:")) &&
                 line.endsWith(QStringLiteral(" bytes, encrypted.")),
             qPrintable(line));
    Script().inputs = {Q(other)};
    QVERIFY(f_->Press(L(), Qt::Key_F5));
    QTRY_VERIFY_WITH_TIMEOUT(Names(R()).contains(QStringLiteral("a.txt")), 5000);
    QVERIFY2(g_prompts.isEmpty(), qPrintable(g_prompts.join('|')));
    QVERIFY(ShownMessages().empty());
    // Encrypted (AES, method 99) in the other archive, and 7zz reads it with the password.
    QCOMPARE(Python(QStringLiteral("import sys, zipfile\n"
                                   "i = zipfile.ZipFile(sys.argv[1]).getinfo('a.txt')\n"
                                   "print(i.flag_bits & 1, i.compress_type)"),
                    other),
             QStringLiteral("1 99"));
    QCOMPARE(QProcess::execute(QStringLiteral("7zz"), {"t", "-pletmein", Q(other)}), 0);
    QVERIFY(QProcess::execute(QStringLiteral("7zz"), {"t", "-pwrong", Q(other)}) != 0);
    QTRY_VERIFY_WITH_TIMEOUT(L()->hasFocus(), 5000);
    // Out to a directory: asked once, decoded.
    zipui::SetInputQuery([](const QString&, const QString& prompt, QString& text, bool) {
      g_prompts << prompt;
      text = QStringLiteral("letmein");
      return true;
    });
    R()->setFocus();
    QVERIFY(f_->Put(R(), "..") && f_->Press(R(), Qt::Key_Return));
    QCOMPARE(R()->Directory(), f_->right);
    L()->setFocus();
    QVERIFY(f_->Put(L(), "a.txt"));
    Script().inputs = {Q(f_->right)};
    QVERIFY(f_->Press(L(), Qt::Key_F5));
    initTestCase();
    QTRY_COMPARE(ReadText(f_->right + "/a.txt"), QStringLiteral("alpha\n"));
    QCOMPARE(g_prompts.size(), 1);
  }
};

QTEST_MAIN(ArchiveFoldersTest)
#include "archive_folders_test.moc"
