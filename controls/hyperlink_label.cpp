#include "controls/hyperlink_label.h"

#include <QApplication>
#include <QDesktopServices>
#include <QEnterEvent>
#include <QMessageBox>
#include <QMouseEvent>
#include <QUrl>

#include "base/exceptions.h"

namespace {

bool OpenWithDesktop(const QString& address) {
  // A bare "www.example.com" becomes a web address, a local path a file address.
  const QUrl url = QUrl::fromUserInput(address);
  return url.isValid() && QDesktopServices::openUrl(url);
}

}  // namespace

THyperlinkLabel::THyperlinkLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setCursor(Qt::PointingHandCursor);
  SetFontColor(clBlue);
  SetFontStyle(fsUnderline);
  m_opener = OpenWithDesktop;
  m_errorReporter = [this](const std::exception& error) {
    QMessageBox::critical(window(), QApplication::applicationDisplayName(),
                          QString::fromStdString(error.what()));
  };
}

TColor THyperlinkLabel::FontColor() const { return QColorToColor(palette().color(QPalette::WindowText)); }

void THyperlinkLabel::SetFontColor(TColor value) {
  QPalette colors = palette();
  colors.setColor(QPalette::WindowText, ColorToQColor(value, colors));
  setPalette(colors);
}

void THyperlinkLabel::SetFontStyle(TFontStyles value) {
  QFont styled = font();
  ApplyFontStyles(styled, value);
  setFont(styled);
}

void THyperlinkLabel::SetCaption(const QString& value) {
  setText(value);
  // The label keeps the size of its text, also after a font change.
  adjustSize();
}

void THyperlinkLabel::Navigate() {
  if (!parentWidget()) throw Exception("THyperlinkLabel.Navigate() Parent must be assigned.");
  const QString address = m_hyperlinkPrefix + (m_targetURL.isEmpty() ? text() : m_targetURL);
  if (m_opener(address) && m_useClickedHyperlinkColor) {
    m_savedFontColor = m_clickedHyperlinkColor;
    SetFontColor(m_clickedHyperlinkColor);
  }
}

void THyperlinkLabel::PointerEntered() {
  m_savedFontColor = FontColor();
  m_savedFontStyle = FontStyle();
  if (m_useHoverColor) SetFontColor(m_hoverColor);
  if (m_useHoverFontStyle) SetFontStyle(m_hoverFontStyle);
}

void THyperlinkLabel::PointerLeft() {
  if (m_useHoverColor) SetFontColor(m_savedFontColor);
  if (m_useHoverFontStyle) SetFontStyle(m_savedFontStyle);
}

void THyperlinkLabel::enterEvent(QEnterEvent* event) {
  PointerEntered();
  QLabel::enterEvent(event);
}

void THyperlinkLabel::leaveEvent(QEvent* event) {
  PointerLeft();
  QLabel::leaveEvent(event);
}

void THyperlinkLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) m_pressed = true;
  QLabel::mousePressEvent(event);
}

void THyperlinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click =
      m_pressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
  if (event->button() == Qt::LeftButton) m_pressed = false;
  QLabel::mouseReleaseEvent(event);
  if (click) Click();
}

void THyperlinkLabel::Click() {
  // Nothing may escape into the event loop: a failure goes to the reporter.
  try {
    emit clicked();
    Navigate();
  } catch (const std::exception& error) {
    if (m_errorReporter) m_errorReporter(error);
  }
}

void THyperlinkLabel::changeEvent(QEvent* event) {
  QLabel::changeEvent(event);
  if (event->type() == QEvent::FontChange) adjustSize();
}
