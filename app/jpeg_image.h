// Decoding JPEG pictures with libjpeg into images Qt can draw.
#pragma once

#include <QByteArray>
#include <QImage>

// The picture held by data, as a 32-bit RGB image; a null image when data is
// not a JPEG picture libjpeg can read.
QImage DecodeJpeg(const QByteArray& data);
