#include "controls/colors.h"

namespace {

struct SystemColorRole {
  QPalette::ColorGroup group;
  QPalette::ColorRole role;
};

// The palette role that stands for each system colour index; an index that has
// none reads as black.
bool RoleOfSystemColor(unsigned index, SystemColorRole& out) {
  constexpr auto A = QPalette::Active;
  switch (index) {
    case 0:
      out = {A, QPalette::Mid};
      return true;  // scroll bar
    case 1:
      out = {A, QPalette::Dark};
      return true;  // desktop
    case 2:
      out = {A, QPalette::Highlight};
      return true;  // active caption
    case 3:
      out = {A, QPalette::Mid};
      return true;  // inactive caption
    case 4:
      out = {A, QPalette::Window};
      return true;  // menu
    case 5:
      out = {A, QPalette::Base};
      return true;  // window background
    case 6:
      out = {A, QPalette::Shadow};
      return true;  // window frame
    case 7:
      out = {A, QPalette::WindowText};
      return true;  // menu text
    case 8:
      out = {A, QPalette::WindowText};
      return true;  // window text
    case 9:
      out = {A, QPalette::HighlightedText};
      return true;  // caption text
    case 10:
      out = {A, QPalette::Window};
      return true;  // active border
    case 11:
      out = {A, QPalette::Window};
      return true;  // inactive border
    case 12:
      out = {A, QPalette::Mid};
      return true;  // application workspace
    case 13:
      out = {A, QPalette::Highlight};
      return true;  // selection
    case 14:
      out = {A, QPalette::HighlightedText};
      return true;  // selected text
    case 15:
      out = {A, QPalette::Button};
      return true;  // button face
    case 16:
      out = {A, QPalette::Dark};
      return true;  // button shadow
    case 17:
      out = {QPalette::Disabled, QPalette::Text};
      return true;  // grey text
    case 18:
      out = {A, QPalette::ButtonText};
      return true;  // button text
    case 19:
      out = {QPalette::Inactive, QPalette::WindowText};
      return true;  // inactive caption text
    case 20:
      out = {A, QPalette::Light};
      return true;  // button highlight
    case 21:
      out = {A, QPalette::Shadow};
      return true;  // 3-D dark shadow
    case 22:
      out = {A, QPalette::Midlight};
      return true;  // 3-D light
    case 23:
      out = {A, QPalette::ToolTipText};
      return true;  // tooltip text
    case 24:
      out = {A, QPalette::ToolTipBase};
      return true;  // tooltip background
    case 26:
      out = {A, QPalette::Link};
      return true;  // hot-tracked item
    case 27:
      out = {A, QPalette::Highlight};
      return true;  // active caption gradient
    case 28:
      out = {A, QPalette::Mid};
      return true;  // inactive caption gradient
    case 29:
      out = {A, QPalette::Highlight};
      return true;  // menu highlight
    case 30:
      out = {A, QPalette::Window};
      return true;  // menu bar
    default:
      return false;
  }
}

}  // namespace

TColor ColorToRGB(TColor color, const QPalette& palette) {
  if (!IsSystemColor(color)) return color & 0x00FFFFFF;
  SystemColorRole role;
  if (!RoleOfSystemColor(color & 0xFF, role)) return clBlack;
  return QColorToColor(palette.color(role.group, role.role));
}

QColor ColorToQColor(TColor color, const QPalette& palette) {
  const TColor rgb = ColorToRGB(color, palette);
  return QColor(int(rgb & 0xFF), int((rgb >> 8) & 0xFF), int((rgb >> 16) & 0xFF));
}

TColor QColorToColor(const QColor& color) { return RGBColor(color.red(), color.green(), color.blue()); }
