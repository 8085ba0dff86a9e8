// options_commands.cpp - General settings, Panel settings, Font, Select
// colors, Load and Save color scheme, Select language.
#include "app/commands/options_commands.h"

#include <map>

#include <QAction>
#include <QApplication>
#include <QEvent>
#include <QMenu>

#include "app/dialogs/colorform.h"
#include "app/dialogs/common_dialogs.h"
#include "app/window/features.h"
#include "app/dialogs/generalsettingsform.h"
#include "app/settings/lang.h"
#include "app/window/mainform.h"
#include "app/settings/message_table.h"
#include "app/dialogs/panelsettingsform.h"
#include "app/settings/settings.h"
#include "panels/dirmodel.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"
#include "platform/install_paths.h"
#include "platform/ini.h"
#include "platform/qt/wording.h"
#include "platform/qt/volumes.h"
#include "platform/rename.h"
#include "platform/text.h"

namespace vantrel::app {

namespace {

// The texts a translation file may replace, window by window: a bare name is
// that control's Caption, "" the window's own.
struct TWindowTexts {
  const char* window;
  std::initializer_list<const char*> paths;
};

const TWindowTexts kTranslatedTexts[] = {
    {"MainForm",
     {"mnuLftPanel", "mnuLftChDrive", "mnuLftSettings", "mnuFiles", "mnuFileNew", "mnuFileDelete",
      "mnuFileDeletePermanently",
      "mnuFileView", "mnuFileEdit", "mnuFileCopy", "mnuFileMove", "mnuFileRename", "mnuFileMultiRename",
      "mnuFilePack",
      "mnuFileUnpack", "mnuFileExit", "mnuCommands", "mnuCmndMkDir", "mnuCmndFindFile",
      "mnuCmndCompareDirs", "mnuCmndSyncDirs", "mnuCmndQuickView", "mnuCmndTerminal",
      "mnuCmndFrmtDiskette", "mnuCmndDirSize", "mnuCmndOperations", "mnuOptions", "mnuOptGenSettings", "mnuOptFont",
      "mnuOptColors", "mnuOptSelColors", "mnuOptLoadScheme", "mnuOptSaveScheme", "SelectLanguage",
      "mnuRghtPanel",
      "mnuRghtChDrive", "mnuRghtSettings", "mnuHelp", "mnuHlpContents", "mnuHlpAbout",
      "NewFileButton.Hint", "DeleteFileButton.Hint", "ViewFileButton.Hint", "EditFileButton.Hint",
      "CopyFileButton.Hint", "MoveFileButton.Hint", "RenameFileButton.Hint", "PackFileButton.Hint",
      "UnpackFileButton.Hint", "MakeDirButton.Hint", "FindFileButton.Hint", "LeftHeader.Items",
      "RightHeader.Items", "actMenuBar", "actCommandOutput", "actKeyBar", "actClickMarks", "actZipWindowOnEnter",
      "LeftRootButton.Hint", "RightRootButton.Hint", "LeftDirectoryPanel.MenuFind.Caption", "RightDirectoryPanel.MenuFind.Caption",
      "JobIndicator.Hint"}},
    {"NewFileForm", {"", "Label1", "OkButton", "CancelButton", "HelpButton"}},
    {"RenameFileForm", {"", "Label1", "Label2", "OkButton", "CancelButton", "HelpButton"}},
    {"PackForm",
     {"", "Label1", "Label2", "Label2", "OptionsGroup", "OptionsGroup.Items", "PackButton",
      "CancelButton", "HelpButton", "EncryptCheck", "Label3", "ExactTimesCheck", "ExactTimesCheck.Hint",
      "FormatLabel"}},
    {"ZipPanel",
     {"", "FileMenu", "ExtractSelectedFiles", "ExtractFiles", "CloseZIP", "ExtrSelButton.Hint",
      "ExtrAllButton.Hint", "WithoutPaths", "ViewFile", "ListView.Items", "CodePageMenu", "RepairArchive",
      "RepairArchive.Hint", "actMenuBar"}},
    {"PanelSettingsForm",
     {"", "WidthGroupBox", "Label1", "Label2", "Label3", "Label4", "Label5", "SortGroup",
      "SortGroup.Items", "OkButton", "CancelButton", "HelpButton"}},
    {"NewDirectoryForm", {"", "Label1", "OkButton", "CancelButton", "HelpButton"}},
    {"FindFileForm",
     {"", "Label1", "Label2", "Label3", "StartButton", "CloseButton", "HelpButton", "GoToButton", "ContentLabel",
      "ContentEdit.placeholderText", "CaseCheck", "WordsCheck", "RegexCheck", "HexCheck", "EncodingLabel",
      "PageCheck.Hint", "PageCombo.Items", "MinSizeLabel", "MinSizeEdit.placeholderText", "MaxSizeLabel",
      "MaxSizeEdit.placeholderText", "FromCheck", "ToCheck", "ArchivesCheck", "ArchivesCheck.Hint", "FeedButton",
      "FeedButton.Hint", "UnreadableButton"}},
    {"GeneralSettingsForm",
     {"", "Label1", "Label2", "BrowseEditor", "BrowseViewer", "DefEditButton", "DefViewButton",
      "OkButton", "CancelButton", "HelpButton", "Label3", "TerminalCommand.placeholderText", "BrowseTerminal",
      "DefTerminalButton", "TrashCheck", "ThreadsLabel"}},
    {"ColorForm",
     {"", "Label1", "Label2", "Label3", "Label4", "Label5", "Label6", "ChangeBack", "ChangeCursor",
      "ChangeFile", "ChangeSel", "ChangeCurr", "ChangeCurSel", "OkButton", "CancelButton",
      "HelpButton"}},
    {"AboutForm", {"", "Label1", "OkButton"}},
    {"OperationForm", {"CancelButton", "BackgroundButton", "BackgroundButton.Hint"}},
    {"OperationsForm",
     {"", "JobList.Items", "CancelJobButton", "MoveUpButton", "MoveDownButton", "CloseButton"}},
    {"SyncDirsForm", {"LeaveButton"}},  // (a text with "=", which cannot be a key of its own)
};

// Colour schemes and language files share the open dialog's filters.
const QStringList kSchemeFilters = {QStringLiteral("Vantrel palette (*.vnp)"),
                                    QStringLiteral("Vantrel language file (*.lng)")};

// The user's own folder for colour schemes and translations: "vantrel"
// beside the settings file (or the settings file's folder when that is it).
std::string UserDataDir(const TMainForm& form) {
  const std::string& settings = form.SettingsPath();
  const size_t slash = settings.rfind('/');
  const std::string dir = slash == std::string::npos ? "." : settings.substr(0, slash == 0 ? 1 : slash);
  const size_t last = dir.rfind('/');
  if (dir.substr(last == std::string::npos ? 0 : last + 1) == "vantrel") return dir + "/";
  return platform::JoinPath(dir, "vantrel/");
}

std::string Bytes(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

// Which language run a window has had its texts from.
constexpr const char* kLanguageRun = "vantrelLanguageRun";
int g_languageRun = 0;

bool TranslatedWindow(const QWidget* window) { return window->property(kLanguageRun).toInt() == g_languageRun; }
void MarkTranslated(QWidget* window) { window->setProperty(kLanguageRun, g_languageRun); }

// The dialogs and the translation component, owned by the main window.
class TOptionsHost final : public QObject {
 public:
  explicit TOptionsHost(TMainForm& form)
      : QObject(&form),
        general(new TGeneralSettingsForm(form)),
        panelSettings(new TPanelSettingsForm(form)),
        colors(new TColorForm(form)),
        language(new TLanguage(&form)),
        form_(form) {
    setObjectName(QStringLiteral("OptionsCommandsHost"));
    language->setObjectName(QStringLiteral("Language"));
    language->SetSeparator(QStringLiteral(";"));
    language->Properties = TranslatedProperties();
    language->LanguageFile = LanguagePath(form.LanguageFile);
    qApp->installEventFilter(this);
  }
  ~TOptionsHost() override { qApp->removeEventFilter(this); }

  TGeneralSettingsForm* general;
  TPanelSettingsForm* panelSettings;
  TColorForm* colors;
  TLanguage* language;
  // The font dialog starts from the font chosen last, not from the panels'.
  QFont fontDialogFont{QStringLiteral("MS Sans Serif"), 8};

 protected:
  // The translation runs when the main window is first shown, once every
  // window exists; a window made later (a tool's dialog, the Operations
  // window) takes its texts when it is first shown.
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Show) return false;
    if (watched == &form_ && !shown_) {
      shown_ = true;
      ApplyLanguage(form_);
    } else if (auto* window = qobject_cast<QWidget*>(watched);
               shown_ && window != nullptr && window->isWindow() &&
               (window->windowType() == Qt::Window || window->windowType() == Qt::Dialog) &&
               !TranslatedWindow(window)) {
      language->TranslateWindow(window);
      MarkTranslated(window);
    }
    return false;
  }

 private:
  TMainForm& form_;
  bool shown_ = false;
};

TOptionsHost& Host(TMainForm& form) {
  if (auto* host = form.findChild<TOptionsHost*>(QStringLiteral("OptionsCommandsHost"),
                                                 Qt::FindDirectChildrenOnly))
    return *host;
  return *new TOptionsHost(form);
}

void PanelSettingsClick(TMainForm& form, panels::TFMPanel* target) {
  TPanelSettingsForm& dialog = *Host(form).panelSettings;
  dialog.SetTargetPanel(target);
  dialog.exec();
}

// Options | Font...: both panels take the whole font; the settings file
// keeps its face and size.
void mnuOptFontClick(TMainForm& form) {
  QFont& font = Host(form).fontDialogFont;
  if (!ChooseFont(&form, font, 602)) return;
  form.LeftFMPanel()->setFont(font);
  form.RightFMPanel()->setFont(font);
  form.RefreshBothPanels();
  SaveFont(form, form.Settings());
}

// The dialogs of the colour schemes start in the user's own folder, where
// schemes are saved.
QString ChooseScheme(TMainForm& form, const char* title, bool save, int helpContext) {
  TFileRequest request;
  request.title = QLatin1String(title);
  const std::string dir = UserDataDir(form);
  platform::MakeDirectoryPath(dir);  // (the dialog cannot start in a folder not there)
  request.directory = QString::fromStdString(dir);
  request.filters = save ? QStringList{kSchemeFilters.front()} : kSchemeFilters;
  request.defaultSuffix = QStringLiteral("vnp");
  request.save = save;
  request.helpContext = helpContext;
  return ChooseFile(&form, request);
}

void mnuOptLoadSchemeClick(TMainForm& form) {
  const QString chosen = ChooseScheme(form, "Load color scheme", false, 6032);
  if (chosen.isEmpty()) return;
  // A file without the keys (a language file, say) gives the default colours.
  LoadColors(form, platform::IniFile(Bytes(chosen)));
  SaveColors(form, form.Settings());
}

void mnuOptSaveSchemeClick(TMainForm& form) {
  const QString chosen = ChooseScheme(form, "Save color scheme", true, 6033);
  if (chosen.isEmpty()) return;
  platform::IniFile scheme(Bytes(chosen));
  SaveColors(form, scheme);
}

// The translation files offered by name: those shipped in the data folder
// and the user's own (which win over a shipped file of the same name).
std::map<QString, std::string> AvailableLanguages(const TMainForm& form) {
  std::map<QString, std::string> files;
  for (const std::string& dir : {platform::LanguageDirectory(), UserDataDir(form) + "Language/"}) {
    platform::EnumerateDirectory(dir, [&](platform::FindData&& entry) {
      const std::string& name = entry.name;
      if ((entry.attributes & platform::kAttrDirectory) != 0 || name.size() <= 4 ||
          platform::CompareNoCaseAscii(name.substr(name.size() - 4), ".lng") != 0)
        return;
      files[platform::ToDisplay(name.substr(0, name.size() - 4))] = dir + name;
    });
  }
  return files;
}

void SelectLanguageClick(TMainForm& form) {
  const std::map<QString, std::string> files = AvailableLanguages(form);
  QStringList names;
  int current = 0;
  for (const auto& [name, path] : files) {
    if (path == LanguagePath(form.LanguageFile)) current = static_cast<int>(names.size());
    names << name;
  }
  const int chosen =
      ChooseItem(&form, form.Action(QStringLiteral("SelectLanguage"))->text().remove(QLatin1Char('&')),
                 platform::Worded("Language:"), names, current);
  if (chosen < 0) return;
  // Kept for the next start when the window closes.
  form.LanguageFile = files.at(names[chosen]);
  Language(form).LanguageFile = form.LanguageFile;
  ApplyLanguage(form);
}

}  // namespace

const QStringList& TranslatedProperties() {
  static const QStringList paths = [] {
    QStringList list;
    for (const TWindowTexts& window : kTranslatedTexts) {
      for (const char* path : window.paths) {
        QString name = QLatin1String(window.window);
        if (*path != '\0') name += QLatin1Char('.') + QLatin1String(path);
        if (!QByteArray(path).contains('.')) name += QStringLiteral(".Caption");
        list << name;
      }
    }
    return list;
  }();
  return paths;
}

TLanguage& Language(TMainForm& form) { return *Host(form).language; }

std::string LanguagePath(const std::string& name) {
  if (name.empty() || name.front() == '/') return name;
  return platform::LanguageDirectory() + name;
}

void ApplyLanguage(TMainForm& form) {
  TLanguage& language = Language(form);
  // A run stopped by a bad value still gets the file's messages.
  language.Translate();
  // Windows that exist now have had their texts; later ones take them when
  // first shown.
  ++g_languageRun;
  for (QWidget* window : QApplication::topLevelWidgets()) MarkTranslated(window);
  form.AddAccelerators();
  std::vector<std::string> english;
  for (int i = 0; i < kMessageCount; ++i) english.emplace_back(EnglishMessage(static_cast<TMsg>(i)));
  const std::vector<std::string> texts = language.Messages(english);
  BuildMessagesTable([&](const std::string& key) {
    for (size_t i = 0; i < english.size(); ++i)
      if (english[i] == key) return texts[i];
    return key;
  });
  // The words first: a panel's lines made by its source (the Trash's) are
  // worded when the panel texts reword them.
  language.TranslateButtons();
  ApplyPanelTexts(form, language);
}

const std::vector<TPanelTextKey>& PanelTextKeys() {
  static const std::vector<TPanelTextKey> keys = {
      {"DirectoryLine", &panels::TPanelTexts::directoryLine}, {"FileLine", &panels::TPanelTexts::fileLine},
      {"SizeLine", &panels::TPanelTexts::sizeLine},           {"SpaceLine", &panels::TPanelTexts::spaceLine},
      {"Megabytes", &panels::TPanelTexts::megabytes},         {"Bytes", &panels::TPanelTexts::bytes},
      {"MarkedLine", &panels::TPanelTexts::markedLine},       {"PackedFileLine", &panels::TPanelTexts::packedFileLine},
      {"PackedPart", &panels::TPanelTexts::packedPart},       {"Reading", &panels::TPanelTexts::reading},
      {"MarkedCount", &panels::TPanelTexts::markedCount}};
  return keys;
}

void ApplyPanelTexts(TMainForm& form, const TLanguage& language) {
  const std::vector<TPanelTextKey>& wording = PanelTextKeys();
  std::vector<std::string> keys;
  for (const auto& text : wording) keys.emplace_back(text.first);
  const auto values = language.LanguageFile.empty()
                          ? std::vector<std::optional<std::string>>(keys.size())
                          : platform::ReadIniKeys(language.LanguageFile, "Panel texts", keys);
  panels::TPanelTexts texts;  // English
  for (size_t i = 0; i < keys.size(); ++i) {
    std::string& text = texts.*wording[i].second;
    if (!values[i] || values[i]->empty()) continue;
    // A translation must keep every placeholder, or a name or a number
    // would be lost from the line: such a text stays in English.
    bool fits = true;
    for (const char* placeholder : {"%1", "%2"})
      fits = fits && (text.find(placeholder) == std::string::npos) ==
                         (values[i]->find(placeholder) == std::string::npos);
    if (fits) text = *values[i];
  }
  // Lines with a count of bytes take the form of the file's plural rule.
  const std::string rule = language.LanguageFile.empty()
                               ? std::string()
                               : platform::ReadIniKeys(language.LanguageFile, "Language", {"Plural rule"}).front().value_or("");
  // (A count too large for PluralForm keeps what its form depends on: not 1,
  // the last two digits.)
  texts.formOf = [rule](uint64_t n) {
    constexpr uint64_t kLarge = 1000000000;
    return static_cast<size_t>(PluralForm(rule, static_cast<long long>(n > kLarge ? kLarge + n % kLarge : n)));
  };
  panels::SetPanelTexts(texts);
  for (panels::TFMPanel* panel : {form.LeftFMPanel(), form.RightFMPanel()}) panel->RewordLines();
}

void InstallOptionsCommands(TMainForm& form) {
  TOptionsHost& host = Host(form);
  TMainForm* f = &form;
  auto wire = [&form](const char* name, auto handler) {
    QAction* action = form.Action(QLatin1String(name));
    action->setEnabled(true);
    QObject::connect(action, &QAction::triggered, &form, handler);
  };
  wire("mnuLftSettings", [f] { PanelSettingsClick(*f, f->LeftFMPanel()); });
  wire("mnuRghtSettings", [f] { PanelSettingsClick(*f, f->RightFMPanel()); });
  wire("mnuOptGenSettings", [&host] { host.general->exec(); });
  wire("mnuOptFont", [f] { mnuOptFontClick(*f); });
  wire("mnuOptSelColors", [&host] { host.colors->exec(); });
  wire("mnuOptLoadScheme", [f] { mnuOptLoadSchemeClick(*f); });
  wire("mnuOptSaveScheme", [f] { mnuOptSaveSchemeClick(*f); });
  wire("SelectLanguage", [f] { SelectLanguageClick(*f); });
  if (auto* colorMenu = form.findChild<QMenu*>(QStringLiteral("mnuOptColors")))
    colorMenu->menuAction()->setEnabled(true);
}

}  // namespace vantrel::app
