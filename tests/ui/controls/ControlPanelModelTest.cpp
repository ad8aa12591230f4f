#include "ui/controls/ControlPacket.h"
#include "ui/controls/ControlPresets.h"
#include "ui/controls/PanelJson.h"
#include "ui/controls/SerialControlPanel.h"

#include <QApplication>
#include <QBoxLayout>
#include <QMenu>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QJsonArray>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace vn;

namespace {

QJsonObject control(const QString& type, const QString& title = QString())
{
    QJsonObject r{{"type", type}};
    if (!title.isEmpty())
        r.insert("title", title);
    return r;
}

QJsonObject group(const QString& id, const QString& name, const QJsonArray& controls = {})
{
    return QJsonObject{{"id", id}, {"name", name}, {"controls", controls}};
}

QJsonArray groupsOf(const SerialControlPanel& panel)
{
    return panel.settings().value("groups").toArray();
}

QJsonArray controlsOf(const QJsonObject& settings, int groupIndexInList)
{
    return settings.value("groups").toArray().at(groupIndexInList).toObject().value("controls").toArray();
}

QStringList titles(const SerialControlPanel& panel)
{
    QStringList out;
    for (const auto& row : panel.controlRows())
        out << row->control.value("title").toString();
    return out;
}

QStringList groupNames(const SerialControlPanel& panel)
{
    QStringList out;
    for (const QJsonValue& g : groupsOf(panel))
        out << g.toObject().value("name").toString();
    return out;
}

} // namespace

class ControlPanelModelTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void newPanelHasOneDefaultGroup()
    {
        SerialControlPanel panel;
        const QJsonObject s = panel.settings();
        const QJsonArray groups = s.value("groups").toArray();
        QCOMPARE(groups.size(), 1);
        const QJsonObject g = groups.at(0).toObject();
        QCOMPARE(g.value("name").toString(), QStringLiteral("默认组"));
        QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(g.value("id").toString()).hasMatch());
        QCOMPARE(g.value("controls").toArray().size(), 0);
        QCOMPARE(s.value("active_group").toString(), g.value("id").toString());
        QCOMPARE(s.value("layout_version").toInt(), 2);
        QCOMPARE(s.value("columns").toInt(), 0);
        QCOMPARE(s.value("monitor").toObject(), QJsonObject());
        QCOMPARE(panel.statusLabel()->text(), QStringLiteral("选择串口后可发送；每个控件默认手动，可单独开启自动发送。"));
        QCOMPARE(panel.statusLabel()->textFormat(), Qt::PlainText);
    }

    void oldSingleGroupForm()
    {
        const QJsonObject old{{"controls", QJsonArray{control("slider"),
                                                      QJsonObject{{"type", "button"}, {"auto_send", false}},
                                                      control("dial")}},
                              {"auto_send", true}};
        const PanelModel model = normalisePanel(old);
        QCOMPARE(model.groups.size(), 1);
        const QJsonObject g = model.groups.at(0).toObject();
        QCOMPARE(g.value("name").toString(), QStringLiteral("默认组"));
        const QJsonArray controls = g.value("controls").toArray();
        QCOMPARE(controls.size(), 2);
        QCOMPARE(controls.at(0).toObject().value("auto_send").toBool(), true);
        QCOMPARE(controls.at(1).toObject().value("auto_send").toBool(), false);
        for (const QJsonValue& c : controls)
            for (const QString& key : defaultControl("slider").keys())
                QVERIFY2(c.toObject().contains(key), qPrintable(key));
    }

    void limitsAndRepairs()
    {
        QJsonArray many;
        for (int i = 0; i < 40; ++i)
            many.append(group(QString::number(i), QStringLiteral("g%1").arg(i)));
        QCOMPARE(normalisePanel({{"groups", many}}).groups.size(), 32);

        QJsonArray controls;
        controls.append(control("knob"));   // dropped, does not count
        for (int i = 0; i < 70; ++i)
            controls.append(control("number", QString::number(i)));
        const PanelModel kept = normalisePanel({{"groups", QJsonArray{group("a", "A", controls)}}});
        const QJsonArray out = kept.groups.at(0).toObject().value("controls").toArray();
        QCOMPARE(out.size(), 64);
        QCOMPARE(out.at(0).toObject().value("title").toString(), QStringLiteral("0"));
        QCOMPARE(out.at(63).toObject().value("title").toString(), QStringLiteral("63"));

        const QJsonObject odd{{"groups", QJsonArray{group("same", QString(100, 'n')), group("same", "B"),
                                                    QJsonObject{{"id", ""}, {"name", 5}},
                                                    QJsonObject{{"id", 7}, {"name", ""}}, QJsonValue(3)}},
                              {"active_group", "nowhere"}};
        const PanelModel repaired = normalisePanel(odd);
        QCOMPARE(repaired.groups.size(), 5);
        QStringList ids;
        for (const QJsonValue& g : repaired.groups)
            ids << g.toObject().value("id").toString();
        QCOMPARE(ids.at(0), QStringLiteral("same"));
        QCOMPARE(QSet<QString>(ids.begin(), ids.end()).size(), 5);
        for (int i = 1; i < 5; ++i)
            QVERIFY(QRegularExpression("^[0-9a-f]{32}$").match(ids.at(i)).hasMatch());
        QCOMPARE(repaired.groups.at(0).toObject().value("name").toString().size(), 80);
        QCOMPARE(repaired.groups.at(2).toObject().value("name").toString(), QStringLiteral("控件组"));
        QCOMPARE(repaired.groups.at(3).toObject().value("name").toString(), QString());
        QCOMPARE(repaired.groups.at(4).toObject().value("name").toString(), QStringLiteral("控件组"));
        QCOMPARE(repaired.active, 0);
    }

    void layoutChoice_data()
    {
        QTest::addColumn<QJsonValue>("version");
        QTest::addColumn<QJsonValue>("columns");
        QTest::addColumn<int>("expected");
        QTest::newRow("version 1 ignores columns") << QJsonValue(1) << QJsonValue(2) << 0;
        QTest::newRow("no version") << QJsonValue() << QJsonValue(1) << 0;
        QTest::newRow("unknown columns") << QJsonValue(2) << QJsonValue(5) << 0;
        QTest::newRow("one column") << QJsonValue(2) << QJsonValue(1) << 1;
        QTest::newRow("two columns") << QJsonValue(2) << QJsonValue(2) << 2;
        QTest::newRow("fractional") << QJsonValue(2) << QJsonValue(1.5) << 0;
    }
    void layoutChoice()
    {
        QFETCH(QJsonValue, version);
        QFETCH(QJsonValue, columns);
        QFETCH(int, expected);
        QJsonObject panel{{"columns", columns}};
        if (!version.isUndefined() && !version.isNull())
            panel.insert("layout_version", version);
        QCOMPARE(normalisePanel(panel).columns, expected);
        SerialControlPanel widget;
        widget.restore(panel);
        QCOMPARE(widget.settings().value("columns").toInt(), expected);
        const QString names[] = {"自由布局", "单列排列", "两列排列"};
        QCOMPARE(widget.findChild<QComboBox*>("controlColumns")->currentText(), names[expected]);
    }

    void roundTripKeepsGroupsValuesAndActive()
    {
        QJsonObject slider = control("slider", "S");
        slider.insert("value", "42");
        slider.insert("custom_key", "kept");
        const QJsonObject stored{{"groups", QJsonArray{group("a", "A", {slider}), group("b", "B", {control("switch")})}},
                                 {"active_group", "b"},
                                 {"columns", 1},
                                 {"layout_version", 2},
                                 {"monitor", QJsonObject{{"hex", true}}}};
        SerialControlPanel panel;
        QSignalSpy changed(&panel, &SerialControlPanel::changed);
        panel.restore(stored);
        QCOMPARE(changed.count(), 0);
        QCOMPARE(panel.activeGroupId(), QStringLiteral("b"));
        QCOMPARE(panel.findChild<QComboBox*>("controlGroup")->currentText(), QStringLiteral("B"));
        const QJsonObject again = panel.settings();
        QCOMPARE(again.value("monitor").toObject(), (QJsonObject{{"hex", true}}));
        QCOMPARE(controlsOf(again, 0).at(0).toObject().value("custom_key").toString(), QStringLiteral("kept"));
        QCOMPARE(controlsOf(again, 0).at(0).toObject().value("value").toString(), QStringLiteral("42"));

        SerialControlPanel copy;
        copy.restore(again);
        QCOMPARE(copy.settings(), again);
    }

    void addAndSelectGroups()
    {
        SerialControlPanel panel;
        QSignalSpy changed(&panel, &SerialControlPanel::changed);
        const QString first = panel.activeGroupId();
        QVERIFY(panel.selectGroup(first));
        QCOMPARE(changed.count(), 0);
        QVERIFY(!panel.selectGroup("nope"));

        const QString blank = panel.addGroup("   ");
        QCOMPARE(panel.activeGroupId(), blank);
        QCOMPARE(groupNames(panel).last(), QStringLiteral("新控件组"));
        QCOMPARE(changed.count(), 1);
        panel.addGroup(QString(90, 'x'));
        QCOMPARE(groupNames(panel).last().size(), 80);

        // Values of the group being left are written back before the switch.
        panel.addControl(control("number", "N"));
        panel.valueChanged(panel.controlRows()[0].get(), "7");
        QVERIFY(panel.selectGroup(first));
        QVERIFY(panel.selectGroup(groupsOf(panel).last().toObject().value("id").toString()));
        QCOMPARE(panel.controlRows()[0]->control.value("value").toString(), QStringLiteral("7"));

        while (groupsOf(panel).size() < 32)
            QVERIFY(!panel.addGroup("g").isEmpty());
        const QJsonObject before = panel.settings();
        changed.clear();
        QCOMPARE(panel.addGroup("33rd"), QString());
        QCOMPARE(panel.statusLabel()->text(), QStringLiteral("每页最多 32 个控件组"));
        QCOMPARE(panel.settings(), before);
        QCOMPARE(changed.count(), 0);
    }

    void addControlLimitsAndLayers()
    {
        SerialControlPanel panel;
        for (int i = 0; i < 64; ++i)
            panel.addControl(control("button", QString::number(i)));
        QCOMPARE(panel.controlRows().size(), std::size_t(64));
        QCOMPARE(panel.controlRows()[2]->control.value("layer").toInt(), 3);
        panel.addControl(control("button"));
        QCOMPARE(panel.controlRows().size(), std::size_t(64));
        QCOMPARE(panel.statusLabel()->text(), QStringLiteral("每组最多 64 个控件"));
    }

    // Reordering moves and never removes; only removeControl removes.
    void reorderAndRemove_data()
    {
        QTest::addColumn<int>("from");
        QTest::addColumn<int>("to");
        QTest::addColumn<QStringList>("expected");
        QTest::addColumn<bool>("emitted");
        QTest::newRow("first to last") << 0 << 2 << QStringList{"b", "c", "a"} << true;
        QTest::newRow("last to first") << 2 << 0 << QStringList{"c", "a", "b"} << true;
        QTest::newRow("past the end moves to the end") << 0 << 9 << QStringList{"b", "c", "a"} << true;
        QTest::newRow("negative target moves to the front") << 2 << -1 << QStringList{"c", "a", "b"} << true;
        QTest::newRow("bad source changes nothing") << 5 << 0 << QStringList{"a", "b", "c"} << false;
    }
    void reorderAndRemove()
    {
        QFETCH(int, from);
        QFETCH(int, to);
        QFETCH(QStringList, expected);
        QFETCH(bool, emitted);
        SerialControlPanel panel;
        for (const char* t : {"a", "b", "c"})
            panel.addControl(control("switch", t));
        QSignalSpy changed(&panel, &SerialControlPanel::changed);
        panel.reorder(from, to);
        QCOMPARE(titles(panel), expected);
        QCOMPARE(changed.count(), emitted ? 1 : 0);

        panel.removeControl(0);
        expected.removeFirst();
        QCOMPARE(titles(panel), expected);
        panel.removeControl(7);
        QCOMPARE(titles(panel), expected);
    }

    void presetGroups()
    {
        SerialControlPanel panel;
        QSignalSpy changed(&panel, &SerialControlPanel::changed);
        QVERIFY(panel.addPresetGroup("pid"));
        QVERIFY(panel.addPresetGroup("pid"));
        QVERIFY(panel.addPresetGroup("pid"));
        QCOMPARE(groupNames(panel), (QStringList{"默认组", "PID 调参", "PID 调参（2）", "PID 调参（3）"}));
        QCOMPARE(changed.count(), 3);
        QCOMPARE(panel.activeGroupId(), groupsOf(panel).at(3).toObject().value("id").toString());
        QCOMPARE(panel.controlRows().size(), std::size_t(8));
        QCOMPARE(panel.statusLabel()->text(),
                 QStringLiteral("已添加“PID 调参（3）”；默认手动发送，使用 SET {key} {value} + CRLF，请按设备协议编辑模板。"));
        QCOMPARE(controlPacket(panel.controlRows()[0]->control), QByteArray("SET kp 1.000\r\n"));

        // A freed name is used again.
        QJsonObject s = panel.settings();
        QJsonArray list = s.value("groups").toArray();
        QJsonObject second = list.at(2).toObject();
        second.insert("name", "renamed");
        list.replace(2, second);
        s.insert("groups", list);
        panel.restore(s);
        QVERIFY(panel.addPresetGroup("pid"));
        QCOMPARE(groupNames(panel).last(), QStringLiteral("PID 调参（2）"));

        changed.clear();
        QVERIFY(!panel.addPresetGroup("nothing"));
        QCOMPARE(changed.count(), 0);

        while (groupsOf(panel).size() < 32)
            panel.addGroup("g");
        const QJsonObject full = panel.settings();
        QVERIFY(!panel.addPresetGroup("motor"));
        QCOMPARE(panel.statusLabel()->text(), QStringLiteral("每页最多 32 个控件组"));
        QCOMPARE(panel.settings(), full);
    }

    void examplesFillTheGroupAndSayWhatHappened()
    {
        SerialControlPanel panel;
        QJsonArray controls;
        for (int i = 0; i < 62; ++i)
            controls.append(control("button"));
        panel.restore({{"groups", QJsonArray{group("a", "A", controls)}}});
        panel.addExamples();
        QCOMPARE(panel.controlRows().size(), std::size_t(64));
        QCOMPARE(panel.controlRows()[62]->control.value("title").toString(), QStringLiteral("目标转速"));
        QCOMPARE(panel.controlRows()[63]->control.value("title").toString(), QStringLiteral("目标温度"));
        QCOMPARE(panel.controlRows()[63]->control.value("layer").toInt(), 64);
        QCOMPARE(panel.statusLabel()->text(),
                 QStringLiteral("已向当前组添加示例；拖动标题移动，拖动边缘缩放，点击垃圾桶删除。"));

        QSignalSpy changed(&panel, &SerialControlPanel::changed);
        const QJsonObject before = panel.settings();
        panel.addExamples();
        QCOMPARE(panel.statusLabel()->text(), QStringLiteral("当前组已有 64 个控件，未添加示例。"));
        QCOMPARE(panel.settings(), before);
        QCOMPARE(changed.count(), 0);
    }

    void clearAllAsksFirst()
    {
        SerialControlPanel panel;
        panel.clearControls();
        QCOMPARE(panel.statusLabel()->text(), QStringLiteral("所选范围内没有控件，无需清空。"));

        panel.restore({{"groups", QJsonArray{group("a", "A", {control("slider"), control("number")}),
                                             group("b", "B", {control("switch")})}}});
        QSignalSpy changed(&panel, &SerialControlPanel::changed);
        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QCOMPARE(dialog->objectName(), QStringLiteral("clearControlsDialog"));
            QCOMPARE(dialog->findChild<QLabel*>("clearControlsSummary")->text(),
                     QStringLiteral("清空本页面 2 个控件组中的全部 3 个控件？"));
            // Enter cancels: the destructive button is not the default.
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        panel.clearControls();
        QCOMPARE(changed.count(), 0);
        QCOMPARE(panel.controlRows().size(), std::size_t(2));

        QTimer::singleShot(0, [] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            QVERIFY(dialog);
            QTest::mouseClick(dialog->findChild<QPushButton*>("confirmClearControls"), Qt::LeftButton);
        });
        panel.clearControls();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(panel.controlRows().size(), std::size_t(0));
        QCOMPARE(groupNames(panel), (QStringList{"A", "B"}));
        QCOMPARE(panel.statusLabel()->text(), QStringLiteral("已清空 3 个控件，控件组和连接已保留。"));
    }

    void toolbarWrapsBelow780()
    {
        SerialControlPanel panel;
        panel.resize(779, 500);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        auto* add = panel.findChild<QPushButton*>("addSerialControl");
        auto* tidy = panel.findChild<QPushButton*>("tidyControls");
        QTRY_VERIFY(tidy->mapTo(&panel, QPoint()).y() > add->mapTo(&panel, QPoint()).y());
        panel.resize(780, 500);
        QTRY_COMPARE(tidy->mapTo(&panel, QPoint()).y(), add->mapTo(&panel, QPoint()).y());
    }

    void presetMenuEntries()
    {
        SerialControlPanel panel;
        auto* presets = panel.findChild<QPushButton*>("addControlExamples");
        QVERIFY(presets && presets->menu());
        QVERIFY(presets->menu()->toolTipsVisible());
        const QList<QAction*> actions = presets->menu()->actions();
        QCOMPARE(actions.size(), 6);
        QCOMPARE(actions.at(0)->objectName(), QStringLiteral("controlPreset_pid"));
        QCOMPARE(actions.at(0)->toolTip(),
                 QStringLiteral("比例、积分、微分系数，目标值、输出限幅、使能与积分清零；新建独立组，默认手动发送"));
        QVERIFY(actions.at(4)->isSeparator());
        QCOMPARE(actions.at(5)->text(), QStringLiteral("基础控件示例（添加到当前组）"));
        auto* add = panel.findChild<QPushButton*>("addSerialControl");
        QStringList entries;
        for (QAction* a : add->menu()->actions())
            entries << a->text();
        QCOMPARE(entries, (QStringList{"滑块", "数字输入", "开关", "按钮", "下拉框"}));
    }
};

QTEST_MAIN(ControlPanelModelTest)
#include "ControlPanelModelTest.moc"
