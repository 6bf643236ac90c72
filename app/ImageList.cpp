#include "app/ImageList.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace {

using TDraw = void (*)(QPainter&);

void DrawDisc(QPainter& p, QPointF centre, qreal radius)
{
    QRadialGradient shine(centre - QPointF(radius / 3, radius / 3), radius * 1.4);
    shine.setColorAt(0, QColor(250, 250, 255));
    shine.setColorAt(0.5, QColor(190, 200, 225));
    shine.setColorAt(1, QColor(140, 150, 190));
    p.setPen(QPen(QColor(70, 80, 110), 1));
    p.setBrush(shine);
    p.drawEllipse(centre, radius, radius);
    p.setBrush(Qt::white);
    p.drawEllipse(centre, radius / 3.5, radius / 3.5);
}

void DrawDiscStack(QPainter& p)
{
    for (int i = 2; i >= 0; --i)
        DrawDisc(p, QPointF(7.5 + i * 1.2, 8.5 - i * 1.6), 6.2);
}

void DrawOneDisc(QPainter& p)
{
    DrawDisc(p, QPointF(8, 8), 7.2);
}

void DrawFolderBack(QPainter& p)
{
    QPainterPath back;
    back.moveTo(0.5, 3.5);
    back.lineTo(5.5, 3.5);
    back.lineTo(7, 5);
    back.lineTo(14.5, 5);
    back.lineTo(14.5, 13.5);
    back.lineTo(0.5, 13.5);
    back.closeSubpath();
    p.setPen(QPen(QColor(150, 110, 20), 1));
    p.setBrush(QColor(240, 200, 90));
    p.drawPath(back);
}

void DrawClosedFolder(QPainter& p)
{
    DrawFolderBack(p);
    p.setBrush(QColor(252, 220, 120));
    p.drawRect(QRectF(0.5, 6.5, 14, 7));
}

void DrawOpenFolder(QPainter& p)
{
    DrawFolderBack(p);
    QPolygonF front;
    front << QPointF(3, 7.5) << QPointF(15.5, 7.5) << QPointF(13, 13.5) << QPointF(0.5, 13.5);
    p.setBrush(QColor(255, 234, 150));
    p.drawPolygon(front);
}

void DrawPage(QPainter& p)
{
    QPolygonF page;
    page << QPointF(2.5, 0.5) << QPointF(10, 0.5) << QPointF(13.5, 4) << QPointF(13.5, 15.5)
         << QPointF(2.5, 15.5);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(Qt::white);
    p.drawPolygon(page);
    p.setBrush(QColor(220, 220, 220));
    p.drawPolygon(QPolygonF() << QPointF(10, 0.5) << QPointF(10, 4) << QPointF(13.5, 4));
    p.setPen(QPen(QColor(150, 160, 190), 1));
    for (int y = 7; y <= 13; y += 2)
        p.drawLine(QPointF(4.5, y), QPointF(11.5, y));
}

QIcon Drawn(TDraw draw)
{
    QIcon icon;
    for (const int size : {16, 32}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 16.0, size / 16.0);
        draw(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace

QList<QIcon> MakeOwnImageList()
{
    return {Drawn(DrawDiscStack), Drawn(DrawOneDisc), Drawn(DrawClosedFolder), Drawn(DrawPage),
            Drawn(DrawOpenFolder)};
}

QList<QIcon> MakeImageList()
{
    static const char* const themeNames[] = {"drive-multidisk", "media-optical", "folder",
                                             "text-x-generic", "folder-open"};
    QList<QIcon> images = MakeOwnImageList();
    for (int i = 0; i < images.size(); ++i)
        images[i] = QIcon::fromTheme(QString::fromLatin1(themeNames[i]), images[i]);
    return images;
}

QIcon ApplicationIcon()
{
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/fendrel-%1.png").arg(size), QSize(size, size));
    return icon;
}
