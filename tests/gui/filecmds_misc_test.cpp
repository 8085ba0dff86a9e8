// filecmds_misc_test.cpp - the main window's other file commands, offscreen:
// View and Edit with missing and fake programs, the command line, directory
// size, help, the messages table, and which commands are enabled.
#include <QAction>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTextBrowser>
#include <QToolBar>

#include "app/file_commands.h"
#include "app/message_table.h"
#include "app/settings.h"
#include "filecmds_support.h"
#include "platform/process.h"
#include "platform/qt/help.h"
#include "platform/text.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::MessageKind;

class FileCmdsMiscTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;

  // A program that writes its argument count and each argument, one per
  // line, into `out`.
  std::string FakeProgram(const std::string& out) {
    const std::string path = Std(f_->tmp.filePath(QStringLiteral("fake prog")));
    WriteText(path, "#!/bin/sh\n{ echo \"$#\"; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > '" +
                        out + ".tmp' && mv '" + out + ".tmp' '" + out + "'\n");
    QFile(QString::fromStdString(path)).setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                       QFileDevice::ExeOwner);
    return path;
  }

 private slots:
  void init() {
    InstallScript();
    f_ = std::make_unique<TFormFixture>();
    QVERIFY(f_->Open());
  }
  void cleanup() { f_.reset(); }

  void messagesTableHoldsTheElevenTexts() {
    app::BuildMessagesTable();
    const QStringList expected = {"There are no selected files", "Copy selected files to:",
                                  "Move selected files to:",     "Delete selected files?",
                                  "Copy files...Wait",           "Move files...Wait",
                                  "Delete files...Wait",         "Operation aborted",
                                  "Drive not found",             "Viewer not found",
                                  "Editor not found"};
    QCOMPARE(app::kMessageCount, 11);
    for (int i = 0; i < app::kMessageCount; ++i) {
      QCOMPARE(app::Msg(static_cast<app::TMsg>(i)), expected[i]);
      QCOMPARE(QLatin1String(app::EnglishMessage(static_cast<app::TMsg>(i))), expected[i]);
    }
    // A lookup is asked once per text, in table order, by the English text.
    QStringList asked;
    app::BuildMessagesTable([&](const std::string& english) {
      asked << QString::fromStdString(english);
      return english == "Operation aborted" ? std::string("Vorgang abgebrochen") : english;
    });
    QCOMPARE(asked, expected);
    QCOMPARE(app::Msg(app::TMsg::OperationAborted), QStringLiteral("Vorgang abgebrochen"));
    QCOMPARE(app::Msg(app::TMsg::DriveNotFound), QStringLiteral("Drive not found"));
    app::BuildMessagesTable();
    QCOMPARE(app::Msg(app::TMsg::OperationAborted), QStringLiteral("Operation aborted"));
  }

  void commandsOfThisGroupAreEnabledLaterOnesNot() {
    QVERIFY(f_->Show());
    for (const char* name : {"mnuFileDelete", "mnuFileView", "mnuFileEdit", "mnuFileCopy",
                             "mnuFileMove", "mnuCmndDirSize", "mnuHlpContents", "mnuFileExit"})
      QVERIFY2(f_->form->Action(QLatin1String(name))->isEnabled(), name);
    // No formatting tool on this system.
    QVERIFY(!f_->form->Action(QStringLiteral("mnuCmndFrmtDiskette"))->isEnabled());
    // Toolbar buttons carry an icon and their hint.
    for (const char* name : {"mnuFileDelete", "mnuFileView", "mnuFileEdit", "mnuFileCopy",
                             "mnuFileMove"}) {
      QAction* action = f_->form->Action(QLatin1String(name));
      QVERIFY2(!action->icon().isNull(), name);
      QVERIFY(f_->form->MainToolBar()->actions().contains(action));
    }
    QCOMPARE(f_->form->Action(QStringLiteral("mnuFileCopy"))->toolTip(),
             QStringLiteral("Copy file (F5)"));
  }

  void viewAndEditWithMissingPrograms() {
    QVERIFY(MakeFile(f_->left + "/a.txt", 3));
    QVERIFY(QDir().mkpath(QString::fromStdString(f_->left + "/dir")));
    QVERIFY(f_->Show());
    // The default viewer lives in the program directory (the tests' own has none).
    QCOMPARE(f_->form->ViewerCommand, f_->form->ProgramDir() + app::kDefaultViewerName);
    // A default named "vnview.exe" by older settings stands for it.
    QCOMPARE(app::ViewerProgram("/old/place/vnview.exe", "/prog/"), std::string("/prog/vnview"));
    QCOMPARE(app::ViewerProgram("less -R", "/prog/"), std::string("less -R"));
    QVERIFY(f_->Listed(f_->L(), "a.txt"));
    f_->L()->SetCursor(f_->L()->IndexOfName("a.txt"));
    QVERIFY(f_->Press(f_->L(), Qt::Key_F3));
    QCOMPARE(TScript::Get().Texts(), QStringList({"Viewer not found"}));
    QCOMPARE(TScript::Get().shown[0].kind, MessageKind::Error);
    QCOMPARE(TScript::Get().shown[0].caption, QStringLiteral("Vantrel v. 1.6 (beta)"));

    TScript::Get().shown.clear();
    f_->form->EditorCommand = Std(f_->tmp.filePath(QStringLiteral("no-such-editor"))) + " --flag";
    QVERIFY(f_->Press(f_->L(), Qt::Key_F4));
    QCOMPARE(TScript::Get().Texts(), QStringList({"Editor not found"}));

    // A directory under the cursor is no file to view.
    TScript::Get().shown.clear();
    f_->L()->SetCursor(f_->L()->IndexOfName("dir"));
    QVERIFY(f_->Press(f_->L(), Qt::Key_F3));
    QCOMPARE(TScript::Get().Texts(), QStringList({"There are no selected files"}));
  }

  void viewerReceivesTheNameAsOneArgument() {
    const std::string name = "my notes; $(touch pwned) 'q\" `id`.txt";
    WriteText(f_->left + "/" + name, "text");
    QVERIFY(f_->Show());
    const std::string out = Std(f_->tmp.filePath(QStringLiteral("args.txt")));
    const std::string prog = FakeProgram(out);
    // The command's own words come first; the quoted program path holds a blank.
    f_->form->ViewerCommand = "\"" + prog + "\" -v";
    QVERIFY(f_->Listed(f_->L(), name));
    f_->L()->SetCursor(f_->L()->IndexOfName(name));
    QVERIFY(f_->Press(f_->L(), Qt::Key_F3));
    QTRY_VERIFY_WITH_TIMEOUT(Exists(out), 10000);
    QCOMPARE(ReadText(out), QStringLiteral("2\n-v\n") + QString::fromStdString(name) + "\n");
    QVERIFY(TScript::Get().shown.empty());
    QVERIFY(!Exists(f_->left + "/pwned"));

    // Edit the same way; a program path with a blank works unquoted too.
    QFile::remove(QString::fromStdString(out));
    f_->form->EditorCommand = prog;
    QVERIFY(f_->Press(f_->L(), Qt::Key_F4));
    QTRY_VERIFY_WITH_TIMEOUT(Exists(out), 10000);
    QCOMPARE(ReadText(out), QStringLiteral("1\n") + QString::fromStdString(name) + "\n");
    QVERIFY(TScript::Get().shown.empty());
  }

  void defaultEditorStandsForThePlatformEditor() {
    QCOMPARE(app::EditorProgram("notepad.exe"), platform::DefaultEditor());
    QCOMPARE(app::EditorProgram("NOTEPAD.EXE"), platform::DefaultEditor());
    QCOMPARE(app::EditorProgram("notepad"), platform::DefaultEditor());
    QCOMPARE(app::EditorProgram("vi -n"), std::string("vi -n"));
    QVERIFY(!platform::DefaultEditor().empty());
  }

  void commandLineRunsThroughTheShellInThePanelsDirectory() {
    QVERIFY(f_->Show());
    QLineEdit* edit = f_->form->CommandEdit();
    QCOMPARE(edit->text(), QString::fromStdString(f_->left));
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    const QString command = QStringLiteral("echo one two | tr ' ' '-' > 'out file.txt'");
    edit->setText(command);
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(ReadText(f_->left + "/out file.txt") == QStringLiteral("one-two\n"),
                             10000);
    QCOMPARE(edit->text(), command);  // the text stays

    // After the focus went to the right panel, its directory is the one used.
    f_->R()->setFocus();
    QTRY_VERIFY(f_->R()->hasFocus());
    QCOMPARE(edit->text(), QString::fromStdString(f_->right));
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    edit->setText(QStringLiteral("touch here"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_VERIFY_WITH_TIMEOUT(Exists(f_->right + "/here"), 10000);
    QVERIFY(!Exists(f_->left + "/here"));
    QVERIFY(TScript::Get().shown.empty());
  }

  void directorySizeGoesToTheFileLine() {
    QVERIFY(QDir().mkpath(QString::fromStdString(f_->left + "/Docs/inner")));
    QVERIFY(MakeFile(f_->left + "/Docs/a", 1234000));
    QVERIFY(MakeFile(f_->left + "/Docs/inner/b", 567));
    QVERIFY(QDir().mkpath(QString::fromStdString(f_->left + "/Empty")));
    QVERIFY(MakeFile(f_->left + "/file.bin", 42));
    QVERIFY(f_->Show());
    QLabel* line = f_->form->Left().FilePanel;

    f_->L()->SetCursor(f_->L()->IndexOfName("Docs"));
    QTest::keyClick(f_->L(), Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(line->text(),
             QString::fromStdString("Docs- size:" + platform::FormatThousands(1234567) + " bytes"));
    // The panels are not re-read: the cursor stays.
    QCOMPARE(f_->L()->Cursor(), f_->L()->IndexOfName("Docs"));

    f_->L()->SetCursor(f_->L()->IndexOfName("Empty"));
    QTest::keyClick(f_->L(), Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(line->text(), QStringLiteral("Empty- size:0 bytes"));

    f_->L()->SetCursor(f_->L()->IndexOfName("file.bin"));
    QTest::keyClick(f_->L(), Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(line->text(), QStringLiteral("file.bin- size:42 bytes"));
    QVERIFY(TScript::Get().shown.empty());
  }

  void directorySizeOnDotDotDoesNothing() {
    QVERIFY(QDir().mkpath(QString::fromStdString(f_->left + "/sub")));
    f_->left += "/sub";
    QVERIFY(f_->Show());
    QLabel* line = f_->form->Left().FilePanel;
    line->setText(QStringLiteral("unchanged"));
    QTest::keyClick(f_->L(), Qt::Key_G, Qt::ControlModifier);
    QCOMPARE(line->text(), QStringLiteral("unchanged"));
    QVERIFY(TScript::Get().shown.empty());
  }

  void f1OpensTheHelpAtItsContents() {
    QVERIFY(f_->Show());
    QVERIFY(f_->Press(f_->L(), Qt::Key_F1));
    QTextBrowser* help = platform::HelpWindow();
    QVERIFY(help != nullptr);
    QTRY_VERIFY(help->isVisible());
    QCOMPARE(help->source(), QUrl(QStringLiteral("qrc:/help/contents.html")));
    QCOMPARE(help->documentTitle(), QStringLiteral("Vantrel help"));
    QVERIFY(help->toPlainText().contains(QStringLiteral("Copy, move and delete")));

    // Each dialog's context number has a topic of its own; unknown numbers
    // show the contents.
    const std::pair<int, const char*> topics[] = {
        {401, "New file"},  {407, "Rename"},        {408, "Pack to ZIP"},
        {409, "The ZIP window"}, {501, "New directory"}, {502, "Find file"},
        {803, "About Vantrel"}, {302, "Panel settings"}, {702, "Panel settings"},
        {601, "General settings"}, {602, "Font"}, {604, "Select language"},
        {6031, "Select Color"}, {6032, "Colour schemes"}, {6033, "Colour schemes"},
        {12345, "Vantrel help"}};
    for (const auto& [context, title] : topics) {
      QVERIFY(platform::ShowHelp(context));
      QCOMPARE(help->documentTitle(), QLatin1String(title));
      QVERIFY2(help->toPlainText().size() > 100 || context == 803, title);
    }
    // Every link of the contents leads to a page that exists.
    platform::ShowHelp(0);
    const QString html = help->toHtml();
    qsizetype at = 0;
    int links = 0;
    while ((at = html.indexOf(QStringLiteral("href=\""), at)) >= 0) {
      at += 6;
      const QString target = html.mid(at, html.indexOf(QLatin1Char('"'), at) - at);
      QVERIFY2(QFileInfo::exists(QStringLiteral(":/help/") + target), qPrintable(target));
      ++links;
    }
    QVERIFY(links >= 12);
    help->close();
  }
};

QTEST_MAIN(FileCmdsMiscTest)
#include "filecmds_misc_test.moc"
