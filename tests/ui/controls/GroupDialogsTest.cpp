#include "ui/controls/ControlPacket.h"
#include "ui/controls/SerialControlPanel.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace vn;

namespace {

QJsonObject group(const QString& id, const QString& name, int controls = 0)
{
    QJsonArray list;
    for (int i = 0; i < controls; ++i)
        list.append(defaultControl("switch"));
    return QJsonObject{{"id", id}, {"name", name}, {"controls", list}};
}

QJsonObject panelOf(const QJsonArray& groups, const QString& active)
{
    return QJsonObject{{"groups", groups}, {"active_group", active}};
}

QStringList names(const SerialControlPanel& panel)
{
    QStringList out;
    for (const QJsonValue& g : panel.settings().value("groups").toArray())
        out << g.toObject().value("name").toString();
    return out;
}

// Runs `answer` on the next modal dialog, checking its object name first.
void whenDialog(const QString& name, std::function<void(QDialog*)> answer)
{
    QTimer::singleShot(0, [name, answer] {
        auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        QCOMPARE(dialog->objectName(), name);
        answer(dialog);
    });
}

void typeName(QDialog* dialog, const QString& text)
{
    auto* edit = dialog->findChild<QLineEdit*>("controlGroupName");
    edit->selectAll();
    QTest::keyClicks(edit, text);
    QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
}

} // namespace

class GroupDialogsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lastGroupIsKept()
    {
        SerialControlPanel panel;
        const QJsonObject before = panel.settings();
        panel.manageGroup("delete");   // no dialog: a hang here would mean one opened
        QCOMPARE(panel.statusLabel()->text(), QStringLiteral("请至少保留一个控件组；可移除组内控件。"));
        QCOMPARE(panel.settings(), before);
    }

    void unknownActionDoesNothing()
    {
        SerialControlPanel panel;
        panel.restore(panelOf({group("a", "A"), group("b", "B")}, "a"));
        QSignalSpy changed(&panel, &SerialControlPanel::changed);
        const QJsonObject before = panel.settings();
        panel.manageGroup("remove");
        panel.manageGroup("");
        QCOMPARE(panel.settings(), before);
        QCOMPARE(changed.count(), 0);
    }

    void deleteChoosesTheNeighbour_data()
    {
        QTest::addColumn<QString>("active");
        QTest::addColumn<QStringList>("left");
        QTest::addColumn<QString>("nowActive");
        QTest::newRow("last of three") << "c" << QStringList{"A", "B"} << "b";
        QTest::newRow("first of three") << "a" << QStringList{"B", "C"} << "b";
        QTest::newRow("middle") << "b" << QStringList{"A", "C"} << "c";
    }
    void deleteChoosesTheNeighbour()
    {
        QFETCH(QString, active);
        QFETCH(QStringList, left);
        QFETCH(QString, nowActive);
        SerialControlPanel panel;
        panel.restore(panelOf({group("a", "A"), group("b", "B"), group("c", "C")}, active));
        QSignalSpy changed(&panel, &SerialControlPanel::changed);
        whenDialog("deleteControlGroupDialog", [](QDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("删除控件组"));
            QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        });
        panel.manageGroup("delete");
        QCOMPARE(names(panel), left);
        QCOMPARE(panel.activeGroupId(), nowActive);
        QCOMPARE(changed.count(), 1);
    }

    void enterCancelsADeletionAndNamesStayPlain()
    {
        SerialControlPanel panel;
        panel.restore(panelOf({group("a", "<b>bold</b>"), group("b", "B")}, "a"));
        whenDialog("deleteControlGroupDialog", [](QDialog* dialog) {
            auto* question = dialog->findChild<QLabel*>("deleteControlGroupQuestion");
            QCOMPARE(question->textFormat(), Qt::PlainText);
            QCOMPARE(question->text(), QStringLiteral("删除“<b>bold</b>”及其中的控件？"));
            auto* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
            QCOMPARE(ok->text(), QStringLiteral("删除控件组"));
            QVERIFY(!ok->isDefault());
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        panel.manageGroup("delete");
        QCOMPARE(names(panel), (QStringList{"<b>bold</b>", "B"}));
    }

    void blankNameCannotBeConfirmed()
    {
        SerialControlPanel panel;
        whenDialog("controlGroupNameDialog", [](QDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("新建控件组"));
            auto* ok = dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
            QVERIFY(!ok->isEnabled());
            auto* edit = dialog->findChild<QLineEdit*>("controlGroupName");
            QCOMPARE(edit->maxLength(), 80);
            QTest::keyClicks(edit, "   ");
            QVERIFY(!ok->isEnabled());
            QTest::keyClicks(edit, "x");
            QVERIFY(ok->isEnabled());
            dialog->reject();
        });
        QTest::mouseClick(panel.findChild<QPushButton*>("addControlGroup"), Qt::LeftButton);
        QCOMPARE(names(panel), QStringList{"默认组"});
    }

    void newRenameAndCopy()
    {
        SerialControlPanel panel;
        panel.restore(panelOf({group("a", "A", 2), group("b", "B")}, "a"));
        QSignalSpy changed(&panel, &SerialControlPanel::changed);

        whenDialog("controlGroupNameDialog", [](QDialog* dialog) {
            QCOMPARE(dialog->windowTitle(), QStringLiteral("重命名控件组"));
            QCOMPARE(dialog->findChild<QLineEdit*>("controlGroupName")->selectedText(), QStringLiteral("A"));
            typeName(dialog, "  Renamed  ");
        });
        panel.manageGroup("rename");
        QCOMPARE(names(panel), (QStringList{"Renamed", "B"}));
        QCOMPARE(panel.activeGroupId(), QStringLiteral("a"));
        QCOMPARE(panel.controlRows().size(), std::size_t(2));

        panel.valueChanged(panel.controlRows()[0].get(), "1");
        whenDialog("controlGroupNameDialog", [](QDialog* dialog) {
            QCOMPARE(dialog->findChild<QLineEdit*>("controlGroupName")->text(), QStringLiteral("Renamed 副本"));
            QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        });
        panel.manageGroup("copy");
        QCOMPARE(names(panel), (QStringList{"Renamed", "B", "Renamed 副本"}));
        const QJsonArray groups = panel.settings().value("groups").toArray();
        QCOMPARE(panel.activeGroupId(), groups.at(2).toObject().value("id").toString());
        QVERIFY(panel.activeGroupId() != QStringLiteral("a"));
        QCOMPARE(panel.controlRows().size(), std::size_t(2));
        QCOMPARE(panel.controlRows()[0]->control.value("value").toString(), QStringLiteral("1"));

        whenDialog("controlGroupNameDialog", [](QDialog* dialog) { typeName(dialog, "New"); });
        panel.manageGroup("new");
        QCOMPARE(names(panel).last(), QStringLiteral("New"));
        QCOMPARE(panel.controlRows().size(), std::size_t(0));
        QCOMPARE(changed.count(), 3);
    }

    void copyRefusedAt32Groups()
    {
        QJsonArray many;
        for (int i = 0; i < 32; ++i)
            many.append(group(QString::number(i), QString::number(i)));
        SerialControlPanel panel;
        panel.restore(panelOf(many, "0"));
        const QJsonObject before = panel.settings();
        whenDialog("controlGroupNameDialog", [](QDialog* dialog) {
            QTest::mouseClick(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok), Qt::LeftButton);
        });
        panel.manageGroup("copy");
        QCOMPARE(panel.statusLabel()->text(), QStringLiteral("每页最多 32 个控件组"));
        QCOMPARE(panel.settings(), before);
    }
};

QTEST_MAIN(GroupDialogsTest)
#include "GroupDialogsTest.moc"
