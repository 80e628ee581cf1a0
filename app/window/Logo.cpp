// JPEG decoding through libjpeg's own API for the header logo.
#include "app/window/Logo.h"

#include <csetjmp>
#include <cstdio>

#include <QFile>

#include <jpeglib.h>

static void initLogoResource() {
    Q_INIT_RESOURCE(app);
}

namespace app {

namespace {

// libjpeg reports fatal errors through error_exit, which by default ends the process; jump back to
// the decoder instead. Nothing with a destructor lives between setjmp and the jump.
struct ErrorManager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

void onError(j_common_ptr info) {
    auto* manager = reinterpret_cast<ErrorManager*>(info->err);
    std::longjmp(manager->jump, 1);
}

void onMessage(j_common_ptr) {
    // Warnings of a damaged but readable picture are not worth a console line.
}

// Decodes into `image`; false on any libjpeg error. Kept free of C++ objects with destructors so the
// longjmp out of libjpeg skips nothing.
bool decodeInto(const unsigned char* data, unsigned long size, QImage* image) {
    jpeg_decompress_struct info{};
    ErrorManager errors{};
    info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = onError;
    errors.base.output_message = onMessage;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, size);
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    if (info.output_components != 3 || info.output_width == 0 || info.output_height == 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    *image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                    QImage::Format_RGB888);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

QImage DecodeJpeg(const QByteArray& data) {
    if (data.isEmpty()) {
        return {};
    }
    QImage image;
    if (!decodeInto(reinterpret_cast<const unsigned char*>(data.constData()),
                    static_cast<unsigned long>(data.size()), &image)) {
        return {};
    }
    return image;
}

QImage LogoPicture(int width, int height) {
    initLogoResource();
    QFile file(QStringLiteral(":/logo.jpg"));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QImage picture = DecodeJpeg(file.readAll());
    if (picture.isNull()) {
        return {};
    }
    return picture.scaled(width, height, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

} // namespace app
