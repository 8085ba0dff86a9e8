// zipui_test.cpp - the ZIP window, Pack and Unpack on the real main window,
// offscreen, with scripted answers for every dialog: the ZIP window's rows,
// extracting ticked or all entries, the destination prompt, Pack's update
// mode, level and encryption, Escape in the Info window, names that are not
// UTF-8, and the engine's errors. Every archive written here is checked with
// Info-ZIP's unzip -t or Python's zipfile.
#include <QApplication>
#include <QCheckBox>
#include <QRadioButton>
#include <QDirIterator>
#include <QFileInfo>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRandomGenerator>
#include <QMenu>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableView>

#include <cstdlib>
#include <ctime>

#include <filesystem>

#include "app/dialogs/infoform.h"
#include "app/commands/file_commands.h"
#include "app/dialogs/conflict_list.h"
#include "app/commands/zip_commands.h"
#include "app/settings/settings.h"
#include "platform/ini.h"
#include "fileops/qt/job_center.h"
#include "fileops/qt/operationform.h"
#include "gui_support.h"
#include "zip/ui/packform.h"
#include "zip/ui/zip_dialogs.h"
#include "zip/ui/zippanel.h"
#include "zip/zip_reader.h"
#include "zip/zip_writer.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::MessageAnswer;
using app::MessageKind;
using zipui::TZIPpanel;

namespace {

// Runs a program; returns its exit code (-1 when it did not run) and output.
int Run(const QString& program, const QStringList& args, QString* output = nullptr, const std::string& dir = {}) {
  QProcess p;
  if (!dir.empty()) p.setWorkingDirectory(Q(dir));
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  if (!p.waitForFinished(60000)) return -1;
  if (output) *output = QString::fromUtf8(p.readAll());
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

// Python's zipfile as `z` on `path`, opened for writing, runs `body`.
bool PyZip(const std::string& path, const char* body) {
  return Run(QStringLiteral("python3"), {QStringLiteral("-c"),
                                         QStringLiteral("import sys,os,zipfile\nz=zipfile.ZipFile(sys.argv[1],'w')\n") +
                                             QLatin1String(body) + QStringLiteral("\nz.close()\n"),
                                         Q(path)}) == 0;
}

// An archive whose entries have the names given as "encoding:text" (the
// bytes of text in that Python codec), stored without the UTF-8 flag, as DOS
// and Windows archivers write them: Python writes ASCII stand-ins of the same
// length, which are then replaced by the bytes.
bool RawNamesZip(const std::string& path, const QStringList& names) {
  QStringList args{QStringLiteral("-c"), QStringLiteral(
      "import sys, zipfile\n"
      "path = sys.argv[1]\n"
      "names = [a.partition(':')[2].encode(a.partition(':')[0]) for a in sys.argv[2:]]\n"
      "stand = [('Q%dQ' % i).rjust(len(n), 'Z').encode() for i, n in enumerate(names)]\n"
      "with zipfile.ZipFile(path, 'w') as z:\n"
      "  for i, s in enumerate(stand): z.writestr(s.decode(), 'data %d' % i)\n"
      "data = open(path, 'rb').read()\n"
      "for s, n in zip(stand, names):\n"
      "  assert data.count(s) == 2\n"
      "  data = data.replace(s, n)\n"
      "open(path, 'wb').write(data)\n"), Q(path)};
  args << names;
  return Run(QStringLiteral("python3"), args) == 0;
}

// The process's time zone for one test.
class TZone {
 public:
  explicit TZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old, had_ = true;
    ::setenv("TZ", zone, 1);
    ::tzset();
  }
  ~TZone() {
    if (had_) ::setenv("TZ", saved_.c_str(), 1); else ::unsetenv("TZ");
    ::tzset();
  }

 private:
  std::string saved_;
  bool had_ = false;
};

bool ArchiveTestsOk(const std::string& path) {
  QString out;
  const bool ok = Run(QStringLiteral("unzip"), {QStringLiteral("-t"), Q(path)}, &out) == 0;
  if (!ok) qWarning("unzip -t %s: %s", path.c_str(), qPrintable(out));
  return ok;
}

// One line per entry: name, date/time, CRC, sizes, flag bits, method.
QStringList Entries(const std::string& path) {
  QString out;
  const QString script = QStringLiteral(
      "import sys,zipfile\nfor i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
      "  print(i.filename, i.date_time, i.CRC, i.compress_size, i.file_size, i.flag_bits, i.compress_type)\n");
  if (Run(QStringLiteral("python3"), {QStringLiteral("-c"), script, Q(path)}, &out) != 0)
    return {QStringLiteral("<python failed> ") + out};
  return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QByteArray Bytes(const std::string& path) {
  QFile f(Q(path));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList FilesUnder(const std::string& dir) {
  QStringList files;
  QDir base(Q(dir));
  QDirIterator it(base.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) files << base.relativeFilePath(it.next());
  files.sort();
  return files;
}

std::function<int(QDialog&)> g_onDialog;
int g_dialogs = 0;
QList<bool> g_secretPrompts;  // the secret flag of every input box, in order

}  // namespace

class ZipUiTest : public QObject {
  Q_OBJECT

  std::unique_ptr<TFormFixture> f_;
  std::string out_;  // where extractions go

  std::string Archive() const { return f_->left + "/ARCHIVE.ZIP"; }
  zipui::TPackForm& Pack() { return app::PackForm(*f_->form); }
  app::TInfoForm* Info() { return f_->form->InfoForm(); }

  // The main window active again with a panel focused (the Info window took
  // the activation while it was up; a window manager would give it back).
  bool BackToPanel() {
    f_->form->activateWindow();
    return QTest::qWaitFor([&] { return f_->form->ActivePanel() != nullptr; });
  }
  // Opens the ZIP window on `archive`; `drive` runs while it is "shown".
  bool OpenWindow(const std::function<int(TZIPpanel&)>& drive, const std::string& archive = "ARCHIVE.ZIP") {
    g_onDialog = [&](QDialog& d) {
      auto* w = qobject_cast<TZIPpanel*>(&d);
      return w ? drive(*w) : int(QDialog::Rejected);
    };
    const bool opened = app::OpenZipWindow(*f_->form, archive);
    return BackToPanel() && opened;
  }
  static void Tick(TZIPpanel& w, const std::string& name) {
    for (int i = 0; i < w.Model()->rowCount(); ++i)
      if (w.Model()->Name(i) == name) w.Model()->setData(w.Model()->index(i, 0), Qt::Checked, Qt::CheckStateRole);
  }
  // Extracts all entries of `archive` through its window into out_.
  bool ExtractAll(const std::string& archive = "ARCHIVE.ZIP") {
    Script().inputs.push_back(Q(out_));
    return OpenWindow([](TZIPpanel& w) { w.ExtractFiles()->trigger(); return w.result(); }, archive);
  }
  // Runs the pack dialog: path, option, level, `during`, then Pack.
  void PackWith(const std::string& path, int option, int level,
                const std::function<void(zipui::TPackForm&)>& during = {}) {
    g_onDialog = [=](QDialog& d) {
      auto& p = static_cast<zipui::TPackForm&>(d);
      if (!path.empty()) p.PathEdit()->setText(Q(path));
      p.SetOptionIndex(option), p.LevelSpin()->setValue(level);
      if (during) during(p);
      p.PackButton()->click();
      return p.result();
    };
    f_->Action("mnuFilePack")->trigger();
    BackToPanel();
  }
  // The left panel in src/ with `names` marked.
  void MarkInSrc(std::initializer_list<const char*> names) {
    f_->L()->ReadDirectory(f_->left + "/src");
    for (const char* name : names) QVERIFY2(f_->Mark(f_->L(), name), name);
  }

 private slots:
  void initTestCase() {
    zipui::SetInputQuery([](const QString& caption, const QString& prompt, QString& text, bool secret) {
      g_secretPrompts << secret;
      return ScriptedInput(nullptr, caption, prompt, text);
    });
    zipui::SetModalRunner([](QDialog& d) {
      ++g_dialogs;
      return g_onDialog ? g_onDialog(d) : int(QDialog::Rejected);
    });
  }

  void init() {
    f_ = std::make_unique<TFormFixture>();
    g_dialogs = 0, g_secretPrompts.clear(), g_onDialog = nullptr;
    out_ = f_->Path("out");
    const std::string stage = f_->Path("stage");
    for (const std::string& d : {f_->left + "/src/docs/sub", stage + "/docs"}) QVERIFY(MakeDir(d));
    // ARCHIVE.ZIP by Info-ZIP zip: a directory entry docs/, docs/a.txt, b.txt.
    WriteText(stage + "/docs/a.txt", "alpha\n"), WriteText(stage + "/b.txt", "bravo bravo\n");
    QCOMPARE(Run(QStringLiteral("zip"), {"-q", "-r", Q(Archive()), "docs", "b.txt"}, nullptr, stage), 0);
    // A tree to pack.
    for (auto [name, size, year] : {std::tuple{"b.txt", 3000, 2020}, {"docs/a.txt", 5000, 2021}, {"docs/sub/c", 7000, 2022}})
      QVERIFY(MakeFile(f_->left + "/src/" + name, size, year, 5, 6, 7, 8));
    QVERIFY(f_->Show());
  }
  void cleanup() { f_.reset(); }

  // ------------------------------------------------------------ the window

  // With the Options switch on; without it Enter shows the archive as a folder.
  void enterOnAZipListsItsFiles() {
    f_->form->SetZipWindowOnEnter(true);
    QVERIFY(f_->Put(f_->L(), "ARCHIVE.ZIP"));
    QStringList rows;
    const auto listRows = [&](QDialog& d) {
      const QAbstractItemModel* m = static_cast<TZIPpanel&>(d).ListView()->model();
      for (int r = 0; r < m->rowCount(); ++r)
        rows << m->index(r, 0).data().toString() + "|" + m->index(r, 1).data().toString() + "|" +
                    m->index(r, 2).data().toString() + "|" + m->index(r, 0).data(Qt::CheckStateRole).toString();
      return int(QDialog::Rejected);
    };
    g_onDialog = listRows;
    QTest::keyClick(f_->L(), Qt::Key_Return);
    QCOMPARE(rows, QStringList({"a.txt|6|docs/|0", "b.txt|12||0"}));  // files only, unticked
    // Closed without extracting: nothing was re-read, the cursor stays.
    QCOMPARE(f_->AtCursor(f_->L()), std::string("ARCHIVE.ZIP"));
    QVERIFY(Script().prompts.empty() && ShownMessages().empty());
    // Names sorted with ASCII letters folded, then by their bytes, then by
    // path; "empty/" without the directory bit has no row either.
    QVERIFY(PyZip(Archive(), "z.writestr(zipfile.ZipInfo('empty/'), '')\n"
                             "for n in ('b.txt', 'docs/A.txt', 'a.txt', 'B.txt', 'C/a.txt'): z.writestr(n, n)"));
    rows.clear();
    QVERIFY(OpenWindow(listRows));
    QCOMPARE(rows, QStringList({"A.txt|10|docs/|0", "a.txt|5||0", "a.txt|7|C/|0", "B.txt|5||0", "b.txt|5||0"}));
  }

  void extract_data() {
    QTest::addColumn<QString>("archive");  // Python writing it; empty: ARCHIVE.ZIP as made
    QTest::addColumn<QStringList>("ticks");
    QTest::addColumn<bool>("all");
    QTest::addColumn<bool>("flat");  // "Extract without stored paths" checked
    QTest::addColumn<QStringList>("files");
    QTest::addColumn<QString>("lastText");  // of the last file
    QTest::newRow("prompt cancelled") << "" << QStringList{} << true << false << QStringList{} << "";
    QTest::newRow("all, ticks do not matter")
        << "" << QStringList{"a.txt"} << true << false << QStringList{"b.txt", "docs/a.txt"} << "alpha\n";
    QTest::newRow("nothing ticked: all")
        << "" << QStringList{} << false << false << QStringList{"b.txt", "docs/a.txt"} << "alpha\n";
    QTest::newRow("ticked keep their paths") << "" << QStringList{"a.txt"} << false << false
                                             << QStringList{"docs/a.txt"} << "alpha\n";
    QTest::newRow("ticked, without paths") << "" << QStringList{"a.txt", "b.txt"} << false << true
                                           << QStringList{"a.txt", "b.txt"} << "bravo bravo\n";
    QTest::newRow("all, without paths")
        << "" << QStringList{} << true << true << QStringList{"a.txt", "b.txt"} << "bravo bravo\n";
    // "*.txt" is a name, not a mask; "A.TXT" is another file than "a.txt".
    QTest::newRow("names taken literally")
        << "z.writestr('*.txt','star'); z.writestr('a.txt','lower'); z.writestr('A.TXT','upper')"
        << QStringList{"*.txt", "A.TXT"} << false << false << QStringList{"*.txt", "A.TXT"} << "upper";
  }
  void extract() {
    QFETCH(QString, archive);
    QFETCH(QStringList, ticks);
    QFETCH(bool, all);
    QFETCH(bool, flat);
    QFETCH(QStringList, files);
    if (!archive.isEmpty()) QVERIFY(PyZip(Archive(), qPrintable(archive)));
    if (!files.isEmpty()) Script().inputs.push_back(Q(out_));
    int result = -1;
    QVERIFY(OpenWindow([&](TZIPpanel& w) {
      for (const QString& name : ticks) Tick(w, Std(name));
      w.WithoutPaths()->setChecked(flat);
      (all ? w.ExtractFiles() : w.ExtractSelectedFiles())->trigger();
      return result = w.result();
    }));
    QFETCH(QString, lastText);
    QCOMPARE(result, int(QDialog::Accepted));  // the window closes
    QCOMPARE(Script().captions, std::vector<QString>({"Vantrel"}));
    QCOMPARE(Script().prompts, std::vector<QString>({"Unpack files to directory:"}));
    // The ZIP window proposes the other panel's directory.
    QCOMPARE(Script().prefilled, std::vector<QString>({Q(f_->right)}));
    QCOMPARE(FilesUnder(out_), files);
    QCOMPARE(ReadText(out_ + "/" + Std(files.value(files.size() - 1))), lastText);
    QVERIFY(ShownMessages().empty() && !Info()->isVisible());
  }

  // The overwrite question of an extraction is the copy engine's: the entry
  // and the file it would replace with sizes and times, and Yes, No, All,
  // None (keep every existing file) and Cancel (stop here). docs/a.txt comes
  // before b.txt in the archive.
  void overwriteAnswersOfExtraction() {
    const struct {
      bool bExists;
      std::deque<MessageAnswer> answers;
      const char* result;  // docs/a.txt then b.txt: N new, O old, - missing
    } cases[] = {
        {true, {MessageAnswer::No, MessageAnswer::No}, "OO"},
        {true, {MessageAnswer::Yes, MessageAnswer::No}, "NO"},
        {true, {MessageAnswer::All}, "NN"},
        {true, {MessageAnswer::None}, "OO"},
        {false, {MessageAnswer::Cancel}, "O-"},
        {false, {MessageAnswer::Yes}, "NN"},  // b.txt is new: no question for it
    };
    for (const auto& c : cases) {
      QDir(Q(out_)).removeRecursively();
      QVERIFY(MakeDir(out_ + "/docs"));
      WriteText(out_ + "/docs/a.txt", "mine");
      if (c.bExists) WriteText(out_ + "/b.txt", "mine too");
      Script().shown.clear();
      Script().answers = c.answers;
      QVERIFY(ExtractAll());
      QVERIFY2(Script().answers.empty(), c.result);
      QCOMPARE(ShownMessages().size(), c.answers.size());
      std::string result;
      for (const char* name : {"/docs/a.txt", "/b.txt"})
        result += !Exists(out_ + name) ? '-' : ReadText(out_ + name).startsWith(QStringLiteral("mine")) ? 'O' : 'N';
      QCOMPARE(result, std::string(c.result));
    }
    // The first question of the last case, in full.
    const TShownMessage& m = ShownMessages()[0];
    QCOMPARE(m.kind, MessageKind::QuestionAll);
    QCOMPARE(m.caption, QStringLiteral("File Exists Alert"));
    const QStringList lines = m.text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 4);
    QCOMPARE(lines[0], QStringLiteral("Replace existing file a.txt?"));
    QVERIFY2(lines[2].startsWith(QStringLiteral("New:")) && lines[2].contains(QStringLiteral(" 6 bytes, ")), qPrintable(lines[2]));
    QVERIFY2(lines[3].startsWith(QStringLiteral("Existing:")) && lines[3].contains(QStringLiteral(" 4 bytes, ")), qPrintable(lines[3]));
  }

  // F3 or Enter views the entry under the cursor: a private copy handed to
  // the viewer and gone once the viewer ends; the window stays open.
  void viewShowsAPrivateCopyOfTheEntry() {
    const std::string seen = f_->Path("seen"), prog = f_->Path("viewer");
    WriteText(prog, "#!/bin/sh\nls -ld \"${1%/*}\" | cut -c1-10 > '" + seen + ".mode'\n"
                    "printf '%s' \"$1\" > '" + seen + ".path'\ncat \"$1\" > '" + seen + ".tmp'\n"
                    "mv '" + seen + ".tmp' '" + seen + "'\n");
    ::chmod(prog.c_str(), 0700);
    f_->form->ViewerCommand = prog;
    for (const char* name : {"a.txt", "b.txt"}) {
      QFile::remove(Q(seen));
      int result = -1;
      QVERIFY(OpenWindow([&](TZIPpanel& w) {
        for (int row = 0; row < w.Model()->rowCount(); ++row)
          if (w.Model()->Name(row) == name) w.ListView()->setCurrentIndex(w.Model()->index(row, 1));
        if (std::string(name) == "a.txt") w.ViewFile()->trigger();
        else QTest::keyClick(w.ListView(), Qt::Key_Return);
        return result = w.result();
      }));
      QCOMPARE(result, int(QDialog::Rejected));  // not closed by an extraction
      QTRY_VERIFY_WITH_TIMEOUT(Exists(seen), 10000);
      QCOMPARE(ReadText(seen), QLatin1String(std::string(name) == "a.txt" ? "alpha\n" : "bravo bravo\n"));
      const std::string path = Std(ReadText(seen + ".path"));
      QVERIFY2(QFileInfo(Q(path)).fileName() == QLatin1String(name) &&
                   QFileInfo(Q(path)).dir().dirName().startsWith(QStringLiteral("vantrel-view-")),
               path.c_str());
      QCOMPARE(ReadText(seen + ".mode").trimmed(), QStringLiteral("drwx------"));
      QTRY_VERIFY_WITH_TIMEOUT(!Exists(QFileInfo(Q(path)).path().toStdString()), 10000);
    }
    QVERIFY(ShownMessages().empty() && Script().prompts.empty());
  }

  void unreadableArchiveReportsTheErrorAndShowsNoWindow() {
    WriteText(f_->left + "/BAD.ZIP", std::string(3000, 'j'));
    std::string expected;  // the engine's own text for this file
    try {
      zip::TZipReader reader;
      reader.SetZipName(f_->left + "/BAD.ZIP");
      reader.ReadZip();
    } catch (const std::exception& e) {
      expected = e.what();
    }
    // A missing archive as well; the good one opens afterwards.
    QVERIFY(!app::OpenZipWindow(*f_->form, "BAD.ZIP") && !app::OpenZipWindow(*f_->form, f_->left + "/none.zip"));
    QCOMPARE(g_dialogs, 0);
    QCOMPARE(Script().Texts().value(0), Q(expected));
    QCOMPARE(ShownMessages().size(), size_t(2));
    QCOMPARE(ShownMessages()[0].kind, MessageKind::Error);
    QVERIFY(QApplication::overrideCursor() == nullptr);
    QVERIFY(OpenWindow([](TZIPpanel&) { return int(QDialog::Rejected); }));
  }

  // A damaged archive (its directory cut off) asks before its list is shown:
  // No shows nothing; Yes shows what could be read, with Repair archive,
  // which writes those entries into a new archive (unzip -t passes it) and
  // leaves the damaged one as it was.
  void damagedArchiveAsksFirstAndCanBeRepaired() {
    const QByteArray whole = Bytes(Archive());
    WriteText(f_->left + "/CUT.ZIP", whole.left(whole.indexOf("PK\x01\x02")).toStdString());
    const QString question = QStringLiteral("This archive is damaged: 3 entries could be read. Show them?");
    Script().answers = {MessageAnswer::No};
    QVERIFY(OpenWindow([](TZIPpanel&) { return int(QDialog::Rejected); }, "CUT.ZIP"));
    QCOMPARE(Script().Texts(), QStringList({question}));
    QCOMPARE(g_dialogs, 0);

    Script().shown.clear();
    Script().answers = {MessageAnswer::Yes};
    Script().inputs = {Q(f_->left + "/FIXED.ZIP")};
    // The rewrite is a job of the queue (its operation window has Cancel and Background).
    int jobsEnded = 0;
    const auto seen = connect(app::JobCenter(*f_->form), &fileops::TJobCenter::jobEnded, this, [&] { ++jobsEnded; });
    QStringList rows;
    QVERIFY(OpenWindow([&](TZIPpanel& w) {
      for (int r = 0; r < w.Model()->rowCount(); ++r) rows << QString::fromStdString(std::string(w.Model()->Name(r)));
      if (!w.RepairArchive()->isEnabled()) return int(QDialog::Rejected);
      w.RepairArchive()->trigger();
      return int(QDialog::Rejected);
    }, "CUT.ZIP"));
    disconnect(seen);
    QCOMPARE(jobsEnded, 1);
    QCOMPARE(rows, QStringList({"a.txt", "b.txt"}));
    QCOMPARE(Script().prompts.back(), QStringLiteral("Write the entries that can be read to the new archive:"));
    QCOMPARE(Script().prefilled.back(), Q(f_->left + "/CUT-repaired.ZIP"));
    QCOMPARE(Script().Texts(), QStringList({question, "3 entries were written to " + Q(f_->left + "/FIXED.ZIP") + "."}));
    QVERIFY(ArchiveTestsOk(f_->left + "/FIXED.ZIP"));
    QCOMPARE(Entries(f_->left + "/FIXED.ZIP").size(), 3);
    QCOMPARE(Bytes(f_->left + "/CUT.ZIP"), whole.left(whole.indexOf("PK\x01\x02")));

    // A whole archive has no Repair command.
    QVERIFY(OpenWindow([](TZIPpanel& w) { return int(w.RepairArchive()->isVisible() ? QDialog::Accepted : QDialog::Rejected); }));
  }

  void errorDuringExtractionIsReportedAndEverythingCloses() {
    WriteText(out_, "a file");  // nothing can be created below it
    out_ += "/deeper";
    QVERIFY(ExtractAll());
    QVERIFY(ShownMessages().size() == 1 && ShownMessages()[0].kind == MessageKind::Warning);
    const QStringList lines = ShownMessages()[0].text.split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), QStringLiteral("These files were not extracted:"));
    QCOMPARE(lines.size(), 4);  // docs/, docs/a.txt, b.txt
    QVERIFY(!Info()->isVisible() && ReadText(f_->Path("out")) == QStringLiteral("a file"));
  }

  void encryptedEntriesAskForThePassword() {
    // Two stored entries encrypted with the password "secret" by Info-ZIP zip.
    const std::string stage = f_->Path("stage");
    WriteText(stage + "/fields.c", std::string(11150, 'f'));
    WriteText(stage + "/xargs.1", std::string(4227, 'x'));
    QCOMPARE(Run(QStringLiteral("zip"), {"-q0", "-P", "secret", Q(f_->left + "/enc.zip"), "fields.c", "xargs.1"},
                 nullptr, stage),
             0);
    // The destination, a wrong password, the right one; the next entry reuses it.
    Script().inputs = {Q(out_), QStringLiteral("wrong"), QStringLiteral("secret")};
    QVERIFY(OpenWindow([](TZIPpanel& w) { w.ExtractFiles()->trigger(); return w.result(); }, "enc.zip"));
    // The first question asks; after a wrong password it says so and asks again.
    QCOMPARE(Script().prompts.size(), size_t(3));
    QCOMPARE(Script().prompts[1], QStringLiteral("Password for fields.c:"));
    QCOMPARE(Script().prompts[2], QStringLiteral("Wrong password for fields.c\nPassword for fields.c:"));
    QCOMPARE(g_secretPrompts, (QList<bool>{false, true, true}));  // passwords typed as bullets
    QVERIFY(ShownMessages().empty() && Bytes(out_ + "/fields.c").size() + Bytes(out_ + "/xargs.1").size() == 11150 + 4227);
    QVERIFY(app::ArchiveComponent(*f_->form).Password.empty());  // not kept for the next archive
  }

  // ------------------------------------------------------------ unpack

  // Unpack takes files of the active panel only: a directory whose name ends
  // in ".zip" is still a directory; without an active panel neither Unpack
  // nor Pack has anything to work on.
  void unpackTakesOnlyArchivesOfTheActivePanel() {
    QVERIFY(MakeDir(f_->left + "/dir.zip"));
    f_->L()->ReadDirectory(f_->left);
    QVERIFY(f_->Put(f_->L(), "dir.zip"));
    f_->Action("mnuFileUnpack")->trigger();
    QVERIFY(Script().prompts.empty() && ShownMessages().empty());
    f_->form->CommandEdit()->setFocus();
    QTRY_VERIFY(f_->form->CommandEdit()->hasFocus());
    f_->Action("mnuFileUnpack")->trigger();
    f_->Action("mnuFilePack")->trigger();
    QCOMPARE(Script().Texts(), QStringList({"There are no selected files", "There are no selected files"}));
    QCOMPARE(g_dialogs, 0);
  }


  // ------------------------------------------------------------ names, times, stubs

  // Names in a DOS code page: the menu reads them in the page chosen at
  // once (ticks stay on their entries), extraction writes what is shown, and
  // the choice holds for the archive the next time the window opens.
  void codePageMenuReShowsTheNamesAndExtractsThem() {
    QVERIFY(RawNamesZip(Archive(), {QStringLiteral("cp866:Привет.txt"), QStringLiteral("cp866:Мир/Дом.txt")}));
    const auto names = [](TZIPpanel& w) {
      QStringList rows;
      for (int r = 0; r < w.Model()->rowCount(); ++r)
        rows << w.Model()->index(r, 2).data().toString() + w.Model()->index(r, 0).data().toString() +
                    (w.Model()->Checked(r) ? QStringLiteral("+") : QString());
      return rows;
    };
    const struct {
      const char* page;
      QStringList rows;  // path + name, "+" when ticked
    } steps[] = {
        {"CP866", {"Мир/Дом.txt", "Привет.txt+"}},
        {"CP437", {"Åα¿óÑΓ.txt+", "î¿α/ä«¼.txt"}},
        {"KOI8-R", {"▄╗Ю/└╝╛.txt", "▐Ю╗╒╔Б.txt+"}},
        {"CP866", {"Мир/Дом.txt", "Привет.txt+"}},
    };
    Script().inputs.push_back(Q(out_));
    QVERIFY(OpenWindow([&](TZIPpanel& w) {
      QMenu* menu = w.CodePageMenu();
      if (menu == nullptr || menu->title() != QStringLiteral("Code page")) return -1;
      // Automatic first, checked, naming what it found; then every page.
      QAction* automatic = w.CodePageAction("");
      if (!automatic->isChecked() || !automatic->text().startsWith(QStringLiteral("Automatic ("))) return -2;
      for (const char* page : {"UTF-8", "CP437", "CP850", "CP866", "CP1251", "CP1252", "KOI8-R", "CP932", "CP936",
                               "CP949", "CP950"})
        if (w.CodePageAction(page) == nullptr || !menu->actions().contains(w.CodePageAction(page))) return -3;
      // The Cyrillic entry ticked whatever it is called.
      for (int r = 0; r < w.Model()->rowCount(); ++r)
        if (w.Model()->Path(r).empty()) w.Model()->SetChecked(r, true);
      for (const auto& step : steps) {
        w.CodePageAction(step.page)->trigger();
        if (names(w) != step.rows) {
          qWarning("%s: %s", step.page, qPrintable(names(w).join(QLatin1Char('|'))));
          return -4;
        }
        if (!w.CodePageAction(step.page)->isChecked() || w.CodePageAction("")->text() != QStringLiteral("Automatic"))
          return -5;
      }
      w.ExtractSelectedFiles()->trigger();
      return w.result();
    }));
    QCOMPARE(FilesUnder(out_), QStringList({"Привет.txt"}));
    QCOMPARE(ReadText(out_ + "/Привет.txt"), QStringLiteral("data 0"));
    // Opened again: the page chosen is still the archive's; Automatic forgets it.
    QStringList again;
    QVERIFY(OpenWindow([&](TZIPpanel& w) {
      again << (w.CodePageAction("CP866")->isChecked() ? QStringLiteral("CP866") : QStringLiteral("?"));
      again << names(w);
      w.CodePageAction("")->trigger();
      again << (w.CodePageAction("")->isChecked() ? QStringLiteral("auto") : QStringLiteral("?"));
      return int(QDialog::Rejected);
    }));
    QCOMPARE(again, QStringList({"CP866", "Мир/Дом.txt", "Привет.txt", "auto"}));
    QVERIFY(ShownMessages().empty());
  }

  // An archive that went away while its window is open: a new page cannot
  // read it; the list empties and the status bar says why.
  void codePageOfAnArchiveThatWentAway() {
    QString status;
    int rows = -1;
    QVERIFY(OpenWindow([&](TZIPpanel& w) {
      if (w.Model()->rowCount() != 2) return -1;
      QFile::remove(Q(Archive()));
      w.CodePageAction("CP866")->trigger();
      status = w.findChild<QStatusBar*>(QStringLiteral("StatusBar"))->currentMessage();
      rows = w.Model()->rowCount();
      return int(QDialog::Rejected);
    }));
    QCOMPARE(rows, 0);
    QVERIFY2(!status.isEmpty(), "the reason is shown");
    QVERIFY(ShownMessages().empty());
  }

  // The Modified column: the exact time of the NTFS or extended timestamp
  // field in local time (here UTC+8), else the DOS time as stored.
  void modifiedColumnShowsTheExactTimeInLocalTime() {
    const TZone zone("Asia/Shanghai");
    QVERIFY(PyZip(Archive(),
                  "import struct\n"
                  "t = 1614834367\n"  // 2021-03-04 05:06:07 UTC
                  "ft = t * 10**7 + 116444736000000000\n"
                  "for name, extra in (('ut.txt', struct.pack('<HHBI', 0x5455, 5, 1, t)),\n"
                  "                    ('ntfs.txt', struct.pack('<HHIHHQQQ', 10, 32, 0, 1, 24, ft, ft, ft)),\n"
                  "                    ('dos.txt', b'')):\n"
                  "  i = zipfile.ZipInfo(name, (1993, 7, 15, 12, 0, 2))\n"
                  "  i.extra = extra\n"
                  "  z.writestr(i, name)"));
    QStringList rows;
    QVERIFY(OpenWindow([&](TZIPpanel& w) {
      const QAbstractItemModel* m = w.ListView()->model();
      rows << m->headerData(3, Qt::Horizontal).toString();
      for (int r = 0; r < m->rowCount(); ++r)
        rows << m->index(r, 0).data().toString() + " " + m->index(r, 3).data().toString();
      return int(QDialog::Rejected);
    }));
    QCOMPARE(rows, QStringList({"Modified", "dos.txt 15.07.1993 12:00:02", "ntfs.txt 04.03.2021 13:06:07",
                                "ut.txt 04.03.2021 13:06:07"}));
  }

  // A self-extracting archive: read whole, its stub said in the status bar,
  // never called damaged, extracted as any other.
  void selfExtractingArchiveSaysItsStubAndIsNotDamaged() {
    const QByteArray body = Bytes(Archive());
    QFile f(Q(Archive()));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("MZ") + QByteArray(4998, '\x90') + body);
    f.close();
    QString status, title;
    int rows = -1;
    Script().inputs.push_back(Q(out_));
    QVERIFY(OpenWindow([&](TZIPpanel& w) {
      status = w.findChild<QStatusBar*>(QStringLiteral("StatusBar"))->currentMessage();
      title = w.windowTitle();
      rows = w.Model()->rowCount();
      if (!w.Damage().isEmpty() || w.RepairArchive()->isVisible()) return -1;
      w.ExtractFiles()->trigger();
      return w.result();
    }));
    QCOMPARE(status, QStringLiteral("5000 bytes before the archive (self-extracting stub)"));
    QCOMPARE(title, QStringLiteral("ZIP - ARCHIVE.ZIP"));
    QCOMPARE(rows, 2);
    QVERIFY(ShownMessages().empty());  // no "This archive is damaged" question
    QCOMPARE(FilesUnder(out_), QStringList({"b.txt", "docs/a.txt"}));
  }

  // ------------------------------------------------------------ pack

  // What Pack writes relative to the source, Extract all gives back.
  void packThenOpenRoundTrip() {
    MarkInSrc({"docs", "b.txt"});
    const std::string archive = f_->Path("p.zip");
    PackWith(archive, 0, 6);
    QCOMPARE(Pack().result(), int(QDialog::Accepted));
    QVERIFY(ShownMessages().empty() && ArchiveTestsOk(archive));
    QCOMPARE(f_->L()->Model().MarkedCount(), 0);  // both panels re-read; what was packed is unmarked
    QVERIFY(ExtractAll(archive));
    QCOMPARE(FilesUnder(out_), QStringList({"b.txt", "docs/a.txt", "docs/sub/c"}));
    QCOMPARE(Bytes(out_ + "/docs/sub/c"), Bytes(f_->left + "/src/docs/sub/c"));
  }

  // The threads setting reaches Pack and the ZIP window's extraction: the
  // archive is the same, byte for byte, at every count, and gives the tree
  // back.
  void threadsSettingReachesPackAndUnpack() {
    QByteArray first;
    for (int threads : {1, 2, 0}) {
      const QString trace = QStringLiteral("threads %1").arg(threads);
      QVERIFY2(app::SaveArchiveThreads(f_->form->Settings(), threads), qPrintable(trace));
      MarkInSrc({"docs", "b.txt"});
      const std::string archive = f_->Path(("t" + std::to_string(threads) + ".zip").c_str());
      PackWith(archive, 0, 6);
      QCOMPARE(app::ArchiveComponent(*f_->form).Threads, threads);
      QVERIFY2(ShownMessages().empty() && ArchiveTestsOk(archive), qPrintable(trace));
      if (first.isEmpty()) first = Bytes(archive);
      QVERIFY2(Bytes(archive) == first, qPrintable(trace));
      app::ArchiveComponent(*f_->form).Threads = 7;  // none of the counts above
      std::filesystem::remove_all(out_);
      QVERIFY(ExtractAll(archive));
      QCOMPARE(app::ArchiveComponent(*f_->form).Threads, threads);
      QCOMPARE(FilesUnder(out_), QStringList({"b.txt", "docs/a.txt", "docs/sub/c"}));
      QCOMPARE(Bytes(out_ + "/docs/sub/c"), Bytes(f_->left + "/src/docs/sub/c"));
    }
  }

  // The other formats: the path's ending follows the Format box, the
  // overwrite options and encryption do not apply; the archive is read back
  // by its own tools; an existing one is replaced only after Yes.
  void packToOtherFormatsReadBackByTheirTools() {
    struct TCase {
      int format;
      const char* ending;
      const char* tool;
      QStringList check;  // the archive appended
    } cases[] = {
        {1, ".tar.gz", "tar", {"tzf"}},
        {2, ".tar.xz", "tar", {"tJf"}},
        {3, ".tar.zst", "tar", {"--zstd", "-tf"}},
        {4, ".7z", "7zz", {"l", "-ba", "-slt"}},
    };
    for (const TCase& c : cases) {
      MarkInSrc({"docs", "b.txt"});
      std::string archive;
      PackWith({}, 0, 6, [&](zipui::TPackForm& p) {
        p.SetFormatIndex(c.format);
        QVERIFY(!p.OptionButton(0)->isEnabled() && !p.EncryptCheck()->isEnabled());
        archive = p.Path();
      });
      QCOMPARE(archive, f_->right + "/archive" + c.ending);
      QCOMPARE(Pack().result(), int(QDialog::Accepted));
      QVERIFY2(ShownMessages().empty(), qPrintable(Script().Texts().join('|')));
      QCOMPARE(f_->L()->Model().MarkedCount(), 0);
      QString listing;
      QCOMPARE(Run(QString::fromLatin1(c.tool), QStringList(c.check) << Q(archive), &listing), 0);
      for (const char* name : {"b.txt", "docs/a.txt", "docs/sub/c"}) QVERIFY2(listing.contains(name), qPrintable(listing));
      // Again: the existing archive is kept when the question gets No (the
      // dialog stays for another name), replaced after Yes.
      const QByteArray before = Bytes(archive);
      MarkInSrc({"b.txt"});
      PackWith({}, 0, 6, [&](zipui::TPackForm& p) { p.SetFormatIndex(c.format); });
      QCOMPARE(Script().Texts().size(), 1);
      QVERIFY(Script().Texts()[0].endsWith(QStringLiteral("exists. Replace it with the new archive?")));
      QCOMPARE(Bytes(archive), before);
      ShownMessages().clear();
      Script().answers = {app::MessageAnswer::Yes};
      PackWith({}, 0, 6, [&](zipui::TPackForm& p) { p.SetFormatIndex(c.format); });
      QVERIFY(Bytes(archive) != before);
      QCOMPARE(Run(QString::fromLatin1(c.tool), QStringList(c.check) << Q(archive), &listing), 0);
      QVERIFY2(!listing.contains("docs/a.txt"), qPrintable(listing));
      ShownMessages().clear();
    }
    // Back to ZIP: the ending and the options follow.
    PackWith({}, 0, 6, [&](zipui::TPackForm& p) {
      p.SetFormatIndex(0);
      QVERIFY(p.OptionButton(0)->isEnabled() && p.EncryptCheck()->isEnabled());
      QCOMPARE(p.Path(), f_->right + "/archive.zip");
    });
  }

  void formatEndingsAreSwappedOnlyWhenKnown() {
    struct {
      const char* path;
      int format;
      const char* want;
    } cases[] = {
        {"/a/archive.zip", 1, "/a/archive.tar.gz"},
        {"/a/archive.tar.gz", 4, "/a/archive.7z"},
        {"/a/x.tar.zst", 0, "/a/x.zip"},
        {"/a/notes.txt", 2, "/a/notes.txt"},
        {"/a/.zip", 1, "/a/.zip"},  // a name that is only an ending stays
        {"/a/b.tar.xz", 3, "/a/b.tar.zst"},
    };
    for (const auto& c : cases) QCOMPARE(zipui::TPackForm::WithFormatEnding(c.path, c.format), std::string(c.want));
  }

  // A marked directory comes back as a tree, empty directories included;
  // an empty directory alone is one entry; a selection with nothing in it
  // writes no archive and says so.
  void packStoresDirectoriesAndSaysWhenThereIsNothing() {
    QVERIFY(MakeDir(f_->left + "/src/docs/empty/deeper") && MakeDir(f_->left + "/src/bare"));
    MarkInSrc({"docs"});
    const std::string archive = f_->Path("tree.zip");
    PackWith(archive, 0, 6);
    QVERIFY(ShownMessages().empty() && ArchiveTestsOk(archive));
    QStringList names;
    for (const QString& line : Entries(archive)) names << line.section(QLatin1Char(' '), 0, 0);
    names.sort();
    QCOMPARE(names, QStringList({"docs/", "docs/a.txt", "docs/empty/", "docs/empty/deeper/", "docs/sub/",
                                 "docs/sub/c"}));
    QVERIFY(ExtractAll(archive));
    QVERIFY(QFileInfo(Q(out_ + "/docs/empty/deeper")).isDir());

    MarkInSrc({"bare"});
    PackWith(f_->Path("bare.zip"), 0, 6);
    const QStringList bare = Entries(f_->Path("bare.zip"));
    QCOMPARE(bare.size(), 1);
    QVERIFY2(bare.value(0).startsWith(QStringLiteral("bare/ ")), qPrintable(bare.value(0)));

    // Entries that vanished before Pack: nothing to pack, no archive.
    MarkInSrc({"b.txt"});
    QVERIFY(QFile::remove(Q(f_->left + "/src/b.txt")));
    PackWith(f_->Path("none.zip"), 0, 6);
    QCOMPARE(Script().Texts().value(0),
             QStringLiteral("Nothing to pack: the selection holds no files or directories. No archive was written."));
    QVERIFY(!Exists(f_->Path("none.zip")));
  }

  // "Store exact times": on by default, new entries carry the extended
  // timestamp (UTC) in both records; off, the records have no extra field,
  // as the engine writes them without times. Kept in the settings file.
  void storeExactTimesSettingDecidesTheExtraField() {
    QVERIFY(Pack().ExactTimesCheck()->isChecked());
    const QString extras = QStringLiteral(
        "import sys, zipfile, struct\n"
        "z = zipfile.ZipFile(sys.argv[1])\n"
        "for i in z.infolist():\n"
        "  z.fp.seek(i.header_offset + 28)\n"
        "  (n,) = struct.unpack('<H', z.fp.read(2))\n"
        "  print(i.filename, i.extra.hex(), n)\n");
    const struct {
      bool exact;
      const char* archive;
      int extraLength;  // of the UT field, in both records
    } cases[] = {{true, "exact.zip", 9}, {false, "dos.zip", 0}};
    for (const auto& c : cases) {
      Pack().SetExactTimes(c.exact);
      MarkInSrc({"b.txt"});
      const std::string archive = f_->Path(c.archive);
      PackWith(archive, 0, 6);
      QVERIFY(ArchiveTestsOk(archive));
      QString out;
      QCOMPARE(Run(QStringLiteral("python3"), {QStringLiteral("-c"), extras, Q(archive)}, &out), 0);
      const QStringList f = out.trimmed().split(QLatin1Char(' '));
      QCOMPARE(f.size(), 3);
      QCOMPARE(f[0], QStringLiteral("b.txt"));
      QCOMPARE(f[1].size() / 2, c.extraLength);  // central
      QCOMPARE(f[2].toInt(), c.extraLength);      // local
      if (c.exact) {
        // The field holds the file's time, UTC seconds.
        QVERIFY2(f[1].startsWith(QStringLiteral("5554050001")), qPrintable(f[1]));
        const QByteArray le = QByteArray::fromHex(f[1].mid(10).toLatin1());
        const qint64 stored = quint8(le[0]) | quint8(le[1]) << 8 | quint8(le[2]) << 16 | qint64(quint8(le[3])) << 24;
        QCOMPARE(stored, QFileInfo(Q(f_->left + "/src/b.txt")).lastModified().toSecsSinceEpoch());
      }
    }
    // Kept for the next start, off as left.
    QVERIFY(f_->Restart());
    QVERIFY(f_->Section("GENERAL").contains(QStringLiteral("StoreExactTimes=0")));
    QVERIFY(!Pack().ExactTimesCheck()->isChecked());
    Pack().SetExactTimes(true);
    QVERIFY(f_->Restart());
    QVERIFY(f_->Section("GENERAL").contains(QStringLiteral("StoreExactTimes=1")));
    QVERIFY(Pack().ExactTimesCheck()->isChecked());
  }

  void packWithOnlyOlderTwiceKeepsEntries() {
    const std::string archive = f_->right + "/archive.zip";
    const auto pack = [&] {
      MarkInSrc({"docs", "b.txt"});
      PackWith(archive, 1, 9);
      QVERIFY(ArchiveTestsOk(archive));
    };
    pack();
    // The files (the directories docs/ and docs/sub/ are entries too).
    const auto files = [&] {
      QStringList lines = Entries(archive);
      lines.removeIf([](const QString& l) { return l.section(QLatin1Char(' '), 0, 0).endsWith(QLatin1Char('/')); });
      return lines;
    };
    QCOMPARE(Entries(archive).size(), 5);
    const QStringList first = files();
    QCOMPARE(first.size(), 3);
    for (const QString& line : first) {  // deflated, with level 9's flag bits
      const QStringList f = line.split(' ');
      QVERIFY2(f.last() == "8" && (f[f.size() - 2].toInt() & 6) == 2, qPrintable(line));
    }
    // Only a newer file replaces its entry; the others stay.
    QVERIFY(MakeFile(f_->left + "/src/b.txt", 4000, 2024, 5, 6, 7, 8));
    pack();
    const QStringList third = files();
    QCOMPARE(third.size(), 3);
    for (const QString& line : third) QCOMPARE(first.contains(line), !line.startsWith(QStringLiteral("b.txt (2024")));
    QVERIFY(ShownMessages().empty());
  }

  void packEncryptedWritesAes256Entries() {
    const std::string archive = f_->right + "/secret.zip";
    QVERIFY(!Pack().EncryptCheck()->isChecked() && !Pack().PasswordEdit()->isEnabled());  // off by default
    // Ticked without a password: a warning, and the dialog stays open.
    MarkInSrc({"b.txt"});
    PackWith(archive, 0, 6, [](zipui::TPackForm& p) { p.EncryptCheck()->setChecked(true); });
    QCOMPARE(Pack().result(), int(QDialog::Rejected));
    QCOMPARE(Script().Texts(), QStringList({"Enter the password to encrypt with."}));
    QVERIFY(!Exists(archive));
    MarkInSrc({"docs", "b.txt"});
    PackWith(archive, 0, 6, [](zipui::TPackForm& p) {
      p.EncryptCheck()->setChecked(true);
      p.PasswordEdit()->setText(QStringLiteral("s\u00e9cret"));
    });
    QCOMPARE(Pack().result(), int(QDialog::Accepted));
    // The password is not kept; the box keeps its state like the other choices.
    QVERIFY(Pack().PasswordEdit()->text().isEmpty() && Pack().EncryptCheck()->isChecked());
    // The files AES-encrypted; the directories docs/ and docs/sub/ have no data to encrypt.
    const QStringList entries = Entries(archive);
    QCOMPARE(entries.size(), 5);
    for (const QString& line : entries)
      QVERIFY2(line.endsWith(QStringLiteral(" 99")) || line.section(QLatin1Char(' '), 0, 0).endsWith(QLatin1Char('/')),
               qPrintable(line));
  }

  void packWithNothingChosenOrNoPlaceFails() {
    // ".." under the cursor: the dialog stays open with the message.
    f_->L()->SetCursor(0);
    PackWith("", 0, 6);
    QCOMPARE(Pack().result(), int(QDialog::Rejected));
    QCOMPARE(Script().Texts(), QStringList({"There are no selected files!"}));
    QVERIFY(!Exists(f_->right + "/archive.zip"));
    // A directory that does not exist: the error, and the dialog closes.
    MarkInSrc({"b.txt"});
    PackWith(f_->Path("no/such/dir/a.zip"), 0, 6);
    QCOMPARE(Pack().result(), int(QDialog::Accepted));
    QVERIFY(ShownMessages().size() == 2 && ShownMessages()[1].kind == MessageKind::Error);
    QVERIFY(!Info()->isVisible() && !Exists(f_->Path("no")));
  }

  void cancelledPackLeavesTheOldArchive() {
    const std::string archive = f_->right + "/archive.zip";
    MarkInSrc({"b.txt"});
    PackWith(archive, 0, 6);
    QVERIFY(ArchiveTestsOk(archive));
    const QByteArray before = Bytes(archive);
    std::string noise(24u << 20, '\0');  // poorly compressible: many writes
    QRandomGenerator(7).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    WriteText(f_->left + "/src/big.bin", noise);
    MarkInSrc({"big.bin", "docs"});
    // Escape in the operation window once its gauge moved; Yes to "Abort operation?".
    fileops::TOperationForm* window = app::OperationForm(*f_->form);
    bool pressed = false;
    const auto escape = connect(window, &fileops::TOperationForm::progressShown, this, [&](int v) {
      if (v > 0 && v < 50 && !pressed) {
        pressed = true;
        QTimer::singleShot(0, window, [window] { QTest::keyClick(window, Qt::Key_Escape); });
      }
    });
    Script().answers = {MessageAnswer::Yes};
    PackWith(archive, 0, 6);
    disconnect(escape);
    QVERIFY(pressed);
    // The user chose to abort: no further word about it.
    QCOMPARE(Script().Texts(), QStringList({"Abort operation?"}));
    QCOMPARE(Bytes(archive), before);  // and no temporary file beside it
    QCOMPARE(QDir(Q(f_->right)).entryList(QDir::Files), QStringList({"archive.zip"}));
    QVERIFY(!window->isVisible() && !Pack().isVisible());
  }

  // Pack and Unpack run as jobs: F2 in the operation window sends each to the
  // background, where it has its line in the Operations window while the
  // panels take keys; at its end the archive is whole (the marks of what it
  // packed are gone) and the extracted tree equal to the source.
  void packAndUnpackGoToTheBackground() {
    std::string noise(24u << 20, '\0');
    QRandomGenerator(3).fillRange(reinterpret_cast<quint32*>(noise.data()), noise.size() / 4);
    WriteText(f_->left + "/src/big.bin", noise);
    fileops::TOperationForm* window = app::OperationForm(*f_->form);
    fileops::TJobQueue& queue = app::JobCenter(*f_->form)->Queue();
    QStringList titles;
    const auto background = connect(window, &fileops::TOperationForm::progressShown, this, [&](int) {
      if (titles.isEmpty())
        for (const auto& job : queue.Jobs()) titles << QString::fromStdString(job->Title());
      QTimer::singleShot(0, window, [window] { QTest::keyClick(window, Qt::Key_F2); });
    });
    const std::string archive = f_->right + "/bg.zip";
    MarkInSrc({"big.bin", "b.txt"});
    PackWith(archive, 0, 9);
    QVERIFY(!window->isVisible());
    QCOMPARE(titles, QStringList({QStringLiteral("Pack 2 items to ") + Q(archive)}));
    // The panels take keys meanwhile.
    QVERIFY(f_->L()->hasFocus() || f_->form->ActivePanel() != nullptr);
    QTRY_VERIFY_WITH_TIMEOUT(queue.Jobs().empty(), 20000);
    QVERIFY(ArchiveTestsOk(archive));
    QTRY_VERIFY(f_->L()->GetMarkedEntries().empty() ||
                f_->L()->GetMarkedEntries().front()->FileName == "..");
    // Unpack of the new archive, into out_, in the background as well.
    titles.clear();
    f_->R()->ReadDirectory(f_->right);
    QVERIFY(f_->Put(f_->R(), "bg.zip"));
    f_->R()->setFocus();
    QTRY_VERIFY(f_->form->ActivePanel() == f_->R());
    // A file in the way is kept for one list at the end (big.bin goes
    // first, unasked); Rename all puts the entry beside it.
    QVERIFY(MakeDir(out_));
    WriteText(out_ + "/b.txt", "in the way");
    static QStringList asked;
    asked.clear();
    app::SetConflictListHandler([](QWidget*, const QString&, const QStringList& items) {
      asked = items;
      return fileops::TConflictChoice::RenameAll;
    });
    // A job on out_'s disk holds the unpack back until it is in the background
    // (by the device rule alone: the archive just written is in memory, which
    // would let the unpack start beside it).
    queue.SetFacts(nullptr);
    auto released = std::make_shared<std::atomic<bool>>(false);
    queue.Add("blocker", fileops::DevicesOf({out_}), [released](fileops::TJob& self) {
      while (self.Pass() && !*released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    Script().inputs.push_back(Q(out_));
    f_->Action("mnuFileUnpack")->trigger();
    disconnect(background);
    QCOMPARE(titles, QStringList({QStringLiteral("blocker"), QStringLiteral("Unpack bg.zip to ") + Q(out_)}));
    *released = true;
    QTRY_VERIFY_WITH_TIMEOUT(queue.Jobs().empty(), 20000);
    queue.SetFacts(fileops::SystemJobFacts());
    app::SetConflictListHandler(nullptr);
    QCOMPARE(asked, QStringList({"b.txt"}));
    QCOMPARE(Bytes(out_ + "/big.bin"), QByteArray::fromStdString(noise));
    QCOMPARE(Bytes(out_ + "/b.txt"), QByteArray("in the way"));
    QCOMPARE(Bytes(out_ + "/b (2).txt"), Bytes(f_->left + "/src/b.txt"));
    QVERIFY(ShownMessages().empty());
  }

  // A pack job, ZIP or 7z, reports the file it could not read (a FIFO:
  // neither a ZIP entry nor a 7z member), packs the rest, and offers Retry,
  // which adds just that file, now a file, to the archive as a job of its
  // own: unzip -t and 7zz t find the result whole. No means no second job.
  void packRetriesTheFilesThatFailed() {
    struct TCase {
      int format;
      const char* ending;
      MessageAnswer retry;
      QStringList test;  // the checking program and its arguments, the archive appended
      bool encrypt;      // the retry encrypts the file it adds as the first run did
    } cases[] = {
        {0, ".zip", MessageAnswer::Yes, {"unzip", "-t"}, false},
        {0, ".zip", MessageAnswer::Yes, {"7zz", "t", "-psecret"}, true},
        {4, ".7z", MessageAnswer::Yes, {"7zz", "t"}, false},
        {4, ".7z", MessageAnswer::No, {"7zz", "t"}, false},
    };
    fileops::TJobQueue& queue = app::JobCenter(*f_->form)->Queue();
    const std::string pipe = f_->left + "/src/pipe";
    for (const TCase& c : cases) {
      QVERIFY(::mkfifo(pipe.c_str(), 0644) == 0);
      const std::string archive = f_->right + "/retry" + c.ending;
      QFile::remove(Q(archive));
      // When the report shows, the FIFO becomes a file; the question after it gets the answer.
      Script().onShown = [&](const TShownMessage& m) {
        if (m.kind != MessageKind::Warning) return;
        ::unlink(pipe.c_str());
        WriteText(pipe, "mended");
      };
      Script().answers = {c.retry};
      MarkInSrc({"b.txt", "pipe", "docs"});
      PackWith(archive, 0, 6, [&](zipui::TPackForm& p) {
        p.SetFormatIndex(c.format);
        if (c.format == 0) p.EncryptCheck()->setChecked(c.encrypt);
        if (c.encrypt) p.PasswordEdit()->setText(QStringLiteral("secret"));
      });
      QTRY_VERIFY_WITH_TIMEOUT(Script().Texts().size() == 2 && queue.Jobs().empty(), 20000);
      Script().onShown = nullptr;
      QCOMPARE(Script().Texts(), QStringList({QStringLiteral("These files were not added to the archive:"),
                                              QStringLiteral("Retry the 1 failed items?")}));
      QVERIFY2(ShownMessages()[0].text.contains(QStringLiteral("pipe")), qPrintable(ShownMessages()[0].text));
      QString out;
      QCOMPARE(Run(c.test.front(), c.test.mid(1) << Q(archive), &out), 0);
      QCOMPARE(Run(QStringLiteral("bsdtar"), {"-tf", Q(archive)}, &out), 0);
      for (const char* name : {"b.txt", "docs/a.txt", "docs/sub/c"}) QVERIFY2(out.contains(name), qPrintable(out));
      const bool added = c.retry == MessageAnswer::Yes;
      QCOMPARE(out.contains(QStringLiteral("pipe")), added);
      if (c.encrypt) {
        // Every file AES-encrypted, the one the retry added too.
        const QStringList entries = Entries(archive);
        QVERIFY2(entries.filter(QRegularExpression(QStringLiteral("^pipe "))).size() == 1, qPrintable(entries.join('\n')));
        for (const QString& line : entries)
          QVERIFY2(line.endsWith(QStringLiteral(" 99")) || line.section(QLatin1Char(' '), 0, 0).endsWith(QLatin1Char('/')),
                   qPrintable(line));
      } else if (added) {
        QCOMPARE(Run(QStringLiteral("bsdtar"), {"-xOf", Q(archive), "pipe"}, &out), 0);
        QCOMPARE(out, QStringLiteral("mended"));
      }
      QVERIFY(::unlink(pipe.c_str()) == 0);
      ShownMessages().clear();
    }
  }

  void namesThatAreNotUtf8SurviveEveryStep() {
    // A source file and a destination directory whose names are Latin-1 bytes.
    const std::string odd = "caf\xe9.txt", oddDir = f_->Path("d") + "\xff";
    QVERIFY(MakeFile(f_->left + "/src/" + odd, 100, 2020, 1, 1, 1, 1));
    QVERIFY(::mkdir(oddDir.c_str(), 0755) == 0);
    f_->R()->ReadDirectory(oddDir);
    MarkInSrc({});
    QVERIFY(f_->Mark(f_->L(), odd));
    PackWith("", 0, 6);  // the proposed path left as shown
    const std::string archive = oddDir + "/archive.zip";
    QVERIFY2(Exists(archive), "the archive is where the bytes say");
    std::filesystem::copy_file(archive, f_->Path("odd-copy.zip"));  // unzip gets a plain name
    QVERIFY(ArchiveTestsOk(f_->Path("odd-copy.zip")));
    // The ZIP window lists it and extracts it under the name it shows: the
    // engine reads a name stored without the UTF-8 flag in the page that
    // suits it (here Windows' Western page).
    Script().inputs.push_back(Q(out_));
    std::vector<std::string> ticked;
    QVERIFY(OpenWindow([&](TZIPpanel& w) {
      w.Model()->SetChecked(0, true);
      ticked = w.Model()->TickedNames();
      w.ExtractSelectedFiles()->trigger();
      return w.result();
    }, archive));
    QCOMPARE(ticked, std::vector<std::string>{"caf\xc3\xa9.txt"});
    QVERIFY(Exists(out_ + "/" + ticked[0]) && ShownMessages().empty());
    std::filesystem::remove_all(oddDir);  // QTemporaryDir cannot remove names that are not UTF-8
    std::filesystem::remove(f_->left + "/src/" + odd);
  }
};

QTEST_MAIN(ZipUiTest)
#include "zipui_test.moc"
