// settings.cpp - the order and the defaults of "vantrel.ini".
#include "app/settings/settings.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include <QFont>
#include <QString>

#include "app/commands/zip_commands.h"
#include "app/window/mainform.h"
#include "app/dialogs/messages.h"
#include "app/panels/trash_place.h"
#include "panels/qt/fmpanel.h"
#include "platform/fs.h"
#include "platform/ini.h"
#include "platform/process.h"
#include "platform/text.h"
#include "zip/ui/packform.h"

namespace vantrel::app {

namespace {

using panels::TFMPanel;
using platform::IniFile;
using platform::TColor;

constexpr const char* kGeneral = "GENERAL";
constexpr const char* kFont = "FONT";
constexpr const char* kColor = "COLOR";
constexpr const char* kLeftPanel = "LEFT PANEL";
constexpr const char* kRightPanel = "RIGHT PANEL";

// Plausible bounds: beyond them a value is taken as unreadable and the
// default applies (a hand-edited width of -5 or 10^9 would hide the list).
constexpr int64_t kMaxPixels = 100000;

int ReadInt(const IniFile& ini, const char* section, const char* key, int def, int64_t lo,
            int64_t hi) {
  const int64_t value = ini.ReadInteger(section, key, def);
  return value < lo || value > hi ? def : static_cast<int>(value);
}

// The directory a panel starts in: the remembered one when it can be entered,
// otherwise the process's current directory. The process stays in it.
std::string EnterStartDirectory(const IniFile& ini, const char* key) {
  std::string cwd = platform::GetCurrentDir();
  if (cwd.empty()) cwd.push_back('/');  // the start directory itself may be gone
  const std::string path = ini.ReadString(kGeneral, key, cwd);
  if (!path.empty() && platform::SetCurrentDir(path)) return platform::GetCurrentDir();
  return cwd;
}

// A colour value is the low 32 bits of the integer; system colours are negative
// numbers in the file.
TColor ReadColor(const IniFile& ini, const char* key, TColor def) {
  return static_cast<TColor>(
      static_cast<uint64_t>(ini.ReadInteger(kColor, key, static_cast<int32_t>(def))) & 0xFFFFFFFFu);
}

// The panel's font must be set: the columns after the name are at least as
// wide as their texts in it (a file written for a smaller font would cut
// them); the name column takes the rest of the panel, NameWidth at least.
void LoadPanel(const IniFile& ini, const char* section, TFMPanel& panel) {
  const TFMPanel::TColumnWidths fit = panel.FittingColumnWidths();
  const auto width = [&](const char* key, int fitting) {
    return std::max(fitting, ReadInt(ini, section, key, fitting, 0, kMaxPixels));
  };
  panel.SetNameWidth(ReadInt(ini, section, "NameWidth", 120, 0, kMaxPixels));
  panel.SetExtWidth(width("ExtWidth", fit.ext));
  panel.SetSizeWidth(width("SizeWidth", fit.size));
  panel.SetDateWidth(width("DateWidth", fit.date));
  panel.SetTimeWidth(width("TimeWidth", fit.time));
  // Only the five known orders are taken; any other value keeps the order.
  const int64_t sort = ini.ReadInteger(section, "SortType", 0);
  const bool descending = ini.ReadInteger(section, "SortDescending", 0) != 0;
  if (sort >= 0 && sort <= 4)
    panel.Model().SetSortOrder(static_cast<uint8_t>(sort), descending);
  else if (descending)
    panel.Model().SetSortDescending(true);
}

// The window's bounds, read once the panels have their font and widths: a
// first start opens at a size that shows every column. Height 0 means
// maximised; the bounds of the normal window are still read, so that
// leaving the maximised state gives that window back.
void LoadWindowBounds(TMainForm& form, const IniFile& ini) {
  const QSize fit = form.FittingSize();
  const int height = ReadInt(ini, kGeneral, "Height", fit.height(), 0, kMaxPixels);
  const int top = ReadInt(ini, kGeneral, "Top", 20, -kMaxPixels, kMaxPixels);
  const int leftEdge = ReadInt(ini, kGeneral, "Left", 20, -kMaxPixels, kMaxPixels);
  const int width = ReadInt(ini, kGeneral, "Width", fit.width(), 1, kMaxPixels);
  const int normalHeight = height != 0 ? height : ReadInt(ini, kGeneral, "NormalHeight", fit.height(), 1, kMaxPixels);
  form.move(leftEdge, top);
  form.resize(width, normalHeight);
  if (height == 0) form.setWindowState(form.windowState() | Qt::WindowMaximized);
  form.SetLeftWidth(ReadInt(ini, kGeneral, "LeftWidth", width / 2, 0, kMaxPixels));
  // The share of the width, where the file has it, holds across a window
  // that was maximised when it was written.
  const int share = ReadInt(ini, kGeneral, "LeftShare", -1, 0, 1000);
  if (share >= 0) form.SetLeftShare(share / 1000.0);
}

// Writes key after key until one fails; later keys are then left alone.
class TSettingsWriter {
 public:
  explicit TSettingsWriter(IniFile& ini) : ini_(ini) {}
  void String(const char* section, const char* key, const std::string& value) {
    if (ok_) ok_ = ini_.WriteString(section, key, value);
  }
  void Integer(const char* section, const char* key, int64_t value) {
    if (ok_) ok_ = ini_.WriteInteger(section, key, value);
  }
  void Color(const char* key, TColor value) { Integer(kColor, key, static_cast<int32_t>(value)); }
  bool Ok() const { return ok_; }

 private:
  IniFile& ini_;
  bool ok_ = true;
};

void WriteGeneralCommands(TSettingsWriter& out, const TMainForm& form) {
  out.String(kGeneral, "Editor", form.EditorCommand);
  out.String(kGeneral, "Viewer", form.ViewerCommand);
}

void WriteFont(TSettingsWriter& out, const TFMPanel& left) {
  const QFont font = left.font();
  out.Integer(kFont, "Size", font.pointSize());
  const QByteArray family = font.family().toUtf8();
  out.String(kFont, "Name", std::string(family.constData(), static_cast<size_t>(family.size())));
}

void WriteColors(TSettingsWriter& out, const TFMPanel& left) {
  out.Color("Back", left.Color());
  out.Color("Cursor", left.CursorColor());
  out.Color("File", left.FileColor());
  out.Color("Selected", left.SelectedColor());
  out.Color("Current", left.CurrentColor());
  out.Color("CurSel", left.CurSelColor());
}

// Writes what `fill` gives in one replacement of the file.
template <typename Fill>
bool WriteAtOnce(IniFile& ini, Fill fill) {
  ini.BeginUpdate();
  TSettingsWriter out(ini);
  fill(out);
  const bool ok = ini.EndUpdate() && out.Ok();
  if (!ok) ReportUnwritable(ini);
  return ok;
}

void SavePanel(TSettingsWriter& out, const char* section, const TFMPanel& panel) {
  out.Integer(section, "NameWidth", panel.NameWidth());
  out.Integer(section, "ExtWidth", panel.ExtWidth());
  out.Integer(section, "SizeWidth", panel.SizeWidth());
  out.Integer(section, "DateWidth", panel.DateWidth());
  out.Integer(section, "TimeWidth", panel.TimeWidth());
  out.Integer(section, "SortType", panel.SortType());
  out.Integer(section, "SortDescending", panel.Model().SortDescending() ? 1 : 0);
}

void WriteEverything(TSettingsWriter& out, const TMainForm& form) {
  const TFMPanel& left = *form.LeftFMPanel();
  const TFMPanel& right = *form.RightFMPanel();
  WriteGeneralCommands(out, form);
  out.String(kGeneral, "LeftPath", left.Directory());
  out.String(kGeneral, "RightPath", right.Directory());
  // Top, Left and Width are the normal window's also while it is maximised
  // (Height 0); its height is kept in NormalHeight then.
  const QRect normal = form.NormalBounds();
  out.Integer(kGeneral, "Top", normal.y());
  out.Integer(kGeneral, "Left", normal.x());
  out.Integer(kGeneral, "Width", normal.width());
  out.Integer(kGeneral, "Height", form.isMaximized() ? 0 : normal.height());
  if (form.isMaximized()) out.Integer(kGeneral, "NormalHeight", normal.height());
  out.Integer(kGeneral, "LeftWidth", form.LeftWidth());
  out.Integer(kGeneral, "LeftShare", std::lround(form.LeftShare() * 1000));
  out.String(kGeneral, "LanguageFile", form.LanguageFile);
  out.Integer(kGeneral, "KeyBar", form.KeyBarShown() ? 1 : 0);
  out.Integer(kGeneral, "ClickMarks", form.ClickMarks() ? 1 : 0);
  out.Integer(kGeneral, "ZipWindowOnEnter", form.ZipWindowOnEnter() ? 1 : 0);
  const auto* pack = form.findChild<zipui::TPackForm*>(QStringLiteral("PackForm"));
  out.Integer(kGeneral, "StoreExactTimes", pack == nullptr || pack->ExactTimes() ? 1 : 0);

  WriteFont(out, left);
  WriteColors(out, left);
  SavePanel(out, kLeftPanel, left);
  SavePanel(out, kRightPanel, right);
}

}  // namespace

void ReportUnwritable(const IniFile& ini) {
  ShowGeneralError(QStringLiteral("Unable to write to %1")
                       .arg(QString::fromUtf8(ini.Path().data(),
                                              static_cast<qsizetype>(ini.Path().size()))));
}

std::string EditorProgram(const std::string& configured) {
  if (platform::CompareNoCaseAscii(configured, kDefaultEditor) == 0 ||
      platform::CompareNoCaseAscii(configured, "notepad") == 0)
    return platform::DefaultEditor();
  return configured;
}

std::string ViewerProgram(const std::string& configured, const std::string& programDir) {
  const size_t slash = configured.rfind('/');
  const std::string name = configured.substr(slash == std::string::npos ? 0 : slash + 1);
  if (platform::CompareNoCaseAscii(name, "vnview.exe") == 0 && platform::FindProgram(configured).empty())
    return programDir + kDefaultViewerName;
  return configured;
}

int ArchiveThreads(const IniFile& ini) { return ReadInt(ini, kGeneral, "ArchiveThreads", 0, 0, kMaxArchiveThreads); }

bool SaveArchiveThreads(IniFile& ini, int threads) {
  return ini.WriteInteger(kGeneral, "ArchiveThreads", std::clamp(threads, 0, kMaxArchiveThreads));
}

void LoadSettings(TMainForm& form, const IniFile& ini) {
  TFMPanel& left = *form.LeftFMPanel();
  TFMPanel& right = *form.RightFMPanel();

  // Lines no setting can be (a runaway value of megabytes) were passed over.
  for (const std::string& warning : ini.Warnings())
    std::fprintf(stderr, "vantrel: %s: %s\n", platform::TerminalName(ini.Path()).c_str(),
                 warning.c_str());

  form.EditorCommand = ini.ReadString(kGeneral, "Editor", kDefaultEditor);
  form.ViewerCommand = ini.ReadString(kGeneral, "Viewer", form.ProgramDir() + kDefaultViewerName);
  form.LanguageFile = ini.ReadString(kGeneral, "LanguageFile", "");
  form.SetKeyBarShown(ini.ReadInteger(kGeneral, "KeyBar", 1) != 0);
  form.SetClickMarks(ini.ReadInteger(kGeneral, "ClickMarks", 0) != 0);
  form.SetZipWindowOnEnter(ini.ReadInteger(kGeneral, "ZipWindowOnEnter", 0) != 0);
  PackForm(form).SetExactTimes(ini.ReadInteger(kGeneral, "StoreExactTimes", 1) != 0);

  // The right side's default is taken only after the left side was entered,
  // so a missing RightPath shows the left panel's directory.
  // A panel closed inside an archive shows that place again.
  // A panel closed in the Trash shows its nearest place that is still there.
  const auto enter = [&ini](TFMPanel& panel, const char* key) {
    const std::string saved = ini.ReadString(kGeneral, key, "");
    const std::string trash = TrashStartPlace(saved);
    if (!trash.empty()) {
      if (panel.ReadDirectory(trash)) return;
    } else if (!saved.empty() && !platform::IsDirectory(saved) && panel.ReadDirectory(saved)) {
      return;
    }
    panel.ReadDirectory(EnterStartDirectory(ini, key));
  };
  enter(left, "LeftPath");
  enter(right, "RightPath");

  // Both panels share one font: the left panel's, copied to the right.
  QFont font = left.font();
  font.setPointSize(ReadInt(ini, kFont, "Size", kDefaultFontSize, 1, 500));
  const std::string name = ini.ReadString(kFont, "Name", kDefaultFontName);
  font.setFamily(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
  left.setFont(font);
  right.setFont(font);

  LoadColors(form, ini);

  LoadPanel(ini, kLeftPanel, left);
  LoadPanel(ini, kRightPanel, right);
  LoadWindowBounds(form, ini);
  form.SyncHeaders();
}

void LoadColors(TMainForm& form, const IniFile& ini) {
  TFMPanel& left = *form.LeftFMPanel();
  TFMPanel& right = *form.RightFMPanel();
  left.SetColor(ReadColor(ini, "Back", platform::clWindow));
  right.SetColor(left.Color());
  left.SetCursorColor(ReadColor(ini, "Cursor", platform::clWindow));
  right.SetCursorColor(left.CursorColor());
  left.SetFileColor(ReadColor(ini, "File", platform::clWindowText));
  right.SetFileColor(left.FileColor());
  left.SetSelectedColor(ReadColor(ini, "Selected", platform::clRed));
  right.SetSelectedColor(left.SelectedColor());
  left.SetCurrentColor(ReadColor(ini, "Current", platform::clWindowText));
  right.SetCurrentColor(left.CurrentColor());
  left.SetCurSelColor(ReadColor(ini, "CurSel", platform::clRed));
  right.SetCurSelColor(left.CurSelColor());
}

bool SaveSettings(const TMainForm& form, IniFile& ini) {
  return WriteAtOnce(ini, [&form](TSettingsWriter& out) { WriteEverything(out, form); });
}

bool SaveEditorAndViewer(const TMainForm& form, IniFile& ini) {
  return WriteAtOnce(ini, [&](TSettingsWriter& out) { WriteGeneralCommands(out, form); });
}

bool SaveFont(const TMainForm& form, IniFile& ini) {
  return WriteAtOnce(ini, [&](TSettingsWriter& out) { WriteFont(out, *form.LeftFMPanel()); });
}

bool SaveColors(const TMainForm& form, IniFile& ini) {
  return WriteAtOnce(ini, [&](TSettingsWriter& out) { WriteColors(out, *form.LeftFMPanel()); });
}

}  // namespace vantrel::app
