#include "ui/pages/PacketTemplates.h"

#include "platform/WholeFile.h"
#include "ui/kit/Combo.h"
#include "ui/kit/Factories.h"
#include "ui/kit/IconButton.h"
#include "ui/pages/Pane.h"
#include "ui/pages/SendBar.h"
#include "ui/window/Window.h"

#include <QFile>
#include <QFileDialog>
#include <QInputDialog>
#include <QJsonDocument>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>

#include <algorithm>

namespace vn {

namespace {

QJsonArray& sharedList(Pane& page)
{
    return page.window->rootWindow()->templates;
}

} // namespace

QJsonObject PacketTemplates::capture(const SendBar& sender, const QString& name)
{
    return {{QStringLiteral("name"), name},
            {QStringLiteral("payload"), sender.textBox->toPlainText()},
            {QStringLiteral("hex_mode"), sender.sendHex->isChecked()},
            {QStringLiteral("encoding"), sender.encoding->currentText()},
            {QStringLiteral("newline"), sender.newline->currentIndex()}};
}

void PacketTemplates::apply(SendBar& sender, const QJsonObject& entry)
{
    sender.textBox->setPlainText(entry.value(QStringLiteral("payload")).toString());
    sender.sendHex->setChecked(entry.value(QStringLiteral("hex_mode")).toBool(false));
    const QString encoding = entry.value(QStringLiteral("encoding")).toString(QStringLiteral("utf-8"));
    if (sender.encoding->findText(encoding) >= 0)
        sender.encoding->setCurrentText(encoding);
    // The workspace file is not checked as an imported file is: an index off
    // the list takes its nearest end rather than blanking the combo.
    const int last = std::max(0, sender.newline->count() - 1);
    sender.newline->setCurrentIndex(std::clamp(entry.value(QStringLiteral("newline")).toInt(0), 0, last));
}

QString PacketTemplates::validate(const QJsonArray& templates)
{
    for (const QJsonValue& value : templates) {
        const QJsonObject entry = value.toObject();
        const int newline = entry.value(QStringLiteral("newline")).toInt(0);
        if (!entry.value(QStringLiteral("name")).isString() || !entry.value(QStringLiteral("payload")).isString()
            || newline < 0 || newline > 3)
            return QStringLiteral("模板字段无效，未导入");
    }
    return QString();
}

QString PacketTemplates::read(const QString& path, QJsonArray* templates)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("无法读取模板文件：") + file.errorString();
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll());
    if (!document.isArray())
        return QStringLiteral("模板文件需要 JSON 数组");
    const QJsonArray array = document.array();
    if (const QString problem = validate(array); !problem.isEmpty())
        return problem;
    *templates = array;
    return QString();
}

QString PacketTemplates::write(const QJsonArray& templates, const QString& path)
{
    return saveWhole(path, QJsonDocument(templates).toJson(QJsonDocument::Indented));
}

void PacketTemplates::fillMenu(QMenu& menu, Pane& page)
{
    const QJsonArray list = sharedList(page);
    QPointer<Pane> guarded(&page);
    for (const QJsonValue& value : list) {
        const QJsonObject entry = value.toObject();
        QAction* action = menu.addAction(menuText(entry.value(QStringLiteral("name")).toString()));
        QObject::connect(action, &QAction::triggered, &menu, [guarded, entry]() {
            if (guarded)
                apply(*guarded->sendBar(), entry);
        });
    }
    if (!list.isEmpty())
        menu.addSeparator();
    // The dialogs start after the menu has closed, from the page's own queue.
    const auto later = [guarded](void (*action)(Pane&)) {
        return [guarded, action]() {
            QTimer::singleShot(0, guarded, [guarded, action]() {
                if (guarded)
                    action(*guarded);
            });
        };
    };
    QAction* save = menu.addAction(QStringLiteral("保存当前报文…"));
    save->setObjectName(QStringLiteral("saveTemplate"));
    QObject::connect(save, &QAction::triggered, &menu, later(&PacketTemplates::saveCurrent));
    QAction* import = menu.addAction(QStringLiteral("导入模板…"));
    import->setObjectName(QStringLiteral("importTemplates"));
    QObject::connect(import, &QAction::triggered, &menu, later(&PacketTemplates::importFile));
    QAction* exporting = menu.addAction(QStringLiteral("导出模板…"));
    exporting->setObjectName(QStringLiteral("exportTemplates"));
    QObject::connect(exporting, &QAction::triggered, &menu, later(&PacketTemplates::exportFile));
}

void PacketTemplates::saveCurrent(Pane& page)
{
    QInputDialog dialog(&page);
    dialog.setObjectName(QStringLiteral("templateNameDialog"));
    dialog.setWindowTitle(QStringLiteral("保存报文模板"));
    dialog.setLabelText(QStringLiteral("模板名称"));
    dialog.setTextValue(QString());
    QPointer<Pane> guarded(&page);
    if (dialog.exec() != QDialog::Accepted || !guarded)
        return;
    const QString name = dialog.textValue().trimmed();
    if (name.isEmpty())
        return;
    sharedList(page).append(capture(*page.sendBar(), name));
    page.window->saveSettings();
}

void PacketTemplates::importFile(Pane& page)
{
    QFileDialog dialog(&page, QStringLiteral("导入模板"), QString(), QStringLiteral("JSON (*.json)"));
    dialog.setObjectName(QStringLiteral("templateImportDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    QPointer<Pane> guarded(&page);
    if (dialog.exec() != QDialog::Accepted || !guarded || dialog.selectedFiles().isEmpty())
        return;
    importFrom(page, dialog.selectedFiles().constFirst());
}

bool PacketTemplates::importFrom(Pane& page, const QString& path)
{
    QJsonArray templates;
    if (const QString problem = read(path, &templates); !problem.isEmpty()) {
        page.showError(problem);
        return false;
    }
    sharedList(page) = templates;
    page.window->saveSettings();
    return true;
}

bool PacketTemplates::exportTo(Pane& page, const QString& path)
{
    if (const QString problem = write(sharedList(page), path); !problem.isEmpty()) {
        page.showError(problem);
        return false;
    }
    return true;
}

void PacketTemplates::exportFile(Pane& page)
{
    QFileDialog dialog(&page, QStringLiteral("导出模板"), QString(), QStringLiteral("JSON (*.json)"));
    dialog.setObjectName(QStringLiteral("templateExportDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.selectFile(QStringLiteral("templates.json"));
    QPointer<Pane> guarded(&page);
    if (dialog.exec() != QDialog::Accepted || !guarded || dialog.selectedFiles().isEmpty())
        return;
    const QString path = dialog.selectedFiles().constFirst();
    if (!path.isEmpty())
        exportTo(page, path);
}

} // namespace vn
