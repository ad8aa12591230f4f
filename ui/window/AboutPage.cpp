#include "ui/window/AboutPage.h"

#include "core/Version.h"
#include "ui/kit/Factories.h"

#include <QGridLayout>
#include <QLabel>
#include <QVBoxLayout>
#include <QtGlobal>

namespace vn {

namespace {

// The language standard this build was compiled with, as the about page names it.
QString languageStandard()
{
#if __cplusplus > 202002L
    return QStringLiteral("C++23");
#elif __cplusplus >= 202002L
    return QStringLiteral("C++20");
#else
    return QStringLiteral("C++17");
#endif
}

} // namespace

AboutPage::AboutPage(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("aboutPage"));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->setSpacing(14);

    layout->addWidget(label(QStringLiteral("Varnelle"), QStringLiteral("aboutTitle")));
    layout->addWidget(label(QStringLiteral("版本 %1 · Qt %2 / ")
                                    .arg(QString::fromLatin1(Version), QString::fromLatin1(qVersion()))
                                + languageStandard(),
                            QStringLiteral("aboutVersion")));
    QLabel* summary = label(QStringLiteral("面向嵌入式开发的串口、网络与 SSH 调试瓦内勒。"), QStringLiteral("aboutSummary"));
    summary->setWordWrap(true);
    layout->addWidget(summary);
    layout->addSpacing(8);

    auto* grid = new QGridLayout;
    grid->setHorizontalSpacing(20);
    grid->setVerticalSpacing(18);
    grid->setColumnMinimumWidth(0, 84);
    grid->setColumnStretch(1, 1);
    addRow(grid, 0, QStringLiteral("连接方式"),
           QStringLiteral("串口 · TCP 客户端 / 服务端 · UDP · SSH\n自动识别串口插拔，读取 SSH 主机配置，支持密钥登录。"));
    addRow(grid, 1, QStringLiteral("收发与终端"),
           QStringLiteral("文本 / HEX 收发、搜索、日志导出与循环发送。\nANSI 交互终端，支持中文输入、复制粘贴与快捷键。"));
    addRow(grid, 2, QStringLiteral("数据控件"),
           QStringLiteral("数值波形与实时数值面板 · JSON、XML 独立解析\n自定义帧由 C 风格脚本解析，在收发页独立展示。"));
    addRow(grid, 3, QStringLiteral("标签与窗口"), QStringLiteral("标签重命名、拖动排序、分离为独立窗口与重新停靠。"));
    addRow(grid, 4, QStringLiteral("AI / MCP"),
           QStringLiteral("HTTP / STDIO 共享会话，界面与 AI 各自读取同一份数据。\n"
                          "支持 Codex、Claude Code、OpenCode CLI、Claude Desktop 和 Pi Agent。\n"
                          "发送报文与控制连接需在 AI / MCP 中启用权限。"));
    layout->addLayout(grid);
    layout->addStretch();
}

void AboutPage::addRow(QGridLayout* grid, int row, const QString& heading, const QString& text)
{
    grid->addWidget(label(heading, QStringLiteral("aboutSection")), row, 0, Qt::AlignTop);
    QLabel* detail = label(text, QStringLiteral("aboutDetail"));
    detail->setWordWrap(true);
    detail->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Ignored horizontally so long lines wrap to the column instead of widening the page.
    detail->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    grid->addWidget(detail, row, 1);
}

} // namespace vn
