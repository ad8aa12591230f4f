#include "tests/app/PrivateDesktop.h"
#include "tests/app/ProgramRun.h"
#include "tests/mcp/HttpClient.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QStandardPaths>
#include <QTest>

#include <algorithm>
#include <optional>

using namespace vn::test;

namespace {

// One widget as the probe inside the program last saw it on the screen.
struct Seen {
    QJsonObject entry;

    QString name() const { return entry.value(QStringLiteral("name")).toString(); }
    QString text() const { return entry.value(QStringLiteral("text")).toString(); }
    bool checked() const { return entry.value(QStringLiteral("checked")).toBool(); }
    QRect rect() const { return rectOf(entry); }
    QPoint centre() const { return rect().center(); }

    static QRect rectOf(const QJsonObject& object)
    {
        const QJsonArray r = object.value(QStringLiteral("rect")).toArray();
        return QRect(r.at(0).toInt(), r.at(1).toInt(), r.at(2).toInt(), r.at(3).toInt());
    }
};

using Match = std::function<bool(const Seen&)>;

Match named(const QString& name)
{
    return [name](const Seen& seen) { return seen.name() == name; };
}

Match inside(const QString& ancestor, const QString& className)
{
    return [=](const Seen& seen) {
        return seen.entry.value(QStringLiteral("class")).toString() == className
               && seen.entry.value(QStringLiteral("path")).toString().split(QLatin1Char('/')).contains(ancestor);
    };
}

Match button(const QString& name, const QString& text)
{
    return [=](const Seen& seen) { return seen.name() == name && seen.text() == text; };
}

Match ofClass(const QString& className)
{
    return [=](const Seen& seen) { return seen.entry.value(QStringLiteral("class")).toString() == className; };
}

// How many pixels of the area differ between two pictures of the screen,
// leaving out what lies under the covers.
int changedPixels(const QImage& before, const QImage& after, const QRect& area, const QList<QRect>& covers)
{
    int changed = 0;
    const QRect common = area.intersected(before.rect()).intersected(after.rect());
    for (int y = common.top(); y <= common.bottom(); ++y) {
        for (int x = common.left(); x <= common.right(); ++x) {
            const QPoint at(x, y);
            const bool covered =
                std::any_of(covers.begin(), covers.end(), [at](const QRect& cover) { return cover.contains(at); });
            if (!covered && before.pixel(at) != after.pixel(at))
                ++changed;
        }
    }
    return changed;
}

// A blank screen (no window drawn) shows no more than a handful of colours.
bool blank(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 7) {
        for (int x = 0; x < image.width(); x += 7) {
            colours.insert(image.pixel(x, y));
            if (colours.size() > 16)
                return false;
        }
    }
    return true;
}

} // namespace

// A user walks through the built program on a private X display with a real
// mouse and keyboard. Widgets are found by object name through the probe the
// program loads; each step is checked from outside (the program's MCP server,
// its saved workspace, the screen) and leaves a picture of the screen.
class UserWalkProcessTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void walk();

private:
    // The program as the user starts it, on the private display.
    std::unique_ptr<Owned> start();
    // Every visible widget the probe reported last; empty before its first report.
    QList<Seen> widgets() const;
    std::optional<Seen> find(const Match& match) const;
    // Waits for a widget the user can see, then its latest state; none when it
    // did not show up (the screen and the widgets seen are left for the reader).
    std::optional<Seen> await(const Match& match, const char* what, int ms = 20000);
    bool clickOn(const Match& match, const char* what);
    // The step's picture, saved under its name; a null image when it could not
    // be taken or saved, or is blank.
    QImage shot(const QString& name);
    QJsonObject tool(const QString& name, const QJsonObject& arguments = {});
    QJsonObject connectionOn(const QString& port);
    // The lines the page's log shows, as its search view reports them.
    QJsonArray logLines(const QString& channel);

    std::unique_ptr<ProgramHome> home;
    std::unique_ptr<Desktop> desktop;
    QString settings;
    QString probe;
    QString shots;
    quint16 port = 0;
    QString session;
};

void UserWalkProcessTest::initTestCase()
{
    for (const char* name : {"Xvfb", "openbox", "xdotool"}) {
        if (QStandardPaths::findExecutable(QString::fromLatin1(name)).isEmpty())
            QSKIP(qPrintable(QStringLiteral("%1 is not installed").arg(QString::fromLatin1(name))));
    }
    shots = qEnvironmentVariable("VN_WALK_SHOTS");
    if (shots.isEmpty())
        shots = QStringLiteral(VN_BINARY_DIR "/walk-shots");
    QVERIFY(QDir().mkpath(shots));
    for (const QString& old : QDir(shots).entryList({QStringLiteral("*.png")}, QDir::Files))
        QFile::remove(shots + QLatin1Char('/') + old);
    qInfo("screenshots of the walk: %s", qPrintable(QDir(shots).absolutePath()));
}

std::unique_ptr<Owned> UserWalkProcessTest::start()
{
    QProcessEnvironment environment = desktop->environment;
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    environment.insert(QStringLiteral("PATH"), home->bin());
    environment.insert(QStringLiteral("QT_PLUGIN_PATH"), QStringLiteral(VN_PROBE_PLUGINS));
    environment.insert(QStringLiteral("QT_QPA_GENERIC_PLUGINS"), QStringLiteral("vnwidgetprobe"));
    environment.insert(QStringLiteral("VN_WIDGET_PROBE"), probe);
    QFile::remove(probe);
    const QString ready = home->path(QStringLiteral("ready.json"));
    QFile::remove(ready);
    auto program = std::make_unique<Owned>(
        programPath(), QStringList{QStringLiteral("--settings"), settings, QStringLiteral("--ready-file"), ready},
        environment, home->home());
    if (!waitFor([&]() { return QFile::exists(ready) || (**program).state() != QProcess::Running; }, 90000)
        || !QFile::exists(ready))
        return program;
    QStringList roots;
    waitFor([&]() { return !(roots = desktop->windows(QStringLiteral("^Varnelle"))).isEmpty(); });
    if (!roots.isEmpty())
        desktop->xdo({QStringLiteral("windowactivate"), QStringLiteral("--sync"), roots.first()});
    return program;
}

QList<Seen> UserWalkProcessTest::widgets() const
{
    const QJsonArray all = QJsonDocument::fromJson(readFile(probe)).array();
    QList<Seen> seen;
    for (const QJsonValue& value : all)
        seen.append(Seen{value.toObject()});
    return seen;
}

std::optional<Seen> UserWalkProcessTest::find(const Match& match) const
{
    for (const Seen& seen : widgets()) {
        if (match(seen) && !seen.rect().isEmpty())
            return seen;
    }
    return std::nullopt;
}

std::optional<Seen> UserWalkProcessTest::await(const Match& match, const char* what, int ms)
{
    std::optional<Seen> found;
    if (waitFor([&]() { return (found = find(match)).has_value(); }, ms))
        return found;
    qWarning("not on the screen: %s", what);
    desktop->screen().save(shots + QStringLiteral("/failed.png"));
    for (const Seen& seen : widgets()) {
        if (!seen.name().isEmpty())
            qInfo("%s", QJsonDocument(seen.entry).toJson(QJsonDocument::Compact).constData());
    }
    return std::nullopt;
}

bool UserWalkProcessTest::clickOn(const Match& match, const char* what)
{
    const std::optional<Seen> target = await(match, what);
    if (target)
        desktop->click(target->centre());
    return target.has_value();
}

QImage UserWalkProcessTest::shot(const QString& name)
{
    const QImage image = desktop->screen();
    const QString file = shots + QLatin1Char('/') + name + QStringLiteral(".png");
    if (image.isNull() || blank(image) || !image.save(file)) {
        qWarning("no picture for %s", qPrintable(name));
        return {};
    }
    // What was written reads back as the same, non-blank picture.
    const QImage saved(file);
    if (saved.size() != image.size() || blank(saved)) {
        qWarning("the picture %s did not save", qPrintable(file));
        return {};
    }
    return image;
}

QJsonObject UserWalkProcessTest::tool(const QString& name, const QJsonObject& arguments)
{
    if (session.isEmpty())
        session = initialize(port);
    const QJsonObject result = callTool(port, session, name, arguments).value(QStringLiteral("result")).toObject();
    return result.value(QStringLiteral("structuredContent")).toObject();
}

QJsonObject UserWalkProcessTest::connectionOn(const QString& portName)
{
    const QJsonArray connections = tool(QStringLiteral("get_status")).value(QStringLiteral("connections")).toArray();
    for (const QJsonValue& value : connections) {
        const QJsonObject connection = value.toObject();
        if (connection.value(QStringLiteral("config")).toObject().value(QStringLiteral("port")).toString()
            == portName)
            return connection;
    }
    return {};
}

QJsonArray UserWalkProcessTest::logLines(const QString& channel)
{
    const QJsonArray views = tool(QStringLiteral("list_search_views"), {{QStringLiteral("channel_id"), channel}})
                                 .value(QStringLiteral("views"))
                                 .toArray();
    if (views.isEmpty())
        return {};
    const QString view = views.first().toObject().value(QStringLiteral("view_id")).toString();
    // No filter: a filter given here would also be typed into the page's search box.
    return tool(QStringLiteral("search_logs"), {{QStringLiteral("channel_id"), channel}, {QStringLiteral("view_id"), view}})
        .value(QStringLiteral("rows"))
        .toArray();
}

void UserWalkProcessTest::walk()
{
    home = std::make_unique<ProgramHome>();
    desktop = std::make_unique<Desktop>(*home);
    QVERIFY2(desktop->ready, "the X server or the window manager did not start");
    port = freeTcpPort();
    settings = home->workspace(QStringLiteral("settings.json"), port);
    probe = home->path(QStringLiteral("widgets.json"));

    // Started with a fresh workspace, the window shows its connection form.
    std::unique_ptr<Owned> program = start();
    QVERIFY2((**program).state() == QProcess::Running, (**program).readAllStandardError().constData());
    const Match portBox = inside(QStringLiteral("serialPort"), QStringLiteral("QLineEdit"));
    QVERIFY(await(portBox, "the port box"));
    QVERIFY(connectionOn(QStringLiteral("loop://")).isEmpty());
    QVERIFY(!shot(QStringLiteral("01-start")).isNull());

    // The loopback port typed into the sidebar at a hand's pace (the port list
    // refreshes twice a second meanwhile) and opened with the connect button.
    constexpr int typingPace = 180;
    QVERIFY(clickOn(portBox, "the port box"));
    desktop->key(QStringLiteral("ctrl+a"));
    desktop->type(QStringLiteral("loop://"), typingPace);
    QString typed;
    QVERIFY2(waitFor([&]() { return (typed = find(portBox).value_or(Seen{}).text()) == QLatin1String("loop://"); }),
             qPrintable(typed));
    QVERIFY(clickOn(button(QStringLiteral("primary"), QStringLiteral("建立连接")), "the connect button"));
    QJsonObject loop;
    QVERIFY2(waitFor([&]() {
                 loop = connectionOn(QStringLiteral("loop://"));
                 return loop.value(QStringLiteral("state")) == QLatin1String("connected");
             }),
             QJsonDocument(tool(QStringLiteral("get_status"))).toJson().constData());
    const QString channel = loop.value(QStringLiteral("id")).toString();
    QVERIFY(!shot(QStringLiteral("02-connected")).isNull());

    // A text packet typed into the send box comes back on the loop and shows in the log.
    const Match sendBox = inside(QStringLiteral("sender"), QStringLiteral("QPlainTextEdit"));
    const Match sendButton = button(QStringLiteral("primary"), QStringLiteral("发送"));
    QVERIFY(clickOn(sendBox, "the send box"));
    desktop->type(QStringLiteral("hello walk"));
    QVERIFY(waitFor([&]() { return find(sendBox).value_or(Seen{}).text() == QLatin1String("hello walk"); }));
    QVERIFY(clickOn(sendButton, "the send button"));
    QJsonArray rows;
    QVERIFY2(waitFor([&]() {
                 rows = logLines(channel);
                 return QJsonDocument(rows).toJson().contains("hello walk");
             }),
             QJsonDocument(rows).toJson().constData());
    QVERIFY(!shot(QStringLiteral("03-text-sent")).isNull());

    // HEX switched on, a HEX packet is sent as those bytes.
    QVERIFY(clickOn(named(QStringLiteral("sendHex")), "the HEX switch"));
    QVERIFY(waitFor([&]() { return find(named(QStringLiteral("sendHex"))).value_or(Seen{}).checked(); }));
    QVERIFY(clickOn(sendBox, "the send box"));
    desktop->key(QStringLiteral("ctrl+a"));
    desktop->key(QStringLiteral("BackSpace"));
    desktop->type(QStringLiteral("56 4E 0D 0A"));
    QVERIFY(clickOn(sendButton, "the send button"));
    QJsonArray events;
    QVERIFY2(waitFor([&]() {
                 events = tool(QStringLiteral("read_events"), {{QStringLiteral("channel_id"), channel}})
                              .value(QStringLiteral("events"))
                              .toArray();
                 return QJsonDocument(events).toJson().contains("\"hex\": \"56 4e 0d 0a");
             }),
             QJsonDocument(events).toJson().constData());
    QVERIFY2(waitFor([&]() {
                 rows = logLines(channel);
                 return QJsonDocument(rows).toJson().contains("VN");
             }),
             QJsonDocument(rows).toJson().constData());
    QVERIFY(!shot(QStringLiteral("04-hex-sent")).isNull());
    QVERIFY(clickOn(named(QStringLiteral("sendHex")), "the HEX switch"));
    QVERIFY(waitFor([&]() { return !find(named(QStringLiteral("sendHex"))).value_or(Seen{}).checked(); }));

    // The log gives way to the terminal.
    QVERIFY(clickOn(named(QStringLiteral("terminalMode")), "the terminal switch"));
    QVERIFY(waitFor([&]() { return find(named(QStringLiteral("terminalMode"))).value_or(Seen{}).checked(); }));
    QVERIFY(!shot(QStringLiteral("05-terminal")).isNull());

    // A waveform page from the new-page menu draws the "@wave" lines sent on the loop.
    QVERIFY(clickOn(named(QStringLiteral("newPage")), "the new-page button"));
    const auto action = [this](const QString& name) -> std::optional<QRect> {
        for (const Seen& seen : widgets()) {
            for (const QJsonValue& each : seen.entry.value(QStringLiteral("actions")).toArray()) {
                // A submenu's own name sits on the menu, so its entry goes by its text.
                if (each.toObject().value(QStringLiteral("name")).toString() == name
                    || each.toObject().value(QStringLiteral("text")).toString() == name)
                    return Seen::rectOf(each.toObject());
            }
        }
        return std::nullopt;
    };
    std::optional<QRect> item;
    QVERIFY(waitFor([&]() { return (item = action(QStringLiteral("新建控件页面"))).has_value(); }));
    desktop->click(item->center());
    QVERIFY(waitFor([&]() { return (item = action(QStringLiteral("new_waveform"))).has_value(); }));
    desktop->click(item->center());
    const Match plot = ofClass(QStringLiteral("vn::WavePlot"));
    const std::optional<Seen> plotted = await(plot, "the waveform plot");
    QVERIFY(plotted);
    const QRect plotArea = plotted->rect();
    const Match tabBar = named(QStringLiteral("connectionTabs"));
    const auto tabs = [&]() { return find(tabBar).value_or(Seen{}).entry.value(QStringLiteral("tabs")).toArray(); };
    QJsonArray shownTabs;
    QVERIFY(waitFor([&]() { return (shownTabs = tabs()).size() == 2; }));
    QString waveTab;
    for (const QJsonValue& tab : shownTabs) {
        if (tab.toObject().value(QStringLiteral("current")).toBool())
            waveTab = tab.toObject().value(QStringLiteral("text")).toString();
    }
    QVERIFY2(!waveTab.isEmpty() && waveTab != QLatin1String("loop://"), qPrintable(waveTab));
    const QRect emptyToast = find(named(QStringLiteral("aiToast"))).value_or(Seen{}).rect();
    const QImage empty = shot(QStringLiteral("06-waveform-empty"));
    QVERIFY(!empty.isNull());
    const auto clickTab = [&](const QString& text) {
        for (const QJsonValue& tab : tabs()) {
            if (tab.toObject().value(QStringLiteral("text")).toString() == text)
                desktop->click(Seen::rectOf(tab.toObject()).center());
        }
        return waitFor([&]() {
            for (const QJsonValue& tab : tabs()) {
                if (tab.toObject().value(QStringLiteral("text")).toString() == text)
                    return tab.toObject().value(QStringLiteral("current")).toBool();
            }
            return false;
        });
    };
    QVERIFY(clickTab(QStringLiteral("loop://")));
    // The page is in terminal mode now: the lines are typed into the terminal,
    // each key going out as the user strikes it.
    QVERIFY(clickOn(ofClass(QStringLiteral("vn::TerminalView")), "the terminal"));
    desktop->type(QStringLiteral("@wave walk=1\n@wave walk=8\n@wave walk=3\n@wave walk=9\n@wave walk=2\n"));
    QJsonObject wave;
    QVERIFY2(waitFor([&]() {
                 wave = tool(QStringLiteral("read_waveform"), {{QStringLiteral("channel_id"), channel}});
                 return wave.value(QStringLiteral("sources")).toObject().value(QStringLiteral("default")).toObject()
                            .value(QStringLiteral("total_samples")).toInt() == 5;
             }),
             QJsonDocument(wave).toJson().constData());
    QVERIFY(clickTab(waveTab));
    // The legend names the new curve, and the plot area is no longer the empty one.
    const Match legend = [](const Seen& seen) {
        return seen.name() == QLatin1String("waveChannel") && seen.text().contains(QLatin1String("walk"));
    };
    QVERIFY(await(legend, "the curve's legend"));
    // The notes the program shows for each MCP call come and go over the page; they are no curve.
    QList<QRect> toasts{emptyToast};
    int changed = 0;
    QVERIFY2(waitFor([&]() {
                 toasts.append(find(named(QStringLiteral("aiToast"))).value_or(Seen{}).rect());
                 return (changed = changedPixels(empty, desktop->screen(), plotArea, toasts)) > 200;
             }),
             qPrintable(QStringLiteral("%1 pixels changed in the plot").arg(changed)));
    QVERIFY(!shot(QStringLiteral("07-waveform-drawn")).isNull());

    // The settings dialog opens from the rail and closes with Escape.
    QVERIFY(clickOn(named(QStringLiteral("settingsButton")), "the settings button"));
    QVERIFY(await(named(QStringLiteral("settingsDialog")), "the settings dialog"));
    QVERIFY(!desktop->windows(QStringLiteral("^设置$")).isEmpty());
    QVERIFY(!shot(QStringLiteral("08-settings")).isNull());
    desktop->key(QStringLiteral("Escape"));
    QVERIFY(waitFor([&]() { return !find(named(QStringLiteral("settingsDialog"))).has_value(); }));

    // Closed from the window manager, the program ends by itself and has saved its workspace.
    const QStringList roots = desktop->windows(QStringLiteral("^Varnelle"));
    QVERIFY(!roots.isEmpty());
    desktop->xdo({QStringLiteral("windowactivate"), QStringLiteral("--sync"), roots.first()});
    QVERIFY(!shot(QStringLiteral("09-settings-closed")).isNull());
    desktop->key(QStringLiteral("alt+F4"));
    QVERIFY2(waitFor([&]() { return (**program).state() == QProcess::NotRunning; }, 60000),
             "the closed window left the program running");
    QCOMPARE((**program).exitStatus(), QProcess::NormalExit);
    QVERIFY2((**program).exitCode() == 0, (**program).readAllStandardError().right(4000).constData());
    const QJsonObject saved = QJsonDocument::fromJson(readFile(settings)).object();
    const QJsonObject loopView =
        saved.value(QStringLiteral("views")).toObject().value(QStringLiteral("serial:loop://")).toObject();
    QVERIFY2(loopView.value(QStringLiteral("terminal_mode")).toBool(), readFile(settings).constData());
    const QJsonArray controlPages = saved.value(QStringLiteral("widget_pages")).toArray();
    QCOMPARE(controlPages.size(), 1);
    QCOMPARE(controlPages.first().toObject().value(QStringLiteral("kind")).toString(), QStringLiteral("waveform"));
    QCOMPARE(controlPages.first().toObject().value(QStringLiteral("source_key")).toString(),
             QStringLiteral("serial:loop://"));

    // Started again on the same workspace (and the MCP port it recorded), the
    // waveform page is back; a saved loopback port is never reopened by itself.
    port = quint16(saved.value(QStringLiteral("mcp_port")).toInt());
    session.clear();
    program = start();
    QVERIFY2((**program).state() == QProcess::Running, (**program).readAllStandardError().constData());
    QVERIFY(waitFor([&]() { return (shownTabs = tabs()).size() == 2; }));
    QVERIFY2(shownTabs.at(1).toObject().value(QStringLiteral("text")).toString() == waveTab,
             QJsonDocument(shownTabs).toJson().constData());
    QVERIFY(waitFor([&]() { return find(portBox).value_or(Seen{}).text() == QLatin1String("NULL"); }));
    QVERIFY(connectionOn(QStringLiteral("loop://")).isEmpty());
    QVERIFY(!shot(QStringLiteral("10-restored")).isNull());

    // Opened again, the loop page comes back as it was left: in terminal mode,
    // and the restored waveform page draws from it.
    QVERIFY(clickOn(portBox, "the port box"));
    desktop->key(QStringLiteral("ctrl+a"));
    desktop->type(QStringLiteral("loop://"), typingPace);
    QVERIFY2(waitFor([&]() { return (typed = find(portBox).value_or(Seen{}).text()) == QLatin1String("loop://"); }),
             qPrintable(typed));
    QVERIFY(clickOn(button(QStringLiteral("primary"), QStringLiteral("建立连接")), "the connect button"));
    QVERIFY(waitFor([&]() {
        return connectionOn(QStringLiteral("loop://")).value(QStringLiteral("state")) == QLatin1String("connected");
    }));
    QVERIFY(waitFor([&]() { return find(named(QStringLiteral("terminalMode"))).value_or(Seen{}).checked(); }));
    QVERIFY(find(tabBar).has_value());
    QVERIFY(clickTab(waveTab));
    const std::optional<Seen> source = await(named(QStringLiteral("instrumentSource")), "the waveform's source");
    QVERIFY(source);
    QVERIFY2(source->text().startsWith(QLatin1String("loop://")), qPrintable(source->text()));
    QVERIFY(!shot(QStringLiteral("11-reopened")).isNull());

    desktop->key(QStringLiteral("alt+F4"));
    QVERIFY(waitFor([&]() { return (**program).state() == QProcess::NotRunning; }, 60000));
    QCOMPARE((**program).exitStatus(), QProcess::NormalExit);
    QVERIFY2((**program).exitCode() == 0, (**program).readAllStandardError().right(4000).constData());
}

QTEST_GUILESS_MAIN(UserWalkProcessTest)
#include "UserWalkProcessTest.moc"
