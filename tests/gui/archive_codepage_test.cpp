// archive_codepage_test.cpp - the real main window, offscreen, with a ZIP
// archive of DOS-era names shown as a folder: the entry menu's code page,
// the choice kept for the archive, and the entries' exact times.
#include <QMenu>
#include <QProcess>

#include "app/commands/command_hooks.h"
#include "app/commands/item_menu.h"
#include "gui_support.h"
#include "platform/fs.h"

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

}  // namespace

class ArchiveCodePageTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;
  std::string zip_;

  TFMPanel* L() const { return f_->L(); }
  QStringList Names(const TFMPanel* panel) const {
    QStringList names;
    for (const auto& e : panel->Entries()) names << Q(e->FileName);
    return names;
  }
  bool Into(const std::string& name) { return f_->Put(L(), name) && f_->Press(L(), Qt::Key_Return); }

 private slots:
  void init() {
    f_ = std::make_unique<TFormFixture>();
    zip_ = f_->left + "/photos.zip";
    QCOMPARE(Python(QStringLiteral("import sys, zipfile\n"
                                   "with zipfile.ZipFile(sys.argv[1], 'w') as z: z.writestr('top.txt', 'top')\n"),
                    zip_),
             QString());
    app::NavHooks() = app::DefaultNavHooks();
    QVERIFY(f_->Show());
  }
  void cleanup() {
    f_.reset();
    app::NavHooks() = app::DefaultNavHooks();
  }

  // The entry menu's code page inside a ZIP archive: the names are read
  // again at once (a place whose name changed gives way to the root), the
  // choice holds when the archive is entered again, and the exact time of
  // an extended timestamp field is the entry's time.
  void codePageFromTheEntryMenuAndExactTimes() {
    const std::string ru = f_->left + "/ru.zip";
    QCOMPARE(Python(QStringLiteral(
                 "import sys, zipfile, struct\n"
                 "names = ['Привет.txt'.encode('cp866'), 'Мир/Дом.txt'.encode('cp866')]\n"
                 "stand = [b'Z' * (len(n) - 3) + b'Q%dQ' % i for i, n in enumerate(names)]\n"
                 "with zipfile.ZipFile(sys.argv[1], 'w') as z:\n"
                 "  for i, s in enumerate(stand):\n"
                 "    info = zipfile.ZipInfo(s.decode(), (1993, 7, 15, 12, 0, 0))\n"
                 "    info.extra = struct.pack('<HHBI', 0x5455, 5, 1, 1614834367)\n"
                 "    z.writestr(info, 'data')\n"
                 "data = open(sys.argv[1], 'rb').read()\n"
                 "for s, n in zip(stand, names): data = data.replace(s, n)\n"
                 "open(sys.argv[1], 'wb').write(data)\n"),
             ru),
             QString());
    QVERIFY(L()->Reread());
    // No such menu in a directory.
    QVERIFY(f_->Put(L(), "photos.zip"));
    QVERIFY(app::BuildItemMenu(*f_->form, *L())->findChild<QMenu*>(QStringLiteral("ItemCodePage")) == nullptr);
    QVERIFY(Into("ru.zip"));
    const auto choose = [this](const char* page) {
      std::unique_ptr<QMenu> menu = app::BuildItemMenu(*f_->form, *L());
      auto* pages = menu ? menu->findChild<QMenu*>(QStringLiteral("ItemCodePage")) : nullptr;
      QAction* item = pages ? pages->findChild<QAction*>(QStringLiteral("ItemCodePage") + QLatin1String(page)) : nullptr;
      if (item == nullptr) return false;
      item->trigger();
      return true;
    };
    const struct {
      const char* page;
      const char* enter;  // a directory to enter afterwards, or null
      std::string dir;    // where the panel is after the choice
      QStringList names;
    } steps[] = {
        {"CP866", "Мир", ru, {"..", "Мир", "Привет.txt"}},
        // Inside "Мир", which CP437 calls otherwise: back at the root.
        {"CP437", nullptr, ru, {"..", "î¿α", "Åα¿óÑΓ.txt"}},
        {"KOI8-R", nullptr, ru, {"..", "▄╗Ю", "▐Ю╗╒╔Б.txt"}},
        {"CP866", nullptr, ru, {"..", "Мир", "Привет.txt"}},
    };
    for (const auto& step : steps) {
      QVERIFY2(choose(step.page), step.page);
      QCOMPARE(L()->Directory(), step.dir);
      QCOMPARE(Names(L()), step.names);
      if (step.enter) QVERIFY(Into(step.enter));
    }
    QVERIFY(f_->Put(L(), "Привет.txt"));
    QCOMPARE(L()->CurrentEntry()->LastWriteTime, platform::FileTimeFromUnix(1614834367, 0));
    // Out and in again: the archive is read anew, in the page chosen.
    QVERIFY(Into("..") && Into("ru.zip"));
    QCOMPARE(Names(L()), (QStringList{"..", "Мир", "Привет.txt"}));
    QVERIFY(choose("Auto"));  // and forgotten again
    QVERIFY(Into("..") && Into("ru.zip"));
    QVERIFY(ShownMessages().empty());
  }};

QTEST_MAIN(ArchiveCodePageTest)
#include "archive_codepage_test.moc"
