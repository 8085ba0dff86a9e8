// zipui_test.cpp - the ZIP window, Pack and Unpack on the real main window,
// offscreen, with scripted answers for every dialog: rows and caption of the
// ZIP window, extracting ticked or all entries, the destination prompt, the
// pack dialog's proposal, overwrite modes and levels, the Info window with its
// gauges and Escape, and the engine's errors in the general error box. Every
// archive written here is checked with Info-ZIP's unzip -t.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTableView>
#include <QTest>

#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>

#include <QDirIterator>

#include "app/infoform.h"
#include "app/mainform.h"
#include "app/zip_commands.h"
#include "gui_test_support.h"
#include "platform/fs.h"
#include "zip/ui/packform.h"
#include "zip/ui/zip_dialogs.h"
#include "zip/ui/zippanel.h"
#include "zip/zip_writer.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::TMainForm;
using panels::TFMPanel;

namespace {

// Runs a program; returns its exit code (-1 when it did not run) and output.
int Run(const QString& program, const QStringList& args, QString* output = nullptr,
        const QString& dir = {}) {
  QProcess p;
  if (!dir.isEmpty()) p.setWorkingDirectory(dir);
  p.setProcessChannelMode(QProcess::MergedChannels);
  p.start(program, args);
  if (!p.waitForFinished(60000)) return -1;
  if (output) *output = QString::fromUtf8(p.readAll());
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

bool ArchiveTestsOk(const std::string& path) {
  QString out;
  const int rc = Run(QStringLiteral("unzip"), {QStringLiteral("-t"), QString::fromStdString(path)}, &out);
  if (rc != 0) qWarning("unzip -t %s: %s", path.c_str(), qPrintable(out));
  return rc == 0;
}

// One line per entry: name, date/time, CRC, sizes, flag bits, method.
QStringList Entries(const std::string& path) {
  QString out;
  const QString script = QStringLiteral(
      "import sys,zipfile\n"
      "for i in zipfile.ZipFile(sys.argv[1]).infolist():\n"
      "  print(i.filename, i.date_time, i.CRC, i.compress_size, i.file_size, i.flag_bits, "
      "i.compress_type)\n");
  if (Run(QStringLiteral("python3"), {QStringLiteral("-c"), script, QString::fromStdString(path)},
          &out) != 0)
    return {QStringLiteral("<python failed> ") + out};
  return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList Names(const std::string& path) {
  QStringList names;
  for (const QString& line : Entries(path)) names << line.section(QLatin1Char(' '), 0, 0);
  return names;
}

QByteArray Bytes(const std::string& path) {
  QFile f(QString::fromStdString(path));
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool Exists(const std::string& path) { return QFileInfo::exists(QString::fromStdString(path)); }

// For names that are not UTF-8 (QString would replace their bytes).
bool ExistsBytes(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

QStringList FilesUnder(const std::string& dir) {
  QStringList files;
  QDir base(QString::fromStdString(dir));
  QDirIterator it(base.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) files << base.relativeFilePath(it.next());
  files.sort();
  return files;
}

// Scripted answers: the destination prompt and the modal dialogs.
struct TScript {
  int queries = 0;
  QString queryCaption, queryPrompt, queryPreset;
  std::optional<QString> answer;  // nullopt = Cancel
  std::function<int(QDialog&)> onDialog;
  int dialogs = 0;
};

TScript* g_script = nullptr;

// Answers Yes to the overwrite question when asked to, records every box.
bool g_answerYes = false;
app::MessageAnswer RecordAndAnswer(QWidget* parent, app::MessageKind kind, const QString& caption,
                                   const QString& text) {
  RecordMessage(parent, kind, caption, text);
  if (kind == app::MessageKind::Question)
    return g_answerYes ? app::MessageAnswer::Yes : app::MessageAnswer::No;
  return app::MessageAnswer::Ok;
}

}  // namespace

class ZipUiTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir tmp_;
  std::string root_, leftDir_, rightDir_, outDir_, startDir_;
  std::unique_ptr<TMainForm> form_;
  TScript script_;

  std::string Ini() const { return root_ + "/vantrel.ini"; }
  std::string Archive() const { return leftDir_ + "/ARCHIVE.ZIP"; }
  zipui::TZIPpanel& Window() { return app::ZipWindow(*form_); }
  zipui::TPackForm& Pack() { return app::PackForm(*form_); }

  void StartForm(const std::string& left, const std::string& right) {
    WriteText(Ini(), "[GENERAL]\nLeftPath=" + left + "\nRightPath=" + right + "\n");
    form_ = std::make_unique<TMainForm>(Ini());
    form_->show();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    QTRY_VERIFY(form_->LeftFMPanel()->hasFocus());
  }

  // The main window active again with a panel focused (the Info window took
  // the activation while it was up; a window manager would give it back).
  void WaitForActivePanel() {
    form_->activateWindow();
    QTRY_VERIFY(form_->ActivePanel() != nullptr);
  }

  void PutCursorOn(TFMPanel* panel, const char* name) {
    const int index = panel->IndexOfName(name);
    QVERIFY2(index >= 0, name);
    panel->SetCursor(index);
  }

  // Opens the ZIP window on ARCHIVE.ZIP; `drive` runs while it is "shown".
  bool OpenWindow(const std::function<int(zipui::TZIPpanel&)>& drive) {
    script_.onDialog = [&](QDialog& d) {
      auto* w = qobject_cast<zipui::TZIPpanel*>(&d);
      return w ? drive(*w) : int(QDialog::Rejected);
    };
    const bool opened = app::OpenZipWindow(*form_, "ARCHIVE.ZIP");
    form_->activateWindow();
    return QTest::qWaitFor([&] { return form_->ActivePanel() != nullptr; }) && opened;
  }

  static int Tick(zipui::TZIPpanel& w, const char* name) {
    const auto& rows = w.Model()->Rows();
    for (size_t i = 0; i < rows.size(); ++i)
      if (rows[i].name == name) {
        w.Model()->setData(w.Model()->index(static_cast<int>(i), 0), Qt::Checked,
                           Qt::CheckStateRole);
        return 1;
      }
    return 0;
  }

  // Runs the pack dialog: `setup` chooses, then Pack is pressed.
  void PackWith(const std::string& path, int option, int level,
                const std::function<void(zipui::TPackForm&)>& during = {}) {
    script_.onDialog = [=](QDialog& d) {
      auto* p = qobject_cast<zipui::TPackForm*>(&d);
      if (p == nullptr) return int(QDialog::Rejected);
      p->PathEdit()->setText(QString::fromStdString(path));
      p->SetOptionIndex(option);
      p->LevelSpin()->setValue(level);
      if (during) during(*p);
      p->PackButton()->click();
      return p->result();
    };
    form_->Action(QStringLiteral("mnuFilePack"))->trigger();
    // The Info window took the activation; the next command needs it back.
    WaitForActivePanel();
  }

 private slots:
  void initTestCase() {
    QVERIFY(tmp_.isValid());
    startDir_ = platform::GetCurrentDir();
    g_script = &script_;
    zipui::SetInputQuery([](const QString& caption, const QString& prompt, QString& text) {
      TScript& s = *g_script;
      ++s.queries;
      s.queryCaption = caption;
      s.queryPrompt = prompt;
      s.queryPreset = text;
      if (!s.answer) return false;
      text = *s.answer;
      return true;
    });
    zipui::SetModalRunner([](QDialog& d) {
      ++g_script->dialogs;
      return g_script->onDialog ? g_script->onDialog(d) : int(QDialog::Rejected);
    });
  }

  void init() {
    InstallRecorder();
    app::SetMessageHandler(&RecordAndAnswer);
    g_answerYes = false;
    script_ = TScript{};
    root_ = Std(tmp_.path()) + "/" + Std(QString::number(QDateTime::currentMSecsSinceEpoch()));
    leftDir_ = root_ + "/left";
    rightDir_ = root_ + "/right";
    outDir_ = root_ + "/out";
    for (const std::string& d : {leftDir_ + "/src/docs/sub", rightDir_, root_ + "/stage/docs"})
      QVERIFY(QDir().mkpath(QString::fromStdString(d)));
    // ARCHIVE.ZIP by Info-ZIP zip: a directory entry docs/, docs/a.txt, b.txt.
    WriteText(root_ + "/stage/docs/a.txt", "alpha\n");
    WriteText(root_ + "/stage/b.txt", "bravo bravo\n");
    QCOMPARE(Run(QStringLiteral("zip"),
                 {QStringLiteral("-q"), QStringLiteral("-r"), QString::fromStdString(Archive()),
                  QStringLiteral("docs"), QStringLiteral("b.txt")},
                 nullptr, QString::fromStdString(root_ + "/stage")),
             0);
    QCOMPARE(Names(Archive()), QStringList({"docs/", "docs/a.txt", "b.txt"}));
    // A tree to pack.
    QVERIFY(MakeFile(leftDir_ + "/src/b.txt", 3000, 2020, 5, 6, 7, 8));
    QVERIFY(MakeFile(leftDir_ + "/src/docs/a.txt", 5000, 2021, 1, 2, 3, 4));
    QVERIFY(MakeFile(leftDir_ + "/src/docs/sub/c", 7000, 2022, 3, 4, 5, 6));
    StartForm(leftDir_, rightDir_);
  }

  void cleanup() {
    form_.reset();
    platform::SetCurrentDir(startDir_);
  }

  // ------------------------------------------------------------ the window

  void windowListsFileEntriesSortedByName() {
    QString caption;
    QStringList rows, header;
    Qt::Alignment sizeAlign;
    int visibleRows = -1, checkState = -1;
    bool clickable = true;
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      caption = w.windowTitle();
      const QAbstractItemModel* m = w.ListView()->model();
      visibleRows = m->rowCount();
      for (int r = 0; r < m->rowCount(); ++r)
        rows << m->index(r, 0).data().toString() + "|" + m->index(r, 1).data().toString() + "|" +
                    m->index(r, 2).data().toString();
      for (int c = 0; c < m->columnCount(); ++c) header << m->headerData(c, Qt::Horizontal).toString();
      sizeAlign = Qt::Alignment(m->index(0, 1).data(Qt::TextAlignmentRole).toInt());
      checkState = m->index(0, 0).data(Qt::CheckStateRole).toInt();
      clickable = w.ListView()->horizontalHeader()->sectionsClickable();
      return int(QDialog::Rejected);
    }));
    QCOMPARE(checkState, int(Qt::Unchecked));
    QVERIFY(!clickable);
    QCOMPARE(caption, QStringLiteral("ZIP - ARCHIVE.ZIP"));
    QCOMPARE(header, QStringList({"File name", "Size", "Path"}));
    QCOMPARE(visibleRows, 2);
    QCOMPARE(rows, QStringList({"a.txt|6|docs/", "b.txt|12|"}));
    QVERIFY(sizeAlign & Qt::AlignRight);
    QCOMPARE(script_.queries, 0);
    QVERIFY(ShownMessages().empty());
  }

  void enterOnAZipOpensTheWindow() {
    TFMPanel* left = form_->LeftFMPanel();
    PutCursorOn(left, "ARCHIVE.ZIP");
    QString caption;
    int rows = -1;
    script_.onDialog = [&](QDialog& d) {
      if (auto* w = qobject_cast<zipui::TZIPpanel*>(&d)) {
        caption = w->windowTitle();
        rows = w->Model()->rowCount();
      }
      return int(QDialog::Rejected);
    };
    QTest::keyClick(left, Qt::Key_Return);
    QCOMPARE(caption, QStringLiteral("ZIP - ARCHIVE.ZIP"));
    QCOMPARE(rows, 2);
    // Closed without extracting: nothing was refreshed, the cursor stays.
    QCOMPARE(left->CurrentEntry()->FileName, std::string("ARCHIVE.ZIP"));
    QVERIFY(ShownMessages().empty());
  }

  void rowsSortByNameNotByArchiveOrder() {
    // Stored as z.txt, B.txt, a/c.txt, d/, big.bin: listed by name with
    // letters folded; "d/", stored without the directory bit, gets no row.
    const std::string stage = root_ + "/stage2";
    QVERIFY(QDir().mkpath(QString::fromStdString(stage)));
    const QString script = QStringLiteral(
        "import sys,zipfile\n"
        "z=zipfile.ZipFile(sys.argv[1],'w')\n"
        "z.writestr('z.txt','1'); z.writestr('B.txt','22'); z.writestr('a/c.txt','333')\n"
        "i=zipfile.ZipInfo('d/'); i.external_attr=0; z.writestr(i,'')\n"
        "z.writestr('big.bin', b'x'*1234567)\n");
    QCOMPARE(Run(QStringLiteral("python3"),
                 {QStringLiteral("-c"), script, QString::fromStdString(leftDir_ + "/ARCHIVE.ZIP")}),
             0);
    QStringList names, sizes;
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      for (const auto& row : w.Model()->Rows()) {
        names << QString::fromStdString(row.path + row.name);
      }
      for (int r = 0; r < w.Model()->rowCount(); ++r) sizes << w.Model()->index(r, 1).data().toString();
      return int(QDialog::Rejected);
    }));
    QCOMPARE(names, QStringList({"B.txt", "big.bin", "a/c.txt", "z.txt"}));
    QCOMPARE(sizes, QStringList({"2", "1234567", "3", "1"}));
  }

  void extractSelectedWritesTheTickedFileIntoTheDestination() {
    script_.answer = QString::fromStdString(outDir_);
    int result = -1;
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      if (!Tick(w, "a.txt")) return int(QDialog::Rejected);
      w.ExtractSelectedFiles()->trigger();
      result = w.result();
      return result;
    }));
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(script_.queries, 1);
    QCOMPARE(script_.queryCaption, QStringLiteral("Vantrel"));
    QCOMPARE(script_.queryPrompt, QStringLiteral("Unpack files to directory:"));
    QCOMPARE(script_.queryPreset, QString::fromStdString(leftDir_));
    QCOMPARE(FilesUnder(outDir_), QStringList({"a.txt"}));
    QCOMPARE(ReadText(outDir_ + "/a.txt"), QStringLiteral("alpha\n"));
    QVERIFY(ShownMessages().empty());
    QVERIFY(!form_->InfoForm()->isVisible());
  }

  void spaceTicksTheRowUnderTheCursor() {
    std::vector<std::string> ticked;
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      QTableView* view = w.ListView();
      view->setCurrentIndex(w.Model()->index(1, 2));  // b.txt, its path cell
      QTest::keyClick(view, Qt::Key_Space);
      QTest::keyClick(view, Qt::Key_Up);
      QTest::keyClick(view, Qt::Key_Space);
      QTest::keyClick(view, Qt::Key_Space);  // and off again
      ticked = w.Model()->TickedNames();
      return int(QDialog::Rejected);
    }));
    QCOMPARE(ticked, std::vector<std::string>({"b.txt"}));
    // Ticks do not survive the window.
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      ticked = w.Model()->TickedNames();
      return int(QDialog::Rejected);
    }));
    QVERIFY(ticked.empty());
  }

  void extractAllRecreatesDirectories() {
    script_.answer = QString::fromStdString(outDir_);
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      Tick(w, "a.txt");  // ticks do not matter for Extract all
      w.ExtractFiles()->trigger();
      return w.result();
    }));
    QCOMPARE(FilesUnder(outDir_), QStringList({"b.txt", "docs/a.txt"}));
    QCOMPARE(ReadText(outDir_ + "/b.txt"), QStringLiteral("bravo bravo\n"));
    // The panels were refreshed: the left one lists what is there now.
    QVERIFY(ShownMessages().empty());
  }

  void extractSelectedWithNothingTickedExtractsAll() {
    script_.answer = QString::fromStdString(outDir_);
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      w.ExtractSelectedFiles()->trigger();
      return w.result();
    }));
    QCOMPARE(FilesUnder(outDir_), QStringList({"b.txt", "docs/a.txt"}));
  }

  void tickedNamesAreTakenLiterally() {
    // "*.txt" is a file name here, not a mask; "A.TXT" is another file than "a.txt".
    const QString script = QStringLiteral(
        "import sys,zipfile\n"
        "z=zipfile.ZipFile(sys.argv[1],'w')\n"
        "z.writestr('*.txt','star'); z.writestr('a.txt','lower'); z.writestr('A.TXT','upper')\n");
    QCOMPARE(Run(QStringLiteral("python3"), {QStringLiteral("-c"), script,
                                             QString::fromStdString(Archive())}),
             0);
    script_.answer = QString::fromStdString(outDir_);
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      Tick(w, "*.txt");
      Tick(w, "A.TXT");
      w.ExtractSelectedFiles()->trigger();
      return w.result();
    }));
    QCOMPARE(FilesUnder(outDir_), QStringList({"*.txt", "A.TXT"}));
    QCOMPARE(ReadText(outDir_ + "/A.TXT"), QStringLiteral("upper"));
    QVERIFY(ShownMessages().empty());  // no overwrite question: a.txt was not chosen
  }

  void cancelledPromptExtractsNothingAndClosesTheWindow() {
    script_.answer.reset();
    int result = -1;
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      w.ExtractFiles()->trigger();
      result = w.result();
      return result;
    }));
    QCOMPARE(script_.queries, 1);
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(!Exists(outDir_));
    QVERIFY(!form_->InfoForm()->isVisible());
  }

  void overwriteQuestionDecidesPerFile() {
    script_.answer = QString::fromStdString(outDir_);
    QVERIFY(QDir().mkpath(QString::fromStdString(outDir_ + "/docs")));
    WriteText(outDir_ + "/b.txt", "mine");
    WriteText(outDir_ + "/docs/a.txt", "mine too");
    g_answerYes = false;
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      w.ExtractFiles()->trigger();
      return w.result();
    }));
    QStringList texts;
    for (const TShownMessage& m : ShownMessages()) {
      QCOMPARE(m.caption, QStringLiteral("File Exists Alert"));
      QCOMPARE(int(m.kind), int(app::MessageKind::Question));
      texts << m.text;
    }
    texts.sort();
    QCOMPARE(texts, QStringList({"Replace existing file a.txt?", "Replace existing file b.txt?"}));
    QCOMPARE(ReadText(outDir_ + "/b.txt"), QStringLiteral("mine"));
    g_answerYes = true;
    ShownMessages().clear();
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      w.ExtractFiles()->trigger();
      return w.result();
    }));
    QCOMPARE(ShownMessages().size(), size_t(2));
    QCOMPARE(ReadText(outDir_ + "/b.txt"), QStringLiteral("bravo bravo\n"));
    QCOMPARE(ReadText(outDir_ + "/docs/a.txt"), QStringLiteral("alpha\n"));
  }

  void unreadableArchiveReportsTheErrorAndShowsNoWindow() {
    WriteText(leftDir_ + "/BAD.ZIP", std::string(3000, 'j'));
    // The engine's own text for this file.
    std::string expected;
    try {
      zip::TZipReader reader;
      reader.SetZipName(leftDir_ + "/BAD.ZIP");
      reader.ReadZip();
    } catch (const std::exception& e) {
      expected = e.what();
    }
    QVERIFY(!expected.empty());
    script_.onDialog = [](QDialog&) { return int(QDialog::Rejected); };
    QVERIFY(!app::OpenZipWindow(*form_, "BAD.ZIP"));
    QCOMPARE(script_.dialogs, 0);
    QVERIFY(!Window().isVisible());
    QCOMPARE(ShownMessages().size(), size_t(1));
    QCOMPARE(int(ShownMessages()[0].kind), int(app::MessageKind::Error));
    QCOMPARE(ShownMessages()[0].text, QString::fromStdString(expected));
    QVERIFY(QApplication::overrideCursor() == nullptr);
    // A missing archive as well; the good one opens afterwards.
    QVERIFY(!app::OpenZipWindow(*form_, leftDir_ + "/none.zip"));
    QCOMPARE(ShownMessages().size(), size_t(2));
    int rows = -1;
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      rows = w.Model()->rowCount();
      return int(QDialog::Rejected);
    }));
    QCOMPARE(rows, 2);
  }

  void errorDuringExtractionIsReportedAndEverythingCloses() {
    // The destination is a file: nothing can be created below it.
    WriteText(outDir_, "a file");
    script_.answer = QString::fromStdString(outDir_ + "/deeper");
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      w.ExtractFiles()->trigger();
      return w.result();
    }));
    // Nothing could be created: one warning names what was left out.
    QCOMPARE(ShownMessages().size(), size_t(1));
    QCOMPARE(int(ShownMessages()[0].kind), int(app::MessageKind::Warning));
    const QStringList lines = ShownMessages()[0].text.split(QLatin1Char('\n'));
    QCOMPARE(lines.value(0), QStringLiteral("These files were not extracted:"));
    QCOMPARE(lines.size(), 4);  // docs/, docs/a.txt, b.txt
    QVERIFY(!form_->InfoForm()->isVisible());
    QCOMPARE(ReadText(outDir_), QStringLiteral("a file"));
  }

  void damagedEntryIsReportedNotSilentlyDropped() {
    // A stored entry whose data no longer fits its CRC.
    const QString script = QStringLiteral(
        "import sys,zipfile\n"
        "z=zipfile.ZipFile(sys.argv[1],'w'); z.writestr('ok.txt','fine'); "
        "z.writestr('bad.txt','damaged data here'); z.close()\n"
        "b=bytearray(open(sys.argv[1],'rb').read()); i=b.find(b'damaged'); b[i]^=0x20\n"
        "open(sys.argv[1],'wb').write(b)\n");
    QCOMPARE(Run(QStringLiteral("python3"), {QStringLiteral("-c"), script,
                                             QString::fromStdString(Archive())}),
             0);
    script_.answer = QString::fromStdString(outDir_);
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      w.ExtractFiles()->trigger();
      return w.result();
    }));
    QCOMPARE(FilesUnder(outDir_), QStringList({"ok.txt"}));
    QCOMPARE(ShownMessages().size(), size_t(1));
    QCOMPARE(ShownMessages()[0].text,
             QStringLiteral("These files were not extracted:\nbad.txt: CRC error"));
  }

  void encryptedEntriesAskForThePassword() {
    // Two stored entries encrypted with the password "secret" by Info-ZIP zip.
    WriteText(root_ + "/stage/fields.c", std::string(11150, 'f'));
    WriteText(root_ + "/stage/xargs.1", std::string(4227, 'x'));
    QCOMPARE(Run(QStringLiteral("zip"),
                 {QStringLiteral("-q0"), QStringLiteral("-P"), QStringLiteral("secret"),
                  QString::fromStdString(leftDir_ + "/enc.zip"), QStringLiteral("fields.c"),
                  QStringLiteral("xargs.1")},
                 nullptr, QString::fromStdString(root_ + "/stage")),
             0);
    QStringList prompts;
    int asked = 0;
    zipui::TInputQuery old = zipui::SetInputQuery(
        [&](const QString&, const QString& prompt, QString& text) {
          ++asked;
          if (asked == 1) {  // the destination
            text = QString::fromStdString(outDir_);
            return true;
          }
          prompts << prompt;
          // A wrong password first, then the right one; later entries reuse it.
          text = prompts.size() == 1 ? QStringLiteral("wrong") : QStringLiteral("secret");
          return true;
        });
    script_.onDialog = [](QDialog& d) {
      static_cast<zipui::TZIPpanel&>(d).ExtractFiles()->trigger();
      return d.result();
    };
    const bool opened = app::OpenZipWindow(*form_, "enc.zip");
    zipui::SetInputQuery(old);
    QVERIFY(opened);
    QCOMPARE(prompts.size(), 2);
    QVERIFY(prompts[0].startsWith(QStringLiteral("Password for ")));
    QVERIFY(ShownMessages().empty());
    QCOMPARE(Bytes(outDir_ + "/fields.c").size(), 11150);
    QCOMPARE(Bytes(outDir_ + "/xargs.1").size(), 4227);
    // The password is not kept for the next archive.
    QVERIFY(app::ArchiveComponent(*form_).Password.empty());
  }

  // ------------------------------------------------------------ unpack

  void unpackOnAZipAsksWithThePanelDirectoryAndExtractsAll() {
    TFMPanel* left = form_->LeftFMPanel();
    PutCursorOn(left, "ARCHIVE.ZIP");
    script_.answer = QString::fromStdString(outDir_);
    form_->Action(QStringLiteral("mnuFileUnpack"))->trigger();
    QCOMPARE(script_.queries, 1);
    QCOMPARE(script_.queryPreset, QString::fromStdString(leftDir_));
    QCOMPARE(FilesUnder(outDir_), QStringList({"b.txt", "docs/a.txt"}));
    QCOMPARE(left->Cursor(), 0);
    QVERIFY(!form_->InfoForm()->isVisible());
    QVERIFY(ShownMessages().empty());
  }

  void unpackOnADirectoryDoesNothing() {
    TFMPanel* left = form_->LeftFMPanel();
    // A directory whose name ends in ".zip" is still a directory.
    QVERIFY(QDir().mkpath(QString::fromStdString(leftDir_ + "/dir.zip")));
    left->ReadDirectory(leftDir_);
    for (const char* name : {"src", "dir.zip"}) {
      PutCursorOn(left, name);
      const int cursor = left->Cursor();
      script_.answer = QString::fromStdString(outDir_);
      form_->Action(QStringLiteral("mnuFileUnpack"))->trigger();
      QCOMPARE(script_.queries, 0);
      QCOMPARE(left->Cursor(), cursor);
    }
    QVERIFY(ShownMessages().empty());
    QVERIFY(!Exists(outDir_));
  }

  void unpackWithoutActivePanelWarns() {
    form_->CommandEdit()->setFocus();
    QTRY_VERIFY(form_->CommandEdit()->hasFocus());
    form_->Action(QStringLiteral("mnuFileUnpack"))->trigger();
    form_->Action(QStringLiteral("mnuFilePack"))->trigger();
    QCOMPARE(ShownMessages().size(), size_t(2));
    for (const TShownMessage& m : ShownMessages()) {
      QCOMPARE(m.text, QStringLiteral("There are no selected files"));
      QCOMPARE(m.caption, QStringLiteral("Vantrel v. 1.6 (beta)"));
    }
    QCOMPARE(script_.dialogs, 0);
  }

  // ------------------------------------------------------------ pack

  void packProposesTheOtherPanelsDirectory() {
    QString proposed;
    script_.onDialog = [&](QDialog& d) {
      proposed = static_cast<zipui::TPackForm&>(d).PathEdit()->text();
      return int(QDialog::Rejected);
    };
    form_->Action(QStringLiteral("mnuFilePack"))->trigger();
    QCOMPARE(proposed, QString::fromStdString(rightDir_ + "/archive.zip"));
    form_->RightFMPanel()->ReadDirectory("/");
    form_->Action(QStringLiteral("mnuFilePack"))->trigger();
    QCOMPARE(proposed, QStringLiteral("/archive.zip"));
    // From the right panel, the left panel's directory is proposed.
    form_->RightFMPanel()->ReadDirectory(rightDir_);
    form_->RightFMPanel()->setFocus();
    QTRY_VERIFY(form_->RightFMPanel()->hasFocus());
    form_->Action(QStringLiteral("mnuFilePack"))->trigger();
    QCOMPARE(proposed, QString::fromStdString(leftDir_ + "/archive.zip"));
    QCOMPARE(Pack().windowTitle(), QStringLiteral("Pack files to ZIP"));
  }

  void packStoresMarkedEntriesRelativeToTheSource() {
    TFMPanel* left = form_->LeftFMPanel();
    left->ReadDirectory(leftDir_ + "/src");
    left->SetMarked(left->IndexOfName("docs"), true);
    left->SetMarked(left->IndexOfName("b.txt"), true);
    const std::string archive = outDir_ + "/p.zip";
    QVERIFY(QDir().mkpath(QString::fromStdString(outDir_)));
    QString label;
    int maxTotal = 0, maxLocal = 0;
    bool infoShown = false;
    app::TInfoForm* info = form_->InfoForm();
    connect(info->GaugeTotal(), &QProgressBar::valueChanged, this, [&](int v) {
      maxTotal = std::max(maxTotal, v);
      label = info->InfoLabel()->text();
      infoShown = infoShown || info->isVisible();
    });
    connect(info->GaugeLocal(), &QProgressBar::valueChanged, this,
            [&](int v) { maxLocal = std::max(maxLocal, v); });
    int result = -1;
    PackWith(archive, 0, 6, [&](zipui::TPackForm&) {});
    result = Pack().result();
    QCOMPARE(result, int(QDialog::Accepted));
    QVERIFY(ShownMessages().empty());
    QVERIFY(ArchiveTestsOk(archive));
    QStringList names = Names(archive);
    names.sort();
    QCOMPARE(names, QStringList({"b.txt", "docs/a.txt", "docs/sub/c"}));
    QCOMPARE(label, QStringLiteral("Zipping files.... Please wait."));
    QVERIFY(infoShown);
    QCOMPARE(maxTotal, 100);
    QCOMPARE(maxLocal, 100);
    QVERIFY(!info->isVisible());
    // Both panels refreshed: the right one is unchanged, the left one lists src.
    QCOMPARE(left->Cursor(), 0);
    QVERIFY(!left->IsMarked(left->IndexOfName("docs")));
  }

  void packWithOnlyOlderTwiceKeepsEntries() {
    TFMPanel* left = form_->LeftFMPanel();
    left->ReadDirectory(leftDir_ + "/src");
    const std::string archive = rightDir_ + "/archive.zip";
    left->SetMarked(left->IndexOfName("docs"), true);
    left->SetMarked(left->IndexOfName("b.txt"), true);
    PackWith(archive, 1, 9);
    QVERIFY(ArchiveTestsOk(archive));
    const QStringList first = Entries(archive);
    QCOMPARE(first.size(), 3);
    left->SetMarked(left->IndexOfName("docs"), true);
    left->SetMarked(left->IndexOfName("b.txt"), true);
    PackWith(archive, 1, 1);  // another level: nothing is recompressed anyway
    QVERIFY(ArchiveTestsOk(archive));
    QCOMPARE(Entries(archive), first);
    // A newer file replaces its entry; the others stay.
    QVERIFY(MakeFile(leftDir_ + "/src/b.txt", 4000, 2024, 5, 6, 7, 8));
    left->SetMarked(left->IndexOfName("docs"), true);
    left->SetMarked(left->IndexOfName("b.txt"), true);
    PackWith(archive, 1, 9);
    QVERIFY(ArchiveTestsOk(archive));
    const QStringList third = Entries(archive);
    QCOMPARE(third.size(), 3);
    int changed = 0;
    for (const QString& line : third) changed += first.contains(line) ? 0 : 1;
    QCOMPARE(changed, 1);
    QVERIFY(third.filter(QStringLiteral("b.txt (2024")).size() == 1);
    QVERIFY(ShownMessages().empty());
  }

  void levelsGiveTheirFlagBits() {
    TFMPanel* left = form_->LeftFMPanel();
    left->ReadDirectory(leftDir_ + "/src");
    for (const auto& [level, bits] : {std::pair{1, 4}, std::pair{2, 4}, std::pair{8, 2},
                                      std::pair{9, 2}, std::pair{5, 0}}) {
      const std::string archive = root_ + "/level" + std::to_string(level) + ".zip";
      left->SetMarked(left->IndexOfName("docs"), true);
      PackWith(archive, 0, level);
      QVERIFY(ArchiveTestsOk(archive));
      const QStringList entries = Entries(archive);
      QCOMPARE(entries.size(), 2);
      for (const QString& line : entries) {
        const QStringList f = line.split(QLatin1Char(' '));
        QCOMPARE(f.last(), QStringLiteral("8"));  // deflated
        QVERIFY2((f[f.size() - 2].toInt() & 6) == bits, qPrintable(line));
      }
    }
  }

  void packEncryptedWritesAes256Entries() {
    TFMPanel* left = form_->LeftFMPanel();
    left->ReadDirectory(leftDir_ + "/src");
    const std::string archive = rightDir_ + "/secret.zip";
    // Off by default, and the password field with it.
    QVERIFY(!Pack().EncryptCheck()->isChecked());
    QVERIFY(!Pack().PasswordEdit()->isEnabled());
    QCOMPARE(Pack().PasswordEdit()->echoMode(), QLineEdit::Password);

    // Ticked without a password: a warning, and the dialog stays open.
    left->SetMarked(left->IndexOfName("b.txt"), true);
    PackWith(archive, 0, 6, [](zipui::TPackForm& p) { p.EncryptCheck()->setChecked(true); });
    QCOMPARE(Pack().result(), int(QDialog::Rejected));
    QCOMPARE(ShownMessages().size(), size_t(1));
    QCOMPARE(ShownMessages()[0].text, QStringLiteral("Enter the password to encrypt with."));
    QVERIFY(!Exists(archive));

    left->SetMarked(left->IndexOfName("docs"), true);
    left->SetMarked(left->IndexOfName("b.txt"), true);
    PackWith(archive, 0, 6, [](zipui::TPackForm& p) {
      p.EncryptCheck()->setChecked(true);
      QVERIFY(p.PasswordEdit()->isEnabled());
      p.PasswordEdit()->setText(QStringLiteral("s\u00e9cret"));
    });
    QCOMPARE(Pack().result(), int(QDialog::Accepted));
    // The password is not kept; the box keeps its state like the other choices.
    QVERIFY(Pack().PasswordEdit()->text().isEmpty());
    QVERIFY(Pack().EncryptCheck()->isChecked());
    QStringList entries = Entries(archive);
    QCOMPARE(entries.size(), 3);
    for (const QString& line : entries) QVERIFY2(line.endsWith(QStringLiteral(" 99")), qPrintable(line));
    QString out;
    const int rc = Run(QStringLiteral("7zz"), {QStringLiteral("t"), QStringLiteral("-ps\u00e9cret"),
                                               QString::fromStdString(archive)}, &out);
    if (rc < 0) QSKIP("7zz is not installed: the archive was not checked by a peer");
    QVERIFY2(rc == 0 && out.contains(QStringLiteral("Everything is Ok")), qPrintable(out));
  }

  void packWithNothingChosenKeepsTheDialogOpen() {
    TFMPanel* left = form_->LeftFMPanel();
    left->SetCursor(left->IndexOfName(".."));
    QCOMPARE(left->CurrentEntry()->FileName, std::string(".."));
    bool stillOpen = false;
    script_.onDialog = [&](QDialog& d) {
      auto& p = static_cast<zipui::TPackForm&>(d);
      p.PackButton()->click();
      stillOpen = p.result() != QDialog::Accepted;
      return int(QDialog::Rejected);
    };
    form_->Action(QStringLiteral("mnuFilePack"))->trigger();
    QVERIFY(stillOpen);
    QCOMPARE(ShownMessages().size(), size_t(1));
    QCOMPARE(ShownMessages()[0].text, QStringLiteral("There are no selected files!"));
    QCOMPARE(ShownMessages()[0].caption, QStringLiteral("Vantrel"));
    QVERIFY(!Exists(rightDir_ + "/archive.zip"));
  }

  void cancelledPackLeavesTheOldArchive() {
    TFMPanel* left = form_->LeftFMPanel();
    left->ReadDirectory(leftDir_ + "/src");
    const std::string archive = rightDir_ + "/archive.zip";
    left->SetMarked(left->IndexOfName("b.txt"), true);
    PackWith(archive, 0, 6);
    QVERIFY(ArchiveTestsOk(archive));
    const QByteArray before = Bytes(archive);
    // Big enough for many writes: 24 MB of poorly compressible data.
    {
      QFile big(QString::fromStdString(leftDir_ + "/src/big.bin"));
      QVERIFY(big.open(QIODevice::WriteOnly));
      uint32_t x = 12345;
      QByteArray chunk(1 << 20, '\0');
      for (int m = 0; m < 24; ++m) {
        for (char& c : chunk) {
          x = x * 1103515245u + 12345u;
          c = static_cast<char>(x >> 24);
        }
        big.write(chunk);
      }
    }
    left->ReadDirectory(leftDir_ + "/src");
    left->SetMarked(left->IndexOfName("big.bin"), true);
    left->SetMarked(left->IndexOfName("docs"), true);
    app::TInfoForm* info = form_->InfoForm();
    bool pressed = false;
    connect(info->GaugeTotal(), &QProgressBar::valueChanged, this, [&](int v) {
      if (v > 0 && v < 50 && !pressed) {
        pressed = true;
        QTest::keyClick(info, Qt::Key_Escape);
      }
    });
    PackWith(archive, 0, 6);
    QVERIFY(pressed);
    QCOMPARE(ShownMessages().size(), size_t(1));
    QCOMPARE(ShownMessages()[0].text, QStringLiteral("User Aborted Operation"));
    QCOMPARE(int(ShownMessages()[0].kind), int(app::MessageKind::Error));
    QCOMPARE(Bytes(archive), before);
    QVERIFY(ArchiveTestsOk(archive));
    QCOMPARE(QDir(QString::fromStdString(rightDir_)).entryList(QDir::Files),
             QStringList({"archive.zip"}));
    QVERIFY(!info->isVisible());
    QVERIFY(!Pack().isVisible());
    // The component works again afterwards.
    ShownMessages().clear();
    left->SetMarked(left->IndexOfName("docs"), true);
    PackWith(archive, 0, 6);
    QVERIFY(ShownMessages().empty());
    QVERIFY(ArchiveTestsOk(archive));
    QCOMPARE(Names(archive).size(), 3);
  }

  void packErrorIsReportedAndTheDialogCloses() {
    TFMPanel* left = form_->LeftFMPanel();
    left->ReadDirectory(leftDir_ + "/src");
    left->SetMarked(left->IndexOfName("b.txt"), true);
    bool stillOpen = true;
    script_.onDialog = [&](QDialog& d) {
      auto& p = static_cast<zipui::TPackForm&>(d);
      p.PathEdit()->setText(QString::fromStdString(root_ + "/no/such/dir/a.zip"));
      p.PackButton()->click();
      stillOpen = p.result() != QDialog::Accepted;
      return p.result();
    };
    form_->Action(QStringLiteral("mnuFilePack"))->trigger();
    QVERIFY(!stillOpen);
    QCOMPARE(ShownMessages().size(), size_t(1));
    QCOMPARE(int(ShownMessages()[0].kind), int(app::MessageKind::Error));
    QVERIFY(!ShownMessages()[0].text.isEmpty());
    QVERIFY(!form_->InfoForm()->isVisible());
    QVERIFY(!Exists(root_ + "/no"));
  }

  // A damaged directory: the window warns before the list and says so in its
  // caption; Pack onto the archive is refused and leaves every byte.
  void damagedArchiveIsSaidAndNeverPackedInto() {
    auto bytesOf = [](const std::string& path) {
      QFile f(QString::fromStdString(path));
      const QByteArray b = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
      return std::string(b.constData(), static_cast<size_t>(b.size()));
    };
    std::string bytes = bytesOf(Archive());
    const size_t second = bytes.find("PK\x01\x02", bytes.find("PK\x01\x02") + 4);
    QVERIFY(second != std::string::npos);
    bytes[second + 2] = 'X';  // the second central record loses its signature
    WriteText(Archive(), bytes);
    QString caption;
    size_t messagesBefore = 99;
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      caption = w.windowTitle();
      messagesBefore = ShownMessages().size();
      return int(QDialog::Rejected);
    }));
    QCOMPARE(caption, QStringLiteral("ZIP - ARCHIVE.ZIP [damaged]"));
    QCOMPARE(messagesBefore, size_t(1));
    QCOMPARE(int(ShownMessages()[0].kind), int(app::MessageKind::Warning));
    QVERIFY2(ShownMessages()[0].text.startsWith(
                 QStringLiteral("archive directory damaged: rebuilt from the local headers")),
             qPrintable(ShownMessages()[0].text));

    TFMPanel* left = form_->LeftFMPanel();
    left->ReadDirectory(leftDir_ + "/src");
    left->SetMarked(left->IndexOfName("b.txt"), true);
    PackWith(Archive(), 1, 6);
    QCOMPARE(ShownMessages().size(), size_t(2));
    QVERIFY2(ShownMessages()[1].text.contains(QStringLiteral("the archive was left as it is")),
             qPrintable(ShownMessages()[1].text));
    QVERIFY(bytesOf(Archive()) == bytes);
  }

  void namesThatAreNotUtf8SurviveEveryStep() {
    // A source file and a destination directory whose names are Latin-1 bytes.
    const std::string odd = "caf\xe9.txt";
    const std::string oddDir = root_ + "/d\xff";
    QVERIFY(MakeFile(leftDir_ + "/src/" + odd, 100, 2020, 1, 1, 1, 1));
    QVERIFY(::mkdir(oddDir.c_str(), 0755) == 0);
    form_->RightFMPanel()->ReadDirectory(oddDir);
    TFMPanel* left = form_->LeftFMPanel();
    left->ReadDirectory(leftDir_ + "/src");
    left->SetMarked(left->IndexOfName(odd), true);
    // Pack with the proposed path left as shown.
    script_.onDialog = [](QDialog& d) {
      auto& p = static_cast<zipui::TPackForm&>(d);
      p.PackButton()->click();
      return p.result();
    };
    form_->Action(QStringLiteral("mnuFilePack"))->trigger();
    WaitForActivePanel();
    const std::string archive = oddDir + "/archive.zip";
    QVERIFY2(ExistsBytes(archive), "the archive is where the bytes say");
    // unzip is handed a copy under a plain name (QProcess takes text).
    std::filesystem::copy_file(archive, root_ + "/odd-copy.zip");
    QVERIFY(ArchiveTestsOk(root_ + "/odd-copy.zip"));
    // The ZIP window lists it and extracts it under the name it shows.
    platform::SetCurrentDir(oddDir);
    script_.answer = QString::fromStdString(outDir_);
    std::vector<std::string> ticked;
    script_.onDialog = [&](QDialog& d) {
      auto& w = static_cast<zipui::TZIPpanel&>(d);
      w.Model()->SetChecked(0, true);
      ticked = w.Model()->TickedNames();
      w.ExtractSelectedFiles()->trigger();
      return w.result();
    };
    QVERIFY(app::OpenZipWindow(*form_, archive));
    // The engine reads a name stored without the UTF-8 flag as code page 437;
    // what the row shows is what is written.
    QCOMPARE(ticked.size(), size_t(1));
    QCOMPARE(ticked[0], std::string("caf\xce\x98.txt"));
    QVERIFY(ExistsBytes(outDir_ + "/" + ticked[0]));
    QVERIFY(ShownMessages().empty());
    // QTemporaryDir cannot remove names that are not UTF-8.
    std::filesystem::remove_all(oddDir);
    std::filesystem::remove(leftDir_ + "/src/" + odd);
  }

  void cancelledUnpackStopsAndCloses() {
    const QString script = QStringLiteral(
        "import sys,os,zipfile\n"
        "z=zipfile.ZipFile(sys.argv[1],'w',zipfile.ZIP_STORED)\n"
        "z.writestr('big.bin', os.urandom(24<<20)); z.writestr('after.txt','x')\n");
    QCOMPARE(Run(QStringLiteral("python3"), {QStringLiteral("-c"), script,
                                             QString::fromStdString(Archive())}),
             0);
    app::TInfoForm* info = form_->InfoForm();
    bool pressed = false;
    QString label;
    connect(info->GaugeTotal(), &QProgressBar::valueChanged, this, [&](int v) {
      if (v > 0 && v < 50 && !pressed) {
        pressed = true;
        label = info->InfoLabel()->text();
        QTest::keyClick(info, Qt::Key_Escape);
      }
    });
    script_.answer = QString::fromStdString(outDir_);
    int result = -1;
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      w.ExtractFiles()->trigger();
      result = w.result();
      return result;
    }));
    QVERIFY(pressed);
    QCOMPARE(label, QStringLiteral("Unzipping files.... Please wait."));
    QCOMPARE(result, int(QDialog::Accepted));
    QCOMPARE(ShownMessages().size(), size_t(1));
    QCOMPARE(ShownMessages()[0].text, QStringLiteral("User Aborted Operation"));
    QVERIFY(!Exists(outDir_ + "/after.txt"));
    QVERIFY(!info->isVisible());
  }

  void packThenOpenRoundTrip() {
    // What Pack writes, the ZIP window lists and Extract all gives back.
    TFMPanel* left = form_->LeftFMPanel();
    left->ReadDirectory(leftDir_ + "/src");
    left->SetMarked(left->IndexOfName("docs"), true);
    left->SetMarked(left->IndexOfName("b.txt"), true);
    PackWith(leftDir_ + "/ARCHIVE.ZIP", 0, 9);
    QVERIFY(ArchiveTestsOk(leftDir_ + "/ARCHIVE.ZIP"));
    platform::SetCurrentDir(leftDir_);
    script_.answer = QString::fromStdString(outDir_);
    QStringList rows;
    QVERIFY(OpenWindow([&](zipui::TZIPpanel& w) {
      for (const auto& r : w.Model()->Rows()) rows << QString::fromStdString(r.path + r.name);
      w.ExtractFiles()->trigger();
      return w.result();
    }));
    QCOMPARE(rows, QStringList({"docs/a.txt", "b.txt", "docs/sub/c"}));
    QCOMPARE(FilesUnder(outDir_), QStringList({"b.txt", "docs/a.txt", "docs/sub/c"}));
    QCOMPARE(Bytes(outDir_ + "/docs/sub/c"), Bytes(leftDir_ + "/src/docs/sub/c"));
  }
};

QTEST_MAIN(ZipUiTest)
#include "zipui_test.moc"
