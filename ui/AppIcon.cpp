#include "ui/AppIcon.h"

#include <QImage>
#include <QPainter>

QIcon appIcon() {
    QImage image(32, 32, QImage::Format_Indexed8);
    // The 16 colours of the classic palette.
    const QList<QRgb> palette{0xff000000, 0xff800000, 0xff008000, 0xff808000,
                              0xff000080, 0xff800080, 0xff008080, 0xffc0c0c0,
                              0xff808080, 0xffff0000, 0xff00ff00, 0xffffff00,
                              0xff0000ff, 0xffff00ff, 0xff00ffff, 0xffffffff};
    image.setColorTable(palette);
    image.fill(7);
    auto rect = [&](int x0, int y0, int x1, int y1, uint colour) {
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                image.setPixel(x, y, colour);
    };
    // A desk telephone: handset on top, body below, a red dial in the middle.
    rect(4, 6, 27, 10, 0);
    rect(2, 8, 7, 13, 0);
    rect(24, 8, 29, 13, 0);
    rect(8, 14, 23, 27, 1);
    rect(6, 24, 25, 28, 1);
    rect(12, 17, 19, 23, 15);
    rect(14, 19, 17, 21, 9);
    return QIcon(QPixmap::fromImage(image));
}
