#pragma once

#include <QIcon>
#include <QMainWindow>
#include <QPointer>
#include <QTabWidget>

#include <map>

namespace vn {

class FloatingPage;

// A tab widget whose pages can be torn off into windows of their own (by
// dragging a tab out of the bar, or from the tab's context menu) and docked
// back (closing the window, its "返回标签栏" button, dropping the window on the
// bar, or restoreAll).
class DetachableTabs : public QTabWidget {
    Q_OBJECT
public:
    explicit DetachableTabs(QWidget* parent = nullptr);

    // Moves the page at `index` into a new window placed at `globalPos`; with
    // `move` the window then follows the held mouse. Null when there is no page.
    FloatingPage* detachPage(int index, const QPoint& globalPos, bool move);
    // Brings the page to the front, in its window or as the current tab.
    void activatePage(QWidget* page);
    // Docks every torn-off page back, here and in nested tab widgets.
    void restoreAll();

    // The window holding a torn-off page, or null.
    FloatingPage* floatingWindow(QWidget* page) const;

Q_SIGNALS:
    void pageAttached(QWidget* page);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    friend class FloatingPage;
    void attach(QWidget* page, int index, const QIcon& icon, const QString& title);
    void showTabMenu(const QPoint& position);

    std::map<QWidget*, QPointer<FloatingPage>> m_floating;
};

// The window of one torn-off page; closing it returns the page to its tabs.
class FloatingPage : public QMainWindow {
    Q_OBJECT
public:
    FloatingPage(DetachableTabs* owner, QWidget* page, const QString& title, const QIcon& icon, int index);

    void returnToTabs();
    // Takes the look the page had in its tabs: every style sheet that reached it
    // there, outermost first, with the palette and font of the outermost window
    // (through the owners of torn-off windows in between). Called when the
    // window is made and again whenever the theme changes.
    void adoptLook();
    // Called when the user has finished moving the window: dropped over the
    // owner's tab bar, the page docks back.
    void moveEnded();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QPointer<DetachableTabs> m_owner;
    QPointer<QWidget> m_page;
    QString m_title;
    QIcon m_icon;
    int m_index;
    bool m_returned = false;
};

} // namespace vn
