// The control panel's JSON restore: the input is a saved or imported panel.
// Text that is not a JSON object is refused with the parser's message; an
// object is read by normalisePanel and then restored into one offscreen
// SerialControlPanel, which also lays the cards out and normalises their
// values (the parts of a restore that live only in the panel).
//
// Checked: the normalised model and every saved panel keep the limits (1 to
// 32 groups, every group with a non-empty unique id, a name of at most 80
// code units, at most 64 controls of the five types carrying every default
// key; an active group that exists; columns 0, 1 or 2); the model written out
// reads back to itself; in the free layout every card and every stored
// rectangle lies inside the canvas square within the card's size limits; the
// monitor settings come back as given; a restored panel saved and restored
// again saves the same JSON.

#include "tests/fuzz/FuzzSupport.h"
#include "ui/controls/ControlCard.h"
#include "ui/controls/ControlPacket.h"
#include "ui/controls/PanelJson.h"
#include "ui/controls/SerialControlPanel.h"

#include <QApplication>
#include <QJsonDocument>
#include <QSet>

namespace {

// Big enough for every real panel: 32 groups of 64 controls with long texts.
constexpr std::size_t kMaxInput = 512 * 1024;

vn::SerialControlPanel& panel()
{
    // Made once and never destroyed: Qt's font caches hang off the
    // application, and static destruction would leave them to the leak check.
    static vn::SerialControlPanel* shared = [] {
        static int argc = 1;
        static char name[] = "vn-fuzz";
        static char* argv[] = {name, nullptr};
        new QApplication(argc, argv);
        // Warnings of Qt about what a stored panel asks of the widgets are expected.
        if (!std::getenv("VN_FUZZ_SHOW"))
            qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        // Restore resets everything a panel holds, so one serves every input.
        return new vn::SerialControlPanel;
    }();
    return *shared;
}

// Cards taken off the canvas go on the next turn of the event loop.
void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::sendPostedEvents();
}

void checkGroups(const QJsonArray& groups, const char* where)
{
    if (groups.isEmpty() || groups.size() > vn::kMaxControlGroups)
        vn::fuzz::broken(where);
    QSet<QString> ids;
    for (const QJsonValue& value : groups) {
        if (!value.isObject())
            vn::fuzz::broken("a group that is not an object");
        const QJsonObject group = value.toObject();
        const QJsonValue id = group.value(QStringLiteral("id"));
        if (!id.isString() || id.toString().isEmpty())
            vn::fuzz::broken("a group without an id");
        if (ids.contains(id.toString()))
            vn::fuzz::broken("two groups with one id");
        ids.insert(id.toString());
        const QJsonValue name = group.value(QStringLiteral("name"));
        if (!name.isString() || name.toString().size() > vn::kMaxGroupName)
            vn::fuzz::broken("a group name that is not text of at most 80 code units");
        const QJsonValue controls = group.value(QStringLiteral("controls"));
        if (!controls.isArray() || controls.toArray().size() > vn::kMaxGroupControls)
            vn::fuzz::broken("a group with more than 64 controls");
        for (const QJsonValue& control : controls.toArray()) {
            const QJsonObject record = control.toObject();
            const QString type = record.value(QStringLiteral("type")).toString();
            if (!control.isObject() || !vn::isControlType(type))
                vn::fuzz::broken("a control of no known type");
            for (const QString& key : vn::defaultControl(type).keys())
                if (!record.contains(key))
                    vn::fuzz::broken("a control lacking one of the default keys");
        }
    }
}

bool insideCanvas(const QRect& r)
{
    return r.x() >= 0 && r.y() >= 0 && r.width() >= vn::ControlCard::kMinimumWidth
           && r.height() >= vn::ControlCard::kMinimumHeight && r.width() <= vn::ControlCard::kMaximumSize
           && r.height() <= vn::ControlCard::kMaximumSize && r.x() + r.width() <= vn::ControlCard::kCanvasLimit
           && r.y() + r.height() <= vn::ControlCard::kCanvasLimit;
}

void checkSaved(const vn::SerialControlPanel& shown, const QJsonObject& saved, const QJsonObject& monitor)
{
    const QJsonArray groups = saved.value(QStringLiteral("groups")).toArray();
    checkGroups(groups, "a saved panel with no group or more than 32");
    const QString active = saved.value(QStringLiteral("active_group")).toString();
    const int index = vn::groupIndex(groups, active);
    if (index < 0)
        vn::fuzz::broken("the saved active group is not one of the groups");
    const int columns = saved.value(QStringLiteral("columns")).toInt(-1);
    if (columns < 0 || columns > 2 || saved.value(QStringLiteral("layout_version")).toInt() != 2)
        vn::fuzz::broken("saved layout choice out of its values");
    if (saved.value(QStringLiteral("monitor")).toObject() != monitor)
        vn::fuzz::broken("the monitor settings do not come back as given");

    const QJsonArray controls = groups.at(index).toObject().value(QStringLiteral("controls")).toArray();
    if (std::size_t(controls.size()) != shown.controlRows().size())
        vn::fuzz::broken("the active group saves another number of controls than it shows");
    if (shown.appliedColumns() != 0)
        return;
    for (const auto& row : shown.controlRows()) {
        if (row->card && !insideCanvas(row->card->geometry())) {
            const QRect g = row->card->geometry();
            vn::fuzz::show(QStringLiteral("card %1,%2 %3x%4, minimum %5x%6")
                               .arg(g.x()).arg(g.y()).arg(g.width()).arg(g.height())
                               .arg(row->card->minimumWidth()).arg(row->card->minimumHeight())
                               .toUtf8());
        }
        if (!row->card || !insideCanvas(row->card->geometry()))
            vn::fuzz::broken("a card outside the canvas or its size limits");
    }
    for (const QJsonValue& value : controls) {
        const QJsonValue rect = value.toObject().value(QStringLiteral("rect"));
        if (!value.toObject().contains(QStringLiteral("rect")))
            continue;
        const QJsonObject r = rect.toObject();
        const QRect stored(r.value(QStringLiteral("x")).toInt(-1), r.value(QStringLiteral("y")).toInt(-1),
                           r.value(QStringLiteral("width")).toInt(-1), r.value(QStringLiteral("height")).toInt(-1));
        if (!insideCanvas(stored))
            vn::fuzz::broken("a saved rectangle outside the canvas or the card's size limits");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vn::SerialControlPanel& shown = panel();
    if (size > kMaxInput)
        return 0;
    QJsonParseError error;
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size)), &error);
    if (!document.isObject()) {
        if (error.error != QJsonParseError::NoError && error.errorString().isEmpty())
            vn::fuzz::broken("a refused panel without a message");
        return 0;
    }
    const QJsonObject stored = document.object();
    const QJsonObject monitor = stored.value(QStringLiteral("monitor")).toObject();

    // The reader on its own: limits, and its own output reads back unchanged.
    const vn::PanelModel model = vn::normalisePanel(stored);
    checkGroups(model.groups, "a model with no group or more than 32");
    if (model.active < 0 || model.active >= model.groups.size())
        vn::fuzz::broken("the active group index is outside the groups");
    if (model.columns < 0 || model.columns > 2)
        vn::fuzz::broken("a layout choice out of its values");
    const QJsonObject written{
        {QStringLiteral("groups"), model.groups},
        {QStringLiteral("active_group"), model.groups.at(model.active).toObject().value(QStringLiteral("id"))},
        {QStringLiteral("columns"), model.columns},
        {QStringLiteral("layout_version"), 2},
        {QStringLiteral("monitor"), model.monitor},
    };
    const vn::PanelModel reread = vn::normalisePanel(written);
    if (reread.groups != model.groups || reread.active != model.active || reread.columns != model.columns
        || reread.monitor != model.monitor)
        vn::fuzz::broken("a normalised panel does not read back to itself");

    // The panel: restore, save, restore the save, save again.
    shown.restore(stored);
    settle();
    const QJsonObject first = shown.settings();
    checkSaved(shown, first, monitor);
    shown.restore(first);
    settle();
    const QJsonObject second = shown.settings();
    checkSaved(shown, second, monitor);
    if (second != first) {
        if (std::getenv("VN_FUZZ_SHOW")) {
            vn::fuzz::show(QJsonDocument(first).toJson(QJsonDocument::Compact));
            vn::fuzz::show(QJsonDocument(second).toJson(QJsonDocument::Compact));
        }
        vn::fuzz::broken("a restored panel saves differently after another round");
    }
    vn::fuzz::show(QJsonDocument(first).toJson(QJsonDocument::Compact));
    return 0;
}
