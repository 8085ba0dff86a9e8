// mainform_extras_test.cpp - the real main window, offscreen: "cd" and shell
// commands in the command line with their output and history, the editable
// path line, back and forward, the directory history and the hotlist across
// a restart, and marking by mask through its dialog.
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QSplitter>
#include <QTabBar>
#include <QTest>

#include <cmath>
#include <cstdlib>
#include <memory>

#include "app/command_line.h"
#include "app/mainform.h"
#include "app/panel_tabs.h"
#include "app/path_line.h"
#include "gui_test_support.h"
#include "platform/fs.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::TMainForm;
using panels::TFMPanel;

namespace {

QString g_answer;  // what the input box answers
bool AnswerInput(QWidget*, const QString&, const QString&, QString& text) {
  text = g_answer;
  return true;
}

}  // namespace

class MainFormExtrasTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir tmp_;
  std::string leftDir_, rightDir_, startDir_;
  std::unique_ptr<TMainForm> form_;

  std::string Ini() const { return Std(tmp_.filePath(QStringLiteral("vantrel.ini"))); }
  TFMPanel* Left() const { return form_->LeftFMPanel(); }
  app::TCommandLine* Line() const { return form_->findChild<app::TCommandLine*>(QStringLiteral("CommandLine")); }
  app::TPathLine* Path() const { return form_->findChild<app::TPathLine*>(QStringLiteral("PathLine")); }

  void Open() {
    form_ = std::make_unique<TMainForm>(Ini());
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QTRY_VERIFY(Left()->hasFocus());
  }
  void Restart() {
    form_->close();
    form_.reset();
    Open();
  }
  // Types `text` into the command line and presses Enter there.
  void Command(const QString& text) {
    QLineEdit* edit = form_->CommandEdit();
    edit->setFocus();
    edit->setText(text);
    QTest::keyClick(edit, Qt::Key_Return);
  }

 private slots:
  void initTestCase() {
    QVERIFY(tmp_.isValid());
    leftDir_ = Std(tmp_.filePath(QStringLiteral("left")));
    rightDir_ = Std(tmp_.filePath(QStringLiteral("right")));
    QVERIFY(QDir().mkpath(QString::fromStdString(leftDir_ + "/sub/deeper")));
    QVERIFY(QDir().mkpath(QString::fromStdString(rightDir_)));
    QVERIFY(MakeFile(leftDir_ + "/sub/target.txt", 3));
  }

  void init() {
    InstallRecorder();
    startDir_ = platform::GetCurrentDir();
    WriteText(Ini(), "[GENERAL]\nLeftPath=" + leftDir_ + "\nRightPath=" + rightDir_ + "\n");
    Open();
  }

  void cleanup() {
    form_.reset();
    app::SetInputHandler(nullptr);
    platform::SetCurrentDir(startDir_);
  }

  void cdMovesTheActivePanel() {
    struct Step {
      const char* command;
      std::string expected;  // the left panel's directory afterwards
      bool message;
    };
    const char* home = std::getenv("HOME");
    QVERIFY(home != nullptr);
    const Step steps[] = {
        {"cd sub/deeper", leftDir_ + "/sub/deeper", false},
        {"cd ..", leftDir_ + "/sub", false},
        {"cd ~", platform::NearestExistingDirectory(home), false},
        {"cd -", leftDir_ + "/sub", false},
        {"cd /nonexistent", leftDir_ + "/sub", true},
        {"cd", platform::NearestExistingDirectory(home), false},
    };
    for (const Step& step : steps) {
      ShownMessages().clear();
      Command(QString::fromLatin1(step.command));
      QCOMPARE(Left()->Directory(), step.expected);
      QCOMPARE(ShownMessages().size(), size_t(step.message ? 1 : 0));
    }
    QVERIFY(ShownMessages().front().text.startsWith(QStringLiteral("Cannot change to /nonexistent: ")));
    // The commands are recalled newest first with Up, and Down comes back.
    QLineEdit* edit = form_->CommandEdit();
    QTest::keyClick(edit, Qt::Key_Up);
    QCOMPARE(edit->text(), QStringLiteral("cd"));
    QTest::keyClick(edit, Qt::Key_Up);
    QCOMPARE(edit->text(), QStringLiteral("cd /nonexistent"));
    QTest::keyClick(edit, Qt::Key_Down);
    QCOMPARE(edit->text(), QStringLiteral("cd"));
  }

  void shellCommandShowsOutputAndStatus() {
    QSignalSpy done(Line(), &app::TCommandLine::finished);
    Command(QStringLiteral("pwd; echo to-stderr >&2; exit 3"));
    QVERIFY(done.wait(5000));
    QCOMPARE(done.front().front().toInt(), 3);
    const QString shown = Line()->Output()->toPlainText();
    QVERIFY2(shown.contains(QString::fromStdString(leftDir_)) && shown.contains(QStringLiteral("to-stderr")) &&
                 shown.endsWith(QStringLiteral("[Exit status 3]")),
             qPrintable(shown));
    QVERIFY(Line()->Output()->isVisible());
    Line()->ToggleOutput();  // Ctrl+O
    QVERIFY(!Line()->Output()->isVisible());
  }

  void pathLineGoesToDirectoriesAndFiles() {
    Left()->setFocus();
    QTest::keyClick(Left(), Qt::Key_L, Qt::ControlModifier);
    QLineEdit* field = Path()->Field(*Left());
    QVERIFY(field->isVisible() && field->hasFocus());
    QCOMPARE(field->text(), QString::fromStdString(leftDir_));
    field->setText(QStringLiteral("sub/target.txt"));
    QTest::keyClick(field, Qt::Key_Return);
    QVERIFY(!field->isVisible());
    QVERIFY(Left()->hasFocus());
    QCOMPARE(Left()->Directory(), leftDir_ + "/sub");
    QCOMPARE(Left()->CurrentEntry()->FileName, std::string("target.txt"));
    QTest::keyClick(Left(), Qt::Key_Down);  // the panel has its keys again
    // Escape leaves the field without going anywhere.
    Path()->Edit(*Left());
    field->setText(QStringLiteral("/"));
    QTest::keyClick(field, Qt::Key_Escape);
    QCOMPARE(Left()->Directory(), leftDir_ + "/sub");
    // Back and forward.
    QTest::keyClick(Left(), Qt::Key_Left, Qt::AltModifier);
    QCOMPARE(Left()->Directory(), leftDir_);
    QTest::keyClick(Left(), Qt::Key_Right, Qt::AltModifier);
    QCOMPARE(Left()->Directory(), leftDir_ + "/sub");
    QVERIFY(!Path()->GoTo(*Left(), "/no/such/place"));
    QCOMPARE(ShownMessages().size(), size_t(1));
  }

  void historyAndHotlistSurviveARestart() {
    Path()->GoTo(*Left(), leftDir_ + "/sub");
    Path()->GoTo(*Left(), leftDir_ + "/sub/deeper");
    QMenu* hotlist = Path()->HotlistMenu(*Left());
    hotlist->findChild<QAction*>(QStringLiteral("HotlistAdd"))->trigger();
    Path()->GoTo(*Left(), leftDir_);
    Restart();
    // The last visit of leftDir_ moved it to the end.
    QCOMPARE(form_->HistoryOf(Left()).Items(),
             (app::TStringList{leftDir_ + "/sub", leftDir_ + "/sub/deeper", leftDir_}));
    QCOMPARE(form_->Lists().Hotlist, app::TStringList{leftDir_ + "/sub/deeper"});
    // The hotlist jumps, and removes what is listed.
    hotlist = Path()->HotlistMenu(*Left());
    hotlist->actions().front()->trigger();
    QCOMPARE(Left()->Directory(), leftDir_ + "/sub/deeper");
    Path()->HotlistMenu(*Left())->findChild<QAction*>(QStringLiteral("HotlistRemove"))->trigger();
    QVERIFY(form_->Lists().Hotlist.empty());
    // Alt+Down lists the history newest first.
    QCOMPARE(Path()->HistoryMenu(*Left())->actions().front()->text(),
             QString::fromStdString(leftDir_ + "/sub/deeper"));
  }

  void tabsKeepTheirPlacesAcrossARestart() {
    auto* tabs = form_->findChild<app::TPanelTabs*>(QStringLiteral("LeftPanelTabs"));
    QVERIFY(tabs != nullptr && !tabs->Bar()->isVisible());  // one tab: no bar
    Left()->setFocus();
    QTest::keyClick(Left(), Qt::Key_T, Qt::ControlModifier);
    QCOMPARE(tabs->Count(), 2);
    QVERIFY(tabs->Bar()->isVisible());
    // The second tab: sub, by size, cursor on target.txt.
    Path()->GoTo(*Left(), leftDir_ + "/sub/target.txt");
    Left()->Model().SetSortOrder(2, true, false);
    Left()->Reread();
    const int cursor = Left()->IndexOfName("target.txt");
    Left()->SetCursor(cursor);
    QTest::keyClick(Left(), Qt::Key_Tab, Qt::ControlModifier);  // round to the first
    QCOMPARE(tabs->Current(), 0);
    QCOMPARE(Left()->Directory(), leftDir_);
    QCOMPARE(Left()->SortType(), uint8_t{0});
    QTest::keyClick(Left(), Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(tabs->Current(), 1);
    QCOMPARE(Left()->Directory(), leftDir_ + "/sub");
    QCOMPARE(Left()->CurrentEntry()->FileName, std::string("target.txt"));
    QTest::keyClick(Left(), Qt::Key_Up);  // still the panel's keys
    QTest::keyClick(Left(), Qt::Key_Down);
    QCOMPARE(Left()->CurrentEntry()->FileName, std::string("target.txt"));
    Restart();
    tabs = form_->findChild<app::TPanelTabs*>(QStringLiteral("LeftPanelTabs"));
    QCOMPARE(tabs->Count(), 2);
    QCOMPARE(tabs->Current(), 1);
    QCOMPARE(Left()->Directory(), leftDir_ + "/sub");
    QCOMPARE(Left()->SortType(), uint8_t{2});
    QVERIFY(Left()->Model().SortDescending());
    QCOMPARE(Left()->CurrentEntry()->FileName, std::string("target.txt"));
    QCOMPARE(tabs->Tab(0).Directory, leftDir_);
    QTest::keyClick(Left(), Qt::Key_W, Qt::ControlModifier);
    QCOMPARE(tabs->Count(), 1);
    QCOMPARE(Left()->Directory(), leftDir_);
    QVERIFY(!tabs->Bar()->isVisible());
    QTest::keyClick(Left(), Qt::Key_W, Qt::ControlModifier);  // the last tab stays
    QCOMPARE(tabs->Count(), 1);
  }

  void resizingKeepsTheSidesRatio() {
    QSplitter* splitter = form_->Splitter();
    QTRY_COMPARE(splitter->sizes().front(), 300);
    const double share = 300.0 / (splitter->width() - splitter->handleWidth());
    for (int width : {1200, 640, 900}) {
      form_->resize(width, 400);
      QTRY_COMPARE(form_->width(), width);
      const int room = splitter->width() - splitter->handleWidth();
      QVERIFY2(std::abs(splitter->sizes().front() - share * room) <= 1.0,
               qPrintable(QStringLiteral("%1 of %2").arg(splitter->sizes().front()).arg(room)));
    }
    const int left = splitter->sizes().front();
    form_->close();
    QVERIFY(SectionLines(ReadText(Ini()), QStringLiteral("GENERAL"))
                .contains(QStringLiteral("LeftWidth=%1").arg(left)));
  }

  void grayPlusMarksByMaskAndRemembersIt() {
    QVERIFY(MakeFile(leftDir_ + "/a.txt", 1));
    QVERIFY(MakeFile(leftDir_ + "/b.doc", 1));
    Left()->Reread();
    app::SetInputHandler(&AnswerInput);
    g_answer = QStringLiteral("*.txt");
    QTest::keyClick(Left(), Qt::Key_Plus, Qt::KeypadModifier);
    QCOMPARE(Left()->Model().MarkedCount(), 1);
    QVERIFY(Left()->IsMarked(Left()->IndexOfName("a.txt")));
    QTest::keyClick(Left(), Qt::Key_Minus, Qt::KeypadModifier);
    QCOMPARE(Left()->Model().MarkedCount(), 0);
    QCOMPARE(form_->Lists().Masks, app::TStringList{"*.txt"});
    QTest::keyClick(Left(), Qt::Key_Down);  // still the panel's
  }
};

QTEST_MAIN(MainFormExtrasTest)
#include "mainform_extras_test.moc"
