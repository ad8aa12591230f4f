#pragma once

#include "core/Channel.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "ui/pages/Pane.h"
#include "ui/window/Window.h"

#include <QApplication>
#include <QJsonArray>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

namespace vn::test {

// A real root window over its own engine, server and workspace file.
struct PageFixture {
    QTemporaryDir folder;
    Engine engine;
    McpServer server{&engine};
    std::unique_ptr<Window> window;

    PageFixture()
    {
        window = std::make_unique<Window>(&engine, &server, folder.filePath(QStringLiteral("settings.json")), nullptr);
        window->resize(1200, 800);
        window->show();
    }
    ~PageFixture() { window.reset(); }

    // Opens a channel; the window binds a page to it.
    Pane* open(const Config& config, Channel** opened = nullptr)
    {
        Channel* channel = engine.open(config);
        if (opened)
            *opened = channel;
        Pane* page = window->findPane(channel);
        if (!page) {
            page = window->current && !window->current->isControl() && !window->current->channel
                ? window->current
                : window->newConnection();
            page->setChannel(channel);
        }
        window->showPane(page);
        return page;
    }

    QString statusMessage() const { return window->statusBar()->currentMessage(); }
};

inline Config loopback()
{
    Config config;
    config.kind = QStringLiteral("serial");
    config.port = QStringLiteral("loop://");
    return config;
}

inline Config network(const QString& kind, int port, int bindPort)
{
    Config config;
    config.kind = kind;
    config.host = QStringLiteral("127.0.0.1");
    config.network_port = port;
    config.bind_host = QStringLiteral("127.0.0.1");
    config.bind_port = bindPort;
    return config;
}

// Runs `action` on the first top-level widget of type T with that object name
// once it shows (modal dialogs and menus run their own loop meanwhile).
template <typename T>
void whenShown(const QString& name, std::function<void(T*)> action)
{
    auto* poll = new QTimer;
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, name, action]() {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* found = qobject_cast<T*>(widget);
            if (found && found->isVisible() && found->objectName() == name) {
                poll->stop();
                poll->deleteLater();
                action(found);
                return;
            }
        }
    });
    poll->start();
}

} // namespace vn::test
