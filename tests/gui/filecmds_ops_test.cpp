// filecmds_ops_test.cpp - copy, move and delete from the real main window,
// offscreen, with scripted answers: the destination prompt, the overwrite
// question, the delete confirmation, Cancel in the operation window, and the
// panels re-read with the cursor on the first entry afterwards.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include "app/file_commands.h"
#include "fileops/qt/operationform.h"
#include "filecmds_support.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::MessageAnswer;
using app::MessageKind;

namespace {
const QString kMain = QStringLiteral("Vantrel v. 1.6 (beta)");
}

class FileCmdsOpsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;

  fileops::TOperationForm* Window() const { return app::OperationForm(*f_->form); }

 private slots:
  void init() {
    InstallScript();
    f_ = std::make_unique<TFormFixture>();
    QVERIFY(f_->Open());
  }
  void cleanup() { f_.reset(); }

  void commandsWithoutAPanelReportNoSelectedFiles() {
    QVERIFY(MakeFile(f_->left + "/a.txt", 3));
    QVERIFY(f_->Show());
    QLineEdit* edit = f_->form->CommandEdit();
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    for (Qt::Key key : {Qt::Key_F5, Qt::Key_F6, Qt::Key_F3, Qt::Key_F4}) {
      TScript::Get().shown.clear();
      QTest::keyClick(edit, key);
      QCOMPARE(TScript::Get().Texts(), QStringList({"There are no selected files"}));
      QCOMPARE(TScript::Get().shown[0].kind, MessageKind::Warning);
      QCOMPARE(TScript::Get().shown[0].caption, kMain);
    }
    TScript::Get().shown.clear();
    QTest::keyClick(edit, Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(TScript::Get().Texts(), QStringList({"There are no selected files"}));
    QVERIFY(TScript::Get().prompts.empty());
    QVERIFY(!Exists(f_->right + "/a.txt"));
  }

  void dotDotAloneIsNoSelection() {
    QVERIFY(QDir().mkpath(QString::fromStdString(f_->left + "/sub")));
    f_->left += "/sub";
    QVERIFY(f_->Show());
    QCOMPARE(f_->L()->CurrentEntry()->FileName, std::string(".."));
    for (Qt::Key key : {Qt::Key_F5, Qt::Key_F6, Qt::Key_Delete}) {
      TScript::Get().shown.clear();
      QTest::keyClick(f_->L(), key);
      QCOMPARE(TScript::Get().Texts(), QStringList({"There are no selected files"}));
    }
    QVERIFY(TScript::Get().prompts.empty());
  }

  void copyMarkedEntriesThroughThePrompt() {
    QVERIFY(MakeFile(f_->left + "/a.txt", 100));
    QVERIFY(MakeFile(f_->left + "/b.txt", 200));
    QVERIFY(MakeFile(f_->left + "/c.txt", 300));
    QVERIFY(QDir().mkpath(QString::fromStdString(f_->left + "/tree/deep")));
    QVERIFY(MakeFile(f_->left + "/tree/deep/d.bin", 5000));
    QVERIFY(f_->Show());
    QVERIFY(f_->Mark(f_->L(), "a.txt"));
    QVERIFY(f_->Mark(f_->L(), "tree"));
    f_->L()->SetCursor(f_->L()->IndexOfName("c.txt"));  // not marked: not copied

    // Seen from inside the operation: the window shows the copy's text.
    QString panelText;
    bool shownDuring = false;
    auto& op = Window()->FMOperation;
    const auto original = op.OnGlobalDone;
    op.OnGlobalDone = [&](fileops::TFMOperation& sender, int percent) {
      shownDuring = Window()->isVisible();
      panelText = Window()->Panel()->text();
      original(sender, percent);
    };
    TScript::Get().inputs.push_back(QString::fromStdString(f_->right));
    QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
    op.OnGlobalDone = original;

    QCOMPARE(TScript::Get().prompts, std::vector<QString>({"Copy selected files to:"}));
    QCOMPARE(TScript::Get().prefilled, std::vector<QString>({QString::fromStdString(f_->right)}));
    QVERIFY(TScript::Get().shown.empty());
    QVERIFY(shownDuring);
    QCOMPARE(panelText, QStringLiteral("Copy files...Wait"));
    QVERIFY(!Window()->isVisible());
    QCOMPARE(Window()->Gauge()->value(), 100);

    QCOMPARE(ReadText(f_->right + "/a.txt").size(), 100);
    QCOMPARE(QFileInfo(QString::fromStdString(f_->right + "/tree/deep/d.bin")).size(), 5000);
    QVERIFY(!Exists(f_->right + "/b.txt"));
    QVERIFY(!Exists(f_->right + "/c.txt"));
    QVERIFY(Exists(f_->left + "/a.txt"));
    // Both panels re-read; the focused panel's cursor on its first entry, marks gone.
    QVERIFY(f_->Listed(f_->R(), "a.txt"));
    QVERIFY(f_->Listed(f_->R(), "tree"));
    QTRY_VERIFY(f_->L()->hasFocus());
    QCOMPARE(f_->L()->Cursor(), 0);
    QVERIFY(!f_->L()->IsMarked(f_->L()->IndexOfName("a.txt")));
  }

  void copyToAnEditedDestinationAndCancelledPrompt() {
    QVERIFY(MakeFile(f_->left + "/a.txt", 10));
    const std::string other = Std(f_->tmp.filePath(QStringLiteral("other")));
    QVERIFY(QDir().mkpath(QString::fromStdString(other)));
    QVERIFY(f_->Show());
    f_->L()->SetCursor(f_->L()->IndexOfName("a.txt"));
    QVERIFY(f_->Press(f_->L(), Qt::Key_F5));  // the script cancels the prompt
    QVERIFY(!Exists(f_->right + "/a.txt"));
    QVERIFY(!Window()->isVisible());

    f_->L()->SetCursor(f_->L()->IndexOfName("a.txt"));
    TScript::Get().inputs.push_back(QString::fromStdString(other));
    QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
    QVERIFY(Exists(other + "/a.txt"));
    QVERIFY(!Exists(f_->right + "/a.txt"));

    // A relative destination is taken relative to the source directory.
    f_->L()->SetCursor(f_->L()->IndexOfName("a.txt"));
    QVERIFY(QDir().mkpath(QString::fromStdString(f_->left + "/inner")));
    TScript::Get().inputs.push_back(QStringLiteral("inner"));
    QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
    QVERIFY(Exists(f_->left + "/inner/a.txt"));
  }

  void overwriteYesNoAllCancel() {
    for (const char* name : {"1.txt", "2.txt", "3.txt"}) {
      WriteText(f_->left + "/" + name, "new");
      WriteText(f_->right + "/" + name, "old!");
    }
    QVERIFY(f_->Show());
    auto copyAll = [&](std::initializer_list<MessageAnswer> answers) {
      TScript::Get().shown.clear();
      TScript::Get().answers = answers;
      for (const char* name : {"1.txt", "2.txt", "3.txt"}) QVERIFY(f_->Mark(f_->L(), name));
      TScript::Get().inputs.push_back(QString::fromStdString(f_->right));
      QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
      QVERIFY(TScript::Get().answers.empty());
    };
    auto contents = [&] {
      return QStringList({ReadText(f_->right + "/1.txt"), ReadText(f_->right + "/2.txt"),
                          ReadText(f_->right + "/3.txt")});
    };

    // No, Yes, No: only the second is replaced.
    copyAll({MessageAnswer::No, MessageAnswer::Yes, MessageAnswer::No});
    QCOMPARE(TScript::Get().Texts(),
             QStringList({"Overwrite file 1.txt?", "Overwrite file 2.txt?", "Overwrite file 3.txt?"}));
    for (const TShownMessage& m : TScript::Get().shown) {
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
    QCOMPARE(contents(), QStringList({"old!", "new", "old!"}));

    // Cancel at the first question ends the operation: nothing further, and
    // it is no abort.
    WriteText(f_->right + "/2.txt", "old!");
    copyAll({MessageAnswer::Cancel});
    QCOMPARE(TScript::Get().Texts(), QStringList({"Overwrite file 1.txt?"}));
    QCOMPARE(contents(), QStringList({"old!", "old!", "old!"}));

    // All: one question replaces all three.
    copyAll({MessageAnswer::All});
    QCOMPARE(TScript::Get().Texts(), QStringList({"Overwrite file 1.txt?"}));
    QCOMPARE(contents(), QStringList({"new", "new", "new"}));

    // All lasted for that operation only: the next one asks again.
    WriteText(f_->right + "/1.txt", "old!");
    copyAll({MessageAnswer::No, MessageAnswer::No, MessageAnswer::No});
    QCOMPARE(TScript::Get().shown.size(), size_t(3));
    QCOMPARE(ReadText(f_->right + "/1.txt"), QStringLiteral("old!"));
  }

  void moveWithOverwriteAnsweredNoKeepsTheSource() {
    WriteText(f_->left + "/a.txt", "moved?");
    WriteText(f_->left + "/b.txt", "bbb");
    QVERIFY(QDir().mkpath(QString::fromStdString(f_->left + "/d")));
    WriteText(f_->left + "/d/x.txt", "xnew");
    QVERIFY(QDir().mkpath(QString::fromStdString(f_->right + "/d")));
    WriteText(f_->right + "/a.txt", "kept");
    WriteText(f_->right + "/d/x.txt", "xold");
    QVERIFY(f_->Show());
    for (const char* name : {"a.txt", "b.txt", "d"}) QVERIFY(f_->Mark(f_->L(), name));
    TScript::Get().inputs.push_back(QString::fromStdString(f_->right));
    TScript::Get().answers = {MessageAnswer::No, MessageAnswer::No};
    QVERIFY(f_->Press(f_->L(), Qt::Key_F6));
    QCOMPARE(TScript::Get().prompts, std::vector<QString>({"Move selected files to:"}));
    QCOMPARE(TScript::Get().Texts(),
             QStringList({"Overwrite file d/x.txt?", "Overwrite file a.txt?"}));
    // Declined items stay where they were, with the directory above them.
    QCOMPARE(ReadText(f_->left + "/a.txt"), QStringLiteral("moved?"));
    QCOMPARE(ReadText(f_->right + "/a.txt"), QStringLiteral("kept"));
    QCOMPARE(ReadText(f_->left + "/d/x.txt"), QStringLiteral("xnew"));
    QCOMPARE(ReadText(f_->right + "/d/x.txt"), QStringLiteral("xold"));
    QVERIFY(!Exists(f_->left + "/b.txt"));
    QCOMPARE(ReadText(f_->right + "/b.txt"), QStringLiteral("bbb"));
    QVERIFY(!f_->Listed(f_->L(), "b.txt"));
    QVERIFY(f_->Listed(f_->R(), "b.txt"));
    QCOMPARE(f_->L()->Cursor(), 0);
  }

  void deleteAsksAndDeletesOnlyTheMarked() {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) QVERIFY(MakeFile(f_->left + "/" + name, 5));
    QVERIFY(QDir().mkpath(QString::fromStdString(f_->left + "/tree/sub")));
    QVERIFY(MakeFile(f_->left + "/tree/sub/f", 5));
    QVERIFY(f_->Show());
    QVERIFY(f_->Mark(f_->L(), "a.txt"));
    QVERIFY(f_->Mark(f_->L(), "tree"));
    f_->L()->SetCursor(f_->L()->IndexOfName("c.txt"));

    TScript::Get().answers = {MessageAnswer::No};
    QVERIFY(f_->Press(f_->L(), Qt::Key_Delete));
    QCOMPARE(TScript::Get().Texts(), QStringList({"Delete selected files?"}));
    QCOMPARE(TScript::Get().shown[0].kind, MessageKind::Question);
    QCOMPARE(TScript::Get().shown[0].caption, kMain);
    QVERIFY(Exists(f_->left + "/a.txt"));
    QVERIFY(Exists(f_->left + "/tree/sub/f"));

    TScript::Get().shown.clear();
    TScript::Get().answers = {MessageAnswer::Yes};
    RunDeleteCommand(*f_->form);  // the command F8 runs from a panel
    QCOMPARE(TScript::Get().Texts(), QStringList({"Delete selected files?"}));
    QVERIFY(!Exists(f_->left + "/a.txt"));
    QVERIFY(!Exists(f_->left + "/tree"));
    QVERIFY(Exists(f_->left + "/b.txt"));
    QVERIFY(Exists(f_->left + "/c.txt"));
    QCOMPARE(Window()->windowTitle(), kMain);
    QVERIFY(!f_->Listed(f_->L(), "a.txt"));
    QCOMPARE(f_->L()->Cursor(), 0);
  }

  void failuresAreReportedAndTheOperationGoesOn() {
    QVERIFY(MakeFile(f_->left + "/a.txt", 5));
    QVERIFY(MakeFile(f_->left + "/b.txt", 5));
    // A file where the directory "a.txt" would have to be is fine; a
    // destination that is not a directory is not.
    QVERIFY(MakeFile(f_->right + "/notadir", 1));
    QVERIFY(f_->Show());
    QVERIFY(f_->Mark(f_->L(), "a.txt"));
    QVERIFY(f_->Mark(f_->L(), "b.txt"));
    TScript::Get().inputs.push_back(QString::fromStdString(f_->right + "/notadir"));
    QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
    QCOMPARE(TScript::Get().Texts(),
             QStringList({"Could not copy file a.txt", "Could not copy file b.txt"}));
    for (const TShownMessage& m : TScript::Get().shown) {
      QCOMPARE(m.kind, MessageKind::Failure);
      QVERIFY(m.text.endsWith(QStringLiteral("\nNot a directory")));  // the system's reason
    }
    QVERIFY(!Window()->isVisible());

    // Thirty failures: "Skip all" at the first, then one summary of all.
    for (int i = 0; i < 28; ++i) QVERIFY(MakeFile(f_->left + "/m" + std::to_string(i), 1));
    QVERIFY(f_->Show());
    f_->L()->MarkAllFiles();
    TScript::Get().Reset();
    TScript::Get().answers = {MessageAnswer::SkipAll};
    TScript::Get().inputs.push_back(QString::fromStdString(f_->right + "/notadir"));
    QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
    const auto& shown = TScript::Get().shown;
    QCOMPARE(shown.size(), size_t(2));
    QCOMPARE(shown[0].kind, MessageKind::Failure);
    QCOMPARE(shown[1].kind, MessageKind::Summary);
    const QStringList lines = shown[1].text.split(QLatin1Char('\n'));
    QCOMPARE(lines.front(), QStringLiteral("30 items were skipped:"));
    QCOMPARE(lines.size(), 31);
    QCOMPARE(lines[1], QStringLiteral("Could not copy file a.txt: Not a directory"));
  }

  void cancelDuringManySmallFiles() {
    QVERIFY(QDir().mkpath(QString::fromStdString(f_->left + "/many")));
    for (int i = 0; i < 400; ++i) QVERIFY(MakeFile(f_->left + "/many/f" + std::to_string(i), 1000));
    QVERIFY(f_->Show());
    auto& op = Window()->FMOperation;
    const auto original = op.OnGlobalDone;

    // Cancel clicked at 30 %, "Abort operation?" answered No: everything is copied.
    int clicks = 0;
    op.OnGlobalDone = [&](fileops::TFMOperation& sender, int percent) {
      if (percent >= 30 && clicks == 0) {
        ++clicks;
        // Queued, so it is served by the window like a real click.
        QTimer::singleShot(0, Window()->CancelButton(), &QPushButton::click);
        QTimer::singleShot(0, Window()->CancelButton(), &QPushButton::click);  // twice: one question
      }
      original(sender, percent);
    };
    f_->L()->SetCursor(f_->L()->IndexOfName("many"));
    TScript::Get().inputs.push_back(QString::fromStdString(f_->right));
    TScript::Get().answers = {MessageAnswer::No};
    QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
    QCOMPARE(TScript::Get().Texts(), QStringList({"Abort operation?"}));
    QCOMPARE(TScript::Get().shown[0].caption, QStringLiteral("Confirm"));
    QCOMPARE(QDir(QString::fromStdString(f_->right + "/many")).entryList(QDir::Files).size(), 400);

    // Answered Yes: the copy stops part-way, "Operation aborted" follows the
    // window, and both panels are re-read all the same.
    QVERIFY(QDir(QString::fromStdString(f_->right + "/many")).removeRecursively());
    TScript::Get().Reset();
    clicks = 0;
    f_->L()->SetCursor(f_->L()->IndexOfName("many"));
    TScript::Get().inputs.push_back(QString::fromStdString(f_->right));
    TScript::Get().answers = {MessageAnswer::Yes};
    QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
    QCOMPARE(TScript::Get().Texts(), QStringList({"Abort operation?", "Operation aborted"}));
    QCOMPARE(TScript::Get().shown[1].kind, MessageKind::Information);
    QCOMPARE(TScript::Get().shown[1].caption, kMain);
    const qsizetype copied =
        QDir(QString::fromStdString(f_->right + "/many")).entryList(QDir::Files).size();
    QVERIFY2(copied > 0 && copied < 400, qPrintable(QString::number(copied)));
    QVERIFY(f_->Listed(f_->R(), "many"));
    QCOMPARE(f_->L()->Cursor(), 0);

    // Cancel at the very end (after the last item): no question, only
    // "Operation aborted".
    QVERIFY(QDir(QString::fromStdString(f_->right + "/many")).removeRecursively());
    TScript::Get().Reset();
    op.OnGlobalDone = [&](fileops::TFMOperation& sender, int percent) {
      if (percent == 100) Window()->CancelButton()->click();
      original(sender, percent);
    };
    f_->L()->SetCursor(f_->L()->IndexOfName("many"));
    TScript::Get().inputs.push_back(QString::fromStdString(f_->right));
    QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
    op.OnGlobalDone = original;
    QCOMPARE(TScript::Get().Texts(), QStringList({"Operation aborted"}));
    QCOMPARE(QDir(QString::fromStdString(f_->right + "/many")).entryList(QDir::Files).size(), 400);
  }

  void cancelInsideOneLargeFileAsksAtOnce() {
    const std::string big = f_->left + "/big.bin";
    {
      QFile file(QString::fromStdString(big));
      QVERIFY(file.open(QIODevice::WriteOnly));
      const QByteArray block(1 << 20, 'z');
      for (int i = 0; i < 96; ++i) QVERIFY(file.write(block) == block.size());
    }
    QVERIFY(f_->Show());
    auto& op = Window()->FMOperation;
    const auto original = op.OnGlobalDone;
    const auto interval = op.ProgressInterval;
    op.ProgressInterval = std::chrono::milliseconds(0);
    bool clicked = false;
    int percentAtClick = -1;
    op.OnGlobalDone = [&](fileops::TFMOperation& sender, int percent) {
      if (!clicked && percent < 100) {
        clicked = true;
        percentAtClick = percent;
        QTimer::singleShot(0, Window()->CancelButton(), &QPushButton::click);
      }
      original(sender, percent);
    };
    f_->L()->SetCursor(f_->L()->IndexOfName("big.bin"));
    TScript::Get().inputs.push_back(QString::fromStdString(f_->right));
    TScript::Get().answers = {MessageAnswer::Yes};
    QVERIFY(f_->Press(f_->L(), Qt::Key_F5));
    op.OnGlobalDone = original;
    op.ProgressInterval = interval;
    if (!clicked) QSKIP("the file was copied before a progress event came inside it");
    QVERIFY(percentAtClick < 100);
    QCOMPARE(TScript::Get().Texts(), QStringList({"Abort operation?", "Operation aborted"}));
    // Yes threw the partial copy away: nothing at the destination, no
    // temporary file left behind.
    QCOMPARE(QDir(QString::fromStdString(f_->right))
                 .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot)
                 .size(),
             0);
  }

  void copyPathsFromElsewhere() {
    const std::string a = Std(f_->tmp.filePath(QStringLiteral("x/one.txt")));
    const std::string b = Std(f_->tmp.filePath(QStringLiteral("y/two")));
    QVERIFY(QDir().mkpath(f_->tmp.filePath(QStringLiteral("x"))));
    QVERIFY(QDir().mkpath(f_->tmp.filePath(QStringLiteral("y/two"))));
    WriteText(a, "1");
    WriteText(b + "/inner.txt", "2");
    WriteText(f_->right + "/one.txt", "old");
    QVERIFY(f_->Show());
    TScript::Get().answers = {MessageAnswer::Yes};
    app::CopyPathsInto(*f_->form, {a, b + "/"}, f_->right);
    QCOMPARE(TScript::Get().Texts(), QStringList({"Overwrite file one.txt?"}));
    QCOMPARE(ReadText(f_->right + "/one.txt"), QStringLiteral("1"));
    QCOMPARE(ReadText(f_->right + "/two/inner.txt"), QStringLiteral("2"));
    QVERIFY(f_->Listed(f_->R(), "two"));
    QVERIFY(Exists(a));
  }

  void operationWindowLayout() {
    QVERIFY(f_->Show());
    fileops::TOperationForm* w = Window();
    QCOMPARE(w->size(), QSize(398, 128));
    QVERIFY(!(w->windowFlags() & Qt::WindowCloseButtonHint));
    QVERIFY(!(w->windowFlags() & Qt::WindowSystemMenuHint));
    QCOMPARE(w->CancelButton()->text(), QStringLiteral("Cancel"));
    QCOMPARE(w->CancelButton()->geometry(), QRect(160, 96, 75, 25));
    QCOMPARE(w->Gauge()->geometry(), QRect(8, 56, 385, 25));
    QCOMPARE(w->Panel()->geometry(), QRect(8, 8, 385, 41));
    QCOMPARE(w->Gauge()->minimum(), 0);
    QCOMPARE(w->Gauge()->maximum(), 100);
    w->GlobalDone(250);
    QCOMPARE(w->Gauge()->value(), 100);
    w->GlobalDone(-3);
    QCOMPARE(w->Gauge()->value(), 0);
    QCOMPARE(w->Gauge()->text(), QStringLiteral("0%"));

    // Escape and a close request leave a running operation's window alone.
    w->Begin(QStringLiteral("Copy files...Wait"));
    QVERIFY(w->isVisible());
    QTest::keyClick(w, Qt::Key_Escape);
    QVERIFY(w->isVisible());
    QVERIFY(!w->close());
    QVERIFY(w->isVisible());
    QVERIFY(!w->FMOperation.OperationAborted);
    w->End();
    QVERIFY(!w->isVisible());
  }
};

QTEST_MAIN(FileCmdsOpsTest)
#include "filecmds_ops_test.moc"
