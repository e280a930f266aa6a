#include "app/jpeg_image.h"

#include <jpeglib.h>

#include <csetjmp>
#include <cstdio>

namespace {

// libjpeg ends a failed decode by calling error_exit, which must not return;
// it jumps back into ReadJpeg instead of ending the process.
struct TJpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

[[noreturn]] void JumpOnError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<TJpegError*>(info->err)->jump, 1);
}

void IgnoreMessage(j_common_ptr) {}

// Decodes into *image. The decoder's state and the image live in the caller's
// frame and this frame holds nothing with a destructor, so a jump back from
// libjpeg leaves no object half-alive or indeterminate.
bool ReadJpeg(const QByteArray& data, jpeg_decompress_struct* info, TJpegError* error, QImage* image) {
  info->err = jpeg_std_error(&error->manager);
  error->manager.error_exit = JumpOnError;
  error->manager.output_message = IgnoreMessage;
  if (setjmp(error->jump)) {
    jpeg_destroy_decompress(info);
    return false;
  }
  jpeg_create_decompress(info);
  jpeg_mem_src(info, reinterpret_cast<const unsigned char*>(data.constData()),
               static_cast<unsigned long>(data.size()));
  jpeg_read_header(info, TRUE);
  if (info->jpeg_color_space != JCS_GRAYSCALE) info->out_color_space = JCS_RGB;
  jpeg_start_decompress(info);

  const bool gray = info->output_components == 1;
  if (!gray && info->output_components != 3) {
    jpeg_destroy_decompress(info);
    return false;
  }
  *image = QImage(static_cast<int>(info->output_width), static_cast<int>(info->output_height),
                  gray ? QImage::Format_Grayscale8 : QImage::Format_RGB888);
  if (image->isNull()) {
    jpeg_destroy_decompress(info);
    return false;
  }
  while (info->output_scanline < info->output_height) {
    JSAMPROW row = image->scanLine(static_cast<int>(info->output_scanline));
    jpeg_read_scanlines(info, &row, 1);
  }
  jpeg_finish_decompress(info);
  jpeg_destroy_decompress(info);
  return true;
}

}  // namespace

QImage DecodeJpeg(const QByteArray& data) {
  jpeg_decompress_struct info;
  TJpegError error;
  QImage image;
  if (!ReadJpeg(data, &info, &error, &image)) return QImage();
  return image.convertToFormat(QImage::Format_RGB32);
}
