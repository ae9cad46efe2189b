#include "ui/artwork.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <cmath>

namespace art {

namespace {

const QColor kInk(36, 52, 78);
const QColor kAccent(232, 134, 34);

// A speaker with sound waves, the program's sign.
void DrawSpeaker(QPainter& p, const QRectF& box, const QColor& body, const QColor& waves)
{
    const qreal w = box.width();
    const qreal h = box.height();
    QPolygonF cone;
    cone << QPointF(box.left() + 0.10 * w, box.top() + 0.36 * h) << QPointF(box.left() + 0.28 * w, box.top() + 0.36 * h)
         << QPointF(box.left() + 0.50 * w, box.top() + 0.14 * h) << QPointF(box.left() + 0.50 * w, box.top() + 0.86 * h)
         << QPointF(box.left() + 0.28 * w, box.top() + 0.64 * h) << QPointF(box.left() + 0.10 * w, box.top() + 0.64 * h);
    p.setPen(Qt::NoPen);
    p.setBrush(body);
    p.drawPolygon(cone);
    QPen pen(waves, std::max<qreal>(1.5, w * 0.07), Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 2; ++i) {
        const qreal r = w * (0.16 + 0.14 * i);
        const QRectF arc(box.left() + 0.52 * w - r, box.center().y() - r, 2 * r, 2 * r);
        p.drawArc(arc, -50 * 16, 100 * 16);
    }
}

}  // namespace

QPixmap Background(const QSize& size, const QRect& upperList, const QRect& lowerList, bool withLink)
{
    const int width = size.width();
    const int height = size.height();
    QPixmap pixmap(size);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);

    QLinearGradient face(0, 0, 0, height);
    face.setColorAt(0.0, QColor(214, 224, 238));
    face.setColorAt(1.0, QColor(178, 194, 218));
    p.fillRect(pixmap.rect(), face);

    // Title band, where the corner buttons stand.
    QLinearGradient band(0, 0, 0, kTitleBandHeight);
    band.setColorAt(0.0, QColor(58, 86, 128));
    band.setColorAt(1.0, kInk);
    p.fillRect(QRect(0, 0, width, kTitleBandHeight), band);
    p.fillRect(QRect(0, kTitleBandHeight, width, 3), kAccent);

    DrawSpeaker(p, QRectF(12, 7, 34, 34), QColor(250, 250, 250), kAccent);
    QFont title(QStringLiteral("Tahoma"));
    title.setPixelSize(22);
    title.setBold(true);
    p.setFont(title);
    p.setPen(Qt::white);
    p.drawText(QRect(54, 4, 300, 28), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Orvellin"));
    QFont sub(QStringLiteral("Tahoma"));
    sub.setPixelSize(11);
    p.setFont(sub);
    p.setPen(QColor(200, 214, 234));
    p.drawText(QRect(55, 28, 360, 16), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("Sounds out of Flash movies, as MP3, WAV or FLAC, or as stored"));

    // The panel behind the command buttons.
    QPainterPath panel;
    panel.addRoundedRect(QRectF(7.5, 54.5, 123, 358), 6, 6);
    p.setPen(QColor(140, 160, 190));
    p.setBrush(QColor(236, 241, 248));
    p.drawPath(panel);

    // A note under the panel, where there is room for it above the link.
    QFont note(QStringLiteral("Tahoma"));
    note.setPixelSize(11);
    p.setFont(note);
    p.setPen(QColor(70, 86, 112));
    const QString noteText = QStringLiteral("Drop movies or folders here to add them. "
                                            "Right-click a list for more commands.");
    const QRect noteRoom(14, 420, 114, height - 38 - 420);
    const int flags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
    if (p.boundingRect(QRect(noteRoom.topLeft(), QSize(noteRoom.width(), 1000)), flags, noteText).height() <=
        noteRoom.height())
        p.drawText(noteRoom, flags, noteText);

    // Frames around the two lists.
    p.setBrush(Qt::NoBrush);
    p.setPen(QColor(120, 140, 172));
    for (const QRect& list : {upperList, lowerList})
        p.drawRect(QRectF(list).adjusted(-1.5, -1.5, 1.5, 1.5));

    // Bottom rule above the link.
    if (withLink) {
        p.setPen(QColor(140, 160, 190));
        p.drawLine(QPointF(10, height - 34.5), QPointF(130, height - 34.5));
    }
    return pixmap;
}

QPixmap ButtonFace(bool hot)
{
    QPixmap pixmap(kFaceWidth, kFaceHeight);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, 0, kFaceHeight);
    if (hot) {
        fill.setColorAt(0.0, QColor(255, 236, 196));
        fill.setColorAt(1.0, QColor(246, 190, 110));
    } else {
        fill.setColorAt(0.0, QColor(255, 255, 255));
        fill.setColorAt(1.0, QColor(206, 218, 236));
    }
    p.setBrush(fill);
    p.setPen(hot ? QColor(196, 120, 30) : QColor(120, 140, 172));
    p.drawRoundedRect(QRectF(0.5, 0.5, kFaceWidth - 1, kFaceHeight - 1), 5, 5);
    return pixmap;
}

QPixmap CornerIcon(int which, bool hot)
{
    QPixmap pixmap(kCornerSize, kCornerSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor ring = which == 2 && hot ? QColor(200, 60, 50) : (hot ? kAccent : QColor(94, 122, 164));
    p.setPen(QColor(220, 228, 240));
    p.setBrush(ring);
    p.drawRoundedRect(QRectF(0.5, 0.5, kCornerSize - 1, kCornerSize - 1), 4, 4);
    QPen pen(Qt::white, 2.0, Qt::SolidLine, Qt::RoundCap);
    p.setPen(pen);
    switch (which) {
    case 0: {
        QFont font(QStringLiteral("Tahoma"));
        font.setPixelSize(14);
        font.setBold(true);
        p.setFont(font);
        p.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("?"));
        break;
    }
    case 1:
        p.drawLine(QPointF(6, 14.5), QPointF(15, 14.5));
        break;
    default:
        p.drawLine(QPointF(6.5, 6.5), QPointF(14.5, 14.5));
        p.drawLine(QPointF(14.5, 6.5), QPointF(6.5, 14.5));
        break;
    }
    return pixmap;
}

QPixmap MenuStrip()
{
    QPixmap strip(kMenuImageWidth * kMenuImageCount, kMenuImageHeight);
    strip.fill(Qt::transparent);
    QPainter p(&strip);
    p.setRenderHint(QPainter::Antialiasing);
    const QColor blue(40, 90, 170), green(40, 140, 60), red(190, 50, 40), grey(90, 90, 90);
    auto cell = [](int i) { return QRectF(i * kMenuImageWidth, 0, kMenuImageWidth, kMenuImageHeight); };
    auto pen = [&p](const QColor& c, qreal w = 1.6) { p.setPen(QPen(c, w, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin)); };

    // 0 play movie, 5 play sound: a triangle.
    for (int i : {0, 5}) {
        const QRectF r = cell(i);
        QPolygonF tri;
        tri << QPointF(r.left() + 4, r.top() + 2) << QPointF(r.left() + 13, r.top() + 7.5)
            << QPointF(r.left() + 4, r.top() + 13);
        p.setPen(Qt::NoPen);
        p.setBrush(i == 0 ? blue : green);
        p.drawPolygon(tri);
    }
    // 1 remove, 6 delete: a cross.
    for (int i : {1, 6}) {
        const QRectF r = cell(i);
        pen(red, 2.0);
        p.drawLine(QPointF(r.left() + 4, r.top() + 3.5), QPointF(r.left() + 12, r.top() + 11.5));
        p.drawLine(QPointF(r.left() + 12, r.top() + 3.5), QPointF(r.left() + 4, r.top() + 11.5));
    }
    // 2 add files: a page with a plus.
    {
        const QRectF r = cell(2);
        pen(grey, 1.0);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(r.left() + 2.5, r.top() + 1.5, 9, 12));
        pen(green, 2.0);
        p.drawLine(QPointF(r.left() + 11, r.top() + 6), QPointF(r.left() + 11, r.top() + 13));
        p.drawLine(QPointF(r.left() + 7.5, r.top() + 9.5), QPointF(r.left() + 14.5, r.top() + 9.5));
    }
    // 3 convert one, 4 convert all: arrows.
    for (int i : {3, 4}) {
        const QRectF r = cell(i);
        pen(blue, 1.8);
        const qreal y = r.top() + (i == 3 ? 7.5 : 5.0);
        for (int k = 0; k < (i == 3 ? 1 : 2); ++k) {
            const qreal yy = y + k * 5;
            p.drawLine(QPointF(r.left() + 2, yy), QPointF(r.left() + 13, yy));
            p.drawLine(QPointF(r.left() + 9.5, yy - 3), QPointF(r.left() + 13, yy));
            p.drawLine(QPointF(r.left() + 9.5, yy + 3), QPointF(r.left() + 13, yy));
        }
    }
    // 7 save as: a disk.
    {
        const QRectF r = cell(7);
        p.setPen(Qt::NoPen);
        p.setBrush(blue);
        p.drawRoundedRect(QRectF(r.left() + 2, r.top() + 1.5, 12, 12), 1.5, 1.5);
        p.setBrush(Qt::white);
        p.drawRect(QRectF(r.left() + 4.5, r.top() + 2.5, 7, 4));
        p.drawRect(QRectF(r.left() + 5, r.top() + 9, 6, 4));
    }
    // 8 folder.
    {
        const QRectF r = cell(8);
        pen(QColor(160, 120, 30), 1.0);
        p.setBrush(QColor(244, 204, 96));
        p.drawRect(QRectF(r.left() + 1.5, r.top() + 4.5, 13, 9));
        p.drawRect(QRectF(r.left() + 1.5, r.top() + 2.5, 5, 2));
    }
    // 9 help: a question mark in a circle.
    {
        const QRectF r = cell(9);
        p.setPen(Qt::NoPen);
        p.setBrush(blue);
        p.drawEllipse(QRectF(r.left() + 1.5, r.top() + 1, 13, 13));
        QFont font(QStringLiteral("Tahoma"));
        font.setPixelSize(10);
        font.setBold(true);
        p.setFont(font);
        p.setPen(Qt::white);
        p.drawText(QRectF(r.left() + 1.5, r.top() + 1, 13, 13), Qt::AlignCenter, QStringLiteral("?"));
    }
    // 10 home page: a house.
    {
        const QRectF r = cell(10);
        QPolygonF roof;
        roof << QPointF(r.left() + 1.5, r.top() + 7.5) << QPointF(r.left() + 8, r.top() + 1.5)
             << QPointF(r.left() + 14.5, r.top() + 7.5);
        p.setPen(Qt::NoPen);
        p.setBrush(red);
        p.drawPolygon(roof);
        p.setBrush(QColor(230, 200, 150));
        p.drawRect(QRectF(r.left() + 3.5, r.top() + 7.5, 9, 6));
        p.setBrush(QColor(120, 80, 40));
        p.drawRect(QRectF(r.left() + 7, r.top() + 9.5, 2.5, 4));
    }
    // 11 tell a friend, 12 feedback: envelopes.
    for (int i : {11, 12}) {
        const QRectF r = cell(i);
        pen(grey, 1.0);
        p.setBrush(i == 11 ? QColor(255, 248, 220) : QColor(226, 238, 255));
        p.drawRect(QRectF(r.left() + 1.5, r.top() + 3.5, 13, 9));
        p.drawLine(QPointF(r.left() + 1.5, r.top() + 3.5), QPointF(r.left() + 8, r.top() + 9));
        p.drawLine(QPointF(r.left() + 14.5, r.top() + 3.5), QPointF(r.left() + 8, r.top() + 9));
    }
    // 13 latest version: a globe.
    {
        const QRectF r = cell(13);
        pen(blue, 1.0);
        p.setBrush(QColor(200, 226, 255));
        p.drawEllipse(QRectF(r.left() + 1.5, r.top() + 1, 13, 13));
        p.drawLine(QPointF(r.left() + 1.5, r.top() + 7.5), QPointF(r.left() + 14.5, r.top() + 7.5));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QRectF(r.left() + 5, r.top() + 1, 6, 13));
    }
    // 14 about: the speaker.
    DrawSpeaker(p, cell(14).adjusted(0, 0, 0, 0), kInk, kAccent);
    return strip;
}

QPixmap MenuImage(int index)
{
    static const QPixmap strip = MenuStrip();
    if (index < 0 || index >= kMenuImageCount)
        return {};
    return strip.copy(index * kMenuImageWidth, 0, kMenuImageWidth, kMenuImageHeight);
}

QIcon AppIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.setPen(Qt::NoPen);
        p.setBrush(kInk);
        p.drawRoundedRect(QRectF(0, 0, size, size), size * 0.2, size * 0.2);
        DrawSpeaker(p, QRectF(size * 0.08, size * 0.08, size * 0.84, size * 0.84), Qt::white, kAccent);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

}  // namespace art
