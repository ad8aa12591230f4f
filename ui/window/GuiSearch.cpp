#include "ui/window/GuiSearch.h"

#include "core/Channel.h"
#include "core/Fail.h"
#include "ui/controls/SerialControlPanel.h"
#include "ui/controls/SerialMonitorDialog.h"
#include "ui/pages/Instrument.h"
#include "ui/pages/Pane.h"
#include "ui/pages/RecordTable.h"
#include "ui/views/FilterBox.h"
#include "ui/views/LogView.h"
#include "ui/views/SearchFilter.h"
#include "ui/window/Window.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QJsonDocument>
#include <QTreeWidget>

#include <cmath>

namespace vn {

namespace {

constexpr qsizetype kMaxRowText = 32768;
constexpr qsizetype kMaxPageBytes = 524288;
constexpr int kMaxOffset = 4000;
constexpr int kMaxLimit = 200;
constexpr int kDefaultLimit = 200;
// How long an agent's filter may take over the lines of a view before the
// search refuses it.
constexpr int kMaxFilterMillis = 1000;

const QString kNotFound = QStringLiteral("view_id 不属于该连接或页面已关闭；先 list_search_views。交互终端请使用 read_events。");

// The instrument of a control page. A page that does not host its instrument
// itself yet may still carry one among its widgets.
Instrument* hostedInstrument(const Pane* page)
{
    if (!page->isControl())
        return nullptr;
    if (Instrument* instrument = page->instrument())
        return instrument;
    return page->findChild<Instrument*>();
}

void addInstrumentViews(QList<SearchView>& views, Pane* page, const Channel* channel)
{
    Instrument* instrument = hostedInstrument(page);
    if (!instrument)
        return;
    if (instrument->filterBox && instrument->records()) {
        SearchView view;
        view.id = page->id;
        view.kind = instrument->kind;
        view.title = page->title;
        view.filterBox = instrument->filterBox;
        view.records = instrument->records();
        view.instrument = instrument;
        view.page = page;
        views.append(view);
    }
    SerialMonitorDialog* monitor = instrument->panel ? instrument->panel->receiveMonitor() : nullptr;
    if (monitor && monitor->channelId == channel->id && monitor->filterBox && monitor->log) {
        SearchView view;
        view.id = monitor->viewId;
        view.kind = QStringLiteral("serial-monitor");
        view.title = QStringLiteral("串口收发小窗");
        view.filterBox = monitor->filterBox;
        view.textView = monitor->log;
        view.monitor = monitor;
        view.page = page;
        views.append(view);
    }
}

// The first `kMaxRowText` characters, never ending in half a surrogate pair.
QString cutText(const QString& text, bool* truncated)
{
    *truncated = text.size() > kMaxRowText;
    if (!*truncated)
        return text;
    qsizetype end = kMaxRowText;
    if (text.at(end - 1).isHighSurrogate())
        --end;
    return text.left(end);
}

QString recordText(const QJsonValue& value)
{
    if (value.isString())
        return value.toString();
    if (value.isObject())
        return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
    if (value.isArray())
        return QString::fromUtf8(QJsonDocument(value.toArray()).toJson(QJsonDocument::Compact));
    return value.toVariant().toString();
}

QByteArray compact(const QJsonObject& object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

// An integer argument; anything else (absent, fractional, not a number) counts
// as the default.
double integerArgument(const QJsonObject& arguments, const char* key, int fallback)
{
    const QJsonValue value = arguments.value(QLatin1String(key));
    if (!value.isDouble())
        return fallback;
    const double number = value.toDouble();
    return std::isfinite(number) && std::trunc(number) == number ? number : fallback;
}

QJsonObject listResult(Channel* channel, const QList<SearchView>& views)
{
    QJsonArray list;
    for (const SearchView& view : views) {
        list.append(QJsonObject{
            {QStringLiteral("view_id"), view.id},
            {QStringLiteral("kind"), view.kind},
            {QStringLiteral("title"), view.title},
            {QStringLiteral("filter"), view.filterBox->filter.settings()},
            {QStringLiteral("error"), view.filterBox->filter.error},
        });
    }
    return QJsonObject{
        {QStringLiteral("channel_id"), channel->id},
        {QStringLiteral("views"), list},
        {QStringLiteral("scope"), QStringLiteral("gui_display")},
    };
}

// Tries the filter on every line the view holds, shown or hidden, as the view
// will once it takes the filter. An expression that backtracks for long on
// them would hold the GUI over the whole log, and again for every line that
// arrives, so the trial stops at its time limit.
bool filterIsQuick(const SearchView& view, const SearchFilter& filter)
{
    if (view.textView)
        return view.textView->lines().tryFilter(filter, kMaxFilterMillis);
    if (view.records) {
        const QDeadlineTimer deadline(kMaxFilterMillis);
        for (int index = 0; index < view.records->topLevelItemCount(); ++index) {
            const QJsonObject record = RecordTable::recordOf(view.records->topLevelItem(index));
            filter.matches(record.value(QLatin1String("text")).toString());
            if (deadline.hasExpired())
                return false;
        }
    }
    return true;
}

// Merges the agent's filter into the view's current one and checks it whole;
// nothing is changed on the view here.
QJsonObject mergedFilter(const SearchView& view, const QJsonValue& given)
{
    if (!given.isObject())
        fail(QStringLiteral("filter 必须是对象"));
    const QJsonObject current = view.filterBox->filter.settings();
    QJsonObject settings = current;
    const QJsonObject changes = given.toObject();
    for (auto it = changes.begin(); it != changes.end(); ++it) {
        if (!settings.contains(it.key()))
            fail(QStringLiteral("未知的搜索参数：") + it.key());
        const bool typed = it.key() == QLatin1String("text") ? it.value().isString() : it.value().isBool();
        if (!typed)
            fail(QStringLiteral("搜索参数类型错误：") + it.key());
        settings.insert(it.key(), it.value());
    }
    if (settings.value(QLatin1String("text")).toString().size() > FilterBox::kMaxLength)
        fail(QStringLiteral("搜索内容最多 2048 字符"));
    SearchFilter scratch;
    scratch.restore(settings);
    scratch.compile();
    if (!scratch.error.isEmpty())
        fail(scratch.error);
    // The filter the view already holds has been through its lines: the
    // trial is only for a new one, so paging through results costs nothing more.
    if (settings != current && !filterIsQuick(view, scratch))
        fail(QStringLiteral("搜索条件匹配耗时过长，请简化表达式"));
    return settings;
}

} // namespace

QList<SearchView> searchViews(Window* root, Channel* channel)
{
    QList<SearchView> views;
    if (!root || !channel)
        return views;
    for (const QPointer<Window>& window : std::as_const(root->windows)) {
        if (!window)
            continue;
        for (Pane* page : std::as_const(window->pages)) {
            if (!page || page->channel.data() != channel)
                continue;
            if (page->filterBox() && page->logView() && !page->terminal) {
                SearchView view;
                view.id = page->id;
                view.kind = QStringLiteral("log");
                view.title = page->title;
                view.filterBox = page->filterBox();
                view.textView = page->logView();
                view.page = page;
                views.append(view);
            }
            addInstrumentViews(views, page, channel);
        }
    }
    return views;
}

QJsonArray visibleRows(const SearchView& view)
{
    QJsonArray rows;
    if (view.textView) {
        const LogLines& lines = view.textView->lines();
        for (int index = 0; index < lines.size(); ++index) {
            const LogLine& head = lines.at(index);
            // The rows a long line goes on in belong to the row it began in.
            if (lines.contains(head.previous))
                continue;
            QString text;
            bool shown = false;
            for (const LogLine* row = &head; row; row = lines.find(row->next)) {
                shown = shown || lines.isShown(*row);
                if (text.size() <= kMaxRowText)
                    text += row == &head ? QStringView(row->text) : row->content();
            }
            if (!shown || text.isEmpty())
                continue;
            bool truncated = false;
            rows.append(QJsonObject{
                {QStringLiteral("text"), cutText(text, &truncated)},
                {QStringLiteral("line"), index},
                {QStringLiteral("truncated"), truncated},
            });
        }
    } else if (view.records) {
        for (int index = 0; index < view.records->topLevelItemCount(); ++index) {
            const QTreeWidgetItem* item = view.records->topLevelItem(index);
            if (item->isHidden())
                continue;
            const QJsonObject record = item->data(0, Qt::UserRole).toJsonObject();
            bool truncated = false;
            QJsonObject row{{QStringLiteral("text"), cutText(recordText(record.value(QLatin1String("text"))), &truncated)},
                            {QStringLiteral("truncated"), truncated}};
            for (const char* key : {"time", "format"}) {
                if (record.contains(QLatin1String(key)))
                    row.insert(QLatin1String(key), record.value(QLatin1String(key)));
            }
            rows.append(row);
        }
    }
    return rows;
}

QJsonObject searchGui(Window* root, Channel* channel, const QJsonObject& arguments)
{
    if (!root)
        fail(QStringLiteral("GUI 窗口已关闭"));
    const QList<SearchView> views = searchViews(root, channel);
    if (arguments.value(QLatin1String("action")).toString() == QLatin1String("list_search_views"))
        return listResult(channel, views);

    const QString viewId = arguments.value(QLatin1String("view_id")).toString();
    const SearchView* found = nullptr;
    for (const SearchView& view : views) {
        if (!viewId.isEmpty() && view.id == viewId) {
            found = &view;
            break;
        }
    }
    if (!found)
        fail(kNotFound);
    const SearchView& view = *found;
    const QPointer<FilterBox> box = view.filterBox;
    view.page->tick(true);
    // Control pages refresh their instrument and monitor on timers of their
    // own; the search reads them as of now.
    if (view.instrument)
        view.instrument->tick(view.page->channel.data());
    if (view.monitor)
        view.monitor->refresh();
    if (!box)
        fail(kNotFound);

    const double offset = integerArgument(arguments, "offset", 0);
    const double limit = integerArgument(arguments, "limit", kDefaultLimit);
    if (limit < 1 || limit > kMaxLimit || offset < 0 || offset > kMaxOffset)
        fail(QStringLiteral("offset 范围 0..4000，limit 范围 1..200"));
    const bool hasFilter = arguments.contains(QLatin1String("filter"));
    const bool hasSnapshot = arguments.contains(QLatin1String("snapshot"));
    if (hasFilter && hasSnapshot)
        fail(QStringLiteral("更新 filter 时不要传旧 snapshot；先更新搜索，再使用返回的 snapshot 分页"));
    if (hasFilter) {
        const QJsonObject settings = mergedFilter(view, arguments.value(QLatin1String("filter")));
        box->restore(settings);
        root->saveSettings();
    }

    const QJsonObject filter = box->filter.settings();
    const QJsonArray rows = visibleRows(view);
    const QString snapshot = QString::fromLatin1(
        QCryptographicHash::hash(compact(QJsonObject{{QStringLiteral("filter"), filter}, {QStringLiteral("rows"), rows}}),
                                 QCryptographicHash::Sha256)
            .toHex());
    if (hasSnapshot && arguments.value(QLatin1String("snapshot")).toString() != snapshot)
        fail(QStringLiteral("显示内容已变化，请从 offset=0 重新搜索"));

    const qsizetype first = static_cast<qsizetype>(offset);
    const qsizetype count = static_cast<qsizetype>(limit);
    QJsonArray page;
    qsizetype bytes = 0;
    for (qsizetype index = first; index < rows.size() && page.size() < count; ++index) {
        const QJsonObject row = rows.at(index).toObject();
        const qsizetype size = compact(row).size();
        if (!page.isEmpty() && bytes + size > kMaxPageBytes)
            break;
        bytes += size;
        page.append(row);
    }
    const qsizetype next = first + page.size();
    return QJsonObject{
        {QStringLiteral("channel_id"), channel->id},
        {QStringLiteral("view_id"), view.id},
        {QStringLiteral("scope"), QStringLiteral("gui_display")},
        {QStringLiteral("filter"), filter},
        {QStringLiteral("error"), box->filter.error},
        {QStringLiteral("rows"), page},
        {QStringLiteral("snapshot"), snapshot},
        {QStringLiteral("total_matches"), rows.size()},
        {QStringLiteral("next_offset"), next},
        {QStringLiteral("has_more"), next < rows.size()},
    };
}

} // namespace vn
