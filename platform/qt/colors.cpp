// colors.cpp - system colour numbers mapped onto the palette roles that play
// the same part on this desktop.
#include "platform/qt/colors.h"

#include <QApplication>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOption>

namespace vantrel::platform {

namespace {

// The style draws the frames of fields, lists and groups, the boxes of check
// boxes and radio buttons and the grid of tables in a shade a little darker
// than the window. On a dark palette that shade is as dark as the fields
// themselves and those lines vanish; there they take a light shade instead.
class TDarkPaletteStyle final : public QProxyStyle {
 public:
  TDarkPaletteStyle() : QProxyStyle(QStyleFactory::create(QStringLiteral("Fusion"))) {}

  void drawPrimitive(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                     const QWidget* widget) const override {
    if (option == nullptr || !Outlined(element) || !IsDark(option->palette)) {
      QProxyStyle::drawPrimitive(element, option, painter, widget);
      return;
    }
    // The outline is made from the window colour: the copy of the option
    // has one that makes it light enough.
    if (!DrawLighter<QStyleOptionViewItem>(element, option, painter, widget) &&
        !DrawLighter<QStyleOptionButton>(element, option, painter, widget) &&
        !DrawLighter<QStyleOptionFrame>(element, option, painter, widget))
      DrawLighter<QStyleOption>(element, option, painter, widget);
  }

  int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                QStyleHintReturn* returnData) const override {
    if (hint == SH_Table_GridLineColor && option != nullptr && IsDark(option->palette))
      return static_cast<int>(LineColor(option->palette).rgba());
    return QProxyStyle::styleHint(hint, option, widget, returnData);
  }

 private:
  static bool Outlined(PrimitiveElement element) {
    switch (element) {
      case PE_IndicatorCheckBox:
      case PE_IndicatorRadioButton:
      case PE_IndicatorItemViewItemCheck:
      case PE_FrameLineEdit:
      case PE_FrameGroupBox:
      case PE_Frame:
        return true;
      default:
        return false;
    }
  }
  static bool IsDark(const QPalette& palette) { return palette.color(QPalette::Window).lightness() < 128; }
  // Halfway between the window and its text.
  static QColor LineColor(const QPalette& palette) {
    const QColor w = palette.color(QPalette::Window), t = palette.color(QPalette::WindowText);
    return QColor((w.red() + t.red()) / 2, (w.green() + t.green()) / 2, (w.blue() + t.blue()) / 2);
  }
  template <class TOption>
  bool DrawLighter(PrimitiveElement element, const QStyleOption* option, QPainter* painter,
                   const QWidget* widget) const {
    const auto* typed = qstyleoption_cast<const TOption*>(option);
    if (typed == nullptr) return false;
    TOption copy(*typed);
    // The style darkens the window colour by 140 % for its outline.
    copy.palette.setColor(QPalette::Window, LineColor(option->palette).lighter(140));
    QProxyStyle::drawPrimitive(element, &copy, painter, widget);
    return true;
  }
};

}  // namespace

QColor SystemColor(int index, const QPalette& p) {
  switch (index) {
    case 0:  return p.color(QPalette::Button);           // scroll bar
    case 1:  return p.color(QPalette::Window);           // desktop background
    case 2:  return p.color(QPalette::Highlight);        // active caption
    case 3:  return p.color(QPalette::Window);           // inactive caption
    case 4:  return p.color(QPalette::Window);           // menu
    case 5:  return p.color(QPalette::Base);             // window background
    case 6:  return p.color(QPalette::Dark);             // window frame
    case 7:  return p.color(QPalette::WindowText);       // menu text
    case 8:  return p.color(QPalette::Text);             // window text
    case 9:  return p.color(QPalette::HighlightedText);  // active caption text
    case 10: return p.color(QPalette::Mid);              // active border
    case 11: return p.color(QPalette::Mid);              // inactive border
    case 12: return p.color(QPalette::Dark);             // application workspace
    case 13: return p.color(QPalette::Highlight);        // highlight
    case 14: return p.color(QPalette::HighlightedText);  // highlighted text
    case 15: return p.color(QPalette::Button);           // button face
    case 16: return p.color(QPalette::Dark);             // button shadow
    case 17: return p.color(QPalette::Disabled, QPalette::Text);  // grey text
    case 18: return p.color(QPalette::ButtonText);       // button text
    case 19: return p.color(QPalette::WindowText);       // inactive caption text
    case 20: return p.color(QPalette::Light);            // button highlight
    case 21: return p.color(QPalette::Shadow);           // 3-D dark shadow
    case 22: return p.color(QPalette::Midlight);         // 3-D light
    case 23: return p.color(QPalette::ToolTipText);      // tooltip text
    case 24: return p.color(QPalette::ToolTipBase);      // tooltip background
    default: return p.color(QPalette::Text);
  }
}

QColor ColorToQColor(TColor value, const QPalette& palette) {
  if (IsSystemColor(value)) return SystemColor(static_cast<int>(value & 0xFFu), palette);
  return QColor(static_cast<int>(value & 0xFFu), static_cast<int>((value >> 8) & 0xFFu),
                static_cast<int>((value >> 16) & 0xFFu));
}

QColor ColorToQColor(TColor value) { return ColorToQColor(value, QGuiApplication::palette()); }

bool ApplyDesktopColorScheme() {
  const QByteArray theme = qgetenv("GTK_THEME").toLower();
  if (!theme.endsWith(":dark")) return false;
  QPalette dark;
  const QColor window(45, 45, 48), base(30, 30, 32), text(230, 230, 230), disabled(128, 128, 128);
  const QColor highlight(42, 110, 187);
  dark.setColor(QPalette::Window, window);
  dark.setColor(QPalette::WindowText, text);
  dark.setColor(QPalette::Base, base);
  dark.setColor(QPalette::AlternateBase, window);
  dark.setColor(QPalette::ToolTipBase, base);
  dark.setColor(QPalette::ToolTipText, text);
  dark.setColor(QPalette::PlaceholderText, disabled);
  dark.setColor(QPalette::Text, text);
  dark.setColor(QPalette::Button, window);
  dark.setColor(QPalette::ButtonText, text);
  dark.setColor(QPalette::BrightText, Qt::white);
  dark.setColor(QPalette::Light, window.lighter(150));
  dark.setColor(QPalette::Midlight, window.lighter(125));
  dark.setColor(QPalette::Mid, window.darker(120));
  dark.setColor(QPalette::Dark, window.darker(150));
  dark.setColor(QPalette::Shadow, Qt::black);
  dark.setColor(QPalette::Highlight, highlight);
  dark.setColor(QPalette::HighlightedText, Qt::white);
  dark.setColor(QPalette::Link, highlight.lighter(140));
  for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
    dark.setColor(QPalette::Disabled, role, disabled);
  QApplication::setStyle(new TDarkPaletteStyle);
  QGuiApplication::setPalette(dark);
  return true;
}

TColor ColorFromQColor(const QColor& color) {
  const QColor rgb = color.toRgb();
  return static_cast<TColor>(rgb.red()) | (static_cast<TColor>(rgb.green()) << 8) |
         (static_cast<TColor>(rgb.blue()) << 16);
}

}  // namespace vantrel::platform
