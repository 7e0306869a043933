#include "ui/IconPainter.h"

#include "ui/CommandTable.h"

#include <QPainter>
#include <QPainterPath>
#include <functional>

namespace
{

using Drawing = std::function<void(QPainter&)>;

const QColor kInk(0x20, 0x20, 0x20);
const QColor kBlue(0x1E, 0x5A, 0xC8);
const QColor kGreen(0x1E, 0x9A, 0x32);
const QColor kRed(0xD0, 0x20, 0x20);
const QColor kYellow(0xF0, 0xC0, 0x30);

QPixmap Paint(int size, const Drawing& draw)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(size / 16.0, size / 16.0);
    draw(painter);
    return pixmap;
}

QIcon MakeIcon(const Drawing& draw)
{
    QIcon icon;
    for (int size : {16, 24, 32, 48})
        icon.addPixmap(Paint(size, draw));
    return icon;
}

QPen Pen(const QColor& color, qreal width = 1.0)
{
    return QPen(color, width, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
}

void Page(QPainter& p)
{
    QPainterPath page;
    page.moveTo(3.5, 1.5);
    page.lineTo(9.5, 1.5);
    page.lineTo(12.5, 4.5);
    page.lineTo(12.5, 14.5);
    page.lineTo(3.5, 14.5);
    page.closeSubpath();
    p.setPen(Pen(kInk));
    p.setBrush(Qt::white);
    p.drawPath(page);
    p.drawPolyline(QPolygonF({{9.5, 1.5}, {9.5, 4.5}, {12.5, 4.5}}));
}

void Folder(QPainter& p)
{
    p.setPen(Pen(QColor(0x8A, 0x6A, 0x10)));
    p.setBrush(kYellow);
    p.drawPolygon(
        QPolygonF({{1.5, 3.5}, {6.5, 3.5}, {7.5, 5.0}, {13.5, 5.0}, {13.5, 13.5}, {1.5, 13.5}}));
    p.setBrush(QColor(0xFF, 0xE0, 0x70));
    p.drawPolygon(QPolygonF({{3.5, 7.5}, {15.5, 7.5}, {13.5, 13.5}, {1.5, 13.5}}));
}

void Floppy(QPainter& p)
{
    p.setPen(Pen(kInk));
    p.setBrush(kBlue);
    p.drawPolygon(QPolygonF({{1.5, 1.5}, {12.5, 1.5}, {14.5, 3.5}, {14.5, 14.5}, {1.5, 14.5}}));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4.5, 1.5, 7, 5));
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawRect(QRectF(9, 2.5, 1.5, 3));
    p.setBrush(QColor(0xE8, 0xE8, 0xE8));
    p.drawRect(QRectF(4, 9.5, 8, 4.5));
}

void Cross(QPainter& p, const QRectF& box, qreal width)
{
    p.setPen(QPen(kRed, width, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(box.topLeft(), box.bottomRight());
    p.drawLine(box.topRight(), box.bottomLeft());
}

void UndoArrow(QPainter& p)
{
    QPainterPath arc;
    arc.moveTo(4, 6);
    arc.cubicTo(8, 2, 15, 4, 14, 10);
    arc.cubicTo(13.5, 12.5, 12, 13.5, 10, 14);
    p.setPen(QPen(kBlue, 2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawPath(arc);
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawPolygon(QPolygonF({{1, 3}, {7.5, 3.5}, {3, 9}}));
}

// The device of the sensor rows: a case with a display and a probe.
void Device(QPainter& p, bool grey, const QRectF& box = QRectF(0, 0, 16, 16))
{
    p.save();
    p.translate(box.topLeft());
    p.scale(box.width() / 16.0, box.height() / 16.0);
    const QColor body = grey ? QColor(0xB0, 0xB0, 0xB0) : QColor(0x2E, 0x7D, 0xD2);
    const QColor edge = grey ? QColor(0x70, 0x70, 0x70) : QColor(0x10, 0x3A, 0x80);
    const QColor screen = grey ? QColor(0xE0, 0xE0, 0xE0) : QColor(0xC8, 0xF0, 0xC0);
    const QColor probe = grey ? QColor(0x90, 0x90, 0x90) : kRed;
    p.setPen(Pen(edge));
    p.setBrush(body);
    p.drawRoundedRect(QRectF(1.5, 2.5, 10, 11), 1.5, 1.5);
    p.setBrush(screen);
    p.drawRect(QRectF(3.5, 4.5, 6, 4));
    p.setPen(Qt::NoPen);
    p.setBrush(grey ? QColor(0x80, 0x80, 0x80) : kInk);
    p.drawRect(QRectF(4.5, 6, 1, 1.5));
    p.drawRect(QRectF(6.2, 5.5, 1, 2));
    p.drawRect(QRectF(7.9, 6.5, 1, 1));
    p.setBrush(grey ? QColor(0xD0, 0xD0, 0xD0) : QColor(0xFF, 0xD0, 0x40));
    p.drawEllipse(QRectF(3.5, 10, 2, 2));
    // The probe on its cable.
    p.setPen(QPen(edge, 1));
    p.drawLine(QPointF(11.5, 8), QPointF(13.5, 8));
    p.setPen(Pen(edge));
    p.setBrush(probe);
    p.drawRoundedRect(QRectF(12.5, 4.5, 2.5, 9), 1.2, 1.2);
    p.restore();
}

void Plus(QPainter& p, QPointF centre)
{
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawEllipse(centre, 4, 4);
    p.setBrush(kGreen);
    p.drawRect(QRectF(centre.x() - 3.5, centre.y() - 1, 7, 2));
    p.drawRect(QRectF(centre.x() - 1, centre.y() - 3.5, 2, 7));
}

void Magnifier(QPainter& p)
{
    // Waves of a broadcast behind the glass.
    p.setPen(QPen(kGreen, 1.2, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(-3, 7, 8, 8), 0 * 16, 90 * 16);
    p.drawArc(QRectF(-6, 4, 14, 14), 0 * 16, 90 * 16);
    p.setPen(Pen(kInk, 1.4));
    p.setBrush(QColor(0xD8, 0xEC, 0xFF));
    p.drawEllipse(QRectF(6.5, 1.5, 7, 7));
    p.setPen(QPen(kInk, 2.4, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(8, 8), QPointF(4.5, 11.5));
}

void Toggle(QPainter& p)
{
    Device(p, false, QRectF(0, 0, 11, 11));
    Device(p, true, QRectF(5, 5, 11, 11));
}

void Globe(QPainter& p)
{
    const QRectF ball(1.5, 1.5, 13, 13);
    p.setPen(Pen(kBlue, 1.2));
    p.setBrush(QColor(0xC8, 0xE4, 0xFF));
    p.drawEllipse(ball);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QRectF(5, 1.5, 6, 13));
    p.drawLine(QPointF(8, 1.5), QPointF(8, 14.5));
    p.drawLine(QPointF(1.5, 8), QPointF(14.5, 8));
    p.drawLine(QPointF(2.8, 4.8), QPointF(13.2, 4.8));
    p.drawLine(QPointF(2.8, 11.2), QPointF(13.2, 11.2));
}

void Info(QPainter& p)
{
    p.setPen(Qt::NoPen);
    p.setBrush(kBlue);
    p.drawEllipse(QRectF(1, 1, 14, 14));
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(6.9, 3.2, 2.2, 2.2));
    p.drawRect(QRectF(7, 6.5, 2, 6.5));
    p.drawRect(QRectF(6, 6.5, 1.5, 1.2));
    p.drawRect(QRectF(6, 11.8, 4, 1.2));
}

void Padlock(QPainter& p)
{
    p.setPen(QPen(QColor(0x60, 0x60, 0x60), 1.8));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(4.5, 1.5, 7, 9), 0, 180 * 16);
    p.drawLine(QPointF(4.5, 6), QPointF(4.5, 8));
    p.drawLine(QPointF(11.5, 6), QPointF(11.5, 8));
    p.setPen(Pen(QColor(0x8A, 0x6A, 0x10)));
    p.setBrush(kYellow);
    p.drawRect(QRectF(2.5, 7.5, 11, 7));
    p.setPen(Qt::NoPen);
    p.setBrush(kInk);
    p.drawEllipse(QRectF(7, 9.5, 2, 2));
    p.drawRect(QRectF(7.5, 11, 1, 2));
}

void Database(QPainter& p, const QRectF& box)
{
    p.setPen(Pen(QColor(0x50, 0x50, 0x50)));
    p.setBrush(QColor(0xC8, 0xC8, 0xD8));
    const qreal lid = box.height() / 4;
    QPainterPath body;
    body.moveTo(box.left(), box.top() + lid / 2);
    body.lineTo(box.left(), box.bottom() - lid / 2);
    body.arcTo(QRectF(box.left(), box.bottom() - lid, box.width(), lid), 180, 180);
    body.lineTo(box.right(), box.top() + lid / 2);
    p.drawPath(body);
    p.setBrush(QColor(0xE8, 0xE8, 0xF4));
    p.drawEllipse(QRectF(box.left(), box.top(), box.width(), lid));
    p.setBrush(Qt::NoBrush);
    p.drawArc(QRectF(box.left(), box.top() + box.height() / 3, box.width(), lid), 180 * 16,
              180 * 16);
}

void DataSource(QPainter& p)
{
    Database(p, QRectF(1.5, 1.5, 9, 12));
    // A pencil.
    p.setPen(Pen(kInk, 0.8));
    p.setBrush(kYellow);
    p.drawPolygon(QPolygonF({{14.5, 5}, {15.8, 6.3}, {9, 13.1}, {7.7, 11.8}}));
    p.setBrush(kInk);
    p.drawPolygon(QPolygonF({{7.7, 11.8}, {9, 13.1}, {7, 14}}));
}

void Statistics(QPainter& p)
{
    Database(p, QRectF(0.5, 1.5, 7, 10));
    p.setPen(Pen(kInk, 0.8));
    p.setBrush(kBlue);
    p.drawRect(QRectF(8.5, 8.5, 2, 6));
    p.setBrush(kGreen);
    p.drawRect(QRectF(11, 5.5, 2, 9));
    p.setBrush(kRed);
    p.drawRect(QRectF(13.5, 10.5, 2, 4));
}

void Axes(QPainter& p)
{
    p.setPen(Pen(kInk));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(1.5, 1.5, 13, 13));
}

void SeriesChart(QPainter& p)
{
    Axes(p);
    p.setPen(QPen(kBlue, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({{3, 11}, {5.5, 8}, {8, 9.5}, {10.5, 5}, {13, 6.5}}));
}

void SummaryChart(QPainter& p)
{
    Axes(p);
    p.setPen(QPen(kRed, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({{3, 5}, {6, 4}, {9, 5.5}, {13, 3.5}}));
    p.setPen(QPen(kGreen, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({{3, 8.5}, {6, 7.5}, {9, 9}, {13, 7.5}}));
    p.setPen(QPen(kBlue, 1.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({{3, 12}, {6, 11}, {9, 12.5}, {13, 11.5}}));
}

// Two curves over a time axis.
void History(QPainter& p)
{
    p.setPen(Pen(kInk));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({{1.5, 1.5}, {1.5, 14.5}, {14.5, 14.5}}));
    p.setPen(QPen(kGreen, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({{3.5, 8}, {5.5, 5}, {7.5, 7}, {10, 3}, {12, 5}, {14.5, 2.5}}));
    p.setPen(QPen(kRed, 1.4, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({{3.5, 12}, {6, 10.5}, {8.5, 12}, {11, 9.5}, {14.5, 10.5}}));
}

void StartStop(QPainter& p)
{
    p.setPen(Pen(QColor(0x80, 0x10, 0x10)));
    p.setBrush(kRed);
    p.drawEllipse(QRectF(1.5, 1.5, 13, 13));
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0xFF, 0x90, 0x90));
    p.drawEllipse(QRectF(4, 3.5, 4, 3));
}

Drawing DrawingOf(int command)
{
    switch (command)
    {
    case ID_FILE_NEW:
        return Page;
    case ID_FILE_OPEN:
        return Folder;
    case ID_FILE_SAVE:
        return Floppy;
    case ID_EDIT_CLEAR:
        return [](QPainter& p) { Cross(p, QRectF(3, 3, 10, 10), 2.6); };
    case ID_EDIT_UNDO:
        return UndoArrow;
    case ID_SCAN_NETWORK:
        return Magnifier;
    case ID_NEW_SENSOR:
        return [](QPainter& p)
        {
            Device(p, false, QRectF(0, 0, 13, 13));
            Plus(p, QPointF(11.5, 11.5));
        };
    case ID_ENABLE_DISABLE:
        return Toggle;
    case ID_OPEN_IN_BROWSER:
        return Globe;
    case ID_APP_ABOUT:
        return Info;
    case ID_LOCK_SELECTION:
        return Padlock;
    case ID_EDIT_DATA_SOURCE:
        return DataSource;
    case ID_DATABASE_STATISTICS:
        return Statistics;
    case ID_EXPORT_SERIES:
        return SeriesChart;
    case ID_EXPORT_SUMMARY:
        return SummaryChart;
    case ID_SHOW_HISTORY:
        return History;
    case ID_START_STOP:
        return StartStop;
    default:
        return {};
    }
}

} // namespace

QIcon CIconPainter::CommandIcon(int command)
{
    const Drawing drawing = DrawingOf(command);
    return drawing ? MakeIcon(drawing) : QIcon();
}

QPixmap CIconPainter::SensorImage(int image)
{
    if (image != 1 && image != 2)
        return Paint(16, [](QPainter&) {});
    return Paint(16, [image](QPainter& p) { Device(p, image == 2); });
}

QIcon CIconPainter::AppIcon()
{
    return MakeIcon(&CIconPainter::DrawAppIcon);
}

void CIconPainter::DrawAppIcon(QPainter& p)
{
    Device(p, false);
    p.setPen(QPen(kRed, 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPolyline(QPolygonF({{3.8, 7.8}, {5.3, 6.2}, {6.8, 7.2}, {9.2, 5}}));
}
