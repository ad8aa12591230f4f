#pragma once

#include <QColor>
#include <QPoint>
#include <QPointer>
#include <QTabBar>

namespace vn {

// A tab bar that notices a tab dragged clearly out of it (tearRequested), can
// close tabs with the middle button, and joins the selected tab to the page
// below with two small fillets in `pageColor`.
class TearTabBar : public QTabBar {
    Q_OBJECT
    Q_PROPERTY(QColor pageColor READ pageColor WRITE setPageColor)
public:
    explicit TearTabBar(QWidget* parent = nullptr);

    QColor pageColor() const { return m_pageColor; }
    void setPageColor(const QColor& colour);

    bool middleClickClosing() const { return m_middleClickClosing; }
    void setMiddleClickClosing(bool on) { m_middleClickClosing = on; }

    // What a tab stands for: the object in its data, else its tab-widget page.
    // Presses remember identities so a tab moved mid-press is found again.
    QObject* identity(int index) const;

Q_SIGNALS:
    void tearRequested(int index, const QPoint& globalPos);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void initStyleOption(QStyleOptionTab* option, int tabIndex) const override;

private:
    int indexOfIdentity(const QObject* object) const;

    QColor m_pageColor;
    QPoint m_pressPosition;
    QPointer<QObject> m_pressedTab;
    bool m_middleClickClosing = false;
    QPointer<QObject> m_middlePressedTab;
};

// On the next turn of the event loop, while the left button is still held,
// lets the window follow the mouse as if its title bar had been grabbed.
void beginNativeMove(QWidget* window);

// Whether a global point lies over the visible widget, grown by 8 px to the
// sides and 10 px above and below.
bool cursorOver(QWidget* widget, const QPoint& globalPos);

} // namespace vn
