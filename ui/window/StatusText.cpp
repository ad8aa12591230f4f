#include "ui/window/StatusText.h"

#include <QPainter>
#include <QStyle>

#include <algorithm>

namespace vn {

namespace {

const QString Separator = QStringLiteral("    ");

QString joined(const QList<StatusText::Field>& fields)
{
    QStringList texts;
    for (const StatusText::Field& field : fields)
        texts.append(field.text);
    return texts.join(Separator);
}

} // namespace

StatusText::StatusText(const QString& text, QWidget* parent) : QLabel(text, parent)
{
    setTextFormat(Qt::PlainText);
}

void StatusText::setFields(const QList<Field>& fields)
{
    const QString line = joined(fields);
    m_fields = fields;
    if (line == text())
        return;
    setText(line);
    Q_EMIT fieldsChanged();
}

// A text set through setText alone is one field that is never dropped.
QList<StatusText::Field> StatusText::shownFields() const
{
    if (joined(m_fields) == text())
        return m_fields;
    return {Field{text(), 0}};
}

QString StatusText::fitted(int width) const
{
    if (width < 0)
        width = contentsRect().width();
    const QFontMetrics metrics = fontMetrics();
    QList<Field> fields = shownFields();
    while (metrics.horizontalAdvance(joined(fields)) > width) {
        const auto highest = std::max_element(fields.begin(), fields.end(),
                                              [](const Field& a, const Field& b) { return a.rank < b.rank; });
        if (highest == fields.end() || highest->rank <= 0)
            break;
        fields.erase(highest);
    }
    return metrics.elidedText(joined(fields), Qt::ElideRight, width);
}

int StatusText::keptWidth() const
{
    QList<Field> kept;
    for (const Field& field : shownFields()) {
        if (field.rank <= 0)
            kept.append(field);
    }
    const QMargins margins = contentsMargins();
    return fontMetrics().horizontalAdvance(joined(kept)) + margins.left() + margins.right() + 2 * margin();
}

QSize StatusText::minimumSizeHint() const
{
    const QMargins margins = contentsMargins();
    const int width = fontMetrics().horizontalAdvance(QStringLiteral("……")) + margins.left() + margins.right();
    return {width, QLabel::minimumSizeHint().height()};
}

void StatusText::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    drawFrame(&painter);
    const QRect area = contentsRect().marginsRemoved(QMargins(margin(), margin(), margin(), margin()));
    style()->drawItemText(&painter, area, int(QStyle::visualAlignment(layoutDirection(), alignment())), palette(),
                          isEnabled(), fitted(area.width()), foregroundRole());
}

} // namespace vn
