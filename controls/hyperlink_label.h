// THyperlinkLabel: a text label that behaves like a link: an underlined
// colour under a hand pointer, a hover colour (and optionally style), and on
// a click it hands its address to the desktop, after which it takes a
// visited colour.
#pragma once

#include <QLabel>
#include <QString>
#include <exception>
#include <functional>

#include "controls/colors.h"
#include "controls/font_styles.h"

class THyperlinkLabel : public QLabel {
  Q_OBJECT

 public:
  // Opens an address; true when the desktop took it.
  using Opener = std::function<bool(const QString& address)>;
  // Shows a failure of a click to the user.
  using ErrorReporter = std::function<void(const std::exception& error)>;

  // A new label shows its text in blue, underlined, under a hand pointer.
  explicit THyperlinkLabel(QWidget* parent = nullptr);

  // The address to open; when empty the caption is opened.
  QString TargetURL() const { return m_targetURL; }
  void SetTargetURL(const QString& value) { m_targetURL = value; }
  // Text put in front of the address, as it is.
  QString HyperlinkPrefix() const { return m_hyperlinkPrefix; }
  void SetHyperlinkPrefix(const QString& value) { m_hyperlinkPrefix = value; }
  // The font colour after a successful open, when UseClickedHyperlinkColor.
  TColor ClickedHyperlinkColor() const { return m_clickedHyperlinkColor; }
  void SetClickedHyperlinkColor(TColor value) { m_clickedHyperlinkColor = value; }
  bool UseClickedHyperlinkColor() const { return m_useClickedHyperlinkColor; }
  void SetUseClickedHyperlinkColor(bool value) { m_useClickedHyperlinkColor = value; }
  // The font colour while the pointer is over the label, when UseHoverColor.
  TColor HoverColor() const { return m_hoverColor; }
  void SetHoverColor(TColor value) { m_hoverColor = value; }
  bool UseHoverColor() const { return m_useHoverColor; }
  void SetUseHoverColor(bool value) { m_useHoverColor = value; }
  // The font style while the pointer is over the label, when UseHoverFontStyle.
  TFontStyles HoverFontStyle() const { return m_hoverFontStyle; }
  void SetHoverFontStyle(TFontStyles value) { m_hoverFontStyle = value; }
  bool UseHoverFontStyle() const { return m_useHoverFontStyle; }
  void SetUseHoverFontStyle(bool value) { m_useHoverFontStyle = value; }

  // The colour and style the label returns to when the pointer leaves.
  TColor SavedFontColor() const { return m_savedFontColor; }
  TFontStyles SavedFontStyle() const { return m_savedFontStyle; }

  QString Caption() const { return text(); }
  void SetCaption(const QString& value);
  // The font colour (the palette's window text) and style (bold, italic, underline, strike-out).
  TColor FontColor() const;
  void SetFontColor(TColor value);
  TFontStyles FontStyle() const { return FontStylesOf(font()); }
  void SetFontStyle(TFontStyles value);

  // Opens HyperlinkPrefix + (TargetURL, or the caption when that is empty);
  // after a success takes ClickedHyperlinkColor when UseClickedHyperlinkColor.
  // A failed open changes nothing. Throws Exception when the label has no parent.
  void Navigate();

  // Replaces how addresses are opened (by default the desktop's handler).
  void SetOpener(Opener opener) { m_opener = std::move(opener); }
  // Replaces how a failed click is shown (by default a critical message box).
  void SetErrorReporter(ErrorReporter reporter) { m_errorReporter = std::move(reporter); }

  // What the pointer entering and leaving does; the enter and leave events call these.
  void PointerEntered();
  void PointerLeft();

 signals:
  // A click, sent before the address is opened.
  void clicked();

 protected:
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  void Click();

  QString m_hyperlinkPrefix;
  TColor m_clickedHyperlinkColor = clPurple;
  QString m_targetURL;
  bool m_useClickedHyperlinkColor = true;
  bool m_useHoverColor = true;
  TColor m_hoverColor = clRed;
  TColor m_savedFontColor = 0;
  TFontStyles m_savedFontStyle = 0;
  bool m_useHoverFontStyle = false;
  TFontStyles m_hoverFontStyle = fsUnderline;

  bool m_pressed = false;
  Opener m_opener;
  ErrorReporter m_errorReporter;
};
