#include "ui/kit/DetachableTabs.h"

#include "ui/kit/MoveEndWatcher.h"
#include "ui/kit/TearTabBar.h"

#include <QCloseEvent>
#include <QCursor>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStatusBar>
#include <QStringList>
#include <QStyle>
#include <QTimer>

#include <algorithm>

namespace vn {

DetachableTabs::DetachableTabs(QWidget* parent)
    : QTabWidget(parent)
{
    auto* bar = new TearTabBar(this);
    setTabBar(bar);
    connect(this, &QTabWidget::currentChanged, this, [this](int index) {
        // The sheet squares the page's top-left corner under a selected first tab.
        setProperty("leadingTabSelected", index == 0);
        style()->unpolish(this);
        style()->polish(this);
        update();
    });
    connect(bar, &TearTabBar::tearRequested, this,
            [this](int index, const QPoint& globalPos) { detachPage(index, globalPos, true); });
    bar->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(bar, &QWidget::customContextMenuRequested, this, &DetachableTabs::showTabMenu);
}

void DetachableTabs::showTabMenu(const QPoint& position)
{
    const int index = tabBar()->tabAt(position);
    if (index < 0) {
        return;
    }
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QPointer<QWidget> page = widget(index);
    connect(menu->addAction(QStringLiteral("移至独立窗口")), &QAction::triggered, this, [this, page] {
        const int current = page ? indexOf(page) : -1;
        if (current >= 0) {
            detachPage(current, QCursor::pos(), false);
        }
    });
    menu->popup(tabBar()->mapToGlobal(position));
}

FloatingPage* DetachableTabs::detachPage(int index, const QPoint& globalPos, bool move)
{
    QWidget* page = widget(index);
    if (!page) {
        return nullptr;
    }
    const QString title = tabText(index);
    const QIcon tabIconAtIndex = tabIcon(index);
    removeTab(index);
    auto* window = new FloatingPage(this, page, title, tabIconAtIndex, index);
    m_floating[page] = window;
    window->move(globalPos - QPoint(100, 14));
    window->show();
    if (move) {
        beginNativeMove(window);
    }
    update();
    return window;
}

FloatingPage* DetachableTabs::floatingWindow(QWidget* page) const
{
    const auto found = m_floating.find(page);
    return found == m_floating.end() ? nullptr : found->second.data();
}

void DetachableTabs::activatePage(QWidget* page)
{
    if (FloatingPage* window = floatingWindow(page)) {
        window->showNormal();
        window->raise();
        window->activateWindow();
        return;
    }
    setCurrentWidget(page);
}

void DetachableTabs::restoreAll()
{
    QList<QPointer<FloatingPage>> windows;
    for (const auto& [page, window] : m_floating) {
        windows.append(window);
    }
    for (const QPointer<FloatingPage>& window : std::as_const(windows)) {
        if (window) {
            window->close();
        }
    }
    // The returned pages may hold tab widgets of their own.
    const QList<DetachableTabs*> nested = findChildren<DetachableTabs*>();
    for (DetachableTabs* tabs : nested) {
        tabs->restoreAll();
    }
}

void DetachableTabs::attach(QWidget* page, int index, const QIcon& icon, const QString& title)
{
    m_floating.erase(page);
    const int at = std::min(index, count());
    insertTab(at, page, icon, title);
    setCurrentWidget(page);
    update();
    Q_EMIT pageAttached(page);
}

void DetachableTabs::paintEvent(QPaintEvent* event)
{
    QTabWidget::paintEvent(event);
    if (count() > 0) {
        return;
    }
    const bool floating = std::any_of(m_floating.begin(), m_floating.end(),
                                      [](const auto& entry) { return !entry.second.isNull(); });
    if (!floating) {
        return;
    }
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::Mid));
    painter.drawText(QRect(QPoint(24, 60), QPoint(width() - 25, height() - 25)),
                     Qt::AlignCenter | Qt::TextWordWrap,
                     QStringLiteral("页面已移至独立窗口\n关闭独立窗口，或点击“返回标签栏”重新停靠"));
}

FloatingPage::FloatingPage(DetachableTabs* owner, QWidget* page, const QString& title, const QIcon& icon,
                           int index)
    : m_owner(owner)
    , m_page(page)
    , m_title(title)
    , m_icon(icon)
    , m_index(index)
{
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(title + QStringLiteral(" · Varnelle"));
    setWindowIcon(owner->window()->windowIcon());
    adoptLook();
    connect(owner, &QObject::destroyed, this, [this] {
        m_owner = nullptr;
        close();
    });
    setMinimumSize(320, 240);
    resize(900, 640);
    setCentralWidget(page);
    page->show();

    auto* back = new QPushButton(QStringLiteral("返回标签栏"));
    back->setToolTip(QStringLiteral("也可将窗口标题栏拖回原标签栏；关闭窗口会返回瓦内勒"));
    connect(back, &QPushButton::clicked, this, &FloatingPage::returnToTabs);
    statusBar()->addPermanentWidget(back);
    statusBar()->showMessage(QStringLiteral("拖动系统标题栏分屏  ·  Super + 方向键 选择布局"));

    auto* watcher = new MoveEndWatcher(this);
    watcher->setObjectName(QStringLiteral("moveEndWatcher"));
    connect(watcher, &MoveEndWatcher::moveEnded, this, &FloatingPage::moveEnded);
}

void FloatingPage::adoptLook()
{
    if (!m_owner)
        return;
    // A parentless window inherits no style sheet, so the page would fall back
    // to stock widgets: it takes over what cascaded onto it while docked. A
    // torn-off window on the way holds only a copy, so the walk goes on from
    // its owner instead.
    QStringList sheets;
    QWidget* outermost = m_owner;
    for (QWidget* widget = m_owner; widget;) {
        if (auto* floating = qobject_cast<FloatingPage*>(widget); floating && floating->m_owner) {
            widget = floating->m_owner;
            continue;
        }
        if (!widget->styleSheet().isEmpty())
            sheets.prepend(widget->styleSheet());
        outermost = widget;
        widget = widget->parentWidget();
    }
    const QString sheet = sheets.join(QLatin1Char('\n'));
    if (styleSheet() != sheet)
        setStyleSheet(sheet);
    setPalette(outermost->palette());
    setFont(outermost->font());
}

void FloatingPage::returnToTabs()
{
    close();
}

void FloatingPage::moveEnded()
{
    if (m_owner && cursorOver(m_owner->tabBar(), QCursor::pos())) {
        QTimer::singleShot(0, this, &FloatingPage::returnToTabs);
    }
}

void FloatingPage::closeEvent(QCloseEvent* event)
{
    if (!m_returned && m_owner && m_page) {
        m_returned = true;
        takeCentralWidget();
        m_owner->attach(m_page, m_index, m_icon, m_title);
    }
    event->accept();
}

} // namespace vn
