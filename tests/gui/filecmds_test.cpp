// filecmds_test.cpp - the file commands of the real main window, offscreen,
// with scripted answers: copy, move and delete (the destination prompt, the
// overwrite question, Cancel in the operation window, failures, the panels
// re-read afterwards), View and Edit, directory size, help,
// the messages table, and the entry menu with Open with and Properties.
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QTextBrowser>

#include "app/file_commands.h"
#include "app/item_menu.h"
#include "app/message_table.h"
#include "app/propertiesform.h"
#include "app/settings.h"
#include "fileops/qt/operationform.h"
#include "gui_support.h"
#include "platform/process.h"
#include "platform/qt/help.h"
#include "platform/text.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::MessageAnswer;
using app::MessageKind;

namespace {

QStringList Texts(const QMenu& menu) {
  QStringList texts;
  for (QAction* a : menu.actions())
    if (!a->isSeparator()) texts << a->text().section(QLatin1Char('\t'), 0, 0);
  return texts;
}

uint32_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace

class FileCmdsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;

  fileops::TOperationForm* Window() const { return app::OperationForm(*f_->form); }
  panels::TFMPanel* L() const { return f_->L(); }
  // Marks `names` in the left panel and copies (F5) or moves (F6) them into `to`.
  void Run(Qt::Key key, std::initializer_list<const char*> names, const std::string& to) {
    for (const char* name : names) QVERIFY2(f_->Mark(L(), name), name);
    Script().inputs.push_back(Q(to));
    QVERIFY(f_->Press(L(), key));
  }
  // Calls `act` whenever the operation reports progress, until the end of the scope.
  struct TOnProgress {
    fileops::TFMOperation& op;
    decltype(fileops::TFMOperation::OnGlobalDone) original = op.OnGlobalDone;
    TOnProgress(fileops::TFMOperation& o, std::function<void(int)> act) : op(o) {
      op.OnGlobalDone = [this, act](fileops::TFMOperation& sender, int percent) {
        act(percent);
        original(sender, percent);
      };
    }
    ~TOnProgress() { op.OnGlobalDone = original; }
  };
  // A script that writes its argument count and each argument, one per line, into `out`.
  std::string FakeProgram(const std::string& out) {
    const std::string path = f_->Path("fake prog");
    WriteText(path, "#!/bin/sh\n{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > '" + out +
                        ".tmp' && mv '" + out + ".tmp' '" + out + "'\n");
    ::chmod(path.c_str(), 0700);
    return path;
  }
  // Runs `act` and returns the texts of the popup menu it opens (closed with Escape).
  QStringList PopupTexts(const std::function<void()>& act, QPoint* where = nullptr) {
    QStringList texts{QStringLiteral("<no menu>")};
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
      if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        texts = Texts(*menu);
        if (where) *where = menu->pos();
        QTest::keyClick(menu, Qt::Key_Escape);
      }
    });
    poll.start(20);
    act();
    QTest::qWait(100);
    return texts;
  }
  QAction* MenuItem(const char* name) {
    menu_ = app::BuildItemMenu(*f_->form, *L());
    return menu_->findChild<QAction*>(QLatin1String(name));
  }
  std::unique_ptr<QMenu> menu_;

 private slots:
  void init() { f_ = std::make_unique<TFormFixture>(); }
  void cleanup() {
    menu_.reset();
    if (f_->form) qDeleteAll(f_->form->findChildren<app::TPropertiesForm*>());
    f_.reset();
  }

  void withoutASelectionNothingRuns() {
    QVERIFY(MakeFile(f_->left + "/a.txt", 3));
    QVERIFY(MakeDir(f_->left + "/dir"));
    QVERIFY(f_->Show());
    const auto noSelection = [&](QWidget* target, Qt::Key key, Qt::KeyboardModifiers mods = {}) {
      Script().shown.clear();
      QTest::keyClick(target, key, mods);
      QCOMPARE(Script().Texts(), QStringList({"There are no selected files"}));
      QCOMPARE(ShownMessages()[0].kind, MessageKind::Warning);
      QCOMPARE(ShownMessages()[0].caption, kMainCaption);
    };
    // ".." under the cursor; F3 on a directory; Ctrl+G on ".." leaves the file line.
    QCOMPARE(f_->AtCursor(L()), std::string(".."));
    for (Qt::Key key : {Qt::Key_F5, Qt::Key_F6, Qt::Key_Delete}) noSelection(L(), key);
    QLabel* line = f_->form->Left().FilePanel;
    line->setText(QStringLiteral("unchanged"));
    Script().shown.clear();
    QTest::keyClick(L(), Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(line->text(), QStringLiteral("unchanged"));
    QVERIFY(ShownMessages().empty());
    QVERIFY(f_->Put(L(), "dir"));
    noSelection(L(), Qt::Key_F3);
    // No active panel: the focus in the command line.
    QLineEdit* edit = f_->form->CommandEdit();
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    for (Qt::Key key : {Qt::Key_F5, Qt::Key_F6, Qt::Key_F3, Qt::Key_F4}) noSelection(edit, key);
    noSelection(edit, Qt::Key_G, Qt::ControlModifier);
    QVERIFY(Script().prompts.empty());
    QVERIFY(!Exists(f_->right + "/a.txt"));
  }

  void copyMarkedEntriesThroughThePrompt() {
    for (auto [name, size] : {std::pair{"a.txt", 100}, {"b.txt", 200}, {"c.txt", 300}})
      QVERIFY(MakeFile(f_->left + "/" + name, size));
    QVERIFY(MakeDir(f_->left + "/tree/deep"));
    QVERIFY(MakeFile(f_->left + "/tree/deep/d.bin", 5000));
    QVERIFY(f_->Show());
    QVERIFY(f_->Put(L(), "c.txt"));  // not marked: not copied
    QString panelText;
    bool shownDuring = false;
    {
      TOnProgress during(Window()->FMOperation, [&](int) {
        shownDuring = Window()->isVisible();
        panelText = Window()->Panel()->text();
      });
      Run(Qt::Key_F5, {"a.txt", "tree"}, f_->right);
    }
    QCOMPARE(Script().prompts, std::vector<QString>({"Copy selected files to:"}));
    QCOMPARE(Script().prefilled, std::vector<QString>({Q(f_->right)}));
    QVERIFY(ShownMessages().empty());
    QVERIFY(shownDuring && !Window()->isVisible());
    QCOMPARE(panelText, QStringLiteral("Copy files...Wait"));
    QCOMPARE(Window()->Gauge()->value(), 100);
    QCOMPARE(ReadText(f_->right + "/a.txt").size(), 100);
    QCOMPARE(QFileInfo(Q(f_->right + "/tree/deep/d.bin")).size(), 5000);
    QVERIFY(!Exists(f_->right + "/b.txt") && !Exists(f_->right + "/c.txt") && Exists(f_->left + "/a.txt"));
    // Both panels re-read; the focused one's cursor on its first entry, marks gone.
    QVERIFY(f_->Listed(f_->R(), "a.txt") && f_->Listed(f_->R(), "tree"));
    QTRY_VERIFY(L()->hasFocus());
    QCOMPARE(L()->Cursor(), 0);
    QCOMPARE(L()->Model().MarkedCount(), 0);

    // The prompt cancelled: nothing; another directory typed; a relative one
    // is taken relative to the source directory.
    QVERIFY(MakeDir(f_->Path("other")) && MakeDir(f_->left + "/inner"));
    QVERIFY(f_->Put(L(), "b.txt"));
    QVERIFY(f_->Press(L(), Qt::Key_F5));
    QVERIFY(!Exists(f_->right + "/b.txt") && !Window()->isVisible());
    for (const std::string& to : {f_->Path("other"), std::string("inner")}) {
      QVERIFY(f_->Put(L(), "b.txt"));
      Script().inputs.push_back(Q(to));
      QVERIFY(f_->Press(L(), Qt::Key_F5));
    }
    QVERIFY(Exists(f_->Path("other/b.txt")) && Exists(f_->left + "/inner/b.txt"));
    QVERIFY(!Exists(f_->right + "/b.txt"));
  }

  void overwriteYesNoAllCancel() {
    for (const char* name : {"1.txt", "2.txt", "3.txt"}) {
      WriteText(f_->left + "/" + name, "new");
      WriteText(f_->right + "/" + name, "old!");
    }
    QVERIFY(f_->Show());
    const auto copyAll = [&](std::initializer_list<MessageAnswer> answers) {
      Script().shown.clear();
      Script().answers = answers;
      Run(Qt::Key_F5, {"1.txt", "2.txt", "3.txt"}, f_->right);
      QTest::qVerify(Script().answers.empty(), "every answer used", "", __FILE__, __LINE__);
      return QStringList({ReadText(f_->right + "/1.txt"), ReadText(f_->right + "/2.txt"),
                          ReadText(f_->right + "/3.txt")});
    };
    QCOMPARE(copyAll({MessageAnswer::No, MessageAnswer::Yes, MessageAnswer::No}),
             QStringList({"old!", "new", "old!"}));
    QCOMPARE(Script().Texts(),
             QStringList({"Overwrite file 1.txt?", "Overwrite file 2.txt?", "Overwrite file 3.txt?"}));
    for (const TShownMessage& m : ShownMessages()) {
      QCOMPARE(m.kind, MessageKind::QuestionAll);
      QCOMPARE(m.caption, QStringLiteral("Confirm"));
      // Under the question: both files' sizes and times.
      const QStringList lines = m.text.split(QLatin1Char('\n'));
      QCOMPARE(lines.size(), 4);
      QVERIFY2(lines[2].startsWith(QStringLiteral("New:")) && lines[2].contains(QStringLiteral("3 bytes, ")),
               qPrintable(lines[2]));
      QVERIFY2(lines[3].startsWith(QStringLiteral("Existing:")) && lines[3].contains(QStringLiteral("4 bytes, ")),
               qPrintable(lines[3]));
    }
    // Cancel at the first question ends the operation, and is no abort.
    WriteText(f_->right + "/2.txt", "old!");
    QCOMPARE(copyAll({MessageAnswer::Cancel}), QStringList({"old!", "old!", "old!"}));
    QCOMPARE(Script().Texts(), QStringList({"Overwrite file 1.txt?"}));
    // All: one question replaces all three, for that operation only.
    QCOMPARE(copyAll({MessageAnswer::All}), QStringList({"new", "new", "new"}));
    QCOMPARE(Script().Texts(), QStringList({"Overwrite file 1.txt?"}));
    WriteText(f_->right + "/1.txt", "old!");
    QCOMPARE(copyAll({MessageAnswer::No, MessageAnswer::No, MessageAnswer::No}).front(), QStringLiteral("old!"));
    QCOMPARE(ShownMessages().size(), size_t(3));
  }

  void moveWithOverwriteAnsweredNoKeepsTheSource() {
    WriteText(f_->left + "/a.txt", "moved?");
    WriteText(f_->left + "/b.txt", "bbb");
    QVERIFY(MakeDir(f_->left + "/d") && MakeDir(f_->right + "/d"));
    WriteText(f_->left + "/d/x.txt", "xnew");
    WriteText(f_->right + "/a.txt", "kept");
    WriteText(f_->right + "/d/x.txt", "xold");
    QVERIFY(f_->Show());
    Script().answers = {MessageAnswer::No, MessageAnswer::No};
    Run(Qt::Key_F6, {"a.txt", "b.txt", "d"}, f_->right);
    QCOMPARE(Script().prompts, std::vector<QString>({"Move selected files to:"}));
    QCOMPARE(Script().Texts(), QStringList({"Overwrite file d/x.txt?", "Overwrite file a.txt?"}));
    // Declined items stay where they were, with the directory above them.
    const std::pair<std::string, const char*> kept[] = {{f_->left + "/a.txt", "moved?"},  {f_->right + "/a.txt", "kept"},
                                                        {f_->left + "/d/x.txt", "xnew"}, {f_->right + "/d/x.txt", "xold"},
                                                        {f_->right + "/b.txt", "bbb"}};
    for (const auto& [path, text] : kept) QCOMPARE(ReadText(path), QLatin1String(text));
    QVERIFY(!Exists(f_->left + "/b.txt"));
    QVERIFY(!f_->Listed(L(), "b.txt") && f_->Listed(f_->R(), "b.txt"));
    QCOMPARE(L()->Cursor(), 0);
  }

  void deleteAsksAndDeletesOnlyTheMarked() {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) QVERIFY(MakeFile(f_->left + "/" + name, 5));
    QVERIFY(MakeDir(f_->left + "/tree/sub"));
    QVERIFY(MakeFile(f_->left + "/tree/sub/f", 5));
    QVERIFY(f_->Show());
    QVERIFY(f_->Mark(L(), "a.txt") && f_->Mark(L(), "tree") && f_->Put(L(), "c.txt"));
    QVERIFY(f_->Press(L(), Qt::Key_Delete));  // answered No
    QCOMPARE(Script().Texts(), QStringList({"Delete selected files?"}));
    QCOMPARE(ShownMessages()[0].kind, MessageKind::Question);
    QCOMPARE(ShownMessages()[0].caption, kMainCaption);
    QVERIFY(Exists(f_->left + "/a.txt") && Exists(f_->left + "/tree/sub/f"));
    Script().answers = {MessageAnswer::Yes};
    app::RunDeleteCommand(*f_->form);  // the command F8 runs from a panel
    QCOMPARE(Script().Texts(), QStringList({"Delete selected files?", "Delete selected files?"}));
    QVERIFY(!Exists(f_->left + "/a.txt") && !Exists(f_->left + "/tree"));
    QVERIFY(Exists(f_->left + "/b.txt") && Exists(f_->left + "/c.txt"));
    QVERIFY(!f_->Listed(L(), "a.txt"));
    QCOMPARE(L()->Cursor(), 0);
  }

  void failuresAreReportedAndTheOperationGoesOn() {
    QVERIFY(MakeFile(f_->left + "/a.txt", 5) && MakeFile(f_->left + "/b.txt", 5));
    QVERIFY(MakeFile(f_->right + "/notadir", 1));  // a destination that is no directory
    QVERIFY(f_->Show());
    Run(Qt::Key_F5, {"a.txt", "b.txt"}, f_->right + "/notadir");
    QCOMPARE(Script().Texts(), QStringList({"Could not copy file a.txt", "Could not copy file b.txt"}));
    for (const TShownMessage& m : ShownMessages()) {
      QCOMPARE(m.kind, MessageKind::Failure);
      QVERIFY(m.text.endsWith(QStringLiteral("\nNot a directory")));  // the system's reason
    }
    QVERIFY(!Window()->isVisible());
    // Thirty failures: "Skip all" at the first, then one summary of all.
    for (int i = 0; i < 28; ++i) QVERIFY(MakeFile(f_->left + "/m" + std::to_string(i), 1));
    L()->Reread();
    L()->MarkAllFiles();
    Script() = TScript();
    Script().answers = {MessageAnswer::SkipAll};
    Run(Qt::Key_F5, {}, f_->right + "/notadir");
    QCOMPARE(ShownMessages().size(), size_t(2));
    QCOMPARE(ShownMessages()[0].kind, MessageKind::Failure);
    QCOMPARE(ShownMessages()[1].kind, MessageKind::Summary);
    const QStringList lines = ShownMessages()[1].text.split(QLatin1Char('\n'));
    QCOMPARE(lines.front(), QStringLiteral("30 items were skipped:"));
    QCOMPARE(lines.size(), 31);
    QCOMPARE(lines[1], QStringLiteral("Could not copy file a.txt: Not a directory"));
  }

  void cancelDuringManySmallFiles() {
    const std::string many = f_->right + "/many";
    QVERIFY(MakeDir(f_->left + "/many"));
    for (int i = 0; i < 400; ++i) QVERIFY(MakeFile(f_->left + "/many/f" + std::to_string(i), 1000));
    QVERIFY(f_->Show());
    const auto copied = [&] { return QDir(Q(many)).entryList(QDir::Files).size(); };
    // Cancel clicked at `at` percent (twice, queued as a real click: one
    // question; at the end at once), the question answered `answer`.
    const auto copyCancelledAt = [&](int at, std::initializer_list<MessageAnswer> answer) {
      QDir(Q(many)).removeRecursively();
      Script() = TScript();
      Script().answers = answer;
      bool clicked = false;
      TOnProgress cancel(Window()->FMOperation, [&](int percent) {
        if (percent < at || clicked) return;
        clicked = true;
        if (at == 100) return Window()->CancelButton()->click();
        QTimer::singleShot(0, Window()->CancelButton(), &QPushButton::click);
        QTimer::singleShot(0, Window()->CancelButton(), &QPushButton::click);
      });
      QVERIFY(f_->Put(L(), "many"));
      Run(Qt::Key_F5, {}, f_->right);
    };
    copyCancelledAt(30, {MessageAnswer::No});  // "Abort operation?" No: everything is copied
    QCOMPARE(Script().Texts(), QStringList({"Abort operation?"}));
    QCOMPARE(ShownMessages()[0].caption, QStringLiteral("Confirm"));
    QCOMPARE(copied(), 400);
    // Yes: it stops part-way, "Operation aborted" follows, both panels re-read.
    copyCancelledAt(30, {MessageAnswer::Yes});
    QCOMPARE(Script().Texts(), QStringList({"Abort operation?", "Operation aborted"}));
    QCOMPARE(ShownMessages()[1].kind, MessageKind::Information);
    QCOMPARE(ShownMessages()[1].caption, kMainCaption);
    QVERIFY2(copied() > 0 && copied() < 400, qPrintable(QString::number(copied())));
    QVERIFY(f_->Listed(f_->R(), "many"));
    QCOMPARE(L()->Cursor(), 0);
    // At the very end, after the last item: no question, only "Operation aborted".
    copyCancelledAt(100, {});
    QCOMPARE(Script().Texts(), QStringList({"Operation aborted"}));
    QCOMPARE(copied(), 400);
  }

  void cancelInsideOneLargeFileAsksAtOnce() {
    {
      QFile file(Q(f_->left + "/big.bin"));
      QVERIFY(file.open(QIODevice::WriteOnly));
      const QByteArray block(1 << 20, 'z');
      for (int i = 0; i < 96; ++i) QVERIFY(file.write(block) == block.size());
    }
    QVERIFY(f_->Show());
    auto& op = Window()->FMOperation;
    const auto interval = op.ProgressInterval;
    op.ProgressInterval = std::chrono::milliseconds(0);
    int percentAtClick = -1;
    {
      TOnProgress cancel(op, [&](int percent) {
        if (percentAtClick >= 0 || percent >= 100) return;
        percentAtClick = percent;
        QTimer::singleShot(0, Window()->CancelButton(), &QPushButton::click);
      });
      QVERIFY(f_->Put(L(), "big.bin"));
      Script().answers = {MessageAnswer::Yes};
      Run(Qt::Key_F5, {}, f_->right);
    }
    op.ProgressInterval = interval;
    if (percentAtClick < 0) QSKIP("the file was copied before a progress event came inside it");
    QCOMPARE(Script().Texts(), QStringList({"Abort operation?", "Operation aborted"}));
    // Yes threw the partial copy away: no temporary file left behind either.
    QCOMPARE(QDir(Q(f_->right)).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 0);
  }

  void copyPathsFromElsewhere() {
    const std::string a = f_->Path("x/one.txt"), b = f_->Path("y/two");
    QVERIFY(MakeDir(f_->Path("x")) && MakeDir(b));
    WriteText(a, "1");
    WriteText(b + "/inner.txt", "2");
    WriteText(f_->right + "/one.txt", "old");
    QVERIFY(f_->Show());
    Script().answers = {MessageAnswer::Yes};
    app::CopyPathsInto(*f_->form, {a, b + "/"}, f_->right);
    QCOMPARE(Script().Texts(), QStringList({"Overwrite file one.txt?"}));
    QCOMPARE(ReadText(f_->right + "/one.txt"), QStringLiteral("1"));
    QCOMPARE(ReadText(f_->right + "/two/inner.txt"), QStringLiteral("2"));
    QVERIFY(f_->Listed(f_->R(), "two") && Exists(a));
  }

  void operationWindowStaysWhileRunning() {
    QVERIFY(f_->Show());
    fileops::TOperationForm* w = Window();
    w->GlobalDone(250);
    QCOMPARE(w->Gauge()->value(), 100);
    w->GlobalDone(-3);
    QCOMPARE(w->Gauge()->text(), QStringLiteral("0%"));
    // Escape and a close request leave a running operation's window alone.
    w->Begin(QStringLiteral("Copy files...Wait"));
    QTest::keyClick(w, Qt::Key_Escape);
    QVERIFY(!w->close());
    QVERIFY(w->isVisible() && !w->FMOperation.OperationAborted);
    w->End();
    QVERIFY(!w->isVisible());
  }

  // ------------------------------------------------------ other commands

  void messagesTableHoldsTheElevenTexts() {
    const QStringList expected = {"There are no selected files", "Copy selected files to:", "Move selected files to:",
                                  "Delete selected files?",      "Copy files...Wait",       "Move files...Wait",
                                  "Delete files...Wait",         "Operation aborted",       "Drive not found",
                                  "Viewer not found",            "Editor not found"};
    QCOMPARE(app::kMessageCount, 11);
    // A lookup is asked once per text, in table order, by the English text.
    QStringList asked;
    app::BuildMessagesTable([&](const std::string& english) {
      asked << Q(english);
      return english == "Operation aborted" ? std::string("Vorgang abgebrochen") : english;
    });
    QCOMPARE(asked, expected);
    QCOMPARE(app::Msg(app::TMsg::OperationAborted), QStringLiteral("Vorgang abgebrochen"));
    app::BuildMessagesTable();
    for (int i = 0; i < app::kMessageCount; ++i) {
      QCOMPARE(app::Msg(static_cast<app::TMsg>(i)), expected[i]);
      QCOMPARE(QLatin1String(app::EnglishMessage(static_cast<app::TMsg>(i))), expected[i]);
    }
  }

  void viewAndEdit() {
    // Defaults: the viewer beside the program ("vnview.exe" of older settings
    // stands for it), the platform's editor for "notepad".
    QCOMPARE(app::ViewerProgram("/old/place/vnview.exe", "/prog/"), std::string("/prog/vnview"));
    QCOMPARE(app::ViewerProgram("less -R", "/prog/"), std::string("less -R"));
    for (const char* notepad : {"notepad.exe", "NOTEPAD.EXE", "notepad"})
      QCOMPARE(app::EditorProgram(notepad), platform::DefaultEditor());
    QCOMPARE(app::EditorProgram("vi -n"), std::string("vi -n"));
    QVERIFY(!platform::DefaultEditor().empty());
    // Missing programs are said.
    const std::string name = "my notes; $(touch pwned) 'q\" `id`.txt";
    WriteText(f_->left + "/" + name, "text");
    QVERIFY(f_->Show());
    QCOMPARE(f_->form->ViewerCommand, f_->form->ProgramDir() + app::kDefaultViewerName);
    QVERIFY(f_->Put(L(), name));
    QVERIFY(f_->Press(L(), Qt::Key_F3));  // the tests' program directory has no viewer
    f_->form->EditorCommand = f_->Path("no-such-editor") + " --flag";
    QVERIFY(f_->Press(L(), Qt::Key_F4));
    QCOMPARE(Script().Texts(), QStringList({"Viewer not found", "Editor not found"}));
    QCOMPARE(ShownMessages()[0].kind, MessageKind::Error);
    QCOMPARE(ShownMessages()[0].caption, kMainCaption);
    // The name reaches the program as one argument, after the command's own
    // words; a program path with a blank works quoted and unquoted.
    Script().shown.clear();
    const std::string out = f_->Path("args.txt");
    const std::string prog = FakeProgram(out);
    f_->form->ViewerCommand = "\"" + prog + "\" -v";
    f_->form->EditorCommand = prog;
    for (auto [key, args] : {std::pair{Qt::Key_F3, "2\n-v\n"}, {Qt::Key_F4, "1\n"}}) {
      QFile::remove(Q(out));
      QVERIFY(f_->Press(L(), key));
      QTRY_VERIFY_WITH_TIMEOUT(Exists(out), 10000);
      QCOMPARE(ReadText(out), QLatin1String(args) + Q(name) + "\n");
    }
    QVERIFY(ShownMessages().empty());
    QVERIFY(!Exists(f_->left + "/pwned"));
  }

  void directorySizeGoesToTheFileLine() {
    QVERIFY(MakeDir(f_->left + "/Docs/inner") && MakeDir(f_->left + "/Empty"));
    QVERIFY(MakeFile(f_->left + "/Docs/a", 1234000) && MakeFile(f_->left + "/Docs/inner/b", 567));
    QVERIFY(MakeFile(f_->left + "/file.bin", 42));
    QVERIFY(f_->Show());
    const std::pair<const char*, std::string> sizes[] = {
        {"Docs", "Docs- size:" + platform::FormatThousands(1234567) + " bytes"},
        {"Empty", "Empty- size:0 bytes"},
        {"file.bin", "file.bin- size:42 bytes"}};
    for (const auto& [name, line] : sizes) {
      QVERIFY(f_->Put(L(), name));
      QTest::keyClick(L(), Qt::Key_G, Qt::ControlModifier);
      QCOMPARE(f_->form->Left().FilePanel->text(), Q(line));
      QCOMPARE(f_->AtCursor(L()), std::string(name));  // not re-read: the cursor stays
    }
    QVERIFY(ShownMessages().empty());
  }

  void f1OpensTheHelpAtItsContents() {
    QVERIFY(f_->Show());
    QVERIFY(f_->Press(L(), Qt::Key_F1));
    QTextBrowser* help = platform::HelpWindow();
    QVERIFY(help != nullptr);
    QTRY_VERIFY(help->isVisible());
    QCOMPARE(help->source(), QUrl(QStringLiteral("qrc:/help/contents.html")));
    QCOMPARE(help->documentTitle(), QStringLiteral("Vantrel help"));
    QVERIFY(help->toPlainText().contains(QStringLiteral("Copy, move and delete")));
    // Each dialog's context number has a topic of its own; unknown numbers
    // show the contents.
    const std::pair<int, const char*> topics[] = {
        {401, "New file"},         {407, "Rename"},     {408, "Pack to ZIP"},     {409, "The ZIP window"},
        {501, "New directory"},    {502, "Find file"},  {803, "About Vantrel"},   {302, "Panel settings"},
        {702, "Panel settings"},   {601, "General settings"}, {602, "Font"},      {604, "Select language"},
        {6031, "Select Color"},    {6032, "Colour schemes"}, {6033, "Colour schemes"}, {12345, "Vantrel help"}};
    for (const auto& [context, title] : topics) {
      QVERIFY(platform::ShowHelp(context));
      QCOMPARE(help->documentTitle(), QLatin1String(title));
      QVERIFY2(help->toPlainText().size() > 100 || context == 803, title);
    }
    // Every link of the contents leads to a page that exists.
    platform::ShowHelp(0);
    const QString html = help->toHtml();
    int links = 0;
    for (qsizetype at = 0; (at = html.indexOf(QStringLiteral("href=\""), at)) >= 0; ++links) {
      at += 6;
      const QString target = html.mid(at, html.indexOf(QLatin1Char('"'), at) - at);
      QVERIFY2(QFileInfo::exists(QStringLiteral(":/help/") + target), qPrintable(target));
    }
    QVERIFY(links >= 12);
    help->close();
  }

  // ------------------------------------------------------ the entry menu

  void rightClickMovesTheCursorAndKeepsTheMarks() {
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) QVERIFY(MakeFile(f_->left + "/" + name, 1));
    QVERIFY(f_->Show());
    QVERIFY(f_->Mark(L(), "a.txt") && f_->Mark(L(), "c.txt"));
    const int b = L()->IndexOfName("b.txt");
    const QStringList texts =
        PopupTexts([&] { QTest::mouseClick(L()->viewport(), Qt::RightButton, {}, L()->RowRect(b).center()); });
    QCOMPARE(L()->Cursor(), b);
    QCOMPARE(L()->Model().MarkedCount(), 2);
    QVERIFY(!L()->IsMarked(b));
    QCOMPARE(texts, QStringList({"Open", "Open with", "View", "Edit", "Copy 2 marked entries", "Move 2 marked entries",
                                 "Rename", "Delete 2 marked entries", "Pack 2 marked entries to .ZIP",
                                 "Copy paths of 2 marked entries", "Properties"}));
    // The menu's commands run on the marked entries.
    Script().inputs.push_back(Q(f_->right));
    MenuItem("ItemCopy")->trigger();
    QTRY_VERIFY(Exists(f_->right + "/a.txt") && Exists(f_->right + "/c.txt"));
    QVERIFY(!Exists(f_->right + "/b.txt"));
    // Below the last entry: no menu.
    const QPoint below(10, L()->RowRect(L()->Count()).center().y());
    QCOMPARE(PopupTexts([&] { QTest::mouseClick(L()->viewport(), Qt::RightButton, {}, below); }),
             QStringList({"<no menu>"}));
    // The Menu key opens it below the cursor row.
    L()->SetCursor(2);
    QPoint where;
    QVERIFY(PopupTexts([&] { QTest::keyClick(L(), Qt::Key_Menu); }, &where).contains(QStringLiteral("Properties")));
    QCOMPARE(where.y(), L()->viewport()->mapToGlobal(L()->RowRect(2).bottomLeft()).y());
  }

  void menuDependsOnTheEntry_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("texts");
    QTest::newRow("..") << ".." << QStringList({"Properties"});
    QTest::newRow("directory") << "dir" << QStringList({"Open", "Open with", "Copy", "Move", "Rename", "Delete",
                                                        "Pack to .ZIP", "Calculate size", "Copy path", "Properties"});
    QTest::newRow("zip file") << "a.zip" << QStringList({"Open", "Open with", "View", "Edit", "Copy", "Move", "Rename",
                                                         "Delete", "Pack to .ZIP", "Unpack from .ZIP", "Copy path",
                                                         "Properties"});
  }
  void menuDependsOnTheEntry() {
    QVERIFY(MakeDir(f_->left + "/dir") && MakeFile(f_->left + "/a.zip", 1));
    QVERIFY(f_->Show());
    QFETCH(QString, name);
    QFETCH(QStringList, texts);
    QVERIFY(f_->Put(L(), Std(name)));
    QCOMPARE(Texts(*app::BuildItemMenu(*f_->form, *L())), texts);
  }

  void openWithListsTheApplicationsForTheType() {
    // A desktop of its own: two editors (the second the default) and a viewer of pictures.
    QTemporaryDir xdg;
    const std::string root = Std(xdg.path()), out = root + "/started", script = root + "/record";
    QVERIFY(MakeDir(root + "/data/applications") && MakeDir(root + "/config"));
    WriteText(script, "#!/bin/sh\nprintf '%s' \"$1\" > '" + out + ".tmp' && mv '" + out + ".tmp' '" + out + "'\n");
    ::chmod(script.c_str(), 0755);
    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(Qt::blue);
    QVERIFY(icon.save(xdg.filePath(QStringLiteral("first.png"))));
    const auto app = [&](const char* file, const std::string& lines) {
      WriteText(root + "/data/applications/" + file, "[Desktop Entry]\nType=Application\n" + lines);
    };
    app("first.desktop", "Name=First editor\nIcon=" + root + "/first.png\nExec=" + script + " %f\nMimeType=text/plain;\n");
    app("second.desktop", "Name=Second editor\nExec=true %f\nMimeType=text/plain;\n");
    app("pictures.desktop", "Name=Pictures\nExec=true %f\nMimeType=image/png;\n");
    WriteText(root + "/config/mimeapps.list", "[Default Applications]\ntext/plain=second.desktop\n");
    const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(root + "/data"));
    qputenv("XDG_DATA_DIRS", QByteArray::fromStdString(root + "/none"));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(root + "/config"));
    qputenv("XDG_CONFIG_DIRS", QByteArray::fromStdString(root + "/none"));
    WriteText(f_->left + "/notes.txt", "plain text");
    QVERIFY(f_->Show());
    QVERIFY(f_->Put(L(), "notes.txt"));
    menu_ = app::BuildItemMenu(*f_->form, *L());
    auto* openWith = menu_->findChild<QMenu*>(QStringLiteral("ItemOpenWith"));
    QVERIFY(openWith);
    QCOMPARE(Texts(*openWith), QStringList({"Second editor", "First editor"}));
    QVERIFY(!openWith->actions().at(1)->icon().isNull());
    openWith->actions().at(1)->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(Exists(out), 10000);
    QTRY_COMPARE(ReadText(out), Q(f_->left + "/notes.txt"));
    for (const char* name : {"XDG_DATA_HOME", "XDG_DATA_DIRS", "XDG_CONFIG_DIRS"}) qunsetenv(name);
    qputenv("XDG_CONFIG_HOME", configHome);
  }

  void copyPathKeepsTheBytesOfTheName() {
    const std::string name = "caf\xE9 & co.txt";  // Latin-1, not UTF-8
    QVERIFY(MakeFile(f_->left + "/" + name, 1));
    QVERIFY(f_->Show());
    QVERIFY(f_->Put(L(), name));
    MenuItem("ItemCopyPath")->trigger();
    const QMimeData* data = QApplication::clipboard()->mimeData();
    QVERIFY(data);
    const QByteArray uri = data->data(QStringLiteral("text/uri-list")).trimmed();
    QVERIFY2(uri.endsWith("/caf%E9%20%26%20co.txt"), uri.constData());
    QCOMPARE(QByteArray::fromPercentEncoding(uri.mid(7)).toStdString(), f_->left + "/" + name);
    QCOMPARE(data->text(), Q(f_->left) + QStringLiteral("/caf\uFFFD & co.txt"));
    ::unlink((f_->left + "/" + name).c_str());  // a name QTemporaryDir cannot remove
  }

  void propertiesOfFilesLinksAndDirectories() {
    const std::string file = f_->left + "/ro.txt", target = f_->left + "/target.txt";
    WriteText(file, "12345");
    ::chmod(file.c_str(), 0444);
    WriteText(target, "t");
    ::chmod(target.c_str(), 0600);
    QVERIFY(::symlink("target.txt", (f_->left + "/link").c_str()) == 0);
    QVERIFY(MakeDir(f_->left + "/tree/a/b"));
    QVERIFY(MakeFile(f_->left + "/tree/one", 1000) && MakeFile(f_->left + "/tree/a/two", 234));
    QVERIFY(f_->Show());
    QVERIFY(f_->Put(L(), "ro.txt"));
    MenuItem("ItemProperties")->trigger();
    auto* dialog = f_->form->findChild<app::TPropertiesForm*>();
    QVERIFY(dialog);
    QCOMPARE(dialog->Field(QStringLiteral("PropName")), QStringLiteral("ro.txt"));
    QCOMPARE(dialog->Field(QStringLiteral("PropPath")), Q(file));
    QVERIFY(dialog->Field(QStringLiteral("PropType")).contains(QLatin1String("text/plain")));
    QCOMPARE(dialog->Field(QStringLiteral("PropSize")), QStringLiteral("5 bytes"));
    QCOMPARE(dialog->OctalEdit()->text(), QStringLiteral("0444"));
    for (int i = 0; i < 9; ++i) QCOMPARE(dialog->PermissionBox(i)->isChecked(), i % 3 == 0);
    dialog->PermissionBox(1)->click();  // owner write
    QCOMPARE(dialog->OctalEdit()->text(), QStringLiteral("0644"));
    QCOMPARE(ModeOf(file), 0444u);  // nothing before OK
    QVERIFY(dialog->Apply());
    QCOMPARE(ModeOf(file), 0644u);
    dialog->OctalEdit()->selectAll();  // typing the octal value ticks the boxes
    QTest::keyClicks(dialog->OctalEdit(), QStringLiteral("0751"));
    QVERIFY(dialog->PermissionBox(2)->isChecked() && !dialog->PermissionBox(4)->isChecked() &&
            dialog->PermissionBox(8)->isChecked());
    // A link: its target shown, its modes never applied to the target.
    app::TPropertiesForm link(f_->left + "/link");
    QCOMPARE(link.Field(QStringLiteral("PropTarget")), QStringLiteral("target.txt"));
    QVERIFY(!link.PermissionBox(0)->isEnabled() && link.OctalEdit()->isReadOnly());
    QVERIFY(link.Apply());
    QCOMPARE(ModeOf(target), 0600u);
    // ".." stands for the panel's own directory; a directory is counted in the background.
    L()->SetCursor(0);
    MenuItem("ItemProperties")->trigger();
    QTRY_VERIFY(f_->form->findChildren<app::TPropertiesForm*>().size() == 2);
    QCOMPARE(f_->form->findChildren<app::TPropertiesForm*>().last()->Path(), f_->left);
    app::TPropertiesForm tree(f_->left + "/tree");
    QTRY_VERIFY(!tree.Measuring());
    QCOMPARE(tree.Field(QStringLiteral("PropSize")), QStringLiteral("1,234 bytes in 2 files, 2 directories"));
  }
};

QTEST_MAIN(FileCmdsTest)
#include "filecmds_test.moc"
