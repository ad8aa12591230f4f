#pragma once

#include <QApplication>
#include <QDialogButtonBox>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QVariant>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <map>

namespace vn::test {

// Answers modal windows that a call under test opens with its own event loop:
// a timer on the test's loop (and on every nested one) looks for a visible
// window by object name and hands it, once, to the handler given for that
// name. What it saw is kept in `seen` (object names in order) and `texts`
// (a message box's text, a dialog's title).
class DialogDriver : public QObject {
public:
    using Handler = std::function<void(QWidget*)>;

    DialogDriver()
    {
        m_timer.setInterval(5);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
        m_timer.start();
    }

    void on(const QString& objectName, Handler handler) { m_handlers[objectName] = std::move(handler); }

    // Presses the message box's only (OK) button.
    static void acknowledge(QWidget* window)
    {
        auto* box = qobject_cast<QMessageBox*>(window);
        QVERIFY(box);
        QTest::mouseClick(box->button(QMessageBox::Ok), Qt::LeftButton);
    }

    // The button of a dialog's button box that plays the role.
    static QPushButton* button(QWidget* dialog, QDialogButtonBox::StandardButton which)
    {
        auto* box = dialog->findChild<QDialogButtonBox*>();
        return box ? box->button(which) : nullptr;
    }

    QStringList seen;
    QStringList texts;

private:
    void poll()
    {
        const QWidgetList windows = QApplication::topLevelWidgets();
        for (QWidget* window : windows) {
            if (!window->isVisible() || window->property("vnDriven").toBool())
                continue;
            const auto handler = m_handlers.find(window->objectName());
            if (handler == m_handlers.end())
                continue;
            window->setProperty("vnDriven", true);
            seen << window->objectName();
            auto* box = qobject_cast<QMessageBox*>(window);
            texts << (box ? box->text() : window->windowTitle());
            // Off this timer's turn, so a handler may start a nested loop.
            QTimer::singleShot(0, this, [run = handler->second, target = QPointer<QWidget>(window)] {
                if (target)
                    run(target);
            });
        }
    }

    QTimer m_timer;
    std::map<QString, Handler> m_handlers;
};

} // namespace vn::test
