#include "controls/special_progress.h"

#include <QEnterEvent>
#include <QFontMetrics>
#include <QPainter>
#include <QToolTip>
#include <algorithm>
#include <cmath>
#include <vector>

#include "base/exceptions.h"

namespace {

// The text of a pattern with one integer argument: %d, %u and %x place it
// (with the usual index, "-", width and precision parts), %% a percent sign.
// Anything else raises the conversion error of a bad pattern.
QString FormatOneInteger(const QString& pattern, int value) {
  const auto invalid = [&] {
    throw EConvertError("Format '" + pattern.toStdString() + "' invalid or incompatible with argument");
  };
  const auto missing = [&] { throw EConvertError("No argument for format '" + pattern.toStdString() + "'"); };
  constexpr int kArgCount = 1;
  const qsizetype n = pattern.size();
  qsizetype i = 0;
  int argIndex = 0;
  QString out;

  const auto at = [&](char c) { return i < n && pattern[i] == QLatin1Char(c); };
  const auto readNumber = [&](int& number) {
    if (at('*')) {
      ++i;
      if (argIndex >= kArgCount) missing();
      number = value;
      ++argIndex;
      return true;
    }
    if (i >= n || !pattern[i].isDigit()) return false;
    number = 0;
    while (i < n && pattern[i].isDigit()) number = std::min(number * 10 + pattern[i++].digitValue(), 1 << 20);
    return true;
  };

  while (i < n) {
    const QChar c = pattern[i++];
    if (c != QLatin1Char('%')) {
      out += c;
      continue;
    }
    if (at('%')) {
      out += QLatin1Char('%');
      ++i;
      continue;
    }
    int number = 0;
    bool haveNumber = readNumber(number);
    if (haveNumber && at(':')) {
      argIndex = number;
      ++i;
      haveNumber = false;
    }
    bool leftJustify = false;
    if (!haveNumber && at('-')) {
      leftJustify = true;
      ++i;
    }
    if (!haveNumber) haveNumber = readNumber(number);
    const int width = haveNumber ? number : -1;
    int precision = -1;
    if (at('.')) {
      ++i;
      if (readNumber(number)) precision = number;
    }
    if (i >= n) invalid();
    const char type = pattern[i++].toLower().toLatin1();
    if (argIndex >= kArgCount) missing();
    ++argIndex;

    QString digits;
    switch (type) {
      case 'd':
        digits = QString::number(std::abs(qint64(value)));
        break;
      case 'u':
        digits = QString::number(quint32(value));
        break;
      case 'x':
        digits = QString::number(quint32(value), 16).toUpper();
        break;
      default:
        invalid();
    }
    if (precision > digits.size()) digits = QString(precision - digits.size(), QLatin1Char('0')) + digits;
    if (type == 'd' && value < 0) digits.prepend(QLatin1Char('-'));
    if (width > digits.size()) {
      const QString pad(width - digits.size(), QLatin1Char(' '));
      digits = leftJustify ? digits + pad : pad + digits;
    }
    out += digits;
  }
  return out;
}

QRgb ToRgb(TColor rgb) { return qRgb(int(rgb & 0xFF), int((rgb >> 8) & 0xFF), int((rgb >> 16) & 0xFF)); }

struct Channels {
  double red, green, blue;
};

Channels ChannelsOf(TColor rgb) {
  return {double(rgb & 0xFF), double((rgb >> 8) & 0xFF), double((rgb >> 16) & 0xFF)};
}

// Round half to even, as the gradient arithmetic expects (the default rounding mode).
QRgb RoundedRgb(const Channels& c) {
  return qRgb(int(std::nearbyint(c.red)), int(std::nearbyint(c.green)), int(std::nearbyint(c.blue)));
}

// Fills columns from..to of a scanline, clipped to the line.
void FillColumns(std::vector<QRgb>& line, std::int64_t from, std::int64_t to, QRgb color) {
  from = std::max<std::int64_t>(from, 0);
  to = std::min<std::int64_t>(to, std::int64_t(line.size()) - 1);
  for (std::int64_t x = from; x <= to; ++x) line[size_t(x)] = color;
}

// Runs a handler's rebuild: a bad text pattern must not escape into the event
// loop; the picture then lacks its text and frame until the next rebuild.
template <typename F>
void WithoutEscaping(F&& f) {
  try {
    f();
  } catch (const Exception&) {
  }
}

}  // namespace

TSpecialProgress::TSpecialProgress(QWidget* parent) : QWidget(parent) {
  resize(150, 15);
  setAttribute(Qt::WA_OpaquePaintEvent);
  m_startRGB = ColorToRGB(m_startColor, palette());
  m_endRGB = ColorToRGB(m_endColor, palette());
  m_lastTextColor = palette().color(QPalette::WindowText);
  if (parentWidget()) {
    m_lastParentColor = ParentBackground();
    m_color = QColorToColor(m_lastParentColor);
  }
}

void TSpecialProgress::SetMinimum(std::int32_t value) { SetRangeValue(RangeValue::Minimum, value); }
void TSpecialProgress::SetMaximum(std::int32_t value) { SetRangeValue(RangeValue::Maximum, value); }
void TSpecialProgress::SetPosition(std::int32_t value) { SetRangeValue(RangeValue::Position, value); }

void TSpecialProgress::SetRangeValue(RangeValue which, std::int32_t value) {
  const int oldPercent = CurrentPercent();
  switch (which) {
    case RangeValue::Position:
      if (value == m_position) return;
      m_position = std::clamp(value, m_minimum, m_maximum);
      break;
    case RangeValue::Minimum:
      if (value == m_minimum) return;
      m_minimum = std::min(value, m_maximum);
      m_position = std::max(m_position, m_minimum);
      break;
    case RangeValue::Maximum:
      if (value == m_maximum) return;
      m_maximum = std::max(value, m_minimum);
      m_position = std::min(m_position, m_maximum);
      break;
  }
  // A pending rebuild (set while loading) is kept, not overwritten.
  if ((m_textOption == toFormat || m_textOption == toPercent) && CurrentPercent() != oldPercent)
    m_needsRebuild = true;
  RecalcFill();
  RebuildBuffer();
}

int TSpecialProgress::CurrentPercent() const {
  if (m_maximum == m_minimum) return 0;
  // 64-bit, so that wide ranges cannot overflow the product.
  return int((std::int64_t(m_position) - m_minimum) * 100 / (std::int64_t(m_maximum) - m_minimum));
}

void TSpecialProgress::SetSolid(bool value) {
  if (value == m_solid) return;
  m_solid = value;
  m_needsRebuild = true;
  RecalcFill();
  RebuildBuffer();
}

void TSpecialProgress::SetGradientBlocks(bool value) {
  if (value == m_gradientBlocks) return;
  m_gradientBlocks = value;
  if (m_solid) return;
  m_needsRebuild = true;
  RebuildBuffer();
}

void TSpecialProgress::SetStartColor(TColor value) {
  if (value == m_startColor) return;
  m_startColor = value;
  m_startRGB = ColorToRGB(value, palette());
  m_needsRebuild = true;
  RebuildBuffer();
}

void TSpecialProgress::SetEndColor(TColor value) {
  if (value == m_endColor) return;
  m_endColor = value;
  m_endRGB = ColorToRGB(value, palette());
  m_needsRebuild = true;
  RebuildBuffer();
}

void TSpecialProgress::SetTextOption(TTextOption value) {
  if (value == m_textOption) return;
  m_textOption = value;
  m_needsRebuild = true;
  RebuildBuffer();
}

void TSpecialProgress::SetTextCentered(bool value) {
  if (value == m_textCentered) return;
  m_textCentered = value;
  if (m_textOption == toNoText) return;
  m_needsRebuild = true;
  RebuildBuffer();
}

void TSpecialProgress::SetBorderStyle(TBorderStyle value) {
  if (value == m_borderStyle) return;
  m_borderStyle = value;
  m_needsRebuild = true;
  RebuildBuffer();
}

void TSpecialProgress::SetCaption(const QString& value) {
  if (value == m_caption) return;
  m_caption = value;
  if (m_textOption != toCaption && m_textOption != toFormat) return;
  m_needsRebuild = true;
  RebuildBuffer();
}

void TSpecialProgress::SetColor(TColor value) {
  if (value == m_color) return;
  m_color = value;
  m_parentColor = false;
  m_needsRebuild = true;
  RebuildBuffer();
}

void TSpecialProgress::SetParentColor(bool value) {
  if (value == m_parentColor) return;
  m_parentColor = value;
  if (value) FollowParentColor();
}

QColor TSpecialProgress::ParentBackground() const {
  const QWidget* parent = parentWidget();
  return parent->palette().color(parent->backgroundRole());
}

void TSpecialProgress::FollowParentColor() {
  if (!m_parentColor || !parentWidget()) return;
  const QColor parentColor = ParentBackground();
  const bool changed = parentColor != m_lastParentColor;
  m_lastParentColor = parentColor;
  const TColor value = QColorToColor(parentColor);
  if (value != m_color) {
    m_color = value;
    m_needsRebuild = true;
    RebuildBuffer();
  }
  if (changed) emit parentColorChanged();
}

void TSpecialProgress::EndLoading() {
  if (!m_loading) return;
  m_loading = false;
  RecalcFill();
  RebuildBuffer();
}

QString TSpecialProgress::DisplayText() const {
  switch (m_textOption) {
    case toCaption:
      return m_caption;
    case toFormat:
      return FormatOneInteger(m_caption, CurrentPercent());
    case toPercent:
      return QString::number(CurrentPercent()) + QLatin1Char('%');
    case toNoText:
      break;
  }
  return {};
}

void TSpecialProgress::RecalcFill() {
  const std::int64_t w = width();
  if (m_loading || m_maximum == m_minimum || w < 2) return;
  const std::int64_t inner = w - 2;
  const std::int64_t e =
      inner * (std::int64_t(m_position) - m_minimum) / (std::int64_t(m_maximum) - m_minimum);
  std::int64_t extent = e;
  if (!m_solid) {
    m_blockWidth = std::int32_t(2 * std::int64_t(height()) / 3);
    if (m_blockWidth == 0) {
      extent = 0;
    } else {
      const std::int64_t pitch = m_blockWidth;
      const std::int64_t blocks = e / pitch;
      const std::int64_t room = inner - blocks * pitch;
      const std::int64_t last = std::min(room, pitch);
      const std::int64_t rest = e % pitch;
      // Snap to the nearer block boundary, exactly half a block rounding down;
      // near the right end the last block shrinks to the room that is left.
      if (2 * rest > last) {
        m_blockCount = std::int32_t(blocks + 1);
        m_hasPartialBlock = last < pitch;
        m_partialBlockWidth = std::int32_t(last);
        extent = m_hasPartialBlock ? inner : m_blockCount * pitch;
      } else {
        m_blockCount = std::int32_t(blocks);
        m_hasPartialBlock = false;
        extent = blocks * pitch;
      }
    }
  }
  if (extent == m_fillExtent) return;
  m_fillExtent = std::int32_t(extent);
  m_needsRebuild = true;
  RebuildBuffer();
}

QRgb TSpecialProgress::ScreenColor(TColor color) const { return ToRgb(ColorToRGB(color, palette())); }

void TSpecialProgress::RebuildBuffer() {
  if (!m_needsRebuild || m_loading) return;
  m_needsRebuild = false;
  const int w = width();
  const int h = height();
  if (w <= 0 || h <= 0) return;
  if (m_buffer.size() != QSize(w, h)) m_buffer = QImage(w, h, QImage::Format_RGB32);
  ++m_rebuildCount;

  // Every row between the top and bottom edge shows the same columns: fill,
  // gaps and the unfilled remainder in the background colour.
  std::vector<QRgb> line(size_t(w), ScreenColor(m_color));
  if (m_solid)
    DrawSolidFill(line);
  else
    DrawBlockFill(line);
  for (int y = 0; y < h; ++y)
    std::copy(line.begin(), line.end(), reinterpret_cast<QRgb*>(m_buffer.scanLine(y)));

  DrawText();
  DrawFrame();

  // Show now: paint synchronously, without waiting for the event loop.
  if (isVisible() && parentWidget() && !m_painting) repaint();
}

void TSpecialProgress::DrawSolidFill(std::vector<QRgb>& line) const {
  const std::int64_t extent = m_fillExtent;
  if (extent <= 0) return;
  if (m_startRGB == m_endRGB) {
    FillColumns(line, 1, extent, ToRgb(m_startRGB));
  } else {
    const Channels start = ChannelsOf(m_startRGB);
    const Channels end = ChannelsOf(m_endRGB);
    const Channels step = {(end.red - start.red) / double(extent), (end.green - start.green) / double(extent),
                           (end.blue - start.blue) / double(extent)};
    const std::int64_t last = std::min<std::int64_t>(extent, width() - 1);
    for (std::int64_t x = 1; x <= last; ++x) {
      const double k = double(x - 1);
      line[size_t(x)] =
          RoundedRgb({start.red + k * step.red, start.green + k * step.green, start.blue + k * step.blue});
    }
  }
}

void TSpecialProgress::DrawBlockFill(std::vector<QRgb>& line) const {
  const std::int64_t extent = m_fillExtent;
  const std::int64_t pitch = m_blockWidth;
  if (extent <= 0 || pitch <= 0) return;
  const std::int64_t full = m_hasPartialBlock ? m_blockCount - 1 : m_blockCount;
  const bool flat = m_startRGB == m_endRGB;
  const Channels end = ChannelsOf(m_endRGB);
  Channels c = ChannelsOf(m_startRGB);
  const Channels step = {(end.red - c.red) / double(extent), (end.green - c.green) / double(extent),
                         (end.blue - c.blue) / double(extent)};
  const auto advance = [&](std::int64_t steps) {
    c.red += double(steps) * step.red;
    c.green += double(steps) * step.green;
    c.blue += double(steps) * step.blue;
  };
  // One block of the given width from column x0; returns after its columns.
  const auto drawBlock = [&](std::int64_t x0, std::int64_t columns) {
    if (flat) {
      FillColumns(line, x0, x0 + columns - 1, ToRgb(m_startRGB));
    } else if (m_gradientBlocks) {
      for (std::int64_t x = x0; x < x0 + columns; ++x) {
        FillColumns(line, x, x, RoundedRgb(c));
        advance(1);
      }
    } else {
      FillColumns(line, x0, x0 + columns - 1, RoundedRgb(c));
    }
  };
  // Whole blocks: stop at the edge of the line, however stale the block count.
  const std::int64_t drawable = std::min<std::int64_t>(full, width() / pitch + 1);
  for (std::int64_t k = 0; k < drawable; ++k) {
    drawBlock(1 + k * pitch, pitch - 1);
    if (!flat) advance(m_gradientBlocks ? 1 : pitch);  // the gap, or the whole pitch
  }
  if (m_hasPartialBlock && full == drawable) drawBlock(1 + full * pitch, m_partialBlockWidth);
  const QRgb background = ScreenColor(m_color);
  for (std::int64_t k = 1; k <= drawable; ++k) FillColumns(line, k * pitch, k * pitch, background);
}

void TSpecialProgress::DrawText() {
  const QString text = DisplayText();
  if (text.isEmpty()) return;
  const QFontMetrics metrics(font());
  const int span = m_textCentered ? width() : m_fillExtent;
  const int x = std::max(0, (span - metrics.horizontalAdvance(text)) / 2);
  const int y = std::max(0, (height() - metrics.height()) / 2);
  QPainter painter(&m_buffer);
  painter.setFont(font());
  painter.setPen(palette().color(QPalette::WindowText));
  painter.drawText(x, y + metrics.ascent(), text);
}

void TSpecialProgress::DrawFrame() {
  const int w = m_buffer.width();
  const int h = m_buffer.height();
  const auto put = [&](int x, int y, QRgb color) {
    if (x >= 0 && y >= 0 && x < w && y < h) reinterpret_cast<QRgb*>(m_buffer.scanLine(y))[x] = color;
  };
  // A ring: top row and left column in one colour; right column, bottom row
  // and the top-right and bottom-left corners in the other.
  const auto ring = [&](int inset, QRgb topLeft, QRgb bottomRight) {
    const int left = inset, top = inset, right = w - 1 - inset, bottom = h - 1 - inset;
    if (right < left || bottom < top) return;
    for (int x = left; x < right; ++x) put(x, top, topLeft);
    for (int y = top; y < bottom; ++y) put(left, y, topLeft);
    for (int y = top; y <= bottom; ++y) put(right, y, bottomRight);
    for (int x = left; x <= right; ++x) put(x, bottom, bottomRight);
  };
  if (m_borderStyle == bsNone) {
    const QRgb background = ScreenColor(m_color);
    ring(0, background, background);
    return;
  }
  const QRgb face = ScreenColor(clBtnFace);
  ring(0, face, face);
  ring(1, ScreenColor(clBtnShadow), ScreenColor(clBtnHighlight));
  ring(2, ScreenColor(cl3DDkShadow), face);
}

void TSpecialProgress::paintEvent(QPaintEvent*) {
  ++m_paintCount;
  m_painting = true;
  if (m_buffer.size() != size()) {
    m_needsRebuild = true;
    WithoutEscaping([this] {
      RecalcFill();
      RebuildBuffer();
    });
  }
  m_painting = false;
  if (width() > 2 && height() > 2 && !m_buffer.isNull()) {
    QPainter painter(this);
    painter.drawImage(0, 0, m_buffer);
  }
}

void TSpecialProgress::resizeEvent(QResizeEvent*) {
  // A bar of 2 pixels or less shows nothing, so it must let the parent draw there.
  setAttribute(Qt::WA_OpaquePaintEvent, width() > 2 && height() > 2);
}

void TSpecialProgress::changeEvent(QEvent* event) {
  WithoutEscaping([&] {
    if (event->type() == QEvent::FontChange) {
      if (m_textOption != toNoText) {
        m_needsRebuild = true;
        RebuildBuffer();
      }
    } else if (event->type() == QEvent::PaletteChange) {
      FollowParentColor();
      // The text colour and the frame's system colours live in the palette.
      const QColor textColor = palette().color(QPalette::WindowText);
      if (textColor != m_lastTextColor || m_borderStyle == bsSingle || IsSystemColor(m_color)) {
        m_lastTextColor = textColor;
        m_needsRebuild = true;
        RebuildBuffer();
      }
    }
  });
  QWidget::changeEvent(event);
}

bool TSpecialProgress::event(QEvent* event) {
  if (event->type() == QEvent::ParentChange) WithoutEscaping([this] { FollowParentColor(); });
  return QWidget::event(event);
}

void TSpecialProgress::enterEvent(QEnterEvent* event) {
  QPalette tips = QToolTip::palette();
  m_savedHintColor = tips.color(QPalette::Inactive, QPalette::ToolTipBase);
  tips.setColor(QPalette::ToolTipBase, ColorToQColor(m_hintColor, palette()));
  QToolTip::setPalette(tips);
  QWidget::enterEvent(event);
  emit mouseEntered();
}

void TSpecialProgress::leaveEvent(QEvent* event) {
  if (m_savedHintColor.isValid()) {
    QPalette tips = QToolTip::palette();
    tips.setColor(QPalette::ToolTipBase, m_savedHintColor);
    QToolTip::setPalette(tips);
  }
  QWidget::leaveEvent(event);
  emit mouseLeft();
}
