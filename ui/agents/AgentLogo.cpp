#include "ui/agents/AgentLogo.h"

#include <QEvent>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>

namespace vn {

namespace {

constexpr int LogoSize = 30;

QPen stroke(const QColor& colour, qreal width)
{
    QPen pen(colour, width);
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    return pen;
}

// A rounded hexagon with a prompt inside.
void codexMark(QPainter& p)
{
    QPainterPath hexagon;
    for (int i = 0; i < 6; ++i) {
        const qreal angle = qDegreesToRadians(60.0 * i - 90.0);
        const QPointF corner(15 + 12 * qCos(angle), 15 + 12 * qSin(angle));
        i == 0 ? hexagon.moveTo(corner) : hexagon.lineTo(corner);
    }
    hexagon.closeSubpath();
    p.setPen(stroke(Qt::black, 2.2));
    p.drawPath(hexagon);
    p.drawPolyline(QPolygonF{{10.5, 11.5}, {14, 15}, {10.5, 18.5}});
    p.drawLine(QPointF(15.5, 19), QPointF(20, 19));
}

// A burst of rays.
void claudeMark(QPainter& p, const QColor& colour)
{
    p.setPen(stroke(colour, 2.6));
    for (int i = 0; i < 8; ++i) {
        const qreal angle = qDegreesToRadians(22.5 + 45.0 * i);
        p.drawLine(QPointF(15 + 3 * qCos(angle), 15 + 3 * qSin(angle)),
                   QPointF(15 + 12 * qCos(angle), 15 + 12 * qSin(angle)));
    }
}

// A frame around a solid block.
void openCodeMark(QPainter& p, bool dark)
{
    const QColor frame = dark ? QColor(0xee, 0xee, 0xee) : QColor(0x21, 0x21, 0x21);
    const QColor block = dark ? QColor(0x8a, 0x8a, 0x8a) : QColor(0x9a, 0x9a, 0x9a);
    p.setPen(stroke(frame, 2.4));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(6, 4, 18, 22));
    p.setPen(Qt::NoPen);
    p.setBrush(block);
    p.drawRect(QRectF(10, 12, 10, 10));
}

// Two legs under a bar, drawn as blocks.
void piMark(QPainter& p, const QColor& colour)
{
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawRoundedRect(QRectF(4, 5, 22, 5), 1.5, 1.5);
    p.drawRoundedRect(QRectF(8, 10, 4.5, 15), 1.5, 1.5);
    p.drawRoundedRect(QRectF(17.5, 10, 4.5, 15), 1.5, 1.5);
}

// A letter H with a wing stroke on each post.
void hermesMark(QPainter& p, bool dark)
{
    const QColor colour = dark ? QColor(0xe6, 0xd9, 0xb8) : QColor(0x5a, 0x45, 0x1c);
    p.setPen(stroke(colour, 2.6));
    p.drawLine(QPointF(10, 8), QPointF(10, 24));
    p.drawLine(QPointF(20, 8), QPointF(20, 24));
    p.drawLine(QPointF(10, 16), QPointF(20, 16));
    p.setPen(stroke(colour, 1.8));
    p.drawLine(QPointF(10, 10), QPointF(4, 6));
    p.drawLine(QPointF(10, 13), QPointF(5, 11));
    p.drawLine(QPointF(20, 10), QPointF(26, 6));
    p.drawLine(QPointF(20, 13), QPointF(25, 11));
}

// Three curved scratches.
void openClawMark(QPainter& p, const QColor& colour)
{
    p.setPen(stroke(colour, 2.6));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        QPainterPath scratch;
        const qreal x = 8 + 7 * i;
        scratch.moveTo(x - 3, 5);
        scratch.quadTo(x + 3, 14, x - 1, 25);
        p.drawPath(scratch);
    }
}

// A ring crossed by a slash.
void grokMark(QPainter& p)
{
    p.setPen(stroke(Qt::black, 2.4));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(15, 15), 9.5, 9.5);
    p.drawLine(QPointF(7, 25), QPointF(25, 5));
}

// A four-pointed sparkle.
void geminiMark(QPainter& p, const QColor& colour)
{
    QPainterPath star;
    star.moveTo(15, 3);
    star.quadTo(16, 14, 27, 15);
    star.quadTo(16, 16, 15, 27);
    star.quadTo(14, 16, 3, 15);
    star.quadTo(14, 14, 15, 3);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawPath(star);
}

} // namespace

AgentLogo::AgentLogo(const QString& iconName, const Theme& theme, QWidget* parent)
    : QLabel(parent), icon(iconName), colours(theme)
{
    refreshImage();
}

void AgentLogo::setTheme(const Theme& theme)
{
    colours = theme;
    refreshImage();
}

void AgentLogo::refreshImage()
{
    const bool dark = palette().color(QPalette::WindowText).lightness() > 128;
    drawn = icon;
    if (dark && (icon == QLatin1String("opencode.svg") || icon == QLatin1String("hermes.svg")))
        drawn.replace(QStringLiteral(".svg"), QStringLiteral("-dark.svg"));
    QPixmap image = draw(drawn, colours, LogoSize, devicePixelRatioF());
    if (drawn == QLatin1String("codex.svg") || drawn == QLatin1String("grok.svg")) {
        // Single-colour marks keep every pixel's opacity and take the text's contrast colour.
        QPainter painter(&image);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRect(QPoint(), image.size()), dark ? Qt::white : Qt::black);
    }
    setPixmap(image);
}

void AgentLogo::changeEvent(QEvent* event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::StyleChange || event->type() == QEvent::PaletteChange)
        refreshImage();
}

QPixmap AgentLogo::draw(const QString& name, const Theme& theme, int size, qreal ratio)
{
    QPixmap image(QSize(size, size) * ratio);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / qreal(LogoSize), size / qreal(LogoSize));
    if (name == QLatin1String("codex.svg"))
        codexMark(p);
    else if (name == QLatin1String("claude.svg"))
        claudeMark(p, theme.accent);
    else if (name == QLatin1String("opencode.svg") || name == QLatin1String("opencode-dark.svg"))
        openCodeMark(p, name.contains(QLatin1String("-dark")));
    else if (name == QLatin1String("pi.svg"))
        piMark(p, theme.green);
    else if (name == QLatin1String("hermes.svg") || name == QLatin1String("hermes-dark.svg"))
        hermesMark(p, name.contains(QLatin1String("-dark")));
    else if (name == QLatin1String("openclaw.svg"))
        openClawMark(p, theme.red);
    else if (name == QLatin1String("grok.svg"))
        grokMark(p);
    else if (name == QLatin1String("gemini.svg"))
        geminiMark(p, theme.amber);
    return image;
}

} // namespace vn
