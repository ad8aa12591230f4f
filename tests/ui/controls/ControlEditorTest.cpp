#include "ui/controls/ControlEditor.h"
#include "ui/controls/ControlPacket.h"
#include "ui/controls/SerialControlPanel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

using namespace vn;

namespace {

QJsonArray twoGroups(int otherCount = 0)
{
    QJsonArray other;
    for (int i = 0; i < otherCount; ++i)
        other.append(defaultControl("button"));
    return QJsonArray{QJsonObject{{"id", "a"}, {"name", "A"}, {"controls", QJsonArray()}},
                      QJsonObject{{"id", "b"}, {"name", "B"}, {"controls", other}}};
}

QPushButton* saveOf(ControlEditor& editor)
{
    return editor.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save);
}

QString validation(ControlEditor& editor)
{
    return editor.findChild<QLabel*>("controlValidation")->text();
}

template <typename T>
T* field(ControlEditor& editor, const char* name)
{
    T* found = editor.findChild<T*>(QLatin1String(name));
    if (!found)
        qFatal("no field %s", name);
    return found;
}

} // namespace

class ControlEditorTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void rowsPerType_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<bool>("range");
        QTest::addColumn<bool>("buttonValue");
        QTest::addColumn<bool>("options");
        QTest::addColumn<bool>("autoSend");
        QTest::newRow("slider") << "slider" << true << false << false << true;
        QTest::newRow("number") << "number" << true << false << false << true;
        QTest::newRow("switch") << "switch" << false << false << false << true;
        QTest::newRow("button") << "button" << false << true << false << false;
        QTest::newRow("select") << "select" << false << false << true << true;
    }
    void rowsPerType()
    {
        QFETCH(QString, type);
        QFETCH(bool, range);
        QFETCH(bool, buttonValue);
        QFETCH(bool, options);
        QFETCH(bool, autoSend);
        ControlEditor editor(defaultControl(type), twoGroups(), "a");
        QCOMPARE(editor.objectName(), QStringLiteral("serialControlEditor"));
        QCOMPARE(editor.windowTitle(), QStringLiteral("控件与发送格式"));
        for (const char* name : {"controlEditor_minimum", "controlEditor_maximum", "controlEditor_step"})
            QCOMPARE(field<QDoubleSpinBox>(editor, name)->isVisibleTo(&editor), range);
        QCOMPARE(field<QSpinBox>(editor, "controlEditorDecimals")->isVisibleTo(&editor), range);
        QCOMPARE(field<QLineEdit>(editor, "controlEditorButtonValue")->isVisibleTo(&editor), buttonValue);
        QCOMPARE(field<QPlainTextEdit>(editor, "controlEditorOptions")->isVisibleTo(&editor), options);
        QCOMPARE(field<QCheckBox>(editor, "controlEditorAutoSend")->isVisibleTo(&editor), autoSend);
        QVERIFY(saveOf(editor)->isEnabled());
        QCOMPARE(field<QLabel>(editor, "controlEditorPreview")->text(),
                 QStringLiteral("53 45 54 20 76 61 6C 75 65 20 30 0D 0A"));
        // Every field exists, so a saved record carries every key.
        for (const QString& key : defaultControl(type).keys())
            QVERIFY(editor.collect().contains(key));
    }

    void checks_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<double>("minimum");
        QTest::addColumn<double>("maximum");
        QTest::addColumn<double>("step");
        QTest::addColumn<int>("decimals");
        QTest::addColumn<QString>("options");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("message");
        const QString range = QStringLiteral("最大值需大于最小值，步长需大于零且与小数位数一致");
        QTest::newRow("equal bounds") << "number" << 10.0 << 10.0 << 1.0 << 0 << "" << "SET {value}" << range;
        QTest::newRow("step finer than decimals") << "slider" << 0.0 << 1.0 << 0.01 << 1 << "" << "SET {value}" << range;
        QTest::newRow("step matches decimals") << "slider" << 0.0 << 1.0 << 0.1 << 1 << "" << "SET {value}" << "";
        QTest::newRow("option starting with =")
            << "select" << 0.0 << 1.0 << 1.0 << 0 << "a=1\n=2" << "SET {value}" << "选项格式为 名称=值，每行一项";
        QTest::newRow("blank option line")
            << "select" << 0.0 << 1.0 << 1.0 << 0 << "a=1\n   " << "SET {value}" << "选项格式为 名称=值，每行一项";
        QTest::newRow("only line feeds") << "select" << 0.0 << 1.0 << 1.0 << 0 << "\n\n" << "SET {value}"
                                          << "至少填写一个下拉选项";
        QTest::newRow("builder refusal") << "switch" << 0.0 << 1.0 << 1.0 << 0 << "" << "{Value}"
                                          << "未知占位符：{Value}";
        QTest::newRow("range not checked for a switch") << "switch" << 5.0 << 1.0 << 0.0 << 0 << "" << "x" << "";
    }
    void checks()
    {
        QFETCH(QString, type);
        QFETCH(double, minimum);
        QFETCH(double, maximum);
        QFETCH(double, step);
        QFETCH(int, decimals);
        QFETCH(QString, options);
        QFETCH(QString, pattern);
        QFETCH(QString, message);
        ControlEditor editor(defaultControl(type), twoGroups(), "a");
        field<QDoubleSpinBox>(editor, "controlEditor_minimum")->setValue(minimum);
        field<QDoubleSpinBox>(editor, "controlEditor_maximum")->setValue(maximum);
        field<QDoubleSpinBox>(editor, "controlEditor_step")->setValue(step);
        field<QSpinBox>(editor, "controlEditorDecimals")->setValue(decimals);
        if (!options.isEmpty())
            field<QPlainTextEdit>(editor, "controlEditorOptions")->setPlainText(options);
        field<QPlainTextEdit>(editor, "controlPattern")->setPlainText(pattern);
        QCOMPARE(validation(editor), message);
        QCOMPARE(saveOf(editor)->isEnabled(), message.isEmpty());
        QCOMPARE(field<QLabel>(editor, "controlValidation")->isVisibleTo(&editor), !message.isEmpty());
        if (!message.isEmpty())
            QCOMPARE(field<QLabel>(editor, "controlEditorPreview")->text(), message);
    }

    void collectedValues()
    {
        QJsonObject slider = defaultControl("slider");
        slider.insert("value", "150");
        slider.insert("maximum", 200);
        slider.insert("rect", QJsonObject{{"x", 1}});
        ControlEditor editor(slider, twoGroups(), "a");
        field<QDoubleSpinBox>(editor, "controlEditor_maximum")->setValue(100);
        field<QSpinBox>(editor, "controlEditorDecimals")->setValue(2);
        field<QLineEdit>(editor, "controlEditorTitle")->setText("  速度  ");
        field<QLineEdit>(editor, "controlEditorKey")->setText(" k ");
        QJsonObject out = editor.collect();
        QCOMPARE(out.value("value").toString(), QStringLiteral("100.00"));
        QCOMPARE(out.value("title").toString(), QStringLiteral("速度"));
        QCOMPARE(out.value("key").toString(), QStringLiteral(" k "));
        QCOMPARE(out.value("rect").toObject(), (QJsonObject{{"x", 1}}));

        auto* format = field<QComboBox>(editor, "controlFormat");
        format->setCurrentIndex(format->findData("hex"));
        field<QPlainTextEdit>(editor, "controlPattern")->setPlainText("AA {value:u8}");
        QVERIFY(!field<QComboBox>(editor, "controlEditorEncoding")->isEnabled());
        QVERIFY(!field<QComboBox>(editor, "controlNewline")->isEnabled());
        QCOMPARE(validation(editor), QString());   // 100.00 is a whole number
        QCOMPARE(field<QLabel>(editor, "controlEditorPreview")->text(), QStringLiteral("AA 64"));
        out = editor.collect();
        QCOMPARE(out.value("newline").toString(), QStringLiteral("crlf"));
        QCOMPARE(out.value("encoding").toString(), QStringLiteral("utf-8"));

        QJsonObject button = defaultControl("button");
        button.insert("auto_send", true);
        ControlEditor buttonEditor(button, twoGroups(), "a");
        field<QLineEdit>(buttonEditor, "controlEditorButtonValue")->setText(" 7 ");
        QCOMPARE(buttonEditor.collect().value("auto_send").toBool(), false);
        QCOMPARE(buttonEditor.collect().value("value").toString(), QStringLiteral(" 7 "));

        QJsonObject sw = defaultControl("switch");
        sw.insert("value", "1");
        QCOMPARE(ControlEditor(sw, twoGroups(), "a").collect().value("value").toString(), QStringLiteral("1"));

        QJsonObject select = defaultControl("select");
        select.insert("value", "2");
        ControlEditor selectEditor(select, twoGroups(), "a");
        field<QPlainTextEdit>(selectEditor, "controlEditorOptions")->setPlainText("x=5\ny=2");
        QCOMPARE(selectEditor.collect().value("value").toString(), QStringLiteral("2"));
        field<QPlainTextEdit>(selectEditor, "controlEditorOptions")->setPlainText("x=5\ny=6");
        QCOMPARE(selectEditor.collect().value("value").toString(), QStringLiteral("5"));
    }

    void fullTargetGroupIsRefused()
    {
        ControlEditor editor(defaultControl("number"), twoGroups(64), "a");
        auto* group = field<QComboBox>(editor, "controlEditorGroup");
        QCOMPARE(group->currentText(), QStringLiteral("A"));
        group->setCurrentIndex(1);
        QCOMPARE(validation(editor), QStringLiteral("目标组已满，请选择其他控件组"));
        QVERIFY(!saveOf(editor)->isEnabled());
    }

    void addingFromTheMenuOpensTheEditor()
    {
        SerialControlPanel panel;
        auto* add = panel.findChild<QPushButton*>("addSerialControl");
        QTimer::singleShot(0, [] {
            auto* editor = qobject_cast<ControlEditor*>(QApplication::activeModalWidget());
            QVERIFY(editor);
            QVERIFY(editor->findChild<QPlainTextEdit*>("controlEditorOptions")->isVisibleTo(editor));
            editor->reject();
        });
        add->menu()->actions().at(4)->trigger();   // 下拉框
        QCOMPARE(panel.controlRows().size(), std::size_t(1));
        QCOMPARE(panel.controlRows()[0]->control.value("type").toString(), QStringLiteral("select"));
        QCOMPARE(panel.controlRows()[0]->control.value("layer").toInt(), 1);
    }

    // The card's "编辑" opens the editor; saving in the same group edits in
    // place, saving into another group moves the control and stays put.
    void editFromTheCard()
    {
        SerialControlPanel panel;
        QJsonObject a = defaultControl("number");
        a.insert("title", "first");
        panel.restore({{"groups", QJsonArray{QJsonObject{{"id", "a"}, {"name", "A"}, {"controls", QJsonArray{a, a}}},
                                             QJsonObject{{"id", "b"}, {"name", "B"}, {"controls", QJsonArray()}}}},
                       {"active_group", "a"}});
        panel.show();

        QTimer::singleShot(0, [] {
            auto* editor = qobject_cast<ControlEditor*>(QApplication::activeModalWidget());
            QVERIFY(editor);
            editor->findChild<QLineEdit*>("controlEditorTitle")->setText("renamed");
            QTest::mouseClick(editor->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save), Qt::LeftButton);
        });
        QTest::mouseClick(panel.controlRows()[0]->card->findChild<QPushButton*>("editControl"), Qt::LeftButton);
        QCOMPARE(panel.controlRows()[0]->control.value("title").toString(), QStringLiteral("renamed"));

        QTimer::singleShot(0, [] {
            auto* editor = qobject_cast<ControlEditor*>(QApplication::activeModalWidget());
            QVERIFY(editor);
            editor->findChild<QComboBox*>("controlEditorGroup")->setCurrentIndex(1);
            QTest::mouseClick(editor->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Save), Qt::LeftButton);
        });
        QTest::mouseClick(panel.controlRows()[1]->card->findChild<QPushButton*>("editControl"), Qt::LeftButton);
        QCOMPARE(panel.activeGroupId(), QStringLiteral("a"));
        QCOMPARE(panel.controlRows().size(), std::size_t(1));
        const QJsonArray groups = panel.settings().value("groups").toArray();
        QCOMPARE(groups.at(1).toObject().value("controls").toArray().size(), 1);

        // Cancel changes nothing.
        const QJsonObject before = panel.settings();
        QTimer::singleShot(0, [] {
            auto* editor = qobject_cast<ControlEditor*>(QApplication::activeModalWidget());
            QVERIFY(editor);
            editor->findChild<QLineEdit*>("controlEditorTitle")->setText("dropped");
            editor->reject();
        });
        panel.edit(0);
        QCOMPARE(panel.settings(), before);
    }
};

QTEST_MAIN(ControlEditorTest)
#include "ControlEditorTest.moc"
