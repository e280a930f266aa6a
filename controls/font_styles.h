// Font styles as the controls' settings hold them.
#pragma once

#include <QFont>

enum TFontStyle : unsigned { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };

// A set of TFontStyle flags.
using TFontStyles = unsigned;

inline TFontStyles FontStylesOf(const QFont& font) {
  return (font.bold() ? fsBold : 0u) | (font.italic() ? fsItalic : 0u) |
         (font.underline() ? fsUnderline : 0u) | (font.strikeOut() ? fsStrikeOut : 0u);
}

inline void ApplyFontStyles(QFont& font, TFontStyles styles) {
  font.setBold(styles & fsBold);
  font.setItalic(styles & fsItalic);
  font.setUnderline(styles & fsUnderline);
  font.setStrikeOut(styles & fsStrikeOut);
}
