// Decoding JPEG pictures with libjpeg: colours in the right order, bad data
// refused without ending the program.
#include "app/jpeg_image.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>
#include <QtTest>

namespace {

QByteArray Logo() {
  QFile file(QStringLiteral(":/logo.jpg"));
  if (!file.open(QIODevice::ReadOnly)) return QByteArray();
  return file.readAll();
}

bool Near(QColor actual, QColor expected, int tolerance = 12) {
  return std::abs(actual.red() - expected.red()) <= tolerance &&
         std::abs(actual.green() - expected.green()) <= tolerance &&
         std::abs(actual.blue() - expected.blue()) <= tolerance;
}

}  // namespace

class JpegImageTest : public QObject {
  Q_OBJECT

 private slots:
  void initTestCase() { Q_INIT_RESOURCE(app_resources); }

  void logo() {
    const QImage image = DecodeJpeg(Logo());
    QCOMPARE(image.size(), QSize(118, 28));
    QCOMPARE(image.format(), QImage::Format_RGB32);
    // The blue tile on the left, white to its right.
    QVERIFY(Near(image.pixelColor(5, 5), QColor(0x00, 0x66, 0x99)));
    QVERIFY(Near(image.pixelColor(88, 2), Qt::white));
  }

  void coloursAndGreys_data() {
    QTest::addColumn<QImage>("source");
    QTest::addColumn<QColor>("colour");
    QImage red(16, 8, QImage::Format_RGB32);
    red.fill(QColor(220, 20, 30));
    QImage blue(16, 8, QImage::Format_RGB32);
    blue.fill(QColor(10, 40, 200));
    QImage grey(16, 8, QImage::Format_Grayscale8);
    grey.fill(QColor(128, 128, 128));
    QTest::newRow("red") << red << QColor(220, 20, 30);
    QTest::newRow("blue") << blue << QColor(10, 40, 200);
    QTest::newRow("grey, one component") << grey << QColor(128, 128, 128);
  }
  void coloursAndGreys() {
    QFETCH(QImage, source);
    QFETCH(QColor, colour);
    if (!QImageWriter::supportedImageFormats().contains("jpeg")) QSKIP("Qt cannot write JPEG here");
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QVERIFY(source.save(&buffer, "JPEG", 95));
    const QImage image = DecodeJpeg(buffer.data());
    QCOMPARE(image.size(), source.size());
    QVERIFY2(Near(image.pixelColor(8, 4), colour), qPrintable(image.pixelColor(8, 4).name()));
  }

  void badData_data() {
    QTest::addColumn<QByteArray>("data");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("not a picture") << QByteArray("GIF89a and then some more bytes that are no JPEG");
    QTest::newRow("header cut short") << Logo().left(20);
    QTest::newRow("start marker only") << QByteArray("\xff\xd8", 2);
  }
  void badData() {
    QFETCH(QByteArray, data);
    QVERIFY(DecodeJpeg(data).isNull());
  }

  // libjpeg fills what is missing at the end and still gives the picture.
  void dataCutShortKeepsTheSize() {
    const QByteArray logo = Logo();
    QCOMPARE(DecodeJpeg(logo.left(logo.size() / 2)).size(), QSize(118, 28));
  }
};

QTEST_MAIN(JpegImageTest)
#include "jpeg_image_test.moc"
