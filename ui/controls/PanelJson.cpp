#include "ui/controls/PanelJson.h"

#include "ui/controls/ControlPacket.h"

#include <QUuid>

namespace vn {

namespace {

// A whole JSON number as an integer; anything else is 0.
int wholeNumber(const QJsonValue& value)
{
    if (!value.isDouble())
        return 0;
    const double number = value.toDouble();
    if (number != double(qint64(number)) || number < -2147483648.0 || number > 2147483647.0)
        return 0;
    return int(number);
}

} // namespace

QString newGroupId()
{
    return QUuid::createUuid().toString(QUuid::Id128);
}

QJsonObject newGroup(const QString& name)
{
    return QJsonObject{{QStringLiteral("id"), newGroupId()},
                       {QStringLiteral("name"), name},
                       {QStringLiteral("controls"), QJsonArray()}};
}

int groupIndex(const QJsonArray& groups, const QString& id)
{
    for (qsizetype i = 0; i < groups.size(); ++i)
        if (groups.at(i).toObject().value(QStringLiteral("id")).toString() == id)
            return int(i);
    return -1;
}

bool isControlType(const QString& type)
{
    return controlTypes().contains(type);
}

PanelModel normalisePanel(const QJsonObject& panel)
{
    PanelModel model;
    model.monitor = panel.value(QStringLiteral("monitor")).toObject();

    QJsonArray input = panel.value(QStringLiteral("groups")).toArray();
    if (input.isEmpty()) {
        // The single-group form of older panels: controls and one auto-send
        // switch at the top level.
        const bool autoSend = panel.value(QStringLiteral("auto_send")).toBool(false);
        QJsonArray controls;
        for (const QJsonValue& value : panel.value(QStringLiteral("controls")).toArray()) {
            QJsonObject record = value.toObject();
            if (!record.contains(QStringLiteral("auto_send")))
                record.insert(QStringLiteral("auto_send"), autoSend);
            controls.append(record);
        }
        QJsonObject group = newGroup(QStringLiteral("默认组"));
        group.insert(QStringLiteral("controls"), controls);
        input = QJsonArray{group};
    }

    QStringList seen;
    for (const QJsonValue& element : std::as_const(input)) {
        if (model.groups.size() >= kMaxControlGroups)
            break;
        QJsonObject group = element.toObject();
        QString id = group.value(QStringLiteral("id")).toString();
        if (id.isEmpty() || seen.contains(id))
            id = newGroupId();
        seen.append(id);
        group.insert(QStringLiteral("id"), id);

        const QJsonValue nameValue = group.value(QStringLiteral("name"));
        const QString name = nameValue.isString() ? nameValue.toString() : QStringLiteral("控件组");
        group.insert(QStringLiteral("name"), name.left(kMaxGroupName));

        QJsonArray out;
        for (const QJsonValue& value : group.value(QStringLiteral("controls")).toArray()) {
            if (out.size() >= kMaxGroupControls)
                break;
            const QJsonObject stored = value.toObject();
            const QString type = stored.value(QStringLiteral("type")).toString();
            if (!isControlType(type))
                continue;
            QJsonObject record = defaultControl(type);
            for (auto it = stored.begin(); it != stored.end(); ++it)
                record.insert(it.key(), it.value());
            out.append(record);
        }
        group.insert(QStringLiteral("controls"), out);
        model.groups.append(group);
    }

    model.active = std::max(0, groupIndex(model.groups, panel.value(QStringLiteral("active_group")).toString()));

    int columns = 0;
    if (wholeNumber(panel.value(QStringLiteral("layout_version"))) > 1)
        columns = wholeNumber(panel.value(QStringLiteral("columns")));
    model.columns = (columns == 1 || columns == 2) ? columns : 0;
    return model;
}

} // namespace vn
