#include "ui/kit/IconPainter.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QSvgRenderer>

#include <cmath>
#include <initializer_list>
#include <numbers>

namespace vn {

namespace {

using Points = std::initializer_list<QPointF>;

void polyline(QPainter& painter, Points points)
{
    QPainterPath path;
    bool first = true;
    for (const QPointF& point : points) {
        if (first) {
            path.moveTo(point);
            first = false;
        } else {
            path.lineTo(point);
        }
    }
    painter.drawPath(path);
}

void filledDot(QPainter& painter, const QColor& colour, QPointF centre, double diameter, bool outlined)
{
    painter.save();
    if (!outlined) {
        painter.setPen(Qt::NoPen);
    }
    painter.setBrush(colour);
    painter.drawEllipse(centre, diameter / 2, diameter / 2);
    painter.restore();
}

void drawGear(QPainter& painter)
{
    constexpr double offsets[] = {-25, -14, -10, 10, 14, 25};
    constexpr double radii[] = {7, 7, 9.5, 9.5, 7, 7};
    QPainterPath outline;
    for (int tooth = 0; tooth < 6; ++tooth) {
        for (int i = 0; i < 6; ++i) {
            const double theta = (offsets[i] + 60.0 * tooth - 90.0) * std::numbers::pi / 180.0;
            const QPointF point(12 + radii[i] * std::cos(theta), 12 + radii[i] * std::sin(theta));
            if (tooth == 0 && i == 0) {
                outline.moveTo(point);
            } else {
                outline.lineTo(point);
            }
        }
    }
    outline.closeSubpath();
    painter.drawPath(outline);
    painter.drawEllipse(QPointF(12, 12), 3, 3);
}

void drawLightning(QPainter& painter)
{
    // One renderer for the brand image, loaded on first use and kept.
    static QSvgRenderer renderer(QStringLiteral(":/brand/lightning.svg"));
    renderer.render(&painter, QRectF(0, 0, 24, 24));
}

void drawPage(QPainter& painter)
{
    polyline(painter, {{14, 3}, {5, 3}, {5, 21}, {19, 21}, {19, 8}, {14, 3}, {14, 8}, {19, 8}});
    polyline(painter, {{9, 12}, {15, 12}});
    polyline(painter, {{9, 16}, {13, 16}});
}

void drawFigure(QPainter& painter, const QString& name, const QColor& colour)
{
    auto is = [&name](const char* candidate) { return name == QLatin1String(candidate); };
    if (is("gear")) {
        drawGear(painter);
    } else if (is("plus")) {
        polyline(painter, {{12, 5}, {12, 19}});
        polyline(painter, {{5, 12}, {19, 12}});
    } else if (is("clock")) {
        painter.drawEllipse(QRectF(3, 3, 18, 18));
        polyline(painter, {{12, 7}, {12, 12}, {16, 14}});
    } else if (is("hex")) {
        painter.drawRoundedRect(QRectF(4, 6, 7, 12), 3, 3);
        polyline(painter, {{14, 10}, {20, 18}});
        polyline(painter, {{20, 10}, {14, 18}});
    } else if (is("wrap")) {
        polyline(painter, {{3, 5}, {21, 5}});
        polyline(painter, {{3, 10}, {16, 10}});
        polyline(painter, {{3, 17}, {7, 17}});
        QPainterPath back(QPointF(16, 10));
        back.cubicTo(QPointF(23, 10), QPointF(23, 17), QPointF(16, 17));
        back.lineTo(12, 17);
        painter.drawPath(back);
        polyline(painter, {{15, 14}, {12, 17}, {15, 20}});
    } else if (is("terminal")) {
        painter.drawRoundedRect(QRectF(3, 4, 18, 16), 1.5, 1.5);
        polyline(painter, {{7, 9}, {10, 12}, {7, 15}});
        polyline(painter, {{13, 15}, {17, 15}});
    } else if (is("cursor")) {
        polyline(painter, {{9, 4}, {15, 4}});
        polyline(painter, {{12, 4}, {12, 20}});
        polyline(painter, {{9, 20}, {15, 20}});
    } else if (is("json")) {
        QPainterPath left(QPointF(8, 3));
        left.cubicTo(QPointF(4, 3), QPointF(6, 12), QPointF(3, 12));
        left.cubicTo(QPointF(6, 12), QPointF(4, 21), QPointF(8, 21));
        QPainterPath right(QPointF(16, 3));
        right.cubicTo(QPointF(20, 3), QPointF(18, 12), QPointF(21, 12));
        right.cubicTo(QPointF(18, 12), QPointF(20, 21), QPointF(16, 21));
        painter.drawPath(left);
        painter.drawPath(right);
        for (const double x : {9.0, 12.0, 15.0}) {
            filledDot(painter, colour, QPointF(x, 12), 1.6, false);
        }
    } else if (is("code") || is("xml")) {
        polyline(painter, {{8, 6}, {2, 12}, {8, 18}});
        polyline(painter, {{16, 6}, {22, 12}, {16, 18}});
        polyline(painter, {{14, 4}, {10, 20}});
    } else if (is("scriptCollapse")) {
        polyline(painter, {{6, 15}, {12, 9}, {18, 15}});
    } else if (is("scriptExpand")) {
        polyline(painter, {{6, 9}, {12, 15}, {18, 9}});
    } else if (is("clipboard")) {
        QPainterPath board(QPointF(8, 5));
        board.lineTo(7, 5);
        board.quadTo(5, 5, 5, 7);
        board.lineTo(5, 19);
        board.quadTo(5, 21, 7, 21);
        board.lineTo(17, 21);
        board.quadTo(19, 21, 19, 19);
        board.lineTo(19, 7);
        board.quadTo(19, 5, 17, 5);
        board.lineTo(16, 5);
        painter.drawPath(board);
        painter.drawRoundedRect(QRectF(8, 3, 8, 4), 1, 1);
        polyline(painter, {{9, 12}, {15, 12}});
        polyline(painter, {{9, 16}, {13, 16}});
    } else if (is("dock")) {
        painter.drawRoundedRect(QRectF(3, 4, 18, 16), 1.5, 1.5);
        polyline(painter, {{3, 8}, {21, 8}});
        polyline(painter, {{17, 14}, {8, 14}});
        polyline(painter, {{11, 11}, {8, 14}, {11, 17}});
    } else if (is("control")) {
        for (const double y : {5.0, 12.0, 19.0}) {
            polyline(painter, {{3, y}, {21, y}});
        }
        painter.save();
        painter.setBrush(colour);
        for (const QPointF knob : {QPointF(7, 2), QPointF(15, 9), QPointF(5, 16)}) {
            painter.drawRoundedRect(QRectF(knob, QSizeF(3, 6)), 1, 1);
        }
        painter.restore();
    } else if (is("widgets")) {
        for (const QPointF corner : {QPointF(3, 3), QPointF(14, 3), QPointF(3, 14)}) {
            painter.drawRoundedRect(QRectF(corner, QSizeF(7, 7)), 1, 1);
        }
        polyline(painter, {{17.5, 14}, {17.5, 21}});
        polyline(painter, {{14, 17.5}, {21, 17.5}});
    } else if (is("close")) {
        polyline(painter, {{6, 6}, {18, 18}});
        polyline(painter, {{18, 6}, {6, 18}});
    } else if (is("refresh")) {
        QPainterPath arrow(QPointF(20, 10));
        arrow.cubicTo(QPointF(18.5, 6.5), QPointF(15, 4), QPointF(11, 4));
        arrow.cubicTo(QPointF(7, 4), QPointF(4, 8), QPointF(4, 13));
        arrow.cubicTo(QPointF(4, 17.5), QPointF(9, 20.5), QPointF(14, 20));
        arrow.cubicTo(QPointF(16.5, 19.7), QPointF(18.8, 18.2), QPointF(20, 16));
        painter.drawPath(arrow);
        polyline(painter, {{20, 4}, {20, 10}, {14, 10}});
    } else if (is("search")) {
        painter.drawEllipse(QRectF(3, 3, 13, 13));
        polyline(painter, {{14, 14}, {21, 21}});
    } else if (is("pause")) {
        painter.save();
        painter.setPen(QPen(colour, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::BevelJoin));
        polyline(painter, {{8, 6}, {8, 18}});
        polyline(painter, {{16, 6}, {16, 18}});
        painter.restore();
    } else if (is("play")) {
        painter.save();
        painter.setPen(Qt::NoPen);
        painter.setBrush(colour);
        const QPointF triangle[] = {{7, 4}, {20, 12}, {7, 20}};
        painter.drawPolygon(triangle, 3);
        painter.restore();
    } else if (is("trash")) {
        polyline(painter, {{4, 7}, {20, 7}});
        polyline(painter, {{8, 7}, {8, 4}, {16, 4}, {16, 7}});
        polyline(painter, {{6, 7}, {7, 21}, {17, 21}, {18, 7}});
        polyline(painter, {{10, 11}, {10.5, 17}});
        polyline(painter, {{14, 11}, {13.5, 17}});
    } else if (is("follow")) {
        polyline(painter, {{12, 3}, {12, 15}});
        polyline(painter, {{7, 10}, {12, 15}, {17, 10}});
        polyline(painter, {{5, 20}, {19, 20}});
    } else if (is("export")) {
        polyline(painter, {{12, 15}, {12, 3}});
        polyline(painter, {{7, 8}, {12, 3}, {17, 8}});
        polyline(painter, {{4, 14}, {4, 20}, {20, 20}, {20, 14}});
    } else if (is("repeat")) {
        polyline(painter, {{4, 10}, {4, 7}, {20, 7}});
        polyline(painter, {{17, 4}, {20, 7}, {17, 10}});
        polyline(painter, {{20, 14}, {20, 17}, {4, 17}});
        polyline(painter, {{7, 14}, {4, 17}, {7, 20}});
    } else if (is("wave")) {
        QPainterPath wave(QPointF(2, 12));
        wave.cubicTo(QPointF(3.5, 7), QPointF(5, 4), QPointF(7, 4));
        wave.cubicTo(QPointF(10, 4), QPointF(11, 20), QPointF(14, 20));
        wave.cubicTo(QPointF(17, 20), QPointF(19.5, 16), QPointF(22, 12));
        painter.drawPath(wave);
    } else if (is("port") || is("lightning")) {
        drawLightning(painter);
    } else if (is("file-transfer")) {
        polyline(painter, {{5, 20}, {5, 3}, {14, 3}, {19, 8}, {19, 12}});
        polyline(painter, {{14, 3}, {14, 8}, {19, 8}});
        polyline(painter, {{5, 20}, {11, 20}});
        polyline(painter, {{9, 16}, {21, 16}});
        polyline(painter, {{18, 13}, {21, 16}, {18, 19}});
    } else if (is("send")) {
        polyline(painter, {{3, 12}, {21, 12}});
        polyline(painter, {{14, 5}, {21, 12}, {14, 19}});
    } else if (is("more")) {
        for (const double x : {5.0, 12.0, 19.0}) {
            filledDot(painter, colour, QPointF(x, 12), 1.6, true);
        }
    } else {
        drawPage(painter);
    }
}

} // namespace

void drawIcon(QPainter& painter, const QString& name, QRectF rect, const QColor& colour, double angle)
{
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.translate(rect.center());
    painter.rotate(angle);
    const double scale = std::min(rect.width(), rect.height()) / 24.0;
    painter.scale(scale, scale);
    painter.translate(-12, -12);
    painter.setPen(QPen(colour, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(Qt::NoBrush);
    drawFigure(painter, name, colour);
    painter.restore();
}

QIcon icon(const QString& name, const QColor& colour, int size)
{
    QPixmap pixmap(2 * size, 2 * size);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    {
        QPainter painter(&pixmap);
        drawIcon(painter, name, QRectF(0, 0, size, size), colour, 0);
    }
    return QIcon(pixmap);
}

} // namespace vn
