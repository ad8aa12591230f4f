// The reply time of search_logs over HTTP against a root window whose session
// page received 100,000 log lines, searched with a three-part logical filter.

#include "bench/mcp/BenchClient.h"

#include "core/Channel.h"
#include "core/Config.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "ui/pages/Pane.h"
#include "ui/views/LogView.h"
#include "ui/window/Window.h"

#include <QApplication>
#include <QJsonArray>
#include <QMetaObject>
#include <QTemporaryDir>

#include <memory>
#include <thread>

using namespace vn::bench;

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir folder;
    vn::Engine engine;
    vn::McpServer server(&engine);
    if (!server.start(0))
        return 1;
    const quint16 port = server.serverPort();
    auto window = std::make_unique<vn::Window>(&engine, &server, folder.filePath(QStringLiteral("settings.json")), nullptr);

    vn::Config config;
    config.port = QStringLiteral("loop://");
    vn::Channel* channel = engine.open(config);
    vn::Pane* page = window->findPane(channel);
    if (!page) {
        page = window->pages.first();
        page->setChannel(channel);
    }

    // A device printing a mix of readings, warnings and errors; the page pulls
    // them as its ticks would.
    constexpr int Lines = 100000;
    for (int i = 0; i < Lines; ++i) {
        QByteArray line;
        switch (i % 4) {
        case 0: line = "sensor temperature=25." + QByteArray::number(i % 100) + " voltage=3.30 n=" + QByteArray::number(i); break;
        case 1: line = "sensor humidity=41 n=" + QByteArray::number(i); break;
        case 2: line = "warn voltage low n=" + QByteArray::number(i); break;
        default: line = "error code=" + QByteArray::number(i % 17) + " n=" + QByteArray::number(i); break;
        }
        channel->receive(line + "\r\n", QString());
        if (i % 500 == 499) {
            page->tick(true);
            QCoreApplication::processEvents();
        }
    }
    for (int i = 0; i < 10; ++i) {
        page->tick(true);
        QCoreApplication::processEvents();
    }
    // The lines the view holds, laid out or not (the window is not shown).
    const int documentLines = page->logView()->lines().size();

    const QString channelId = channel->id;
    const QString viewId = page->id;
    constexpr int Rounds = 100;
    std::vector<double> filtered;
    std::vector<double> paged;
    int failures = 0;
    int matches = 0;
    std::thread driver([&] {
        const QString session = initialize(port);
        for (int i = 0; i < Rounds; ++i) {
            // Alternating the case option makes every call re-filter the view.
            const QJsonObject filter{{"text", "temperature && voltage || error"}, {"logical", true},
                                     {"case_sensitive", i % 2 == 0}};
            auto started = Clock::now();
            QByteArray reply = exchange(port, toolCall("search_logs", {{"channel_id", channelId}, {"view_id", viewId},
                                                                       {"filter", filter}, {"limit", 200}}),
                                        session);
            filtered.push_back(millisecondsSince(started));
            const QJsonObject result = body(reply).value("result").toObject().value("structuredContent").toObject();
            matches = result.value("total_matches").toInt();
            if (result.value("rows").toArray().isEmpty())
                ++failures;
            started = Clock::now();
            reply = exchange(port, toolCall("search_logs", {{"channel_id", channelId}, {"view_id", viewId},
                                                            {"offset", 200}, {"limit", 200},
                                                            {"snapshot", result.value("snapshot")}}),
                             session);
            paged.push_back(millisecondsSince(started));
            if (body(reply).value("result").toObject().value("isError").toBool())
                ++failures;
        }
        QMetaObject::invokeMethod(&app, &QCoreApplication::quit, Qt::QueuedConnection);
    });
    app.exec();
    driver.join();

    std::printf("search_logs with a three-part filter over a page fed %d lines (%d lines kept, %d matching): "
                "p50 %.2f ms, p99 %.2f ms, max %.2f ms over %d rounds  (target < 50 ms)\n",
                Lines, documentLines, matches, percentile(filtered, 50), percentile(filtered, 99),
                percentile(filtered, 100), Rounds);
    std::printf("search_logs next page with the snapshot: p50 %.2f ms, p99 %.2f ms, max %.2f ms\n",
                percentile(paged, 50), percentile(paged, 99), percentile(paged, 100));
    if (failures > 0)
        std::printf("%d calls failed\n", failures);
    return failures > 0 ? 1 : 0;
}
