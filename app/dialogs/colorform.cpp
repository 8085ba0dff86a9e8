// colorform.cpp - the swatches follow the left panel at each activation; "Ok"
// gives both panels the six colours and writes them to the settings file.
#include "app/dialogs/colorform.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/dialogs/common_dialogs.h"
#include "app/window/mainform.h"
#include "app/settings/settings.h"
#include "panels/qt/fmpanel.h"
#include "platform/ini.h"

namespace vantrel::app {

namespace {

using panels::TFMPanel;
using platform::TColor;

struct TColorRole {
  const char* label;
  const char* swatch;
  const char* button;
  TColor (TFMPanel::*get)() const;
  void (TFMPanel::*set)(TColor);
};

constexpr TColorRole kRoleTable[TColorForm::kRoles] = {
    {"Back color:", "BackPanel", "ChangeBack", &TFMPanel::Color, &TFMPanel::SetColor},
    {"Cursor color:", "CursorPanel", "ChangeCursor", &TFMPanel::CursorColor,
     &TFMPanel::SetCursorColor},
    {"File color:", "FileColorPanel", "ChangeFile", &TFMPanel::FileColor, &TFMPanel::SetFileColor},
    {"Selected file color:", "SelPanel", "ChangeSel", &TFMPanel::SelectedColor,
     &TFMPanel::SetSelectedColor},
    {"Current file color:", "CurrFilePanel", "ChangeCurr", &TFMPanel::CurrentColor,
     &TFMPanel::SetCurrentColor},
    {"Current selected file color:", "CurrSelPanel", "ChangeCurSel", &TFMPanel::CurSelColor,
     &TFMPanel::SetCurSelColor},
};

}  // namespace

TColorForm::TColorForm(TMainForm& form)
    : TNameDialog(form, QStringLiteral("ColorForm"), QStringLiteral("Select Color"), 6031) {
  auto* grid = new QGridLayout;
  for (int role = 0; role < kRoles; ++role) {
    const TColorRole& def = kRoleTable[role];
    auto* label = new QLabel(QLatin1String(def.label), this);
    label->setObjectName(QStringLiteral("Label%1").arg(role + 1));
    auto* swatch = new QFrame(this);
    swatch->setObjectName(QLatin1String(def.swatch));
    swatch->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    swatch->setFixedSize(40, 20);
    swatch->setAutoFillBackground(true);
    auto* change = new QPushButton(QStringLiteral("change"), this);
    change->setObjectName(QLatin1String(def.button));
    change->setAutoDefault(false);
    connect(change, &QPushButton::clicked, this, [this, role] { Change(role); });
    grid->addWidget(label, role, 0);
    grid->addWidget(swatch, role, 1);
    grid->addWidget(change, role, 2);
    swatches_[static_cast<size_t>(role)] = swatch;
    changeButtons_[static_cast<size_t>(role)] = change;
  }
  Body()->addLayout(grid);
  FinishLayout();
  SetTabChain({changeButtons_[0], changeButtons_[1], changeButtons_[2], changeButtons_[3],
               changeButtons_[4], changeButtons_[5], OkButton(), CancelButton(), HelpButton()});
}

void TColorForm::SetSwatch(int role, TColor color) {
  colors_[static_cast<size_t>(role)] = color;
  QFrame* swatch = swatches_[static_cast<size_t>(role)];
  QPalette pal = swatch->palette();
  pal.setColor(QPalette::Window, platform::ColorToQColor(color));
  swatch->setPalette(pal);
}

void TColorForm::showEvent(QShowEvent* event) {
  TNameDialog::showEvent(event);
  // A dialog closed with "Cancel" shows the panels' colours again.
  const TFMPanel& left = *form_.LeftFMPanel();
  for (int role = 0; role < kRoles; ++role) SetSwatch(role, (left.*kRoleTable[role].get)());
  changeButtons_[0]->setFocus(Qt::OtherFocusReason);
}

void TColorForm::Change(int role) {
  QColor color = platform::ColorToQColor((form_.LeftFMPanel()->*kRoleTable[role].get)());
  if (ChooseColor(this, color)) SetSwatch(role, platform::ColorFromQColor(color));
}

void TColorForm::OkButtonClick() {
  for (int role = 0; role < kRoles; ++role) {
    const TColorRole& def = kRoleTable[role];
    (form_.LeftFMPanel()->*def.set)(Swatch(role));
    (form_.RightFMPanel()->*def.set)(Swatch(role));
  }
  platform::IniFile& ini = form_.Settings();
  // A file that cannot be written keeps the dialog open; the colours apply.
  if (SaveColors(form_, ini)) accept();
}

}  // namespace vantrel::app
