// TSpecialProgress: a horizontal progress bar drawn into an off-screen image,
// filled with a colour gradient (continuous or in blocks) under an optional
// text and inside a frame. It shows every visible change at once from inside
// its setters (a synchronous repaint), so a long operation that never returns
// to the event loop still shows its progress.
#pragma once

#include <QColor>
#include <QImage>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <vector>

#include "controls/colors.h"

enum TTextOption { toCaption = 0, toFormat = 1, toNoText = 2, toPercent = 3 };
enum TBorderStyle { bsNone = 0, bsSingle = 1 };

class TSpecialProgress : public QWidget {
  Q_OBJECT

 public:
  // A new bar is 150 x 15, range 0 to 100 at 0, blocks from white to black,
  // no text, no frame, background following the parent's colour.
  explicit TSpecialProgress(QWidget* parent = nullptr);

  // The range and the position. Position is kept within [Minimum, Maximum]:
  // a value outside is clamped; Minimum above Maximum is taken as Maximum and
  // Maximum below Minimum as Minimum, and either pulls Position along.
  std::int32_t Minimum() const { return m_minimum; }
  void SetMinimum(std::int32_t value);
  std::int32_t Maximum() const { return m_maximum; }
  void SetMaximum(std::int32_t value);
  std::int32_t Position() const { return m_position; }
  void SetPosition(std::int32_t value);

  // True: one continuous fill; false: blocks with 1-pixel gaps.
  bool Solid() const { return m_solid; }
  void SetSolid(bool value);
  // Block mode only: shade every block column by column instead of one colour per block.
  bool GradientBlocks() const { return m_gradientBlocks; }
  void SetGradientBlocks(bool value);

  // The colours at the left end of the fill and the one it runs toward. A
  // system colour is resolved when it is set and not followed afterwards.
  TColor StartColor() const { return m_startColor; }
  void SetStartColor(TColor value);
  TColor EndColor() const { return m_endColor; }
  void SetEndColor(TColor value);

  TTextOption TextOption() const { return m_textOption; }
  void SetTextOption(TTextOption value);
  // True: the text is centred on the whole bar; false: on the filled part.
  bool TextCentered() const { return m_textCentered; }
  void SetTextCentered(bool value);
  TBorderStyle BorderStyle() const { return m_borderStyle; }
  void SetBorderStyle(TBorderStyle value);

  // The application's tooltip colour while the pointer is over the bar.
  TColor HintColor() const { return m_hintColor; }
  void SetHintColor(TColor value) { m_hintColor = value; }

  // The text source of toCaption and toFormat (a pattern receiving CurrentPercent).
  QString Caption() const { return m_caption; }
  void SetCaption(const QString& value);

  // The background: the unfilled part, the gaps between blocks and the plain
  // frame. Follows the parent's background colour until set.
  TColor Color() const { return m_color; }
  void SetColor(TColor value);
  bool ParentColor() const { return m_parentColor; }
  void SetParentColor(bool value);

  // (Position - Minimum) * 100 div (Maximum - Minimum); 0 for an empty range.
  int CurrentPercent() const;

  // The text drawn by the current TextOption (empty for toNoText). Throws
  // EConvertError when toFormat's Caption is not a pattern for one integer.
  QString DisplayText() const;

  // While loading, setters store their values but neither recompute the fill
  // nor draw; EndLoading catches up once.
  void BeginLoading() { m_loading = true; }
  void EndLoading();
  bool Loading() const { return m_loading; }

  // The complete picture of the bar as last rebuilt.
  const QImage& Buffer() const { return m_buffer; }
  // The x of the last filled column, 0 when nothing is filled.
  std::int32_t FillExtent() const { return m_fillExtent; }
  std::int32_t BlockCount() const { return m_blockCount; }
  std::int32_t BlockWidth() const { return m_blockWidth; }
  bool HasPartialBlock() const { return m_hasPartialBlock; }
  std::int32_t PartialBlockWidth() const { return m_partialBlockWidth; }
  // How often the buffer was rebuilt and how often it was painted on screen.
  int RebuildCount() const { return m_rebuildCount; }
  int PaintCount() const { return m_paintCount; }

 signals:
  void mouseEntered();
  void mouseLeft();
  void parentColorChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool event(QEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  enum class RangeValue { Minimum, Maximum, Position };
  void SetRangeValue(RangeValue which, std::int32_t value);
  void RecalcFill();
  void RebuildBuffer();
  void DrawSolidFill(std::vector<QRgb>& line) const;
  void DrawBlockFill(std::vector<QRgb>& line) const;
  void DrawText();
  void DrawFrame();
  QColor ParentBackground() const;
  void FollowParentColor();
  QRgb ScreenColor(TColor color) const;

  std::int32_t m_minimum = 0;
  std::int32_t m_maximum = 100;
  std::int32_t m_position = 0;
  bool m_solid = false;
  bool m_gradientBlocks = false;
  TColor m_startColor = clWhite;
  TColor m_endColor = clBlack;
  TTextOption m_textOption = toNoText;
  bool m_textCentered = false;
  TBorderStyle m_borderStyle = bsNone;
  TColor m_hintColor = clInfoBk;
  QString m_caption;
  TColor m_color = clBtnFace;
  bool m_parentColor = true;
  QColor m_lastParentColor;
  QColor m_lastTextColor;

  QImage m_buffer;
  QColor m_savedHintColor;
  std::int32_t m_fillExtent = 0;
  bool m_needsRebuild = true;
  TColor m_startRGB = clWhite;
  TColor m_endRGB = clBlack;
  std::int32_t m_blockCount = 0;
  std::int32_t m_blockWidth = 0;
  bool m_hasPartialBlock = false;
  std::int32_t m_partialBlockWidth = 0;

  bool m_loading = false;
  bool m_painting = false;
  int m_rebuildCount = 0;
  int m_paintCount = 0;
};
