// tools_test.cpp - the file tools in the real main window, offscreen:
// multi-rename from the keyboard.
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>

#include "app/commands/tool_commands.h"
#include "app/dialogs/multirenameform.h"
#include "gui_support.h"

using namespace vantrel;
using namespace vantrel::testing;

namespace {

// Runs `act` on the modal window of type T as soon as it shows (or fails
// the test when none does), while `trigger` opens it.
template <class T>
bool WithModal(const std::function<void()>& trigger, const std::function<void(T&)>& act) {
  bool seen = false;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    auto* window = qobject_cast<T*>(QApplication::activeModalWidget());
    if (window == nullptr || seen) return;
    seen = true;
    act(*window);
    if (window->isVisible()) window->reject();
  });
  poll.start();
  trigger();
  return seen;
}

}  // namespace

class ToolsTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;
  panels::TFMPanel* L() const { return f_->L(); }

 private slots:
  void init() { f_ = std::make_unique<TFormFixture>(); }
  void cleanup() { f_.reset(); }

  // Ctrl+M opens with the name mask focused and selected: typing replaces
  // it, Enter renames the marked entries, the cursor follows its entry.
  void MultiRenameFromTheKeyboard() {
    for (const char* name : {"a.txt", "b.txt", "c.txt", "other.dat"}) QVERIFY(MakeFile(f_->left + "/" + name, 1));
    QVERIFY(f_->Show());
    for (const char* name : {"a.txt", "b.txt"}) QVERIFY(f_->Mark(L(), name));
    QVERIFY(f_->Put(L(), "b.txt"));
    bool focused = false;
    QVERIFY(WithModal<app::TMultiRenameForm>([&] { QVERIFY(f_->Press(L(), Qt::Key_M, Qt::ControlModifier)); },
                                            [&](app::TMultiRenameForm& w) {
                                              focused = QTest::qWaitFor([&] { return w.NameMaskEdit()->hasFocus(); }) &&
                                                        w.NameMaskEdit()->selectedText() == QStringLiteral("[N]");
                                              QTest::keyClicks(w.NameMaskEdit(), QStringLiteral("doc[C:2]"));
                                              w.UpdatePreview();
                                              QCOMPARE(w.Model()->rowCount(), 2);
                                              QCOMPARE(w.Model()->index(1, 1).data().toString(), QStringLiteral("doc02.txt"));
                                              QTest::keyClick(w.NameMaskEdit(), Qt::Key_Return);
                                            }));
    QVERIFY(focused);
    QVERIFY(Exists(f_->left + "/doc01.txt") && Exists(f_->left + "/doc02.txt"));
    QVERIFY(!Exists(f_->left + "/a.txt") && Exists(f_->left + "/c.txt"));
    QCOMPARE(TFormFixture::AtCursor(L()), std::string("doc02.txt"));
    QTRY_VERIFY(L()->hasFocus());

    // The same batch again would collide with c.txt: refused, nothing moves.
    QVERIFY(f_->Mark(L(), "c.txt") && f_->Mark(L(), "other.dat"));
    QVERIFY(WithModal<app::TMultiRenameForm>([&] { f_->Action("mnuFileMultiRename")->trigger(); },
                                            [&](app::TMultiRenameForm& w) {
                                              w.NameMaskEdit()->setText(QStringLiteral("same"));
                                              w.ExtMaskEdit()->setText(QStringLiteral("txt"));
                                              w.RenameButtonClick();
                                              QVERIFY(w.isVisible());
                                              QCOMPARE(w.Model()->index(0, 2).data().toString(),
                                                       QStringLiteral("Same name as row 2"));
                                            }));
    QVERIFY(Exists(f_->left + "/c.txt") && Exists(f_->left + "/other.dat"));
    QVERIFY(Script().Texts().last().startsWith(QStringLiteral("Nothing was renamed")));

    // Undo gives the first batch its old names back.
    QTRY_VERIFY(L()->hasFocus());
    QVERIFY(WithModal<app::TMultiRenameForm>([&] { f_->Action("mnuFileMultiRename")->trigger(); },
                                            [&](app::TMultiRenameForm& w) {
                                              QVERIFY(w.UndoButton()->isEnabled());
                                              w.UndoButtonClick();
                                            }));
    QTRY_VERIFY(Exists(f_->left + "/a.txt") && Exists(f_->left + "/b.txt"));
    QVERIFY(!Exists(app::RenameLogPath(*f_->form)));
  }
};

QTEST_MAIN(ToolsTest)
#include "tools_test.moc"
