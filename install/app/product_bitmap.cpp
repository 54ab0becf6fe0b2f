#include "product_bitmap.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>

namespace ombra::install {

QPixmap productBitmap(int width, int height)
{
    QPixmap pixmap(width, height);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor(0x10, 0x18, 0x40));
    sky.setColorAt(1, QColor(0x00, 0x00, 0x00));
    p.fillRect(pixmap.rect(), sky);

    // A chip with its pins, the board's SoC.
    const int chip = width * 11 / 20;
    const QRect body((width - chip) / 2, height / 3, chip, chip);
    p.setPen(QPen(QColor(0xC0, 0xC0, 0x00), 2));
    const int pins = 5;
    for (int i = 0; i < pins; ++i) {
        const int along = body.left() + (i + 1) * body.width() / (pins + 1);
        const int down = body.top() + (i + 1) * body.height() / (pins + 1);
        p.drawLine(along, body.top() - 8, along, body.top());
        p.drawLine(along, body.bottom(), along, body.bottom() + 8);
        p.drawLine(body.left() - 8, down, body.left(), down);
        p.drawLine(body.right(), down, body.right() + 8, down);
    }
    p.setBrush(QColor(0x30, 0x30, 0x30));
    p.drawRoundedRect(body, 4, 4);
    QFont small = p.font();
    small.setPointSize(7);
    small.setBold(true);
    p.setFont(small);
    p.drawText(body, Qt::AlignCenter, QStringLiteral("Selkan\nK/L"));

    QFont title = p.font();
    title.setPointSize(16);
    title.setBold(true);
    p.setFont(title);
    p.setPen(QColor(0xFF, 0xFF, 0xC0));
    p.drawText(QRect(0, height / 10, width, height / 6), Qt::AlignCenter, QStringLiteral("Ombra"));
    QFont footer = p.font();
    footer.setPointSize(8);
    footer.setBold(false);
    p.setFont(footer);
    p.setPen(QColor(0xA0, 0xA0, 0xA0));
    p.drawText(QRect(0, height * 5 / 6, width, height / 8), Qt::AlignCenter, QStringLiteral("Tarvik"));
    return pixmap;
}

}  // namespace ombra::install
