// The maker's logo in the window header: a JPEG compiled into the program, decoded with libjpeg.
#pragma once

#include <QByteArray>
#include <QImage>

namespace app {

// Decodes a baseline or progressive JPEG held in memory; a null image when the data is not a JPEG
// libjpeg can read (the error is caught, never fatal).
QImage DecodeJpeg(const QByteArray& data);

// The logo picture, decoded and stretched to width x height.
QImage LogoPicture(int width, int height);

} // namespace app
