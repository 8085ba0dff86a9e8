// item_menu_test.cpp - the entry menu and the Properties dialog, offscreen:
// a right click keeps the marks, the menu's commands, Open with from a test
// XDG tree, Copy path, Properties of files, links and directories.
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTest>
#include <QTimer>

#include "app/item_menu.h"
#include "app/propertiesform.h"
#include "filecmds_support.h"

using namespace vantrel;
using namespace vantrel::testing;

namespace {

QStringList Texts(const QMenu& menu) {
  QStringList texts;
  for (QAction* a : menu.actions())
    if (!a->isSeparator()) texts << a->text().section(QLatin1Char('\t'), 0, 0);
  return texts;
}

QAction* Item(const QMenu& menu, const char* name) {
  return menu.findChild<QAction*>(QLatin1String(name));
}

uint32_t ModeOf(const std::string& path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0;
}

}  // namespace

class ItemMenuTest : public QObject {
  Q_OBJECT
  std::unique_ptr<TFormFixture> f_;

  // Runs `act` and answers the popup menu it opens: returns the texts of the
  // menu's items and closes it with Escape.
  QStringList PopupTexts(const std::function<void()>& act, QPoint* where = nullptr) {
    QStringList texts;
    bool seen = false;
    QTimer poll;
    poll.setInterval(20);
    connect(&poll, &QTimer::timeout, this, [&] {
      if (auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget())) {
        seen = true;
        texts = Texts(*menu);
        if (where) *where = menu->pos();
        QTest::keyClick(menu, Qt::Key_Escape);
      }
    });
    poll.start();
    act();
    QTest::qWait(100);
    poll.stop();
    return seen ? texts : QStringList{QStringLiteral("<no menu>")};
  }


 private slots:
  void init() {
    InstallScript();
    f_ = std::make_unique<TFormFixture>();
    QVERIFY(f_->Open());
  }
  void cleanup() {
    for (auto* dialog : f_->form ? f_->form->findChildren<app::TPropertiesForm*>() : QList<app::TPropertiesForm*>{})
      delete dialog;
    f_.reset();
  }

  void rightClickMovesTheCursorAndKeepsTheMarks() {
    for (const char* name : {"a.txt", "b.txt", "c.txt", "d.txt"}) QVERIFY(MakeFile(f_->left + "/" + name, 1));
    QVERIFY(f_->Show());
    QVERIFY(f_->Mark(f_->L(), "a.txt"));
    QVERIFY(f_->Mark(f_->L(), "c.txt"));
    const int b = f_->L()->IndexOfName("b.txt");
    const QPoint at = f_->L()->RowRect(b).center();
    const QStringList texts = PopupTexts([&] { QTest::mouseClick(f_->L()->viewport(), Qt::RightButton, {}, at); });
    QCOMPARE(f_->L()->Cursor(), b);
    QVERIFY(f_->L()->IsMarked(f_->L()->IndexOfName("a.txt")));
    QVERIFY(f_->L()->IsMarked(f_->L()->IndexOfName("c.txt")));
    QVERIFY(!f_->L()->IsMarked(b));
    QCOMPARE(texts, QStringList({"Open", "Open with", "View", "Edit", "Copy 2 marked entries",
                                 "Move 2 marked entries", "Rename", "Delete 2 marked entries",
                                 "Pack 2 marked entries to .ZIP", "Copy paths of 2 marked entries",
                                 "Properties"}));
    // Below the last entry: no menu, the cursor stays.
    const QPoint below(10, f_->L()->RowRect(f_->L()->Count()).center().y());
    QCOMPARE(PopupTexts([&] { QTest::mouseClick(f_->L()->viewport(), Qt::RightButton, {}, below); }),
             QStringList({"<no menu>"}));
    QCOMPARE(f_->L()->Cursor(), b);
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
    QVERIFY(QDir().mkpath(QString::fromStdString(f_->left + "/dir")));
    QVERIFY(MakeFile(f_->left + "/a.zip", 1));
    QVERIFY(f_->Show());
    QFETCH(QString, name);
    QFETCH(QStringList, texts);
    f_->L()->SetCursor(f_->L()->IndexOfName(Std(name)));
    const auto menu = app::BuildItemMenu(*f_->form, *f_->L());
    QVERIFY(menu);
    QCOMPARE(Texts(*menu), texts);
  }

  void keyboardOpensTheMenuAtTheCursorRow_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier);
    QTest::newRow("Menu") << int(Qt::Key_Menu) << int(Qt::NoModifier);
  }
  void keyboardOpensTheMenuAtTheCursorRow() {
    for (int i = 0; i < 30; ++i) QVERIFY(MakeFile(f_->left + "/f" + std::to_string(100 + i), 1));
    QVERIFY(f_->Show());
    f_->L()->SetCursor(5);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QPoint where;
    const QStringList texts = PopupTexts(
        [&] { QTest::keyClick(f_->L(), static_cast<Qt::Key>(key), Qt::KeyboardModifiers(modifiers)); }, &where);
    QVERIFY2(texts.contains(QStringLiteral("Properties")), qPrintable(texts.join(',')));
    const QRect row = f_->L()->RowRect(5);
    QCOMPARE(where.y(), f_->L()->viewport()->mapToGlobal(row.bottomLeft()).y());
    // Escape closed the menu; the panel has the keys again.
    QTRY_VERIFY(f_->L()->hasFocus());
    QTest::keyClick(f_->L(), Qt::Key_Down);
    QCOMPARE(f_->L()->Cursor(), 6);
  }

  void commandsRunOnTheMarkedEntries() {
    for (const char* name : {"a.txt", "b.txt", "c.txt"}) QVERIFY(MakeFile(f_->left + "/" + name, 1));
    QVERIFY(f_->Show());
    QVERIFY(f_->Mark(f_->L(), "a.txt"));
    QVERIFY(f_->Mark(f_->L(), "c.txt"));
    f_->L()->SetCursor(f_->L()->IndexOfName("b.txt"));
    TScript::Get().inputs.push_back(QString::fromStdString(f_->right));
    const auto menu = app::BuildItemMenu(*f_->form, *f_->L());
    Item(*menu, "ItemCopy")->trigger();
    QTRY_VERIFY(Exists(f_->right + "/a.txt") && Exists(f_->right + "/c.txt"));
    QVERIFY(!Exists(f_->right + "/b.txt"));
  }

  void openWithListsTheTestApplications() {
    QTemporaryDir xdg;
    const std::string root = Std(xdg.path());
    QDir().mkpath(xdg.filePath(QStringLiteral("data/applications")));
    QDir().mkpath(xdg.filePath(QStringLiteral("config")));
    const std::string out = root + "/started";
    const std::string script = root + "/record";
    WriteText(script, "#!/bin/sh\nprintf '%s' \"$1\" > '" + out + ".tmp' && mv '" + out + ".tmp' '" + out + "'\n");
    chmod(script.c_str(), 0755);
    QImage icon(16, 16, QImage::Format_ARGB32);
    icon.fill(Qt::blue);
    QVERIFY(icon.save(xdg.filePath(QStringLiteral("first.png"))));
    WriteText(root + "/data/applications/first.desktop",
              "[Desktop Entry]\nType=Application\nName=First editor\nIcon=" + root + "/first.png\n"
              "Exec=" + script + " %f\nMimeType=text/plain;\n");
    WriteText(root + "/data/applications/second.desktop",
              "[Desktop Entry]\nType=Application\nName=Second editor\nExec=true %f\nMimeType=text/plain;\n");
    WriteText(root + "/data/applications/pictures.desktop",
              "[Desktop Entry]\nType=Application\nName=Pictures\nExec=true %f\nMimeType=image/png;\n");
    WriteText(root + "/config/mimeapps.list", "[Default Applications]\ntext/plain=second.desktop\n");
    const QByteArray configHome = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_DATA_HOME", QByteArray::fromStdString(root + "/data"));
    qputenv("XDG_DATA_DIRS", QByteArray::fromStdString(root + "/none"));
    qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(root + "/config"));
    qputenv("XDG_CONFIG_DIRS", QByteArray::fromStdString(root + "/none"));
    WriteText(f_->left + "/notes.txt", "plain text");
    QVERIFY(f_->Show());
    f_->L()->SetCursor(f_->L()->IndexOfName("notes.txt"));
    const auto menu = app::BuildItemMenu(*f_->form, *f_->L());
    auto* openWith = menu->findChild<QMenu*>(QStringLiteral("ItemOpenWith"));
    QVERIFY(openWith);
    QCOMPARE(Texts(*openWith), QStringList({"Second editor", "First editor"}));
    QVERIFY(!openWith->actions().at(1)->icon().isNull());
    openWith->actions().at(1)->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(Exists(out), 10000);
    QTRY_COMPARE(ReadText(out), QString::fromStdString(f_->left + "/notes.txt"));
    qunsetenv("XDG_DATA_HOME");
    qunsetenv("XDG_DATA_DIRS");
    qunsetenv("XDG_CONFIG_DIRS");
    qputenv("XDG_CONFIG_HOME", configHome);
  }

  void copyPathKeepsTheBytesOfTheName() {
    const std::string name = "caf\xE9 & co.txt";  // Latin-1, not UTF-8
    QVERIFY(MakeFile(f_->left + "/" + name, 1));
    QVERIFY(f_->Show());
    f_->L()->SetCursor(f_->L()->IndexOfName(name));
    Item(*app::BuildItemMenu(*f_->form, *f_->L()), "ItemCopyPath")->trigger();
    const QMimeData* data = QApplication::clipboard()->mimeData();
    QVERIFY(data);
    const QByteArray uri = data->data(QStringLiteral("text/uri-list")).trimmed();
    QVERIFY2(uri.endsWith("/caf%E9%20%26%20co.txt"), uri.constData());
    QCOMPARE(QByteArray::fromPercentEncoding(uri.mid(7)).toStdString(), f_->left + "/" + name);
    QCOMPARE(data->text(), QString::fromStdString(f_->left) + QStringLiteral("/caf\uFFFD & co.txt"));
    ::unlink((f_->left + "/" + name).c_str());  // a name QTemporaryDir cannot remove
  }

  void propertiesOfAReadOnlyFileChangeTo0644() {
    const std::string file = f_->left + "/ro.txt";
    WriteText(file, "12345");
    chmod(file.c_str(), 0444);
    QVERIFY(f_->Show());
    f_->L()->SetCursor(f_->L()->IndexOfName("ro.txt"));
    Item(*app::BuildItemMenu(*f_->form, *f_->L()), "ItemProperties")->trigger();
    auto* dialog = f_->form->findChild<app::TPropertiesForm*>();
    QVERIFY(dialog);
    QCOMPARE(dialog->Field(QStringLiteral("PropName")), QStringLiteral("ro.txt"));
    QCOMPARE(dialog->Field(QStringLiteral("PropPath")), QString::fromStdString(file));
    QVERIFY(dialog->Field(QStringLiteral("PropType")).contains(QLatin1String("text/plain")));
    QCOMPARE(dialog->Field(QStringLiteral("PropSize")), QStringLiteral("5 bytes"));
    QCOMPARE(dialog->OctalEdit()->text(), QStringLiteral("0444"));
    const bool expected[9] = {true, false, false, true, false, false, true, false, false};
    for (int i = 0; i < 9; ++i) QCOMPARE(dialog->PermissionBox(i)->isChecked(), expected[i]);
    dialog->PermissionBox(1)->click();  // owner write
    QCOMPARE(dialog->OctalEdit()->text(), QStringLiteral("0644"));
    QCOMPARE(ModeOf(file), 0444u);  // nothing before OK
    QVERIFY(dialog->Apply());
    QCOMPARE(ModeOf(file), 0644u);
    // Typing the octal value ticks the boxes.
    QTest::keyClicks(dialog->OctalEdit(), QString());
    dialog->OctalEdit()->selectAll();
    QTest::keyClicks(dialog->OctalEdit(), QStringLiteral("0751"));
    QVERIFY(dialog->PermissionBox(2)->isChecked() && !dialog->PermissionBox(4)->isChecked() &&
            dialog->PermissionBox(8)->isChecked());
  }

  void propertiesOfALinkNeverTouchTheTarget() {
    const std::string target = f_->left + "/target.txt";
    WriteText(target, "t");
    chmod(target.c_str(), 0600);
    QVERIFY(symlink("target.txt", (f_->left + "/link").c_str()) == 0);
    QVERIFY(f_->Show());
    app::TPropertiesForm dialog(f_->left + "/link");
    QCOMPARE(dialog.Field(QStringLiteral("PropTarget")), QStringLiteral("target.txt"));
    QVERIFY(!dialog.PermissionBox(0)->isEnabled());
    QVERIFY(dialog.OctalEdit()->isReadOnly());
    QVERIFY(dialog.Apply());
    QCOMPARE(ModeOf(target), 0600u);
  }

  void propertiesCountADirectoryInTheBackground() {
    QVERIFY(QDir().mkpath(QString::fromStdString(f_->left + "/tree/a/b")));
    QVERIFY(MakeFile(f_->left + "/tree/one", 1000));
    QVERIFY(MakeFile(f_->left + "/tree/a/two", 234));
    QVERIFY(f_->Show());
    f_->L()->SetCursor(f_->L()->IndexOfName(".."));
    Item(*app::BuildItemMenu(*f_->form, *f_->L()), "ItemProperties")->trigger();
    auto* parent = f_->form->findChild<app::TPropertiesForm*>();
    QVERIFY(parent);
    QCOMPARE(parent->Path(), f_->left);  // ".." stands for the panel's own directory
    app::TPropertiesForm dialog(f_->left + "/tree");
    QTRY_VERIFY(!dialog.Measuring());
    QCOMPARE(dialog.Field(QStringLiteral("PropSize")), QStringLiteral("1,234 bytes in 2 files, 2 directories"));
  }
};

QTEST_MAIN(ItemMenuTest)
#include "item_menu_test.moc"
