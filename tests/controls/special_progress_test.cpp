// The progress bar's picture, pixel by pixel, and when it paints itself.
#include "controls/special_progress.h"

#include <QApplication>
#include <QEnterEvent>
#include <QSignalSpy>
#include <QTest>
#include <QToolTip>
#include <cmath>
#include <memory>

#include "base/exceptions.h"

namespace {

QRgb Rgb(TColor c) { return qRgb(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }

// The solid fill's colour of column x for extent e, worked out from the
// channel values: start + (x - 1) * (end - start) / e, rounded half to even.
QRgb SolidColumn(int x, int e, TColor start, TColor end) {
  const auto channel = [&](int shift) {
    const double s = double((start >> shift) & 0xFF);
    const double t = double((end >> shift) & 0xFF);
    return int(std::nearbyint(s + double(x - 1) * ((t - s) / double(e))));
  };
  return qRgb(channel(0), channel(8), channel(16));
}

QString Hex(QRgb c) { return QString::asprintf("#%06x", c & 0xFFFFFF); }

// A parent with its own distinct colours, so that every colour role of the
// bar's picture can be told apart from the others.
std::unique_ptr<QWidget> ColouredParent() {
  auto parent = std::make_unique<QWidget>();
  parent->resize(718, 330);
  QPalette p = parent->palette();
  p.setColor(QPalette::Window, QColor(200, 210, 220));
  p.setColor(QPalette::Button, QColor(230, 231, 232));
  p.setColor(QPalette::Dark, QColor(100, 101, 102));
  p.setColor(QPalette::Light, QColor(250, 251, 252));
  p.setColor(QPalette::Shadow, QColor(10, 11, 12));
  p.setColor(QPalette::WindowText, QColor(0, 0, 0));
  parent->setPalette(p);
  return parent;
}

// The main window's bar: 705 x 23 at the bottom, single frame, solid, white
// to RGB(0, 102, 153), set up the way the window loads it.
TSpecialProgress* MainWindowBar(QWidget* parent) {
  auto* bar = new TSpecialProgress(parent);
  bar->BeginLoading();
  bar->setGeometry(0, 272, 705, 23);
  bar->SetBorderStyle(bsSingle);
  bar->SetSolid(true);
  bar->SetEndColor(10053120);
  bar->SetCaption("jspProgress");
  bar->EndLoading();
  return bar;
}

QRgb Role(const QWidget* w, QPalette::ColorRole role) {
  return w->palette().color(QPalette::Active, role).rgb();
}

// How many columns the block fill shows, and the colour of each column, for
// a 150 x 15 bar from white to black: computed with running sums per block.
struct BlockPicture {
  std::vector<QRgb> columns;  // index x, for x = 1 .. 148
};

BlockPicture ExpectedBlocks(int blocks, bool partial, int partialWidth, int extent, bool gradient, QRgb gap) {
  BlockPicture out;
  out.columns.assign(150, gap);
  const int pitch = 10;
  double v = 255.0;
  const double step = -255.0 / extent;
  const auto grey = [](double value) {
    const int g = int(std::nearbyint(value));
    return qRgb(g, g, g);
  };
  const int full = partial ? blocks - 1 : blocks;
  for (int k = 0; k < full; ++k) {
    for (int c = 0; c < pitch - 1; ++c) {
      out.columns[size_t(1 + k * pitch + c)] = grey(v);
      if (gradient) v += step;
    }
    v += gradient ? step : pitch * step;
  }
  if (partial)
    for (int c = 0; c < partialWidth; ++c) {
      out.columns[size_t(1 + full * pitch + c)] = grey(v);
      if (gradient) v += step;
    }
  return out;
}

}  // namespace

class SpecialProgressTest : public QObject {
  Q_OBJECT

 private slots:
  void NewBarHasItsDefaults();
  void MainWindowBarFillsAndFrames_data();
  void MainWindowBarFillsAndFrames();
  void SolidFillRoundsHalfToEven();
  void BlocksSnapToTheNearerBoundary_data();
  void BlocksSnapToTheNearerBoundary();
  void EqualColoursGiveOneFlatColour();
  void BlockPitchFollowsTheHeight_data();
  void BlockPitchFollowsTheHeight();
  void PercentTextIsPlacedOnTheFillOrTheBar_data();
  void PercentTextIsPlacedOnTheFillOrTheBar();
  void FormatCaptionPlacesThePercentage_data();
  void FormatCaptionPlacesThePercentage();
  void InvalidFormatCaptionRaisesOutOfTheSetter();
  void RangeAndPositionAreClamped_data();
  void RangeAndPositionAreClamped();
  void EmptyRangeKeepsTheFill();
  void WideRangesDoNotOverflow();
  void TinyBarsDrawNothingOnScreen();
  void EachChangeOfTheFillPaintsOnceAtOnce();
  void BlockBarPaintsOnlyWhenTheExtentChanges();
  void UnchangedPercentageAndExtentDrawNothing();
  void HiddenBarRebuildsWithoutPainting();
  void LoadingDefersAllWorkToItsEnd();
  void PendingRebuildSurvivesAPositionChangeWhileLoading();
  void ResizedBarRebuildsAtItsNextPaint();
  void FollowsTheParentsColourUntilSet();
  void SystemStartColourIsResolvedWhenSet();
  void HintColourHoldsWhileThePointerIsOver();
};

void SpecialProgressTest::NewBarHasItsDefaults() {
  TSpecialProgress bar;
  QCOMPARE(bar.size(), QSize(150, 15));
  QCOMPARE(bar.Minimum(), 0);
  QCOMPARE(bar.Maximum(), 100);
  QCOMPARE(bar.Position(), 0);
  QVERIFY(!bar.Solid());
  QVERIFY(!bar.GradientBlocks());
  QCOMPARE(bar.StartColor(), clWhite);
  QCOMPARE(bar.EndColor(), clBlack);
  QCOMPARE(bar.TextOption(), toNoText);
  QVERIFY(!bar.TextCentered());
  QCOMPARE(bar.BorderStyle(), bsNone);
  QCOMPARE(bar.HintColor(), TColor(0xFF000018));
  QVERIFY(bar.ParentColor());
  QCOMPARE(bar.FillExtent(), 0);
  QVERIFY(bar.testAttribute(Qt::WA_OpaquePaintEvent));
}

void SpecialProgressTest::MainWindowBarFillsAndFrames_data() {
  QTest::addColumn<int>("position");
  QTest::addColumn<int>("extent");
  QTest::newRow("0") << 0 << 0;
  QTest::newRow("10") << 10 << 70;
  QTest::newRow("50") << 50 << 351;
  QTest::newRow("100") << 100 << 703;
}

void SpecialProgressTest::MainWindowBarFillsAndFrames() {
  QFETCH(int, position);
  QFETCH(int, extent);
  auto parent = ColouredParent();
  TSpecialProgress* bar = MainWindowBar(parent.get());
  bar->SetPosition(position);
  QCOMPARE(bar->FillExtent(), extent);

  const QImage& image = bar->Buffer();
  QCOMPARE(image.size(), QSize(705, 23));
  const QRgb face = Role(parent.get(), QPalette::Button);
  const QRgb shadow = Role(parent.get(), QPalette::Dark);
  const QRgb highlight = Role(parent.get(), QPalette::Light);
  const QRgb darkShadow = Role(parent.get(), QPalette::Shadow);
  const QRgb background = qRgb(200, 210, 220);  // the parent's colour
  QCOMPARE(bar->Color(), RGBColor(200, 210, 220));

  // Inside the frame: the fill up to the extent, the background after it.
  for (int x = 3; x <= 701; ++x)
    for (int y : {3, 11, 19}) {
      const QRgb expected = x <= extent ? SolidColumn(x, extent, clWhite, 10053120) : background;
      if (image.pixel(x, y) != expected)
        QFAIL(qPrintable(QString("pixel %1,%2 is %3, expected %4")
                             .arg(x)
                             .arg(y)
                             .arg(Hex(image.pixel(x, y)), Hex(expected))));
    }
  if (extent > 0) QCOMPARE(image.pixel(3, 11), SolidColumn(3, extent, clWhite, 10053120));

  // Three rings: top and left in the first colour, right and bottom (and the
  // top-right and bottom-left corners) in the second.
  struct Ring {
    int inset;
    QRgb topLeft, bottomRight;
  };
  for (const Ring& ring : {Ring{0, face, face}, Ring{1, shadow, highlight}, Ring{2, darkShadow, face}}) {
    const int l = ring.inset, t = ring.inset, r = 704 - ring.inset, b = 22 - ring.inset;
    for (int x = l; x < r; ++x) QCOMPARE(Hex(image.pixel(x, t)), Hex(ring.topLeft));
    for (int y = t; y < b; ++y) QCOMPARE(Hex(image.pixel(l, y)), Hex(ring.topLeft));
    for (int y = t; y <= b; ++y) QCOMPARE(Hex(image.pixel(r, y)), Hex(ring.bottomRight));
    for (int x = l; x <= r; ++x) QCOMPARE(Hex(image.pixel(x, b)), Hex(ring.bottomRight));
  }
}

void SpecialProgressTest::SolidFillRoundsHalfToEven() {
  // Extent 2 puts column 2 at exactly half the way to the end colour:
  // 0.5, 1.5 and 2.5 round to 0, 2 and 2.
  QWidget parent;
  TSpecialProgress bar(&parent);
  bar.resize(4, 10);
  bar.SetSolid(true);
  bar.SetStartColor(clBlack);
  bar.SetEndColor(RGBColor(1, 3, 5));
  bar.SetPosition(100);
  QCOMPARE(bar.FillExtent(), 2);
  QCOMPARE(Hex(bar.Buffer().pixel(1, 5)), Hex(qRgb(0, 0, 0)));
  QCOMPARE(Hex(bar.Buffer().pixel(2, 5)), Hex(qRgb(0, 2, 2)));
}

void SpecialProgressTest::BlocksSnapToTheNearerBoundary_data() {
  QTest::addColumn<int>("position");
  QTest::addColumn<bool>("gradient");
  QTest::addColumn<int>("blocks");
  QTest::addColumn<bool>("partial");
  QTest::addColumn<int>("extent");
  for (bool gradient : {false, true}) {
    const char* mode = gradient ? "gradient" : "flat";
    QTest::addRow("%s 0", mode) << 0 << gradient << 0 << false << 0;
    QTest::addRow("%s 50", mode) << 50 << gradient << 7 << false << 70;
    QTest::addRow("%s 51", mode) << 51 << gradient << 7 << false << 70;
    QTest::addRow("%s 52", mode) << 52 << gradient << 8 << false << 80;
    QTest::addRow("%s 97", mode) << 97 << gradient << 14 << false << 140;
    QTest::addRow("%s 98", mode) << 98 << gradient << 15 << true << 148;
    QTest::addRow("%s 100", mode) << 100 << gradient << 15 << true << 148;
  }
}

void SpecialProgressTest::BlocksSnapToTheNearerBoundary() {
  QFETCH(int, position);
  QFETCH(bool, gradient);
  QFETCH(int, blocks);
  QFETCH(bool, partial);
  QFETCH(int, extent);
  auto parent = ColouredParent();
  TSpecialProgress bar(parent.get());
  bar.SetGradientBlocks(gradient);
  bar.SetPosition(position);
  QCOMPARE(bar.FillExtent(), extent);
  if (position == 0) return;
  QCOMPARE(bar.BlockWidth(), 10);
  QCOMPARE(bar.BlockCount(), blocks);
  QCOMPARE(bar.HasPartialBlock(), partial);
  if (partial) QCOMPARE(bar.PartialBlockWidth(), 8);

  const QRgb background = qRgb(200, 210, 220);
  const BlockPicture expected = ExpectedBlocks(blocks, partial, 8, extent, gradient, background);
  for (int x = 1; x <= 148; ++x)
    if (bar.Buffer().pixel(x, 7) != expected.columns[size_t(x)])
      QFAIL(qPrintable(QString("column %1 is %2, expected %3")
                           .arg(x)
                           .arg(Hex(bar.Buffer().pixel(x, 7)), Hex(expected.columns[size_t(x)]))));
  // Gaps between whole blocks are in the background colour.
  for (int k = 1; k <= (partial ? blocks - 1 : blocks); ++k)
    QCOMPARE(bar.Buffer().pixel(k * 10, 1), background);
  // Without gradient shading a block is one colour: that of its left edge.
  if (!gradient)
    QCOMPARE(bar.Buffer().pixel(11, 7), bar.Buffer().pixel(19, 7));
  else
    QVERIFY(bar.Buffer().pixel(11, 7) != bar.Buffer().pixel(19, 7));
}

void SpecialProgressTest::EqualColoursGiveOneFlatColour() {
  const TColor colour = RGBColor(10, 120, 230);
  for (bool solid : {true, false}) {
    auto parent = ColouredParent();
    TSpecialProgress bar(parent.get());
    bar.SetSolid(solid);
    bar.SetGradientBlocks(true);
    bar.SetStartColor(colour);
    bar.SetEndColor(colour);
    bar.SetPosition(100);
    for (int x = 1; x <= 148; ++x) {
      const bool gap = !solid && x % 10 == 0 && x < 141;
      QCOMPARE(Hex(bar.Buffer().pixel(x, 7)), Hex(gap ? qRgb(200, 210, 220) : Rgb(colour)));
    }
  }
}

void SpecialProgressTest::BlockPitchFollowsTheHeight_data() {
  QTest::addColumn<int>("height");
  QTest::addColumn<int>("pitch");
  QTest::addColumn<int>("extent");
  QTest::newRow("15 high") << 15 << 10 << 70;
  QTest::newRow("23 high") << 23 << 15 << 75;
  QTest::newRow("1 high") << 1 << 0 << 0;
}

void SpecialProgressTest::BlockPitchFollowsTheHeight() {
  QFETCH(int, height);
  QFETCH(int, pitch);
  QFETCH(int, extent);
  QWidget parent;
  TSpecialProgress bar(&parent);
  bar.resize(150, height);
  bar.SetPosition(50);
  QCOMPARE(bar.BlockWidth(), pitch);
  QCOMPARE(bar.FillExtent(), extent);
}

void SpecialProgressTest::PercentTextIsPlacedOnTheFillOrTheBar_data() {
  QTest::addColumn<int>("position");
  QTest::addColumn<bool>("centered");
  QTest::addColumn<int>("span");
  QTest::newRow("on the fill") << 50 << false << 74;
  QTest::newRow("nothing filled") << 0 << false << 0;
  QTest::newRow("on the bar") << 50 << true << 150;
}

void SpecialProgressTest::PercentTextIsPlacedOnTheFillOrTheBar() {
  QFETCH(int, position);
  QFETCH(bool, centered);
  QFETCH(int, span);
  // White everywhere but the black glyphs.
  QWidget parent;
  TSpecialProgress bar(&parent);
  QPalette p = bar.palette();
  p.setColor(QPalette::WindowText, Qt::black);
  bar.setPalette(p);
  bar.SetSolid(true);
  bar.SetColor(clWhite);
  bar.SetEndColor(clWhite);
  bar.SetTextOption(toPercent);
  bar.SetTextCentered(centered);
  bar.SetPosition(position);
  const QString text = QString::number(position) + "%";
  QCOMPARE(bar.DisplayText(), text);

  int left = 1000, right = -1, top = 1000, bottom = -1;
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 150; ++x)
      if (bar.Buffer().pixel(x, y) != qRgb(255, 255, 255)) {
        left = std::min(left, x), right = std::max(right, x);
        top = std::min(top, y), bottom = std::max(bottom, y);
      }
  QVERIFY2(right >= 0, "no text drawn");
  const QFontMetrics metrics(bar.font());
  const int x = std::max(0, (span - metrics.horizontalAdvance(text)) / 2);
  const int y = std::max(0, (15 - metrics.height()) / 2);
  // The glyphs start within their side bearing of the text's place.
  QVERIFY2(left >= x && left <= x + 2,
           qPrintable(QString("text starts at %1, expected %2").arg(left).arg(x)));
  QVERIFY(right <= x + metrics.horizontalAdvance(text) + 1);
  QVERIFY(top >= y);
  QVERIFY(bottom < y + metrics.height());
}

void SpecialProgressTest::FormatCaptionPlacesThePercentage_data() {
  QTest::addColumn<QString>("caption");
  QTest::addColumn<QString>("text");
  QTest::newRow("plain") << "%d"
                         << "42";
  QTest::newRow("sentence") << "Done: %d%%"
                            << "Done: 42%";
  QTest::newRow("width") << "[%5d]"
                         << "[   42]";
  QTest::newRow("left justified") << "[%-4d]"
                                  << "[42  ]";
  QTest::newRow("precision") << "%.4d"
                             << "0042";
  QTest::newRow("index") << "%0:d"
                         << "42";
  QTest::newRow("hex") << "%x"
                       << "2A";
  QTest::newRow("no pattern") << "Working"
                              << "Working";
}

void SpecialProgressTest::FormatCaptionPlacesThePercentage() {
  QFETCH(QString, caption);
  QFETCH(QString, text);
  TSpecialProgress bar;
  bar.SetCaption(caption);
  bar.SetTextOption(toFormat);
  bar.SetPosition(42);
  QCOMPARE(bar.DisplayText(), text);
}

void SpecialProgressTest::InvalidFormatCaptionRaisesOutOfTheSetter() {
  const struct {
    const char* caption;
    const char* message;
  } cases[] = {
      {"%s", "Format '%s' invalid or incompatible with argument"},
      {"at %f", "Format 'at %f' invalid or incompatible with argument"},
      {"50%", "Format '50%' invalid or incompatible with argument"},
      {"%d of %d", "No argument for format '%d of %d'"},
  };
  for (const auto& c : cases) {
    TSpecialProgress bar;
    bar.SetCaption(c.caption);
    try {
      bar.SetTextOption(toFormat);
      QFAIL(qPrintable(QString("no error for ") + c.caption));
    } catch (const Exception& e) {
      QCOMPARE(QString(e.what()), QString(c.message));
    }
  }
}

void SpecialProgressTest::RangeAndPositionAreClamped_data() {
  QTest::addColumn<QString>("action");
  QTest::addColumn<int>("value");
  QTest::addColumn<int>("minimum");
  QTest::addColumn<int>("maximum");
  QTest::addColumn<int>("position");
  // The bar starts at 0 to 100, position 50.
  QTest::newRow("position above") << "position" << 150 << 0 << 100 << 100;
  QTest::newRow("position below") << "position" << -5 << 0 << 100 << 0;
  QTest::newRow("minimum pulls position up") << "minimum" << 60 << 60 << 100 << 60;
  QTest::newRow("minimum above maximum") << "minimum" << 200 << 100 << 100 << 100;
  QTest::newRow("maximum pulls position down") << "maximum" << 40 << 0 << 40 << 40;
  QTest::newRow("maximum below minimum") << "maximum" << -10 << 0 << 0 << 0;
  QTest::newRow("minimum below") << "minimum" << -100 << -100 << 100 << 50;
}

void SpecialProgressTest::RangeAndPositionAreClamped() {
  QFETCH(QString, action);
  QFETCH(int, value);
  QFETCH(int, minimum);
  QFETCH(int, maximum);
  QFETCH(int, position);
  TSpecialProgress bar;
  bar.SetPosition(50);
  if (action == "position") bar.SetPosition(value);
  if (action == "minimum") bar.SetMinimum(value);
  if (action == "maximum") bar.SetMaximum(value);
  QCOMPARE(bar.Minimum(), minimum);
  QCOMPARE(bar.Maximum(), maximum);
  QCOMPARE(bar.Position(), position);
}

void SpecialProgressTest::EmptyRangeKeepsTheFill() {
  TSpecialProgress bar;
  bar.SetSolid(true);
  bar.SetPosition(50);
  QCOMPARE(bar.FillExtent(), 74);
  bar.SetMaximum(0);
  QCOMPARE(bar.Position(), 0);
  QCOMPARE(bar.CurrentPercent(), 0);
  QCOMPARE(bar.FillExtent(), 74);
}

void SpecialProgressTest::WideRangesDoNotOverflow() {
  auto parent = ColouredParent();
  TSpecialProgress* bar = MainWindowBar(parent.get());
  bar->SetMinimum(-2000000000);
  bar->SetMaximum(2000000000);
  bar->SetPosition(0);
  QCOMPARE(bar->CurrentPercent(), 50);
  QCOMPARE(bar->FillExtent(), 351);
  bar->SetPosition(2000000000);
  QCOMPARE(bar->CurrentPercent(), 100);
  QCOMPARE(bar->FillExtent(), 703);
}

void SpecialProgressTest::TinyBarsDrawNothingOnScreen() {
  QWidget parent;
  parent.resize(100, 40);
  QPalette p = parent.palette();
  p.setColor(QPalette::Window, QColor(0, 255, 0));
  parent.setPalette(p);
  parent.setAutoFillBackground(true);
  struct Case {
    QSize size;
    bool shown;
  };
  for (const Case& c :
       {Case{{2, 15}, false}, Case{{150, 2}, false}, Case{{3, 15}, true}, Case{{1, 1}, false}}) {
    TSpecialProgress bar(&parent);
    bar.SetColor(RGBColor(255, 0, 0));
    bar.setGeometry(QRect(QPoint(10, 10), c.size));
    bar.SetPosition(70);  // no crash, however narrow
    const QImage shot = parent.grab().toImage();
    const QRgb seen = shot.pixel(10, 10);
    QCOMPARE(Hex(seen), Hex(c.shown ? qRgb(255, 0, 0) : qRgb(0, 255, 0)));
  }
  TSpecialProgress empty(&parent);
  empty.resize(0, 15);
  const int rebuilds = empty.RebuildCount();
  empty.SetBorderStyle(bsSingle);
  QCOMPARE(empty.RebuildCount(), rebuilds);
}

void SpecialProgressTest::EachChangeOfTheFillPaintsOnceAtOnce() {
  auto parent = ColouredParent();
  TSpecialProgress* bar = MainWindowBar(parent.get());
  parent->show();
  QVERIFY(QTest::qWaitForWindowExposed(parent.get()));
  QCoreApplication::processEvents();

  // No event loop turns below: every paint counted is synchronous.
  const int paintsBefore = bar->PaintCount();
  int changes = 0;
  int extent = bar->FillExtent();
  for (int position = 0; position <= 100; ++position) {
    const int paints = bar->PaintCount();
    bar->SetPosition(position);
    const bool changed = bar->FillExtent() != extent;
    extent = bar->FillExtent();
    changes += changed;
    QCOMPARE(bar->PaintCount() - paints, changed ? 1 : 0);
  }
  QCOMPARE(changes, 100);  // 7.03 pixels a step: every position but the first moves the fill
  QCOMPARE(bar->PaintCount() - paintsBefore, 100);
  const int paints = bar->PaintCount();
  bar->SetPosition(100);
  QCOMPARE(bar->PaintCount(), paints);
}

void SpecialProgressTest::BlockBarPaintsOnlyWhenTheExtentChanges() {
  QWidget parent;
  parent.resize(200, 50);
  TSpecialProgress bar(&parent);
  parent.show();
  QVERIFY(QTest::qWaitForWindowExposed(&parent));
  QCoreApplication::processEvents();
  int changes = 0;
  int extent = bar.FillExtent();
  const int paintsBefore = bar.PaintCount();
  for (int position = 0; position <= 100; ++position) {
    const int paints = bar.PaintCount();
    bar.SetPosition(position);
    const bool changed = bar.FillExtent() != extent;
    extent = bar.FillExtent();
    changes += changed;
    QCOMPARE(bar.PaintCount() - paints, changed ? 1 : 0);
  }
  QCOMPARE(changes, 15);  // 14 whole blocks and the partial one
  QCOMPARE(bar.PaintCount() - paintsBefore, 15);
}

void SpecialProgressTest::UnchangedPercentageAndExtentDrawNothing() {
  QWidget parent;
  parent.resize(200, 50);
  TSpecialProgress bar(&parent);
  bar.SetSolid(true);
  bar.SetMaximum(1000);
  bar.SetTextOption(toPercent);
  bar.SetPosition(500);
  parent.show();
  QVERIFY(QTest::qWaitForWindowExposed(&parent));
  QCoreApplication::processEvents();
  QCOMPARE(bar.FillExtent(), 74);

  struct Step {
    int position;
    int extent;
    int paints;
  };
  // 500 -> 501: 50% and 74 columns both stay; 509 -> 510: only the shown
  // percentage changes; 510 -> 520: both change, still one paint.
  for (const Step& s : {Step{501, 74, 0}, Step{509, 75, 1}, Step{510, 75, 1}, Step{520, 76, 1}}) {
    const int paints = bar.PaintCount();
    const int rebuilds = bar.RebuildCount();
    bar.SetPosition(s.position);
    QCOMPARE(bar.FillExtent(), s.extent);
    QCOMPARE(bar.PaintCount() - paints, s.paints);
    QCOMPARE(bar.RebuildCount() - rebuilds, s.paints);
  }
  // Without a shown percentage a percentage change alone draws nothing.
  bar.SetTextOption(toNoText);
  const int paints = bar.PaintCount();
  bar.SetPosition(514);
  QCOMPARE(bar.FillExtent(), 76);
  QCOMPARE(bar.PaintCount(), paints);
}

void SpecialProgressTest::HiddenBarRebuildsWithoutPainting() {
  QWidget parent;
  TSpecialProgress bar(&parent);
  parent.show();
  QVERIFY(QTest::qWaitForWindowExposed(&parent));
  bar.hide();
  const int paints = bar.PaintCount();
  const int rebuilds = bar.RebuildCount();
  bar.SetPosition(60);
  QCOMPARE(bar.RebuildCount(), rebuilds + 1);
  QCOMPARE(bar.PaintCount(), paints);
}

void SpecialProgressTest::LoadingDefersAllWorkToItsEnd() {
  auto parent = ColouredParent();
  TSpecialProgress bar(parent.get());
  bar.SetPosition(10);
  const int rebuilds = bar.RebuildCount();
  bar.BeginLoading();
  bar.setGeometry(0, 272, 705, 23);
  bar.SetBorderStyle(bsSingle);
  bar.SetSolid(true);
  bar.SetEndColor(10053120);
  bar.SetPosition(40);
  QCOMPARE(bar.RebuildCount(), rebuilds);
  QCOMPARE(bar.FillExtent(), 10);  // the old extent of the 150 pixel bar
  bar.EndLoading();
  QCOMPARE(bar.RebuildCount(), rebuilds + 1);
  QCOMPARE(bar.FillExtent(), 281);
  QCOMPARE(bar.Buffer().size(), QSize(705, 23));
  QCOMPARE(Hex(bar.Buffer().pixel(100, 11)), Hex(SolidColumn(100, 281, clWhite, 10053120)));
}

void SpecialProgressTest::PendingRebuildSurvivesAPositionChangeWhileLoading() {
  // 50 and 51 show the same 7 blocks: the position change alone would not
  // redraw, but the frame set before it must still appear.
  auto parent = ColouredParent();
  TSpecialProgress bar(parent.get());
  bar.SetPosition(50);
  bar.BeginLoading();
  bar.SetBorderStyle(bsSingle);
  bar.SetPosition(51);
  bar.EndLoading();
  QCOMPARE(Hex(bar.Buffer().pixel(1, 1)), Hex(Role(parent.get(), QPalette::Dark)));
}

void SpecialProgressTest::ResizedBarRebuildsAtItsNextPaint() {
  QWidget parent;
  parent.resize(400, 50);
  TSpecialProgress bar(&parent);
  bar.SetSolid(true);
  bar.SetPosition(50);
  QCOMPARE(bar.FillExtent(), 74);
  bar.resize(302, 15);
  QCOMPARE(bar.FillExtent(), 74);
  parent.grab();  // paints the bar
  QCOMPARE(bar.Buffer().size(), QSize(302, 15));
  QCOMPARE(bar.FillExtent(), 150);
}

void SpecialProgressTest::FollowsTheParentsColourUntilSet() {
  auto parent = ColouredParent();
  TSpecialProgress bar(parent.get());
  bar.SetPosition(50);
  QSignalSpy changed(&bar, &TSpecialProgress::parentColorChanged);
  QPalette p = parent->palette();
  p.setColor(QPalette::Window, QColor(1, 2, 3));
  parent->setPalette(p);
  QCOMPARE(changed.count(), 1);
  QCOMPARE(bar.Color(), RGBColor(1, 2, 3));
  QCOMPARE(Hex(bar.Buffer().pixel(100, 7)), Hex(qRgb(1, 2, 3)));

  bar.SetColor(RGBColor(9, 8, 7));
  QVERIFY(!bar.ParentColor());
  p.setColor(QPalette::Window, QColor(4, 5, 6));
  parent->setPalette(p);
  QCOMPARE(bar.Color(), RGBColor(9, 8, 7));
  QCOMPARE(Hex(bar.Buffer().pixel(100, 7)), Hex(qRgb(9, 8, 7)));
}

void SpecialProgressTest::SystemStartColourIsResolvedWhenSet() {
  auto parent = ColouredParent();
  TSpecialProgress bar(parent.get());
  bar.SetSolid(true);
  bar.SetStartColor(clBtnFace);
  bar.SetEndColor(clBtnFace);
  bar.SetPosition(50);
  QCOMPARE(Hex(bar.Buffer().pixel(5, 7)), Hex(qRgb(230, 231, 232)));
  QPalette p = parent->palette();
  p.setColor(QPalette::Button, QColor(40, 50, 60));
  parent->setPalette(p);
  bar.SetPosition(60);
  QCOMPARE(Hex(bar.Buffer().pixel(5, 7)), Hex(qRgb(230, 231, 232)));
}

void SpecialProgressTest::HintColourHoldsWhileThePointerIsOver() {
  QWidget parent;
  TSpecialProgress bar(&parent);
  const QColor original = QToolTip::palette().color(QPalette::Inactive, QPalette::ToolTipBase);
  bar.SetHintColor(RGBColor(12, 34, 56));
  QSignalSpy entered(&bar, &TSpecialProgress::mouseEntered);
  QSignalSpy left(&bar, &TSpecialProgress::mouseLeft);

  QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
  QCoreApplication::sendEvent(&bar, &enter);
  QCOMPARE(QToolTip::palette().color(QPalette::Inactive, QPalette::ToolTipBase), QColor(12, 34, 56));
  QCOMPARE(entered.count(), 1);

  QEvent leave(QEvent::Leave);
  QCoreApplication::sendEvent(&bar, &leave);
  QCOMPARE(QToolTip::palette().color(QPalette::Inactive, QPalette::ToolTipBase), original);
  QCOMPARE(left.count(), 1);
}

QTEST_MAIN(SpecialProgressTest)
#include "special_progress_test.moc"
