#include "station/drive_pictures.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace ufd {

QColor DriveBodyColour(int picture) {
    switch (picture) {
    case kPictureNoDrive:
        return QColor(160, 160, 160);
    case kPictureAttached:
        return QColor(240, 200, 0);
    case kPictureFailed:
        return QColor(210, 30, 30);
    case kPicturePassed:
        return QColor(30, 170, 50);
    default:
        return QColor();
    }
}

// Marked for the --batch table, which shows them in the window's language.
const char* DrivePictureName(int picture) {
    switch (picture) {
    case kPictureNoDrive:
        return QT_TRANSLATE_NOOP("TestFrm", "grey");
    case kPictureAttached:
        return QT_TRANSLATE_NOOP("TestFrm", "yellow");
    case kPictureFailed:
        return QT_TRANSLATE_NOOP("TestFrm", "red");
    case kPicturePassed:
        return QT_TRANSLATE_NOOP("TestFrm", "green");
    default:
        return QT_TRANSLATE_NOOP("TestFrm", "none");
    }
}

QPixmap DrivePicture(int picture) {
    const QColor body = DriveBodyColour(picture);
    if (!body.isValid()) {
        return QPixmap();
    }
    QPixmap pm(32, 32);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // A stick lying diagonally: metal plug top right, body bottom left.
    p.translate(16, 16);
    p.rotate(-45);
    p.setPen(QPen(QColor(90, 90, 90), 1));
    p.setBrush(QColor(200, 200, 205));
    p.drawRect(QRectF(6, -5, 9, 10));
    p.setBrush(QColor(60, 60, 60));
    p.drawRect(QRectF(9, -3, 2, 2));
    p.drawRect(QRectF(9, 1, 2, 2));
    QLinearGradient g(0, -7, 0, 7);
    g.setColorAt(0, body.lighter(140));
    g.setColorAt(1, body.darker(130));
    p.setBrush(g);
    p.setPen(QPen(body.darker(180), 1));
    p.drawRoundedRect(QRectF(-15, -7, 22, 14), 3, 3);
    // Activity light.
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 200));
    p.drawEllipse(QPointF(-10, 0), 1.8, 1.8);
    return pm;
}

QPixmap StationEmblem(QSize size) {
    QPixmap pm(size);
    pm.fill(QColor(236, 240, 248));
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF r(2, 2, size.width() - 4, size.height() - 4);
    p.setPen(QPen(QColor(40, 70, 140), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(r, 6, 6);
    // Three sticks in a row, like a rack on the line.
    const int count = 3;
    const double w = r.width() / (count + 1);
    for (int i = 0; i < count; ++i) {
        const QRectF stick(r.left() + w * (i + 0.5), r.top() + r.height() * 0.18, w * 0.7,
                           r.height() * 0.45);
        p.setPen(QPen(QColor(40, 40, 40), 1));
        p.setBrush(QColor(200, 200, 205));
        p.drawRect(
            QRectF(stick.left() + stick.width() * 0.2, stick.top() - 6, stick.width() * 0.6, 6));
        p.setBrush(DriveBodyColour(i + 2));
        p.drawRoundedRect(stick, 3, 3);
    }
    QFont f = p.font();
    f.setBold(true);
    f.setPointSizeF(11);
    p.setFont(f);
    p.setPen(QColor(40, 70, 140));
    p.drawText(QRectF(r.left(), r.top() + r.height() * 0.68, r.width(), r.height() * 0.3),
               Qt::AlignCenter, QStringLiteral("UFD"));
    return pm;
}

} // namespace ufd
