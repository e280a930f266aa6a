// The link label's colours and styles under the pointer, and what a click opens.
#include "controls/hyperlink_label.h"

#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>

#include "base/exceptions.h"

namespace {

constexpr TColor kGreen = 0x00008000;

// Stands in for the desktop: records what it was asked to open.
struct RecordingOpener {
  QStringList* opened;
  bool succeed;
  bool operator()(const QString& address) const {
    opened->append(address);
    return succeed;
  }
};

void Enter(QWidget* w) {
  QEnterEvent enter(QPointF(2, 2), QPointF(2, 2), QPointF(2, 2));
  QCoreApplication::sendEvent(w, &enter);
}

void Leave(QWidget* w) {
  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(w, &leave);
}

}  // namespace

class HyperlinkLabelTest : public QObject {
  Q_OBJECT

 private slots:
  void NewLabelLooksLikeALink();
  void PointerSwitchesColourAndStyleAsAllowed_data();
  void PointerSwitchesColourAndStyleAsAllowed();
  void HoverColourChangeWaitsForTheNextEntry();
  void AddressIsPrefixAndTargetOrCaption_data();
  void AddressIsPrefixAndTargetOrCaption();
  void ClickedColourFollowsOnlyASuccessfulOpen_data();
  void ClickedColourFollowsOnlyASuccessfulOpen();
  void NavigateWithoutParentRaises();
  void ClickNotifiesBeforeOpening();
  void FailedClickGoesToTheErrorReporter();
  void ReleaseOutsideIsNoClick();
};

void HyperlinkLabelTest::NewLabelLooksLikeALink() {
  QWidget parent;
  THyperlinkLabel label(&parent);
  QCOMPARE(label.FontColor(), clBlue);
  QCOMPARE(label.FontStyle(), TFontStyles(fsUnderline));
  QVERIFY(label.font().underline());
  QCOMPARE(label.cursor().shape(), Qt::PointingHandCursor);
  QCOMPARE(label.ClickedHyperlinkColor(), clPurple);
  QVERIFY(label.UseClickedHyperlinkColor());
  QCOMPARE(label.HoverColor(), clRed);
  QVERIFY(label.UseHoverColor());
  QCOMPARE(label.HoverFontStyle(), TFontStyles(fsUnderline));
  QVERIFY(!label.UseHoverFontStyle());
  QVERIFY(label.TargetURL().isEmpty());
  QVERIFY(label.HyperlinkPrefix().isEmpty());
  QCOMPARE(label.SavedFontColor(), TColor(0));
}

void HyperlinkLabelTest::PointerSwitchesColourAndStyleAsAllowed_data() {
  QTest::addColumn<bool>("useColor");
  QTest::addColumn<bool>("useStyle");
  QTest::newRow("neither") << false << false;
  QTest::newRow("colour") << true << false;
  QTest::newRow("style") << false << true;
  QTest::newRow("both") << true << true;
}

void HyperlinkLabelTest::PointerSwitchesColourAndStyleAsAllowed() {
  QFETCH(bool, useColor);
  QFETCH(bool, useStyle);
  QWidget parent;
  THyperlinkLabel label(&parent);
  label.SetCaption("www.example.org");
  label.SetFontColor(clRed);
  label.SetFontStyle(fsUnderline);
  label.SetHoverColor(kGreen);
  label.SetHoverFontStyle(fsBold | fsItalic);
  label.SetUseHoverColor(useColor);
  label.SetUseHoverFontStyle(useStyle);

  Enter(&label);
  // Entering records the resting look whatever the flags say.
  QCOMPARE(label.SavedFontColor(), clRed);
  QCOMPARE(label.SavedFontStyle(), TFontStyles(fsUnderline));
  QCOMPARE(label.FontColor(), useColor ? kGreen : clRed);
  QCOMPARE(label.FontStyle(), useStyle ? TFontStyles(fsBold | fsItalic) : TFontStyles(fsUnderline));
  QCOMPARE(label.font().bold(), useStyle);

  Leave(&label);
  QCOMPARE(label.FontColor(), clRed);
  QCOMPARE(label.FontStyle(), TFontStyles(fsUnderline));
}

void HyperlinkLabelTest::HoverColourChangeWaitsForTheNextEntry() {
  QWidget parent;
  THyperlinkLabel label(&parent);
  label.SetHoverColor(kGreen);
  Enter(&label);
  label.SetHoverColor(clPurple);
  QCOMPARE(label.FontColor(), kGreen);
  Leave(&label);
  Enter(&label);
  QCOMPARE(label.FontColor(), clPurple);
}

void HyperlinkLabelTest::AddressIsPrefixAndTargetOrCaption_data() {
  QTest::addColumn<QString>("prefix");
  QTest::addColumn<QString>("target");
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QString>("address");
  QTest::newRow("caption") << ""
                           << ""
                           << "www.example.org"
                           << "www.example.org";
  QTest::newRow("prefixed caption") << "https://"
                                    << ""
                                    << "www.example.org"
                                    << "https://www.example.org";
  QTest::newRow("target") << ""
                          << "https://example.net/a b"
                          << "Example"
                          << "https://example.net/a b";
  QTest::newRow("prefixed target") << "mailto:"
                                   << "info@example.org"
                                   << "Write to us"
                                   << "mailto:info@example.org";
  QTest::newRow("joined as they are") << " x "
                                      << " y "
                                      << "z"
                                      << " x  y ";
  QTest::newRow("empty") << ""
                         << ""
                         << ""
                         << "";
}

void HyperlinkLabelTest::AddressIsPrefixAndTargetOrCaption() {
  QFETCH(QString, prefix);
  QFETCH(QString, target);
  QFETCH(QString, caption);
  QFETCH(QString, address);
  QWidget parent;
  THyperlinkLabel label(&parent);
  QStringList opened;
  label.SetOpener(RecordingOpener{&opened, true});
  label.SetHyperlinkPrefix(prefix);
  label.SetTargetURL(target);
  label.SetCaption(caption);
  label.Navigate();
  QCOMPARE(opened, QStringList{address});
  QCOMPARE(label.text(), caption);
}

void HyperlinkLabelTest::ClickedColourFollowsOnlyASuccessfulOpen_data() {
  QTest::addColumn<bool>("succeed");
  QTest::addColumn<bool>("useClicked");
  QTest::addColumn<bool>("useHover");
  QTest::addColumn<TColor>("hovered");  // colour right after the click
  QTest::addColumn<TColor>("resting");  // colour after the pointer left
  QTest::newRow("success") << true << true << true << clPurple << clPurple;
  QTest::newRow("failure") << false << true << true << kGreen << clRed;
  QTest::newRow("clicked colour off") << true << false << true << kGreen << clRed;
  QTest::newRow("hover off") << true << true << false << clPurple << clPurple;
}

void HyperlinkLabelTest::ClickedColourFollowsOnlyASuccessfulOpen() {
  QFETCH(bool, succeed);
  QFETCH(bool, useClicked);
  QFETCH(bool, useHover);
  QFETCH(TColor, hovered);
  QFETCH(TColor, resting);
  QWidget parent;
  THyperlinkLabel label(&parent);
  label.SetCaption("www.example.org");
  label.SetFontColor(clRed);
  label.SetHoverColor(kGreen);
  label.SetUseHoverColor(useHover);
  label.SetUseClickedHyperlinkColor(useClicked);
  QStringList opened;
  label.SetOpener(RecordingOpener{&opened, succeed});

  Enter(&label);
  QTest::mouseClick(&label, Qt::LeftButton);
  QCOMPARE(opened.size(), 1);
  QCOMPARE(label.FontColor(), hovered);
  Leave(&label);
  QCOMPARE(label.FontColor(), resting);
  // Visited: the pointer still switches to the hover colour and back.
  Enter(&label);
  QCOMPARE(label.FontColor(), useHover ? kGreen : resting);
  Leave(&label);
  QCOMPARE(label.FontColor(), resting);
}

void HyperlinkLabelTest::NavigateWithoutParentRaises() {
  THyperlinkLabel label;
  QStringList opened;
  label.SetOpener(RecordingOpener{&opened, true});
  try {
    label.Navigate();
    QFAIL("no error");
  } catch (const Exception& e) {
    QCOMPARE(QString(e.what()), QString("THyperlinkLabel.Navigate() Parent must be assigned."));
  }
  QVERIFY(opened.isEmpty());
}

void HyperlinkLabelTest::ClickNotifiesBeforeOpening() {
  QWidget parent;
  THyperlinkLabel label(&parent);
  label.SetCaption("www.example.org");
  QStringList events;
  connect(&label, &THyperlinkLabel::clicked, [&] { events << "clicked"; });
  label.SetOpener([&](const QString& address) {
    events << "open " + address;
    return true;
  });
  QTest::mouseClick(&label, Qt::LeftButton);
  QCOMPARE(events, (QStringList{"clicked", "open www.example.org"}));
  // Only the left button clicks.
  QTest::mouseClick(&label, Qt::RightButton);
  QCOMPARE(events.size(), 2);
}

void HyperlinkLabelTest::FailedClickGoesToTheErrorReporter() {
  THyperlinkLabel label;
  label.SetCaption("www.example.org");
  QStringList reported;
  label.SetErrorReporter([&](const std::exception& e) { reported << e.what(); });
  QSignalSpy clicked(&label, &THyperlinkLabel::clicked);
  QTest::mouseClick(&label, Qt::LeftButton);
  QCOMPARE(clicked.count(), 1);
  QCOMPARE(reported, QStringList{"THyperlinkLabel.Navigate() Parent must be assigned."});
}

void HyperlinkLabelTest::ReleaseOutsideIsNoClick() {
  QWidget parent;
  THyperlinkLabel label(&parent);
  label.SetCaption("www.example.org");
  QStringList opened;
  label.SetOpener(RecordingOpener{&opened, true});
  QTest::mousePress(&label, Qt::LeftButton, {}, QPoint(2, 2));
  QTest::mouseRelease(&label, Qt::LeftButton, {}, QPoint(label.width() + 20, 2));
  QVERIFY(opened.isEmpty());
}

QTEST_MAIN(HyperlinkLabelTest)
#include "hyperlink_label_test.moc"
