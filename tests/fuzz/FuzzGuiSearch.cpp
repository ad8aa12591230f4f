// The MCP GUI bridge's search tools, searchGui, with any JSON object as the
// agent's arguments, over a root window shared by the whole run: a loopback
// session page whose log holds a fixed set of lines (short, Chinese, a few
// longer lines of words, one past the row cut), a JSON record page and a control page's serial monitor, all
// bound to the same channel. Checked: a call either refuses with a message and
// leaves every view's filter as it was, or answers a JSON object; a listing
// names each view once with its filter; a search answers no more rows than
// the arguments' limit (or 200) from their offset on, each row within the
// row cut, the page within its byte cap, with a consistent next offset,
// "has_more" and snapshot, and the view's filter as it now stands. A call
// that backtracks for long stays bounded by the tool's own trial of the
// agent's filter (libFuzzer's time-out catches one that does not).
//
// The first byte chooses which view's id replaces "view_id" (none, the log,
// the records, the monitor) and whether a "snapshot" is replaced by the
// view's current one; the rest is the arguments' JSON text. Every call starts
// with every filter cleared, so an input gives the same answer each time.

#include "core/Channel.h"
#include "tests/fuzz/FuzzDesk.h"
#include "tests/fuzz/FuzzSupport.h"
#include "ui/controls/SerialControlPanel.h"
#include "ui/controls/SerialMonitorDialog.h"
#include "ui/pages/Instrument.h"
#include "ui/pages/Pane.h"
#include "ui/views/FilterBox.h"
#include "ui/window/GuiSearch.h"

#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QLayout>
#include <QRegularExpression>

#include <cmath>
#include <stdexcept>

namespace {

constexpr qsizetype MaxRowText = 32768;
constexpr qsizetype MaxPageBytes = 524288;

struct Scene {
    vn::Channel* channel = nullptr;
    QString ids[3];   // log, records, monitor
};

vn::Instrument* controlPage(vn::Window& window, vn::Channel* channel, const QString& kind)
{
    vn::Pane* control = window.newInstrument(kind, nullptr, false, QString());
    if (!control)
        vn::fuzz::broken("no control page of that kind");
    vn::Instrument* instrument = control->instrument();
    if (!instrument) {
        instrument = new vn::Instrument(control, kind, control);
        control->layout()->addWidget(instrument);
    }
    control->setChannel(channel);
    instrument->bind(channel);
    return instrument;
}

Scene& scene()
{
    static Scene made = [] {
        vn::fuzz::Desk& desk = vn::fuzz::desk();
        Scene s;
        vn::Config config;
        config.port = QStringLiteral("loop://");
        s.channel = desk.engine.open(config);
        const QDeadlineTimer deadline(5000);
        while (s.channel->state != QLatin1String("connected") && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        vn::Pane* page = desk.window.findPane(s.channel);
        if (!page) {
            page = desk.window.pages.first();
            page->setChannel(s.channel);
        }
        page->tick(true);
        page->clearView();
        s.channel->configureParser(QStringLiteral("auto"), QStringLiteral("utf-8"));
        vn::Instrument* records = controlPage(desk.window, s.channel, QStringLiteral("json"));
        vn::Instrument* control = controlPage(desk.window, s.channel, QStringLiteral("control"));
        if (!control->panel)
            vn::fuzz::broken("the control page has no panel");
        control->panel->showMonitor(true);
        vn::SerialMonitorDialog* monitor = control->panel->receiveMonitor();
        if (!monitor)
            vn::fuzz::broken("the control panel shows no monitor");

        QStringList lines{QStringLiteral("alpha one"), QStringLiteral("beta two"), QStringLiteral("gamma"),
                          QStringLiteral("Beta three"), QStringLiteral("温度 23.5 ℃ 湿度 41%"),
                          QStringLiteral("{\"alpha\":1}"), QStringLiteral("{\"beta\":[2,3],\"name\":\"n\"}"),
                          QStringLiteral("<r><v>7</v></r>"), QStringLiteral("ERR code=0x1F at 12:00:01"),
                          QStringLiteral("a\tb  c"), QString(40000, QLatin1Char('x')), QStringLiteral("short")};
        // A few longer lines of words give a backtracking expression room.
        for (int index = 0; index < 3; ++index)
            lines.append(QStringLiteral("sensor%1 ok; ").arg(index).repeated(24) + QStringLiteral("end"));
        for (int index = 0; index < 48; ++index)
            lines.append(QStringLiteral("l%1 value=%2").arg(index).arg(index * 7 % 13));
        for (const QString& line : lines)
            s.channel->receive(line.toUtf8() + "\n", QString());
        page->tick(true);
        records->tick(s.channel);
        monitor->refresh();
        s.ids[0] = page->id;
        s.ids[1] = qobject_cast<vn::Pane*>(records->parentWidget()) ? qobject_cast<vn::Pane*>(records->parentWidget())->id
                                                                    : QString();
        s.ids[2] = monitor->viewId;
        return s;
    }();
    return made;
}

QList<QJsonObject> filters(const QList<vn::SearchView>& views)
{
    QList<QJsonObject> out;
    for (const vn::SearchView& view : views)
        out.append(view.filterBox->filter.settings());
    return out;
}

// An integer argument as the tool reads it: absent, fractional or not a
// number counts as the default.
double integer(const QJsonObject& arguments, const char* key, double fallback)
{
    const QJsonValue value = arguments.value(QLatin1String(key));
    if (!value.isDouble())
        return fallback;
    const double number = value.toDouble();
    return std::isfinite(number) && std::trunc(number) == number ? number : fallback;
}

void checkListing(const QJsonObject& answer, const QList<vn::SearchView>& views)
{
    const QJsonArray listed = answer.value(QLatin1String("views")).toArray();
    if (listed.size() != views.size())
        vn::fuzz::broken("the listing names another number of views");
    for (qsizetype i = 0; i < listed.size(); ++i) {
        const QJsonObject entry = listed.at(i).toObject();
        if (entry.value(QLatin1String("view_id")).toString() != views.at(i).id
            || entry.value(QLatin1String("filter")).toObject() != views.at(i).filterBox->filter.settings())
            vn::fuzz::broken("a listed view differs from the view");
    }
}

void checkSearch(const QJsonObject& arguments, const QJsonObject& answer, const vn::SearchView& view)
{
    static const QRegularExpression hex(QStringLiteral("^[0-9a-f]{64}$"));
    const double offset = integer(arguments, "offset", 0);
    const double limit = integer(arguments, "limit", 200);
    if (limit < 1 || limit > 200 || offset < 0 || offset > 4000)
        vn::fuzz::broken("a search answers arguments out of range");
    const QJsonArray rows = answer.value(QLatin1String("rows")).toArray();
    const qint64 total = answer.value(QLatin1String("total_matches")).toInteger(-1);
    const qint64 next = answer.value(QLatin1String("next_offset")).toInteger(-1);
    if (rows.size() > qsizetype(limit))
        vn::fuzz::broken("more rows than the limit");
    if (total < 0 || next != qint64(offset) + rows.size() || (!rows.isEmpty() && next > total))
        vn::fuzz::broken("the next offset does not follow the rows");
    if (answer.value(QLatin1String("has_more")).toBool() != (next < total))
        vn::fuzz::broken("has_more does not follow the offsets");
    if (!hex.match(answer.value(QLatin1String("snapshot")).toString()).hasMatch())
        vn::fuzz::broken("the snapshot is not a SHA-256 in hex");
    if (answer.value(QLatin1String("view_id")).toString() != view.id)
        vn::fuzz::broken("the answer names another view");
    if (answer.value(QLatin1String("filter")).toObject() != view.filterBox->filter.settings())
        vn::fuzz::broken("the answer's filter is not the view's");
    const QJsonObject asked = arguments.value(QLatin1String("filter")).toObject();
    for (auto it = asked.constBegin(); it != asked.constEnd(); ++it) {
        if (answer.value(QLatin1String("filter")).toObject().value(it.key()) != it.value())
            vn::fuzz::broken("the view's filter lacks what the agent set");
    }
    qsizetype bytes = 0;
    for (const QJsonValue& value : rows) {
        const QJsonObject row = value.toObject();
        const QString text = row.value(QLatin1String("text")).toString();
        if (text.size() > MaxRowText || (!text.isEmpty() && text.back().isHighSurrogate()))
            vn::fuzz::broken("a row past the row cut or cut inside a pair");
        bytes += QJsonDocument(row).toJson(QJsonDocument::Compact).size();
    }
    if (rows.size() > 1 && bytes > MaxPageBytes)
        vn::fuzz::broken("a page past its byte cap");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    Scene& here = scene();
    vn::Window& root = vn::fuzz::desk().window;
    if (size < 1)
        return 0;
    const std::uint8_t options = data[0];
    const std::optional<QJsonObject> given = vn::fuzz::objectAfterOptions(data, size);
    if (!given)
        return 0;
    QJsonObject arguments = *given;

    const QList<vn::SearchView> views = vn::searchViews(&root, here.channel);
    if (views.size() != 3)
        vn::fuzz::broken("the scene does not offer its three views");
    for (const vn::SearchView& view : views)
        view.filterBox->restore(QJsonObject());
    if (const int choice = options & 0x3; choice > 0)
        arguments.insert(QStringLiteral("view_id"), here.ids[choice - 1]);
    if ((options & 0x4) && arguments.contains(QLatin1String("snapshot"))) {
        try {
            const QJsonObject current = vn::searchGui(&root, here.channel,
                                                      {{QStringLiteral("view_id"), arguments.value(QLatin1String("view_id"))}});
            arguments.insert(QStringLiteral("snapshot"), current.value(QLatin1String("snapshot")));
        } catch (const std::runtime_error&) {
        }
    }

    const QList<QJsonObject> before = filters(views);
    QJsonObject answer;
    try {
        answer = vn::searchGui(&root, here.channel, arguments);
    } catch (const std::runtime_error& error) {
        if (QString::fromUtf8(error.what()).isEmpty())
            vn::fuzz::broken("a refusal without a message");
        if (filters(vn::searchViews(&root, here.channel)) != before)
            vn::fuzz::broken("a refused search changes a view's filter");
        return 0;
    }
    vn::fuzz::show(QJsonDocument(answer).toJson(QJsonDocument::Compact).left(2000));
    if (answer.value(QLatin1String("channel_id")).toString() != here.channel->id)
        vn::fuzz::broken("the answer names another channel");
    if (arguments.value(QLatin1String("action")).toString() == QLatin1String("list_search_views")) {
        checkListing(answer, views);
        return 0;
    }
    const QString id = arguments.value(QLatin1String("view_id")).toString();
    for (const vn::SearchView& view : views) {
        if (view.id == id) {
            checkSearch(arguments, answer, view);
            return 0;
        }
    }
    vn::fuzz::broken("a search of no view answers");
}
