#include "ui/pages/WaveFormatHelp.h"

#include "ui/kit/Factories.h"

#include <QDialog>
#include <QPushButton>
#include <QTextBrowser>
#include <QVBoxLayout>

namespace vn {

QString WaveFormatHelp::html()
{
    const QString example = QStringLiteral(
        "printf(\"@wave count=%d,temperature=%.2f,voltage=%.3f\\r\\n\",\n"
        "       count, (double)temperature, (double)voltage);");
    return QStringLiteral("<h2>波形专用协议 wave/1</h2>"
                          "<pre>@wave count=120,temperature=25.50,voltage=3.300</pre>"
                          "<p>每个采样独占一行，必须以小写 <b>@wave 加一个空格</b>开头，以 CR、LF 或 CRLF 结束。串口、TCP、UDP 均支持。</p>"
                          "<p>字段名就是通道名，与字段顺序无关。名称可用字母、汉字、数字和下划线，不能以数字开头，最长 64 个字符；同一帧不能重名。</p>"
                          "<p>用逗号分隔 name=value 字段，每帧 1～16 个通道。支持整数、负数、小数及科学计数法，例如 -12、3.3、1.25e-3。字段两侧可有空格或 Tab。</p>"
                          "<h3>单片机 C / C++ 示例</h3>"
                          "<pre>%1</pre>"
                          "<p>普通日志、无前缀数字/CSV/JSON、自定义二进制帧均不进入波形和实时数值。脚本结果与 JSON/XML 控件仍独立处理。</p>"
                          "<p>无效专用帧整帧丢弃并计入格式错误，不生成部分采样。每行最多 8192 字节，每个来源保留 5000 个采样。</p>"
                          "<p>滚轮缩放，放大后按住左键平移，双击恢复全部采样。</p>")
        .arg(example.toHtmlEscaped());
}

QDialog* WaveFormatHelp::show(QWidget* parent)
{
    auto* dialog = new QDialog(parent);
    dialog->setObjectName(QStringLiteral("waveFormatHelp"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("数值报文格式"));
    dialog->setMinimumSize(360, 240);
    dialog->setSizeGripEnabled(true);
    auto* layout = new QVBoxLayout(dialog);
    auto* browser = new QTextBrowser;
    browser->setObjectName(QStringLiteral("waveFormatText"));
    browser->setHtml(html());
    layout->addWidget(browser);
    QPushButton* close = button(QStringLiteral("关闭"), QString());
    close->setObjectName(QStringLiteral("waveFormatClose"));
    QObject::connect(close, &QPushButton::clicked, dialog, &QDialog::close);
    layout->addWidget(close);
    dialog->resize(640, 540);
    dialog->show();
    return dialog;
}

} // namespace vn
