#include "ui/window/Window.h"

#include "ui/window/ActivityTables.h"
#include "ui/window/AiToast.h"
#include "ui/window/SettingsDialog.h"
#include "ui/window/StatusLine.h"
#include "ui/window/WindowWidgets.h"

#include <QApplication>
#include <QClipboard>
#include <QDialog>
#include <QHBoxLayout>
#include <QJsonDocument>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "ui/kit/Factories.h"

namespace vn {

namespace {

QString resultWord(const QJsonObject& record)
{
    return record.value(QStringLiteral("status")).toString() == QLatin1String("ok") ? QStringLiteral("成功")
                                                                                   : QStringLiteral("失败");
}

QString summaryOf(const QJsonObject& record)
{
    const QString summary = record.value(QStringLiteral("summary")).toString();
    return summary.isEmpty() ? record.value(QStringLiteral("tool")).toString() : summary;
}

QString indented(const QJsonDocument& document)
{
    return QString::fromUtf8(document.toJson(QJsonDocument::Indented));
}

QString detailText(const QJsonObject& record)
{
    QString text = QStringLiteral("调用 #%1 · %2\n")
                       .arg(record.value(QStringLiteral("seq")).toInteger())
                       .arg(record.value(QStringLiteral("tool")).toString());
    text += QStringLiteral("时间：%1\n客户端：%2\n结果：%3\n耗时：%4 ms\n")
                .arg(record.value(QStringLiteral("time")).toString(),
                     record.value(QStringLiteral("client")).toString(), resultWord(record))
                .arg(record.value(QStringLiteral("duration_ms")).toInteger());
    if (const QString summary = record.value(QStringLiteral("summary")).toString(); !summary.isEmpty())
        text += QStringLiteral("摘要：") + summary + QLatin1Char('\n');
    text += QStringLiteral("\n参数：\n")
        + indented(QJsonDocument(record.value(QStringLiteral("arguments")).toObject()));
    const QString failure = record.value(QStringLiteral("error")).toString();
    const QString result = record.value(QStringLiteral("result")).toString();
    if (!failure.isEmpty()) {
        text += QStringLiteral("\n错误：\n") + failure + QLatin1Char('\n');
    } else if (!result.isEmpty()) {
        QJsonParseError problem{};
        const QJsonDocument parsed = QJsonDocument::fromJson(result.toUtf8(), &problem);
        const bool json = problem.error == QJsonParseError::NoError && (parsed.isObject() || parsed.isArray());
        text += QStringLiteral("\n返回：\n") + (json ? indented(parsed) : result) + QLatin1Char('\n');
    }
    return text;
}

} // namespace

void Window::showAiActivity(const QJsonObject& record)
{
    lastActivity = record;
    const QString word = resultWord(record);
    const QString summary = summaryOf(record);
    QLabel* text = ui->toast->text;
    QString tip = QStringLiteral("%1\n客户端：%2\n时间：%3\n耗时：%4 ms")
                      .arg(summary, record.value(QStringLiteral("client")).toString(),
                           record.value(QStringLiteral("time")).toString())
                      .arg(record.value(QStringLiteral("duration_ms")).toInteger());
    if (record.value(QStringLiteral("status")).toString() != QLatin1String("ok"))
        tip += QStringLiteral("\n错误：") + record.value(QStringLiteral("error")).toString();
    ui->toast->setToolTip(plainToolTip(tip));
    text->setToolTip(plainToolTip(tip));
    ui->toast->showText(QStringLiteral("AI · %1 · %2")
                            .arg(word, text->fontMetrics().elidedText(summary, Qt::ElideMiddle, 300)));
    positionAiToast();

    QLabel* label = ui->status->ai;
    label->setText(QStringLiteral("AI · %1 · %2")
                       .arg(word, label->fontMetrics().elidedText(summary, Qt::ElideMiddle, 240)));
    label->setToolTip(plainToolTip(tip));
    ui->status->want(label, true);
}

void Window::positionAiToast()
{
    if (!ui->toast || !ui->content || !ui->tabHeader)
        return;
    ui->toast->adjustSize();
    const int x = std::max(8, ui->content->width() - ui->toast->width() - 14);
    ui->toast->move(x, ui->tabHeader->height() + 52);
}

void Window::showAuditDetail(const QJsonObject& record)
{
    // Over the call log when that is what the user is looking at; the dialog
    // is kept hidden between openings and is no parent to show a detail over.
    QWidget* parent = this;
    if (ui->settingsDialog && ui->settingsDialog->isVisible())
        parent = ui->settingsDialog;
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("mcpCallDetail"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("MCP 调用详情 · ") + record.value(QStringLiteral("tool")).toString());
    dialog->setStyleSheet(theme.stylesheet());
    dialog->resize(820, 620);
    auto* layout = new QVBoxLayout(dialog);
    auto* text = new QPlainTextEdit(detailText(record), dialog);
    text->setObjectName(QStringLiteral("mcpCallDetailText"));
    text->setReadOnly(true);
    text->setFont(dataFont);
    text->setLineWrapMode(QPlainTextEdit::NoWrap);
    layout->addWidget(text, 1);
    auto* buttons = horizontal(nullptr);
    buttons->addStretch();
    QPushButton* copy = button(QStringLiteral("复制详情"), QStringLiteral("outline"));
    QPushButton* close = button(QStringLiteral("关闭"), QStringLiteral("primary"));
    buttons->addWidget(copy);
    buttons->addWidget(close);
    layout->addLayout(buttons);
    connect(copy, &QPushButton::clicked, dialog,
            [text]() { QApplication::clipboard()->setText(text->toPlainText()); });
    connect(close, &QPushButton::clicked, dialog, &QDialog::close);
    dialog->show();
}

void Window::refreshAudit()
{
    // The tables may sit in torn-off windows of their own, so they count as
    // shown wherever they are; a dialog without them has nothing to refresh.
    auto* dialog = qobject_cast<SettingsDialog*>(ui->settingsDialog.data());
    QTreeWidget* overview = dialog ? dialog->connectionsOverview() : nullptr;
    if (!overview || ui->auditClock.elapsed() < 250)
        return;
    QTreeWidget* log = dialog->callLog();
    if (!dialog->isVisible() && !overview->isVisible() && !(log && log->isVisible()))
        return;
    ui->auditClock.restart();
    fillConnectionsOverview(overview, engine);
    if (log)
        fillCallLog(log, server);
}

} // namespace vn
