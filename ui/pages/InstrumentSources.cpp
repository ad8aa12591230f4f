#include "ui/pages/InstrumentSources.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/Fail.h"
#include "ui/kit/Combo.h"
#include "ui/pages/Instrument.h"
#include "ui/pages/Pane.h"
#include "ui/window/Window.h"

#include <QJsonArray>
#include <QSignalBlocker>

#include <exception>

namespace vn {

bool InstrumentSources::available(const Pane& page, const QString& key)
{
    if (key == QLatin1String("serial:loop://"))
        return true;
    if (!page.window)
        return false;
    for (const QJsonValue& port : std::as_const(page.window->lastPorts)) {
        if (QStringLiteral("serial:") + port.toObject().value(QStringLiteral("port")).toString().toLower() == key)
            return true;
    }
    return false;
}

bool InstrumentSources::offered(const Pane& page, const Channel& channel)
{
    return channel.state == QLatin1String("connected") || channel.state == QLatin1String("reconnecting")
        || available(page, channel.config.key());
}

QString InstrumentSources::listedPort(const Pane& page, const QString& key)
{
    // Keys hold the port in lower case; a device path is shown as the port
    // list spells it, since letter case matters in a path here.
    if (page.window) {
        for (const QJsonValue& port : std::as_const(page.window->lastPorts)) {
            const QString name = port.toObject().value(QStringLiteral("port")).toString();
            if (QStringLiteral("serial:") + name.toLower() == key)
                return name;
        }
    }
    return key.mid(7);
}

void InstrumentSources::refresh(Pane& page, Instrument& instrument)
{
    Combo* combo = instrument.sourceCombo;
    Window* window = page.window;
    if (!combo || !window || !window->engine)
        return;
    const bool records = instrument.kind == QLatin1String("json") || instrument.kind == QLatin1String("xml");
    const bool hasPanel = instrument.panel != nullptr;
    const QString structuredKey = Config::structuredDemo().key();
    const QString key = page.sourceKey;

    Channel* selected = nullptr;
    {
        const QSignalBlocker blocker(combo);
        combo->clear();
        combo->addItem(hasPanel ? QStringLiteral("选择串口连接") : QStringLiteral("选择数据来源"), QString());

        int demoIndex = -1;
        QString demoKey;
        if (records || instrument.plot) {
            const Config demo = records ? Config::structuredDemo() : Config::waveformDemo();
            demoKey = demo.key();
            demoIndex = combo->count();
            combo->addItem(demo.name, demoKey);
            combo->setItemData(demoIndex,
                               records ? QStringLiteral("独立生成 JSON 对象和 XML 报文，无需连接设备")
                                       : QStringLiteral("本地生成正弦波、三角波、方波和锯齿波，无需连接设备"),
                               Qt::ToolTipRole);
            if (key == demoKey)
                combo->setCurrentIndex(demoIndex);
        }

        for (const auto& [id, each] : window->engine->channels) {
            const Config& record = each->config;
            const QString channelKey = record.key();
            if (hasPanel && record.kind != QLatin1String("serial"))
                continue;
            if (record.kind == QLatin1String("serial") && !offered(page, *each))
                continue;
            if (records && record.kind == QLatin1String("demo") && channelKey != structuredKey)
                continue;
            if (!records && channelKey == structuredKey)
                continue;
            const QString text = each->name + QStringLiteral(" · ") + stateText(each->state);
            int index = -1;
            if (demoIndex >= 0 && channelKey == demoKey) {
                index = demoIndex;
                combo->setItemText(index, text);
            } else {
                index = combo->count();
                combo->addItem(text, channelKey);
            }
            if (channelKey == key) {
                combo->setCurrentIndex(index);
                if (!selected)
                    selected = each;
            }
        }

        QString tip;
        bool absentPort = false;
        if (!selected && !key.isEmpty() && key != demoKey) {
            if (key.startsWith(QLatin1String("serial:")) && !available(page, key)) {
                absentPort = true;
                tip = QStringLiteral("之前选择的串口当前不可用；连接设备后可重新选择");
            } else if (!hasPanel || key.startsWith(QLatin1String("serial:"))) {
                const QString shown = key.startsWith(QLatin1String("serial:")) ? listedPort(page, key) : key;
                combo->addItem(shown + QStringLiteral(" · 未建立连接"), key);
                combo->setCurrentIndex(combo->count() - 1);
            }
        }
        if (!absentPort) {
            if (!demoKey.isEmpty() && key == demoKey)
                tip = records ? QStringLiteral("独立 JSON/XML 演示 · 每秒更新 · 不占用串口")
                              : QStringLiteral("本地演示波形 · 50 Hz · 不占用串口");
            else if (!key.isEmpty())
                tip = key;
            else if (!demoKey.isEmpty())
                tip = QStringLiteral("选择 Demo 预览，或选择已建立的设备连接");
            else
                tip = QStringLiteral("从收发页面建立连接后，在这里选择数据来源");
        }
        combo->setToolTip(tip);
    }
    if (selected != page.channel.data())
        page.setChannel(selected);
}

void InstrumentSources::choose(Pane& page, Instrument& instrument, int index)
{
    if (!instrument.sourceCombo)
        return;
    const QString old = page.sourceKey;
    page.sourceKey = instrument.sourceCombo->itemData(index).toString();
    Window* window = page.window;
    Engine* engine = window ? window->engine : nullptr;
    if (engine) {
        try {
            if (page.sourceKey == Config::waveformDemo().key())
                engine->waveformDemo();
            else if (page.sourceKey == Config::structuredDemo().key())
                engine->structuredDemo();
        } catch (const std::exception& error) {
            page.sourceKey = old;
            refresh(page, instrument);
            page.showError(errorText(error));
            return;
        }
    }
    refresh(page, instrument);
    if (window) {
        if (window->current == &page)
            window->syncParameterPane(true);
        window->updateStatus();
    }
}

} // namespace vn
