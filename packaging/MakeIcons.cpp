// Build-time tool: turns the maker's logo (a wide JPEG) into the square application icons of the
// hicolor theme. The logo sits on a rounded tile of its own background colour, so every size keeps
// its look without stretching it.
//
// Usage: vx_make_icons LOGO.jpg OUTDIR NAME SIZE...
// writes OUTDIR/SIZExSIZE/apps/NAME.png for each SIZE.
#include <cstdio>
#include <cstdlib>

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include "app/window/Logo.h"

namespace {

QImage renderIcon(const QImage& logo, int size) {
    QImage icon(size, size, QImage::Format_ARGB32_Premultiplied);
    icon.fill(Qt::transparent);
    QPainter painter(&icon);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    // The logo's own background, taken just inside its top left corner.
    const QColor tile = logo.pixelColor(2, 2);
    const qreal radius = size / 8.0;
    QPainterPath shape;
    shape.addRoundedRect(QRectF(0, 0, size, size), radius, radius);
    painter.fillPath(shape, tile);
    // The whole logo, as wide as the tile allows, centred; the tile continues its colour above and
    // below it.
    const qreal margin = size / 16.0;
    const qreal width = size - 2 * margin;
    const qreal height = width * logo.height() / logo.width();
    const QRectF target(margin, (size - height) / 2, width, height);
    painter.setClipPath(shape);
    painter.drawImage(target,
                      logo.scaled(target.size().toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    painter.end();
    return icon;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s LOGO.jpg OUTDIR NAME SIZE...\n", argv[0]);
        return 2;
    }
    QFile file(QString::fromLocal8Bit(argv[1]));
    if (!file.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "%s: cannot read %s\n", argv[0], argv[1]);
        return 1;
    }
    const QImage logo = app::DecodeJpeg(file.readAll());
    if (logo.isNull()) {
        std::fprintf(stderr, "%s: %s is not a JPEG libjpeg can read\n", argv[0], argv[1]);
        return 1;
    }
    const QString outDir = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        const int size = std::atoi(argv[i]);
        if (size < 8 || size > 1024) {
            std::fprintf(stderr, "%s: size %s out of range\n", argv[0], argv[i]);
            return 2;
        }
        const QString dir = QStringLiteral("%1/%2x%2/apps").arg(outDir).arg(size);
        const QString path = dir + QLatin1Char('/') + name + QStringLiteral(".png");
        if (!QDir().mkpath(dir) || !renderIcon(logo, size).save(path, "PNG")) {
            std::fprintf(stderr, "%s: cannot write %s\n", argv[0], qPrintable(path));
            return 1;
        }
    }
    return 0;
}
