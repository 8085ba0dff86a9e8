// language_test.cpp - translation files on the real main window, offscreen:
// property paths by object name, list values, switching languages, bad and
// huge files, the choice kept for the next start, and the shipped files.
#include <fcntl.h>
#include <unistd.h>

#include <QAction>
#include <QApplication>
#include <QDialog>
#include <QGroupBox>
#include <QMenu>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QToolButton>

#include <map>
#include <memory>
#include <optional>

#include "app/common_dialogs.h"
#include "app/findfileform.h"
#include "app/lang.h"
#include "app/mainform.h"
#include "app/message_table.h"
#include "app/options_commands.h"
#include "gui_test_support.h"
#include "platform/fs.h"
#include "platform/ini.h"

using namespace vantrel;
using namespace vantrel::testing;
using app::TLanguage;
using app::TMainForm;
using app::TMsg;

namespace {

QString g_chosenFile;
app::TFileRequest g_request;
QString ChooseScripted(QWidget*, const app::TFileRequest& request) {
  g_request = request;
  return g_chosenFile;
}

std::string Shipped(const char* name) {
  return std::string(std::getenv("VANTREL_SOURCE_DIR")) + "/app/language/" + name;
}

}  // namespace

class LanguageTest : public QObject {
  Q_OBJECT

 private:
  QTemporaryDir tmp_;
  std::string startDir_;
  std::unique_ptr<TMainForm> form_;

  std::string Ini() const { return Std(tmp_.filePath(QStringLiteral("vantrel.ini"))); }
  std::string File(const char* name, const std::string& text) const {
    const std::string path = Std(tmp_.filePath(QLatin1String(name)));
    WriteText(path, text);
    return path;
  }
  TLanguage& Language() const { return app::Language(*form_); }
  QString Caption(const char* path) const {
    QString property;
    QObject* object = TLanguage::Resolve(QLatin1String(path), &property);
    if (object == nullptr) return QStringLiteral("<none>");
    return TLanguage::ReadProperty(object, property, QStringLiteral(";")).value_or("<no property>");
  }
  // Chooses `path` through Options | Select language.
  void Select(const std::string& path) {
    g_chosenFile = QString::fromStdString(path);
    form_->Action(QStringLiteral("SelectLanguage"))->trigger();
  }
  QString Menu(const char* name) const { return form_->findChild<QMenu*>(QLatin1String(name))->title(); }

 private slots:
  void initTestCase() {
    QVERIFY(tmp_.isValid());
    app::SetFileDialogHandler(&ChooseScripted);
    startDir_ = platform::GetCurrentDir();
  }
  void init() {
    QFile::remove(QString::fromStdString(Ini()));
    InstallRecorder();
    form_ = std::make_unique<TMainForm>(Ini());
    form_->show();
  }
  void cleanup() {
    form_.reset();
    app::BuildMessagesTable();
    platform::SetCurrentDir(startDir_);
  }

  void listValuesSplitAtEachSeparator() {
    const struct {
      const char* value;
      QStringList items;
    } cases[] = {
        {" By name ; By size ;", {"By name", "By size"}},
        {"a;;b", {"a", "", "b"}},
        {"a; ;b; ", {"a", "", "b"}},
        {"only", {"only"}},
        {"   ", {}},
    };
    for (const auto& c : cases)
      QCOMPARE(TLanguage::SplitList(QLatin1String(c.value), QStringLiteral(";")), c.items);
    TLanguage language;
    language.SetSeparator(QStringLiteral("  "));
    QCOMPARE(language.Separator(), QStringLiteral(","));
    language.SetSeparator(QStringLiteral("|"));
    QCOMPARE(language.Separator(), QStringLiteral("|"));
  }

  // Paths resolve by object name without regard to case and blanks: a window
  // first, then what is inside it; the value goes to the property it names.
  void pathsReachTheirWindowsAndControls() {
    const struct {
      const char* path;
      const char* value;
      const char* readBack;  // the same property by its canonical path
    } cases[] = {
        {"zippanel.Caption", "Archiv", "ZipPanel.Caption"},
        {" ZIPPANEL . filemenu . CAPTION ", "Datei", "ZipPanel.FileMenu.Caption"},
        {"ZipPanel.ExtrSelButton.Hint", "Auswahl", "ZipPanel.ExtrSelButton.Hint"},
        {"MainForm.mnuOptColors.Caption", "Farben", "MainForm.mnuOptColors.Caption"},
        {"MainForm.CopyFileButton.Hint", "Kopieren (F5)", "MainForm.CopyFileButton.Hint"},
        {"PanelSettingsForm.SortGroup.Items", " x ;; y ", "PanelSettingsForm.SortGroup.Items"},
        {"PanelSettingsForm.WidthGroupBox.Caption", "Breiten",
         "PanelSettingsForm.WidthGroupBox.Caption"},
        {"NewFileForm.Label1.Caption", "Name:", "NewFileForm.Label1.Caption"},
        {"OperationForm.CancelButton.Caption", "Stopp", "OperationForm.CancelButton.Caption"},
    };
    TLanguage& language = Language();
    for (const auto& c : cases) {
      QVERIFY(language.Apply(QLatin1String(c.path), QString::fromUtf8(c.value)));
      const QString expected = QString::fromLatin1(c.path).contains(QLatin1String("Items"))
                                   ? QStringLiteral("x;;y;By date;By time")
                                   : QString::fromUtf8(c.value);
      QCOMPARE(Caption(c.readBack), expected);
    }
    QCOMPARE(form_->findChild<QDialog*>(QStringLiteral("ZIPpanel"))->windowTitle(),
             QStringLiteral("Archiv"));
    // Paths that lead nowhere and empty values change nothing.
    for (const char* path : {"NoSuchForm.Caption", "MainForm.NoSuchControl.Caption",
                             "MainForm.mnuFiles.NoSuchProperty", "mnuFiles.Caption", ""})
      QVERIFY(language.Apply(QLatin1String(path), QStringLiteral("X")));
    QVERIFY(language.Apply(QStringLiteral("MainForm.mnuFiles.Caption"), QString()));
    QCOMPARE(Menu("mnuFiles"), QStringLiteral("Files"));
    // A dialog owned by the main window is reached by its own name only.
    QCOMPARE(Caption("MainForm.Label1.Caption"), QStringLiteral("<none>"));
  }

  // A caption a window changes while it works comes back translated.
  void findFileStartCaptionSurvivesASearch() {
    QVERIFY(Language().Apply(QStringLiteral("FindFileForm.StartButton.Caption"),
                             QStringLiteral("Suche starten")));
    auto* find = form_->findChild<app::TFindFileForm*>(QStringLiteral("FindFileForm"));
    find->PathEdit()->setText(tmp_.path());
    QTest::mouseClick(find->StartButton(), Qt::LeftButton);
    QCOMPARE(find->StartButton()->text(), QStringLiteral("Suche starten"));
  }

  // From language A to a file B that lacks some paths: those keep A's texts,
  // while messages B lacks come back in English.
  void switchingKeepsMissingTextsAndResetsMissingMessages() {
    Select(File("a.lng", "[Translations]\nMainForm.mnuFiles.Caption=A-Files\n"
                         "MainForm.mnuFileCopy.Caption=A-Copy\n"
                         "[Messages]\nThere are no selected files=A-none\n"
                         "Drive not found=A-drive\n"));
    QCOMPARE(g_request.filterIndex, 1);
    QCOMPARE(g_request.directory, QString::fromStdString(form_->ProgramDir() + "Language/"));
    QCOMPARE(Menu("mnuFiles"), QStringLiteral("A-Files"));
    QCOMPARE(app::Msg(TMsg::NoSelectedFiles), QStringLiteral("A-none"));

    Select(File("b.lng", "[Translations]\nMainForm.mnuFileCopy.Caption=B-Copy\n"
                         "[Messages]\nDrive not found=B-drive\nOperation aborted=\n"));
    QCOMPARE(Menu("mnuFiles"), QStringLiteral("A-Files"));
    QCOMPARE(form_->Action(QStringLiteral("mnuFileCopy"))->text(), QStringLiteral("B-Copy"));
    QCOMPARE(app::Msg(TMsg::NoSelectedFiles), QStringLiteral("There are no selected files"));
    QCOMPARE(app::Msg(TMsg::DriveNotFound), QStringLiteral("B-drive"));
    QCOMPARE(app::Msg(TMsg::OperationAborted), QStringLiteral("Operation aborted"));
    QVERIFY(ShownMessages().empty());
  }

  // A value that is no whole number for an integer property ends the run
  // with the error; what came before stays set, nothing after is; the next
  // run works.
  void noWholeNumberStopsTheRun() {
    const QSize before = form_->size();
    const std::string path = File("bad.lng", "[Translations]\nMainForm.mnuFiles.Caption=Eins\n"
                                             "MainForm.Width=breit\n"
                                             "MainForm.mnuHelp.Caption=Drei\n"
                                             "[Messages]\nDrive not found=Kein Laufwerk\n");
    Language().Properties = {"MainForm.mnuFiles.Caption", "MainForm.Width", "MainForm.mnuHelp.Caption"};
    Select(path);
    QCOMPARE(ShownMessages().size(), size_t{1});
    QCOMPARE(ShownMessages()[0].text, QStringLiteral("'breit' is not a valid integer value"));
    QCOMPARE(Menu("mnuFiles"), QStringLiteral("Eins"));
    QCOMPARE(Menu("mnuHelp"), QStringLiteral("Help"));
    QCOMPARE(form_->size(), before);
    // The messages of the file still apply.
    QCOMPARE(app::Msg(TMsg::DriveNotFound), QStringLiteral("Kein Laufwerk"));
    Select(File("good.lng", "[Translations]\nMainForm.Width=$1F4\nMainForm.mnuHelp.Caption=Drei\n"));
    QCOMPARE(form_->width(), 500);
    QCOMPARE(Menu("mnuHelp"), QStringLiteral("Drei"));
  }

  // Files that are no INI text, binary, or huge are read to the end and give
  // what they hold.
  void brokenBinaryAndHugeFilesTranslateWhatTheyCan() {
    std::string binary;
    for (int i = 0; i < 300000; ++i) binary.push_back(static_cast<char>((i * 7919u) % 251));
    const struct {
      const char* name;
      std::string text;
      const char* files;  // the Files menu afterwards
    } cases[] = {
        {"noini.lng", "just some words\n=\n[[[\n]]]=x\n[Translations\nMainForm.mnuFiles.Caption=no\n",
         "Files"},
        {"binary.lng", binary, "Files"},
        {"tail.lng",
         binary + "\n[Translations]\nMainForm.mnuFiles.Caption=Dateien" + std::string(1, '\0') +
             "junk\n",
         "Dateien"},
    };
    for (const auto& c : cases) {
      Select(File(c.name, c.text));
      QCOMPARE(Menu("mnuFiles"), QLatin1String(c.files));
    }
    // 100 MB without a single line break, then the section.
    const std::string huge = Std(tmp_.filePath(QStringLiteral("huge.lng")));
    const int fd = ::open(huge.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    QVERIFY(fd >= 0);
    QCOMPARE(::ftruncate(fd, 100 << 20), 0);
    const std::string tail = "\n[Translations]\nMainForm.mnuHelp.Caption=Hilfe\n";
    QCOMPARE(::pwrite(fd, tail.data(), tail.size(), 100 << 20), static_cast<ssize_t>(tail.size()));
    ::close(fd);
    Select(huge);
    QCOMPARE(Menu("mnuHelp"), QStringLiteral("Hilfe"));
    QFile::remove(QString::fromStdString(huge));
    QVERIFY(ShownMessages().empty());
  }

  // The choice is kept when the window closes and applied at the next start.
  void chosenLanguageAppliesAtTheNextStart() {
    const std::string de = Shipped("German.lng");
    Select(de);
    form_->close();
    QVERIFY(SectionLines(ReadText(Ini()), QStringLiteral("GENERAL"))
                .contains(QStringLiteral("LanguageFile=") + QString::fromStdString(de)));
    app::BuildMessagesTable();
    form_ = std::make_unique<TMainForm>(Ini());
    QCOMPARE(Menu("mnuFiles"), QStringLiteral("Files"));  // not before it is shown
    form_->show();
    QCOMPARE(Menu("mnuFiles"), QStringLiteral("Dateien"));
    QCOMPARE(app::Msg(TMsg::NoSelectedFiles), QStringLiteral("Es sind keine Dateien ausgewählt"));
    // A bare name in the settings is looked up in the program's Language/.
    QCOMPARE(app::LanguagePath(*form_, "German.lng"), form_->ProgramDir() + "Language/German.lng");
  }

  // The shipped files: every path and message, the English one equal to the
  // built-in texts, list values with as many items as the group has choices.
  void shippedFilesAreComplete() {
    const QStringList& paths = app::TranslatedProperties();
    QCOMPARE(paths.size(), 126);
    std::vector<std::string> keys, english;
    for (const QString& path : paths) keys.push_back(path.toStdString());
    for (int i = 0; i < app::kMessageCount; ++i)
      english.emplace_back(app::EnglishMessage(static_cast<TMsg>(i)));
    std::map<std::string, std::vector<std::optional<std::string>>> files;
    for (const char* name : {"English.lng", "German.lng", "Russian.lng"}) {
      files[name] = platform::ReadIniKeys(Shipped(name), "Translations", keys);
      const auto messages = platform::ReadIniKeys(Shipped(name), "Messages", english);
      for (size_t i = 0; i < english.size(); ++i)
        QVERIFY2(messages[i] && !messages[i]->empty(), qPrintable(QLatin1String(name) + " " +
                                                                  QString::fromStdString(english[i])));
      if (QLatin1String(name) == QLatin1String("English.lng"))
        for (size_t i = 0; i < english.size(); ++i) QCOMPARE(*messages[i], english[i]);
    }
    for (qsizetype i = 0; i < paths.size(); ++i) {
      const QByteArray path = paths[i].toUtf8();
      QString property;
      QObject* object = TLanguage::Resolve(paths[i], &property);
      QVERIFY2(object != nullptr, path);
      const std::optional<QString> builtIn = TLanguage::ReadProperty(object, property, QStringLiteral(";"));
      QVERIFY2(builtIn, path);
      for (auto& [name, values] : files) {
        const auto& value = values[static_cast<size_t>(i)];
        QVERIFY2(value && !value->empty(), qPrintable(QString::fromStdString(name) + " " + paths[i]));
        if (property == QLatin1String("Items"))
          QVERIFY2(QString::fromUtf8(value->c_str()).count(QLatin1Char(';')) ==
                       builtIn->count(QLatin1Char(';')),
                   path);
      }
      // Values are trimmed in a file: built-in texts may end in a blank.
      QVERIFY2(QString::fromStdString(*files["English.lng"][static_cast<size_t>(i)]) ==
                   builtIn->trimmed(),
               path);
    }
  }

  // German everywhere a user looks first: the menu bar and a message.
  void germanFileTranslatesTheMenuBarAndMessages() {
    Select(Shipped("German.lng"));
    QStringList bar;
    for (QAction* action : form_->menuBar()->actions()) bar << action->text();
    QCOMPARE(bar, QStringList({"Links", "Dateien", "Befehle", "Optionen", "Rechts", "Hilfe"}));
    QCOMPARE(form_->findChild<QToolButton*>(QStringLiteral("CopyFileButton"))->toolTip(),
             QStringLiteral("Datei kopieren (F5)"));
    QCOMPARE(app::Msg(TMsg::NoSelectedFiles), QStringLiteral("Es sind keine Dateien ausgewählt"));
    Select(Shipped("Russian.lng"));
    QCOMPARE(Menu("mnuFiles"), QStringLiteral("Файлы"));
    QCOMPARE(app::Msg(TMsg::NoSelectedFiles), QStringLiteral("Нет выбранных файлов"));
    Select(Shipped("English.lng"));
    QCOMPARE(Menu("mnuFiles"), QStringLiteral("Files"));
    QCOMPARE(Caption("PanelSettingsForm.SortGroup.Items"),
             QStringLiteral("By name;By extension;By size;By date;By time"));
  }
};

QTEST_MAIN(LanguageTest)
#include "language_test.moc"
