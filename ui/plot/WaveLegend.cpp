#include "ui/plot/WaveLegend.h"

#include "ui/plot/WavePlot.h"

#include <QFontMetrics>
#include <QHBoxLayout>
#include <QLocale>
#include <QPainter>
#include <QPixmap>
#include <QScrollArea>
#include <QToolButton>

#include <algorithm>
#include <cmath>

namespace vn {

WaveLegend::WaveLegend(WavePlot* owner)
    : plot(owner)
{
    legendArea = new QScrollArea(plot);
    legendArea->setObjectName(QStringLiteral("waveLegend"));
    legendArea->setFrameShape(QFrame::NoFrame);
    legendArea->setWidgetResizable(true);
    legendArea->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    legendArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    legendStrip = new QWidget;
    legendArea->setWidget(legendStrip);
    legendLayout = new QHBoxLayout(legendStrip);
    legendLayout->setContentsMargins(0, 0, 0, 0);
    legendLayout->setSpacing(6);
    legendLayout->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    legendLayout->setSizeConstraint(QLayout::SetMinimumSize);

    readoutPicker = new QToolButton(legendStrip);
    readoutPicker->setObjectName(QStringLiteral("waveReadoutPicker"));
    readoutPicker->setText(QStringLiteral("读数通道…"));
    readoutPicker->setToolTip(QStringLiteral("选择顶部显示的读数通道，最多四个"));
    QObject::connect(readoutPicker, &QToolButton::clicked, plot, &WavePlot::openReadoutChannels);
    legendLayout->addWidget(readoutPicker);
    legendLayout->addStretch();
    readoutPicker->hide();
}

QToolButton* WaveLegend::createButton(const QString& key)
{
    auto* button = new QToolButton(legendStrip);
    button->setObjectName(QStringLiteral("waveChannel"));
    button->setProperty("channelName", key);
    button->setCheckable(true);
    button->setFocusPolicy(Qt::TabFocus);
    button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    button->setContextMenuPolicy(Qt::CustomContextMenu);
    WavePlot* target = plot;
    QObject::connect(button, &QToolButton::clicked, plot,
                     [target, key](bool checked) { target->setCurveVisible(key, checked); });
    QObject::connect(button, &QToolButton::customContextMenuRequested, plot,
                     [target, key, button](const QPoint& pos) { target->curveMenu(key, button->mapToGlobal(pos)); });
    return button;
}

void WaveLegend::update()
{
    const QStringList channels = plot->readoutChannels();
    for (auto it = legendButtons.begin(); it != legendButtons.end();) {
        if (!channels.contains(it.key())) {
            delete it.value();
            it = legendButtons.erase(it);
        } else {
            ++it;
        }
    }

    const QFontMetrics fm(plot->font());
    const int fh = fm.height();
    const int buttonWidth = std::max(144, fm.horizontalAdvance(QStringLiteral("-0.0000000e+000")) + 48);
    const int textWidth = buttonWidth - 48;
    const Theme& theme = plot->theme;
    const WavePresentation& present = plot->presentation();
    static const WavePoints noPoints;

    for (int i = 0; i < channels.size(); ++i) {
        const QString& key = channels.at(i);
        QToolButton* button = legendButtons.value(key);
        if (!button) {
            button = createButton(key);
            legendLayout->insertWidget(i, button, 0, Qt::AlignTop);
            legendButtons.insert(key, button);
        } else if (legendLayout->indexOf(button) != i) {
            legendLayout->removeWidget(button);
            legendLayout->insertWidget(i, button, 0, Qt::AlignTop);
        }

        const auto found = plot->curves().constFind(key);
        const WavePoints& points = found != plot->curves().cend() ? *found : noPoints;
        const QString unitSuffix = present.yUnit.isEmpty() ? QString() : QLatin1Char(' ') + present.yUnit;
        QString valueText = QStringLiteral("—");
        QString fullText = valueText;
        if (!points.isEmpty()) {
            const double value = points.constLast().y();
            fullText = QLocale::c().toString(value, 'g', QLocale::FloatingPointShortest) + unitSuffix;
            valueText = fullText;
            if (fm.horizontalAdvance(valueText) > textWidth)
                valueText = QLocale::c().toString(value, 'g', 8) + unitSuffix;
        }
        const QString label = plot->curveLabel(key);
        const QString text = fm.elidedText(label, Qt::ElideRight, textWidth) + QLatin1Char('\n')
                             + fm.elidedText(valueText, Qt::ElideRight, textWidth);
        if (button->text() != text)
            button->setText(text);
        button->setFont(plot->font());
        button->setFixedSize(buttonWidth, 2 * fh + 8);
        const bool hidden = !plot->isCurveVisible(key);
        button->setChecked(!hidden);
        button->setToolTip(label + QStringLiteral(" = ") + fullText
                           + QStringLiteral("\n点击显示或隐藏曲线；右键设置颜色、线宽和线型"));
        const QString sheet = QStringLiteral("QToolButton { border: none; padding: 2px 8px; background: transparent; "
                                             "color: %1; } QToolButton:hover { color: %2; }")
                                  .arg((hidden ? theme.muted : theme.text).name(), theme.accent.name());
        if (button->styleSheet() != sheet)
            button->setStyleSheet(sheet);

        const QColor colour = hidden ? theme.line : plot->curveColor(key);
        const WaveCurveStyle style = plot->curveStyle(key);
        if (button->property("curveColor").value<QColor>() != colour
            || button->property("curveWidth").toDouble() != style.width
            || button->property("curveLine").toInt() != style.line || !button->property("curveColor").isValid()) {
            const qreal ratio = plot->devicePixelRatioF();
            QPixmap pixmap(int(std::ceil(24 * ratio)), int(std::ceil(16 * ratio)));
            pixmap.setDevicePixelRatio(ratio);
            pixmap.fill(Qt::transparent);
            {
                QPainter painter(&pixmap);
                painter.setRenderHint(QPainter::Antialiasing, true);
                painter.setPen(QPen(QBrush(colour), std::max(style.width, 1.5), Qt::PenStyle(style.line),
                                    Qt::SquareCap, Qt::BevelJoin));
                painter.drawLine(QPointF(1, 8), QPointF(23, 8));
            }
            button->setIcon(QIcon(pixmap));
            button->setIconSize(QSize(24, 16));
            button->setProperty("curveColor", colour);
            button->setProperty("curveWidth", style.width);
            button->setProperty("curveLine", style.line);
        }
    }

    readoutPicker->setVisible(!plot->curves().isEmpty() || present.readoutsChosen);

    QPalette palette = legendStrip->palette();
    palette.setBrush(QPalette::All, QPalette::Window, QBrush(theme.panel));
    legendStrip->setPalette(palette);
    legendStrip->setAutoFillBackground(true);
    legendArea->viewport()->setPalette(palette);
    legendArea->setGeometry(64, 2, std::max(1, plot->width() - 88), 2 * fh + 24);
}

} // namespace vn
