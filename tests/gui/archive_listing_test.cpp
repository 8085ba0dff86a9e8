// archive_listing_test.cpp - the real main window, offscreen, entering a
// tar.gz that takes seconds to list: rows as they are found with a bar of
// the bytes read, Escape keeps what was found (the information line says it
// is partial), browsing reads nothing again, Ctrl+R reads on to the end
// with the rows found kept, and a small archive is shown whole at once.
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>

#include "app/panels/archive_listing.h"
#include "app/panels/archive_places.h"
#include "gui_support.h"
#include "vfs/archive_source.h"
#include "zip/ui/zip_dialogs.h"

using namespace vantrel;
using namespace vantrel::testing;
using panels::TFMPanel;

namespace {
QStringList g_prompts;
QStringList g_passwords;  // the answers to the password questions, in order
}

class ArchiveListingTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;

  TFMPanel* L() const { return f_->L(); }
  TFMPanel* R() const { return f_->R(); }
  QStringList Names(const TFMPanel* panel) const {
    QStringList names;
    for (const auto& e : panel->Entries()) names << Q(e->FileName);
    names.sort();
    return names;
  }
  QString Info() const { return f_->form->Left().InfoPanel->text(); }
  QProgressBar* Bar(TFMPanel* panel) const { return panel->findChild<QProgressBar*>(QStringLiteral("ListingProgress")); }
  bool Into(TFMPanel* panel, const std::string& name) {
    return f_->Put(panel, name) && f_->Press(panel, Qt::Key_Return);
  }
  // A tar.gz holding first.txt, big.bin of `mib` MiB of zeros and
  // later/last.txt: inflating it takes seconds.
  bool MakeLong(const std::string& path, int mib) {
    const QString script = QString::fromLocal8Bit(qgetenv("VANTREL_SOURCE_DIR")) + "/tests/support/long_tar_gz.py";
    return QProcess::execute(QStringLiteral("python3"), {script, Q(path), QString::number(mib)}) == 0;
  }
  std::shared_ptr<vfs::TArchiveSource> Source(TFMPanel* panel) const {
    return std::dynamic_pointer_cast<vfs::TArchiveSource>(app::ArchiveSourceOf(*panel));
  }

 private slots:
  void initTestCase() {
    zipui::SetInputQuery([](const QString& caption, const QString& prompt, QString& text, bool) {
      g_prompts << prompt;
      if (g_passwords.isEmpty()) return ScriptedInput(nullptr, caption, prompt, text);
      text = g_passwords.takeFirst();
      return true;
    });
  }
  void init() {
    g_prompts.clear();
    f_ = std::make_unique<TFormFixture>();
    QVERIFY(MakeLong(f_->left + "/long.tar.gz", 16384));
    QVERIFY(f_->Show());
  }
  void cleanup() { f_.reset(); }

  void rowsAsFoundThenEscapeKeepsThemAndCtrlRReadsOn() {
    QVERIFY(Into(L(), "long.tar.gz"));
    std::shared_ptr<app::TArchiveListing> listing = app::ArchiveListingOf(*L());
    QVERIFY(listing != nullptr);
    QVERIFY2(listing->Running(), "the window waited for the whole listing");
    QCOMPARE(L()->Directory(), f_->left + "/long.tar.gz");
    // The first members show while the zeros are being inflated.
    QTRY_VERIFY_WITH_TIMEOUT(Names(L()).contains(QStringLiteral("big.bin")), 20000);
    QVERIFY(listing->Running());
    QVERIFY(Bar(L()) != nullptr && Bar(L())->isVisible());
    QVERIFY2(Info().startsWith(QStringLiteral("Reading the archive: ")), qPrintable(Info()));
    // The other panel entering the same archive shares the one reading.
    QVERIFY(R()->ReadDirectory(f_->left + "/long.tar.gz"));
    QCOMPARE(app::ArchiveListingOf(*R()), listing);

    QVERIFY(f_->Press(L(), Qt::Key_Escape));
    QVERIFY(!listing->Running());
    QVERIFY(listing->StoppedEarly());
    QVERIFY(!Bar(L())->isVisible());
    QCOMPARE(Names(L()), (QStringList{"..", "big.bin", "first.txt"}));
    QVERIFY2(Info().startsWith(QStringLiteral("Partial listing: 2 entries found, Ctrl+R reads the rest | ")),
             qPrintable(Info()));
    QVERIFY(Info().contains(QStringLiteral("tar.gz archives are read-only here")));
    QCOMPARE(Names(R()), Names(L()));
    // A job out of a partial listing reads the archive itself (a directory
    // copied out must take all that is below it).
    QVERIFY(app::ArchiveToRead(*L()).listed == nullptr);
    // The next key: the cursor moves, quick search finds an entry.
    QVERIFY(f_->Put(L(), ".."));
    QVERIFY(f_->Press(L(), Qt::Key_Down));
    QCOMPARE(L()->Cursor(), 1);
    // Browsing reads nothing again.
    const uint64_t read = Source(L())->ReadBytes();
    QVERIFY(L()->Reread());
    QVERIFY(f_->Put(L(), ".."));
    QVERIFY(f_->Press(L(), Qt::Key_Return));
    QCOMPARE(L()->Directory(), f_->left);
    QVERIFY(Into(L(), "long.tar.gz"));
    QVERIFY(!app::ArchiveListingOf(*L())->Running());
    QCOMPARE(Source(L())->ReadBytes(), read);
    QCOMPARE(Names(L()), (QStringList{"..", "big.bin", "first.txt"}));

    // Ctrl+R reads to the end; the rows found stay shown meanwhile.
    QVERIFY(f_->Press(L(), Qt::Key_R, Qt::ControlModifier));
    QVERIFY(app::ArchiveListingOf(*L())->Running());
    QCOMPARE(Names(L()), (QStringList{"..", "big.bin", "first.txt"}));
    QTRY_VERIFY_WITH_TIMEOUT(!app::ArchiveListingOf(*L())->Running(), 120000);
    QCOMPARE(Names(L()), (QStringList{"..", "big.bin", "first.txt", "later"}));
    QVERIFY2(!Info().contains(QStringLiteral("Partial")), qPrintable(Info()));
    QVERIFY(!Bar(L())->isVisible());
    QVERIFY(Into(L(), "later"));
    QCOMPARE(Names(L()), (QStringList{"..", "last.txt"}));
  }

  // Leaving the archive while it is read stops the reading: nothing keeps
  // inflating for nobody.
  void leavingStopsTheReading() {
    QVERIFY(Into(L(), "long.tar.gz"));
    std::weak_ptr<app::TArchiveListing> listing = app::ArchiveListingOf(*L());
    QVERIFY(listing.lock() != nullptr && listing.lock()->Running());
    QVERIFY(L()->ReadDirectory(f_->right));
    QVERIFY(listing.expired());
    QVERIFY(f_->Press(L(), Qt::Key_Down));
  }

  // An encrypted 7z asks for its password once (again after a wrong one),
  // whether only the data are encrypted or the listing too (then it is
  // asked on entering, on the window's thread).
  void encryptedSevenZipAsksOnce() {
    WriteText(f_->left + "/a.txt", "alpha\n");
    WriteText(f_->left + "/b.txt", "bravo\n");
    for (const char* headers : {"-mhe=off", "-mhe=on"}) {
      g_prompts.clear();
      const std::string locked = f_->left + "/locked" + headers + ".7z";
      if (QProcess::execute(QStringLiteral("7zz"), {"a", "-bd", "-bso0", "-bsp0", "-pSECRET", headers, Q(locked), Q(f_->left + "/a.txt"),
                                                   Q(f_->left + "/b.txt")}) != 0)
        QSKIP("7zz cannot make an encrypted 7z here");
      QFile::remove(Q(f_->right + "/a.txt"));
      QFile::remove(Q(f_->right + "/b.txt"));
      QVERIFY(L()->ReadDirectory(f_->left));
      g_passwords = {QStringLiteral("wrong"), QStringLiteral("SECRET")};
      QVERIFY(Into(L(), "locked" + std::string(headers) + ".7z"));
      QCOMPARE(Names(L()), (QStringList{"..", "a.txt", "b.txt"}));
      // (F5 runs as a job: its copies arrive when it is done.)
      QVERIFY(f_->Mark(L(), "a.txt"));
      Script().inputs = {Q(f_->right)};  // the copy's destination
      QVERIFY(f_->Press(L(), Qt::Key_F5));
      QTRY_COMPARE_WITH_TIMEOUT(ReadText(f_->right + "/a.txt"), QStringLiteral("alpha\n"), 30000);
      QVERIFY(f_->Mark(L(), "b.txt"));
      Script().inputs = {Q(f_->right)};
      QVERIFY(f_->Press(L(), Qt::Key_F5));
      QTRY_COMPARE_WITH_TIMEOUT(ReadText(f_->right + "/b.txt"), QStringLiteral("bravo\n"), 30000);
      QCOMPARE(g_prompts.size(), 2);
      QVERIFY(g_prompts[0].startsWith(QStringLiteral("Password for ")));
      QVERIFY(g_prompts[1].startsWith(QStringLiteral("Wrong password for ")));
      QVERIFY(f_->Put(L(), ".."));
      QVERIFY(f_->Press(L(), Qt::Key_Return));
    }
  }

  void smallArchiveIsShownWholeAtOnce() {
    MakeDir(f_->left + "/tree/docs");
    WriteText(f_->left + "/tree/docs/a.txt", "a\n");
    WriteText(f_->left + "/tree/b.txt", "b\n");
    QCOMPARE(QProcess::execute(QStringLiteral("tar"), {"czf", Q(f_->left + "/small.tar.gz"), "-C",
                                                      Q(f_->left + "/tree"), "."}),
             0);
    QVERIFY(L()->Reread());
    QVERIFY(Into(L(), "small.tar.gz"));
    QVERIFY(!app::ArchiveListingOf(*L())->Running());
    QCOMPARE(Names(L()), (QStringList{"..", "b.txt", "docs"}));
    QVERIFY(!Bar(L())->isVisible());
    QVERIFY2(!Info().contains(QStringLiteral("Partial")), qPrintable(Info()));
    // F5 out: the job's reader takes the panel's listing (the tar is not
    // decompressed once more to list it) and writes the same bytes.
    const app::TArchiveOrigin origin = app::ArchiveToRead(*L());
    const auto* twin = dynamic_cast<const vfs::TArchiveSource*>(origin.listed.get());
    QVERIFY(twin != nullptr && twin->Listed() && twin->Listings() == 0);
    QVERIFY(origin.listed != app::ArchiveSourceOf(*L()));  // a reader of the job's own
    QVERIFY(f_->Put(L(), "docs"));
    QVERIFY(f_->Press(L(), Qt::Key_Insert));
    QVERIFY(f_->Put(L(), "b.txt"));
    QVERIFY(f_->Press(L(), Qt::Key_Insert));
    Script().inputs = {Q(f_->right)};
    QVERIFY(f_->Press(L(), Qt::Key_F5));
    QTRY_COMPARE(ReadText(f_->right + "/docs/a.txt"), QStringLiteral("a\n"));
    QTRY_COMPARE(ReadText(f_->right + "/b.txt"), QStringLiteral("b\n"));
  }
};

QTEST_MAIN(ArchiveListingTest)
#include "archive_listing_test.moc"
