#include "ui/controls/GroupDialogs.h"

#include "ui/controls/PanelJson.h"
#include "ui/controls/SerialControlPanel.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace vn {

namespace {

QVBoxLayout* dialogLayout(QDialog* dialog)
{
    auto* layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(16, 12, 16, 12);
    return layout;
}

QLabel* plainLabel(const QString& text)
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

// OK and Cancel, where Enter means Cancel: for questions that destroy things.
QDialogButtonBox* cautiousButtons(QDialog* dialog, const QString& okText, const QString& okName)
{
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setText(okText);
    if (!okName.isEmpty())
        ok->setObjectName(okName);
    ok->setAutoDefault(false);
    ok->setDefault(false);
    QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel);
    cancel->setText(QStringLiteral("取消"));
    cancel->setAutoDefault(true);
    cancel->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    return buttons;
}

} // namespace

std::optional<QString> askGroupName(QWidget* parent, const QString& title, const QString& initial)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("controlGroupNameDialog"));
    dialog.setWindowTitle(title);
    dialog.resize(420, 230);
    dialog.setMinimumSize(340, 200);
    QVBoxLayout* layout = dialogLayout(&dialog);
    layout->addWidget(new QLabel(QStringLiteral("控件组名称")));
    auto* edit = new QLineEdit(initial);
    edit->setObjectName(QStringLiteral("controlGroupName"));
    edit->setMaxLength(kMaxGroupName);
    layout->addWidget(edit);
    layout->addStretch(1);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    ok->setText(QStringLiteral("确定"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    auto check = [edit, ok] { ok->setEnabled(!edit->text().trimmed().isEmpty()); };
    QObject::connect(edit, &QLineEdit::textChanged, &dialog, check);
    check();
    edit->selectAll();
    edit->setFocus();

    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QString name = edit->text().trimmed();
    if (name.isEmpty())
        return std::nullopt;
    return name;
}

bool confirmGroupDelete(QWidget* parent, const QString& groupName)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("deleteControlGroupDialog"));
    dialog.setWindowTitle(QStringLiteral("删除控件组"));
    dialog.resize(460, 250);
    dialog.setMinimumSize(340, 230);
    QVBoxLayout* layout = dialogLayout(&dialog);
    QLabel* question = plainLabel(QStringLiteral("删除“") + groupName + QStringLiteral("”及其中的控件？"));
    question->setObjectName(QStringLiteral("deleteControlGroupQuestion"));
    layout->addWidget(question);
    layout->addWidget(plainLabel(QStringLiteral("删除后无法撤销。串口连接和收发记录会保留。")));
    layout->addStretch(1);
    layout->addWidget(cautiousButtons(&dialog, QStringLiteral("删除控件组"), QStringLiteral("confirmDeleteControlGroup")));
    return dialog.exec() == QDialog::Accepted;
}

bool confirmClearControls(QWidget* parent, int groupCount, int controlCount)
{
    QDialog dialog(parent);
    dialog.setObjectName(QStringLiteral("clearControlsDialog"));
    dialog.setWindowTitle(QStringLiteral("清空全部控件"));
    dialog.resize(460, 250);
    dialog.setMinimumSize(340, 230);
    QVBoxLayout* layout = dialogLayout(&dialog);
    QLabel* summary =
        plainLabel(QStringLiteral("清空本页面 %1 个控件组中的全部 %2 个控件？").arg(groupCount).arg(controlCount));
    summary->setObjectName(QStringLiteral("clearControlsSummary"));
    layout->addWidget(summary);
    layout->addWidget(plainLabel(QStringLiteral("控件组、串口连接和收发记录会保留。清空后无法撤销。此操作不会发送数据。")));
    layout->addStretch(1);
    layout->addWidget(cautiousButtons(&dialog, QStringLiteral("清空控件"), QStringLiteral("confirmClearControls")));
    return dialog.exec() == QDialog::Accepted;
}

void SerialControlPanel::manageGroup(const QString& action)
{
    const bool known = action == QLatin1String("new") || action == QLatin1String("rename")
        || action == QLatin1String("copy") || action == QLatin1String("delete");
    if (!known)
        return;   // only the action asked for: an unknown one must not delete a group
    cancelPending();
    QJsonObject panel = settings();
    QJsonArray list = panel.value(QStringLiteral("groups")).toArray();
    const int index = groupIndex(list, activeGroup);
    if (index < 0)
        return;
    QJsonObject group = list.at(index).toObject();
    const QString currentName = group.value(QStringLiteral("name")).toString();

    if (action == QLatin1String("delete")) {
        if (list.size() <= 1) {
            status->setText(QStringLiteral("请至少保留一个控件组；可移除组内控件。"));
            return;
        }
        if (!confirmGroupDelete(this, currentName))
            return;
        list.removeAt(index);
        const qsizetype next = std::min<qsizetype>(index, list.size() - 1);
        panel.insert(QStringLiteral("groups"), list);
        panel.insert(QStringLiteral("active_group"), list.at(next).toObject().value(QStringLiteral("id")));
        applyPanel(panel);
        return;
    }

    const bool rename = action == QLatin1String("rename");
    const QString title = rename ? QStringLiteral("重命名控件组") : QStringLiteral("新建控件组");
    QString initial;
    if (rename)
        initial = currentName;
    else if (action == QLatin1String("copy"))
        initial = currentName + QStringLiteral(" 副本");
    const std::optional<QString> name = askGroupName(this, title, initial);
    if (!name)
        return;

    if (action == QLatin1String("new")) {
        addGroup(*name);
        return;
    }
    if (action == QLatin1String("copy")) {
        if (list.size() >= kMaxControlGroups) {
            status->setText(QStringLiteral("每页最多 32 个控件组"));
            return;
        }
        QJsonObject copy = group;
        copy.insert(QStringLiteral("id"), newGroupId());
        copy.insert(QStringLiteral("name"), name->left(kMaxGroupName));
        list.append(copy);
        panel.insert(QStringLiteral("active_group"), copy.value(QStringLiteral("id")));
    } else {
        group.insert(QStringLiteral("name"), name->left(kMaxGroupName));
        list.replace(index, group);
    }
    panel.insert(QStringLiteral("groups"), list);
    applyPanel(panel);
}

} // namespace vn
