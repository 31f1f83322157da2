#include "ui/Images.h"

#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <functional>

namespace tarvok {

namespace {

const QColor Outline(48, 48, 48);
const QColor ScreenBlue(40, 96, 220);
const QColor ScreenGrey(160, 160, 160);
const QColor ScreenRed(220, 30, 30);
const QColor Casing(214, 210, 200);
const QColor SheetWhite(252, 252, 252);

QPixmap draw(const std::function<void(QPainter&)>& fn)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    fn(p);
    p.end();
    return pm;
}

// A monitor with its screen in the given colour, drawn within r.
void computer(QPainter& p, const QRectF& r, const QColor& screen)
{
    const qreal w = r.width(), h = r.height();
    const QRectF body(r.left() + 0.5, r.top() + 0.5, w - 1, h * 0.68);
    p.setPen(QPen(Outline, 1));
    p.setBrush(Casing);
    p.drawRect(body);
    const qreal m = std::max<qreal>(1.5, w * 0.14);
    p.setPen(Qt::NoPen);
    p.setBrush(screen);
    p.drawRect(body.adjusted(m, m, -m, -m));
    // neck and foot
    p.setBrush(Outline);
    const qreal cx = r.left() + w / 2;
    p.drawRect(QRectF(cx - w * 0.08, body.bottom(), w * 0.16, h * 0.12));
    p.setPen(QPen(Outline, 1));
    p.setBrush(Casing);
    p.drawRect(QRectF(r.left() + w * 0.2 + 0.5, r.top() + h * 0.80 + 0.5, w * 0.6 - 1, h * 0.2 - 1));
}

void tulip(QPainter& p, const QColor& petal)
{
    const QColor green(40, 150, 40);
    // stem and leaves
    p.setPen(QPen(green, 1.5, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 9), QPointF(8, 15.5));
    p.setPen(Qt::NoPen);
    p.setBrush(green);
    QPainterPath leafL;
    leafL.moveTo(8, 15);
    leafL.quadTo(3, 13, 3.5, 9.5);
    leafL.quadTo(6.5, 11, 8, 14);
    p.drawPath(leafL);
    QPainterPath leafR;
    leafR.moveTo(8, 15);
    leafR.quadTo(13, 13, 12.5, 9.5);
    leafR.quadTo(9.5, 11, 8, 14);
    p.drawPath(leafR);
    // the cup with three points
    QPainterPath cup;
    cup.moveTo(3.5, 1.5);
    cup.lineTo(5.8, 4.0);
    cup.lineTo(8.0, 0.8);
    cup.lineTo(10.2, 4.0);
    cup.lineTo(12.5, 1.5);
    cup.cubicTo(13.2, 6.5, 11.5, 10, 8, 10);
    cup.cubicTo(4.5, 10, 2.8, 6.5, 3.5, 1.5);
    cup.closeSubpath();
    p.setPen(QPen(petal.darker(170), 1));
    p.setBrush(petal);
    p.drawPath(cup);
    // a highlight so that dark petals still read as a flower
    p.setPen(QPen(petal.lighter(petal.lightness() < 60 ? 400 : 140), 1));
    p.drawLine(QPointF(6, 5.5), QPointF(6.5, 8));
}

void network(QPainter& p)
{
    p.setPen(QPen(Outline, 1.2));
    p.drawLine(QPointF(8, 5), QPointF(8, 9));
    p.drawLine(QPointF(3.5, 9), QPointF(12.5, 9));
    p.drawLine(QPointF(3.5, 9), QPointF(3.5, 11));
    p.drawLine(QPointF(12.5, 9), QPointF(12.5, 11));
    auto box = [&](const QRectF& r) {
        p.setPen(QPen(Outline, 1));
        p.setBrush(Casing);
        p.drawRect(r);
        p.setPen(Qt::NoPen);
        p.setBrush(ScreenBlue);
        p.drawRect(r.adjusted(1.5, 1.5, -1.5, -1.5));
    };
    box(QRectF(5.5, 0.5, 5, 4.5));
    box(QRectF(0.5, 11, 6, 4.5));
    box(QRectF(9.5, 11, 6, 4.5));
}

// A sheet of paper with a folded corner.
void sheet(QPainter& p, const QRectF& r)
{
    QPainterPath path;
    path.moveTo(r.left(), r.top());
    path.lineTo(r.right() - 4, r.top());
    path.lineTo(r.right(), r.top() + 4);
    path.lineTo(r.right(), r.bottom());
    path.lineTo(r.left(), r.bottom());
    path.closeSubpath();
    p.setPen(QPen(Outline, 1));
    p.setBrush(SheetWhite);
    p.drawPath(path);
    p.setBrush(QColor(200, 200, 200));
    QPainterPath fold;
    fold.moveTo(r.right() - 4, r.top());
    fold.lineTo(r.right() - 4, r.top() + 4);
    fold.lineTo(r.right(), r.top() + 4);
    p.drawPath(fold);
    p.setPen(QPen(QColor(150, 150, 170), 1));
    for (qreal y = r.top() + 6; y < r.bottom() - 1; y += 2.5)
        p.drawLine(QPointF(r.left() + 2, y), QPointF(r.right() - 2, y));
}

void cross(QPainter& p, const QRectF& r, qreal width)
{
    p.setPen(QPen(ScreenRed, width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(r.topLeft(), r.bottomRight());
    p.drawLine(r.topRight(), r.bottomLeft());
}

} // namespace

QList<QPixmap> drawImageList1()
{
    QList<QPixmap> list;
    list << draw([](QPainter& p) { computer(p, QRectF(0, 1, 16, 15), ScreenBlue); });
    list << draw([](QPainter& p) {
        p.setPen(QPen(QColor(20, 70, 220), 2.6));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(8, 8), 5.4, 5.4);
    });
    list << draw([](QPainter& p) { cross(p, QRectF(3, 3, 10, 10), 3.0); });
    list << draw([](QPainter& p) { tulip(p, QColor(230, 40, 200)); });
    list << draw([](QPainter& p) { tulip(p, QColor(30, 210, 230)); });
    list << draw([](QPainter& p) { tulip(p, QColor(230, 20, 20)); });
    list << draw([](QPainter& p) { tulip(p, QColor(20, 20, 20)); });
    list << draw([](QPainter& p) { network(p); });
    list << draw([](QPainter& p) { computer(p, QRectF(0, 1, 16, 15), ScreenGrey); });
    list << draw([](QPainter& p) { computer(p, QRectF(0, 1, 16, 15), ScreenRed); });
    list << draw([](QPainter& p) {
        QRadialGradient g(QPointF(6.5, 6), 7);
        g.setColorAt(0, QColor(255, 170, 170));
        g.setColorAt(0.5, QColor(230, 20, 20));
        g.setColorAt(1, QColor(140, 0, 0));
        p.setPen(Qt::NoPen);
        p.setBrush(g);
        p.drawEllipse(QPointF(8, 8), 5.5, 5.5);
    });
    return list;
}

QList<QPixmap> drawButtonImage()
{
    QList<QPixmap> list;
    // 0 exit: a window and an arrow leaving it
    list << draw([](QPainter& p) {
        p.setPen(QPen(Outline, 1));
        p.setBrush(SheetWhite);
        p.drawRect(QRectF(0.5, 1.5, 10, 12));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(20, 60, 160));
        p.drawRect(QRectF(1, 2, 9, 2.5));
        p.setBrush(QColor(30, 140, 40));
        QPainterPath arrow;
        arrow.moveTo(5, 7.5);
        arrow.lineTo(10.5, 7.5);
        arrow.lineTo(10.5, 5);
        arrow.lineTo(15.5, 9);
        arrow.lineTo(10.5, 13);
        arrow.lineTo(10.5, 10.5);
        arrow.lineTo(5, 10.5);
        arrow.closeSubpath();
        p.drawPath(arrow);
    });
    // 1 open: a folder
    list << draw([](QPainter& p) {
        p.setPen(QPen(QColor(140, 100, 0), 1));
        p.setBrush(QColor(240, 200, 60));
        QPainterPath back;
        back.moveTo(0.5, 3.5);
        back.lineTo(5.5, 3.5);
        back.lineTo(7, 5);
        back.lineTo(13.5, 5);
        back.lineTo(13.5, 13.5);
        back.lineTo(0.5, 13.5);
        back.closeSubpath();
        p.drawPath(back);
        p.setBrush(QColor(255, 225, 110));
        QPainterPath front;
        front.moveTo(0.5, 13.5);
        front.lineTo(3, 7.5);
        front.lineTo(15.5, 7.5);
        front.lineTo(13.5, 13.5);
        front.closeSubpath();
        p.drawPath(front);
    });
    // 2 save: a floppy disk
    list << draw([](QPainter& p) {
        p.setPen(QPen(QColor(10, 20, 60), 1));
        p.setBrush(QColor(40, 60, 150));
        QPainterPath body;
        body.moveTo(1.5, 1.5);
        body.lineTo(13, 1.5);
        body.lineTo(14.5, 3);
        body.lineTo(14.5, 14.5);
        body.lineTo(1.5, 14.5);
        body.closeSubpath();
        p.drawPath(body);
        p.setPen(Qt::NoPen);
        p.setBrush(SheetWhite);
        p.drawRect(QRectF(3.5, 2, 9, 5.5));
        p.setBrush(QColor(190, 190, 200));
        p.drawRect(QRectF(4.5, 10, 7, 4.5));
        p.setBrush(QColor(40, 60, 150));
        p.drawRect(QRectF(9, 10.8, 1.6, 3));
    });
    // 3 save results: a sheet and an arrow into it
    list << draw([](QPainter& p) {
        sheet(p, QRectF(0.5, 0.5, 11, 15));
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(30, 140, 40));
        QPainterPath arrow;
        arrow.moveTo(11.5, 4);
        arrow.lineTo(14.5, 4);
        arrow.lineTo(14.5, 10);
        arrow.lineTo(16, 10);
        arrow.lineTo(13, 15);
        arrow.lineTo(10, 10);
        arrow.lineTo(11.5, 10);
        arrow.closeSubpath();
        p.drawPath(arrow);
    });
    // 4 ping: computers on a ring
    list << draw([](QPainter& p) {
        p.setPen(QPen(QColor(20, 70, 220), 1.6));
        p.setBrush(Qt::NoBrush);
        p.drawEllipse(QPointF(8, 8.5), 5.5, 5.0);
        computer(p, QRectF(4.5, 0, 7, 6.5), ScreenBlue);
        computer(p, QRectF(0, 9, 7, 6.5), ScreenBlue);
        computer(p, QRectF(9, 9, 7, 6.5), ScreenBlue);
    });
    // 5 break: computers crossed out
    list << draw([](QPainter& p) {
        computer(p, QRectF(0, 1, 8, 7.5), ScreenGrey);
        computer(p, QRectF(7.5, 7.5, 8, 7.5), ScreenGrey);
        cross(p, QRectF(2.5, 2.5, 11, 11), 2.4);
    });
    // 6 clear: a blank sheet with a sparkle
    list << draw([](QPainter& p) {
        QPainterPath path;
        path.addRect(QRectF(0.5, 2.5, 10, 13));
        p.setPen(QPen(Outline, 1));
        p.setBrush(SheetWhite);
        p.drawPath(path);
        QPainterPath star;
        const QPointF c(11.5, 4.5);
        star.moveTo(c + QPointF(0, -4.5));
        star.lineTo(c + QPointF(1.1, -1.1));
        star.lineTo(c + QPointF(4.5, 0));
        star.lineTo(c + QPointF(1.1, 1.1));
        star.lineTo(c + QPointF(0, 4.5));
        star.lineTo(c + QPointF(-1.1, 1.1));
        star.lineTo(c + QPointF(-4.5, 0));
        star.lineTo(c + QPointF(-1.1, -1.1));
        star.closeSubpath();
        p.setPen(QPen(QColor(190, 130, 0), 0.8));
        p.setBrush(QColor(255, 220, 30));
        p.drawPath(star);
    });
    // 7 version: a tulip
    list << draw([](QPainter& p) { tulip(p, QColor(230, 40, 200)); });
    // 8 options: a sheet with a wrench
    list << draw([](QPainter& p) {
        sheet(p, QRectF(0.5, 0.5, 11, 15));
        p.setPen(QPen(QColor(90, 90, 100), 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(6.5, 14), QPointF(12, 8.5));
        p.setPen(QPen(QColor(90, 90, 100), 1.0));
        p.setBrush(QColor(90, 90, 100));
        p.drawEllipse(QPointF(13, 7.5), 2.6, 2.6);
        p.setPen(Qt::NoPen);
        p.setBrush(SheetWhite);
        p.drawRect(QRectF(13.2, 4.6, 2.8, 2.2));
    });
    // 9 trace: a network diagram
    list << draw([](QPainter& p) { network(p); });
    return list;
}

const QList<QPixmap>& ImageList1()
{
    static const QList<QPixmap> list = drawImageList1();
    return list;
}

const QList<QPixmap>& ButtonImage()
{
    static const QList<QPixmap> list = drawButtonImage();
    return list;
}

QIcon listIcon(int index)
{
    const QList<QPixmap>& l = ImageList1();
    return index >= 0 && index < l.size() ? QIcon(l.at(index)) : QIcon();
}

QIcon buttonIcon(int index)
{
    const QList<QPixmap>& l = ButtonImage();
    return index >= 0 && index < l.size() ? QIcon(l.at(index)) : QIcon();
}

} // namespace tarvok
