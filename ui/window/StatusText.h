#pragma once

#include <QLabel>
#include <QList>

namespace vn {

// The left text of the status bar: fields joined by four spaces. Its text()
// is always the whole line; what it paints is what fits its width. Fields
// with the highest rank go first, one at a time; the rank-0 fields stay and
// are elided last. It claims only a few characters of minimum width, so the
// status bar never has to lay it over its neighbours.
class StatusText : public QLabel {
    Q_OBJECT
public:
    struct Field {
        QString text;
        int rank = 0; // 0 is kept; of the others the highest is dropped first
    };

    explicit StatusText(const QString& text, QWidget* parent = nullptr);

    // Sets the fields; text() becomes them joined. Emits fieldsChanged when
    // the line differs from the one shown.
    void setFields(const QList<Field>& fields);
    // What is painted in `width` pixels (the current width by default).
    QString fitted(int width = -1) const;
    // The width of the rank-0 fields, which the status bar tries to leave it.
    int keptWidth() const;

    QSize minimumSizeHint() const override;

Q_SIGNALS:
    void fieldsChanged();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QList<Field> shownFields() const;

    QList<Field> m_fields;
};

} // namespace vn
