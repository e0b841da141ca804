#include "tests/support/Pixels.h"

#include <QPixmap>
#include <QWidget>
#include <cstdlib>

namespace pixels {
namespace {

bool isInk(QRgb p) {
    return qGray(p) < 110;
}

template <class F> void forEach(const QImage& image, const QRect& area, F&& f) {
    const QRect r = area.intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            f(x, y, image.pixel(x, y));
}

} // namespace

QImage drawn(QWidget* widget) {
    return widget->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

int countColour(const QImage& image, const QRect& area, const QColor& colour, int tolerance) {
    int n = 0;
    forEach(image, area, [&](int, int, QRgb p) {
        if (std::abs(qRed(p) - colour.red()) <= tolerance &&
            std::abs(qGreen(p) - colour.green()) <= tolerance &&
            std::abs(qBlue(p) - colour.blue()) <= tolerance)
            ++n;
    });
    return n;
}

int ink(const QImage& image, const QRect& area) {
    int n = 0;
    forEach(image, area, [&](int, int, QRgb p) { n += isInk(p) ? 1 : 0; });
    return n;
}

QRect inkBounds(const QImage& image, const QRect& area) {
    QRect bounds;
    forEach(image, area, [&](int x, int y, QRgb p) {
        if (isInk(p))
            bounds |= QRect(x, y, 1, 1);
    });
    return bounds;
}

} // namespace pixels
