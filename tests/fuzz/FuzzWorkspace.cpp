// The workspace settings file as a root window reads it at start: the
// appearance rules, the session page's settings, the control pages of
// "widget_pages" and the older per-connection "instruments", "show_wave" and
// "parser" keys that become control pages, through the real Window over its
// own engine and an MCP server that never listens. After the restore every
// page ticks once, and the window saves. Checked: the saved file is a JSON
// object; a window started from it saves the same JSON again (one round
// reaches the fixed point); a control page torn off into its own window is
// still written, in its place; migrateInstrumentPages applied twice equals
// applied once.
//
// The reader takes any number of pages; the harness lets through files that
// ask for at most MostPages control pages, so one input stays well under a
// second. Background pictures are read beside the settings file or from the
// program's resources only: other paths are passed over, as they would read
// outside the temporary folder.

#include "core/Config.h"
#include "core/Engine.h"
#include "mcp/McpServer.h"
#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/FuzzWidgets.h"
#include "ui/pages/PageMigration.h"
#include "ui/pages/Pane.h"
#include "ui/window/Window.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <algorithm>
#include <map>
#include <memory>

namespace {

constexpr qsizetype MostPages = 6;

// The control pages a start makes of the file: the migrated "widget_pages"
// or, in a file without them, those of every connection's older keys, which
// make each kind of page once for a connection however often it is named.
qsizetype pagesAsked(const QJsonObject& file)
{
    if (file.contains(QStringLiteral("widget_pages")))
        return vn::migrateInstrumentPages(file.value(QStringLiteral("widget_pages")).toArray()).size();
    std::map<QString, std::map<QString, qsizetype>> made; // connection key -> kind -> pages
    const auto legacy = [&made](const QJsonObject& page, const QString& key) {
        QJsonArray wanted = page.value(QStringLiteral("instruments")).toArray();
        if (!page.contains(QStringLiteral("instruments")) && page.value(QStringLiteral("show_wave")).toBool())
            wanted.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("waveform")}});
        const int parser = page.value(QStringLiteral("parser")).toInt(0);
        const bool structured = std::any_of(wanted.begin(), wanted.end(), [](const QJsonValue& entry) {
            return entry.toObject().value(QStringLiteral("kind")) == QJsonValue(QStringLiteral("structured"));
        });
        if (parser != 0 && !structured)
            wanted.append(QJsonObject{{QStringLiteral("kind"), QStringLiteral("structured")},
                                      {QStringLiteral("parser"), parser - 1}});
        for (qsizetype index = 0; index < wanted.size(); ++index) {
            QJsonObject entry = wanted.at(index).toObject();
            entry.insert(QStringLiteral("source_key"), key);
            wanted.replace(index, entry);
        }
        std::map<QString, qsizetype> kinds;
        for (const QJsonValue& entry : vn::migrateInstrumentPages(wanted))
            ++kinds[entry.toObject().value(QStringLiteral("kind")).toString()];
        for (const auto& [kind, count] : kinds)
            made[key][kind] = std::max(made[key][kind], count);
    };
    legacy(file.value(QStringLiteral("appearance")).toObject(),
           vn::Config::fromJson(file.value(QStringLiteral("connection")).toObject()).key());
    const QJsonObject views = file.value(QStringLiteral("views")).toObject();
    for (auto it = views.begin(); it != views.end(); ++it)
        legacy(it.value().toObject(), it.key());
    qsizetype count = 0;
    for (const auto& [key, kinds] : made) {
        for (const auto& [kind, pages] : kinds)
            count += pages;
    }
    return count;
}

bool readsInsideFolder(const QJsonObject& appearance)
{
    for (const char* key : {"window_background", "receive_background"}) {
        const QString file = appearance.value(QLatin1String(key)).toObject().value(QStringLiteral("file")).toString();
        if (file.isEmpty() || file.startsWith(QLatin1Char(':')))
            continue;
        if (QDir::isAbsolutePath(file) || QDir::cleanPath(file).startsWith(QLatin1String("..")))
            return false;
    }
    return true;
}

// A file that is not a JSON object reads as an empty one, which the seed "{}"
// covers; starting two windows for each such mutation would only slow the run.
bool admitted(const QByteArray& bytes)
{
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject())
        return false;
    const QJsonObject file = document.object();
    return pagesAsked(file) <= MostPages && readsInsideFolder(file.value(QStringLiteral("appearance")).toObject());
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        vn::fuzz::broken("the settings file could not be laid down");
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonObject parsedObject(const QByteArray& bytes, const char* what)
{
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        std::fprintf(stderr, "%s: %s\n", what, qPrintable(error.errorString()));
        vn::fuzz::broken("a saved workspace file is not a JSON object");
    }
    return document.object();
}

// What identifies a control page in the file, in file order.
QJsonArray pageIdentities(const QJsonObject& file)
{
    QJsonArray out;
    for (const QJsonValue& value : file.value(QStringLiteral("widget_pages")).toArray()) {
        const QJsonObject page = value.toObject();
        out.append(QJsonObject{{QStringLiteral("kind"), page.value(QStringLiteral("kind"))},
                               {QStringLiteral("source_key"), page.value(QStringLiteral("source_key"))},
                               {QStringLiteral("title"), page.value(QStringLiteral("title"))}});
    }
    return out;
}

struct Started {
    QByteArray saved;     // what the window wrote after its restore
    QByteArray tornSaved; // the same window with its last control page torn off; empty without one
};

// Starts a root window on the file at `path` as start-up does, lets every page
// tick once, saves; then, when asked, tears the last control page off into a
// window of its own and saves through that window.
Started start(const QString& path, bool tearOff)
{
    Started result;
    vn::Engine engine;
    vn::McpServer server(&engine);
    {
        auto window = std::make_unique<vn::Window>(&engine, &server, path, nullptr);
        QCoreApplication::processEvents();
        for (vn::Pane* page : std::as_const(window->pages))
            page->tick(true);
        window->updateStatus();
        window->saveSettings();
        result.saved = readFile(path);

        int last = -1;
        for (int index = 0; index < window->pages.size(); ++index) {
            if (window->pages.at(index)->isControl())
                last = index;
        }
        if (tearOff && last >= 0) {
            // As the tab bar's tear-off does, less the showing and the system move.
            vn::Pane* page = window->pages.at(last);
            auto* torn = new vn::Window(&engine, &server, path, window.get());
            window->transferPane(page, torn);
            if (!torn->pages.contains(page))
                vn::fuzz::broken("a torn-off window does not hold the page torn off");
            torn->saveSettings();
            result.tornSaved = readFile(path);
        }
    }
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vn::fuzz::ensureWidgets();
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    if (!admitted(bytes))
        return 0;

    const QJsonObject input = QJsonDocument::fromJson(bytes).object();
    const QJsonArray stored = input.value(QStringLiteral("widget_pages")).toArray();
    const QJsonArray once = vn::migrateInstrumentPages(stored);
    if (vn::migrateInstrumentPages(once) != once)
        vn::fuzz::broken("migrating control pages twice differs from once");
    for (const QJsonValue& view : input.value(QStringLiteral("views")).toObject()) {
        const QJsonArray instruments = view.toObject().value(QStringLiteral("instruments")).toArray();
        const QJsonArray legacy = vn::migrateInstrumentPages(instruments);
        if (vn::migrateInstrumentPages(legacy) != legacy)
            vn::fuzz::broken("migrating a connection's instruments twice differs from once");
    }

    QTemporaryDir folder;
    if (!folder.isValid())
        return 0;
    const QString path = folder.filePath(QStringLiteral("settings.json"));
    writeFile(path, bytes);

    const Started first = start(path, false);
    vn::fuzz::show(first.saved);
    const QJsonObject saved = parsedObject(first.saved, "first save");
    const QJsonArray savedPages = saved.value(QStringLiteral("widget_pages")).toArray();
    if (vn::migrateInstrumentPages(savedPages) != savedPages)
        vn::fuzz::broken("a saved control page is not in its current form");

    // A third window costs nearly as much as another start, so only every
    // fourth input length tears a page off; the fuzzer reaches it by growing or
    // cutting the file.
    const Started second = start(path, bytes.size() % 4 == 0);
    const QJsonObject again = parsedObject(second.saved, "second save");
    if (again != saved) {
        for (const QString& key : saved.keys()) {
            if (again.value(key) != saved.value(key))
                std::fprintf(stderr, "differs: %s\n", qPrintable(key));
        }
        vn::fuzz::show(second.saved);
        vn::fuzz::broken("a window started from a saved file saves something else");
    }
    if (!second.tornSaved.isEmpty()
        && pageIdentities(parsedObject(second.tornSaved, "save with a page torn off")) != pageIdentities(saved))
        vn::fuzz::broken("a control page torn off is not written in its place");
    return 0;
}
