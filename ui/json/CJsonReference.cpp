#include "ui/json/CJsonReference.h"

#include <QEvent>
#include <QPalette>
#include <QTextDocument>

namespace vn {

namespace {

const char* const Page = R"(<p>本工具依据开源项目 cJSON 的函数生成 JSON 解析和组装示例。</p>
<h3>解析：从 JSON 读取数据</h3>
<p><code>cJSON_ParseWithOpts(text, &amp;end, 1)</code>：把完整 JSON 文本解析为树，并检查尾部。<br>
<code>cJSON_GetObjectItemCaseSensitive(root, "humi")</code>：区分大小写，查找字段 humi。<br>
<code>cJSON_IsNumber(item)</code>、<code>cJSON_IsString(item)</code>、<code>cJSON_IsBool(item)</code>：读取前先检查类型。<br>
<code>item-&gt;valuedouble</code>：读取数字，包含整数和小数。<br>
<code>cJSON_GetStringValue(item)</code>：读取字符串；<code>cJSON_IsTrue(item)</code>：读取布尔值。<br>
<code>cJSON_GetArraySize(array)</code>：获取数组长度；<code>cJSON_GetArrayItem(array, index)</code>：按索引读取元素。</p>
<h3>组装：把数据写成 JSON</h3>
<p><code>cJSON_CreateObject()</code>、<code>cJSON_CreateArray()</code>：创建对象或数组。<br>
<code>cJSON_AddNumberToObject(root, "humi", 65.5)</code>：添加数字字段。<br>
<code>cJSON_AddStringToObject(root, "name", "sensor")</code>：添加字符串字段。<br>
<code>cJSON_AddBoolToObject(root, "online", 1)</code>：添加布尔字段。<br>
<code>cJSON_AddItemToObject(parent, "key", item)</code>、<code>cJSON_AddItemToArray(parent, item)</code>：添加已创建的子节点。<br>
<code>cJSON_Print(root)</code>：输出多行 JSON；<code>cJSON_PrintUnformatted(root)</code>：输出紧凑 JSON。</p>
<h3>释放内存</h3>
<p><code>cJSON_Delete(root)</code>：递归释放解析树或组装树，已添加的子节点会一并释放。<br>
<code>cJSON_free(text)</code>：释放打印函数返回的字符串。树中的字符串需要在释放树前使用或复制。</p>
<p><a href="https://github.com/DaveGamble/cJSON">查看 cJSON 开源项目</a></p>)";

} // namespace

CJsonReference::CJsonReference(QWidget* parent)
    : QTextBrowser(parent)
    , html(QString::fromUtf8(Page))
{
    setOpenExternalLinks(true);
    setHtml(html);
    ensurePolished();
    applyLinkColour();
}

CJsonReference::~CJsonReference() = default;

void CJsonReference::changeEvent(QEvent* event)
{
    QTextBrowser::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange)
        applyLinkColour();
}

void CJsonReference::applyLinkColour()
{
    if (html.isEmpty())
        return;
    const bool light = palette().color(QPalette::Base).lightness() >= 128;
    const QString sheet =
        QStringLiteral("body { font-size: 14px; } code { font-family: Consolas; font-size: 14px; } "
                       "h3 { font-size: 17px; } a { color: %1; text-decoration: underline; }")
            .arg(light ? QStringLiteral("#477255") : QStringLiteral("#edaa50"));
    if (sheet == styleSheet)
        return;
    styleSheet = sheet;
    document()->setDefaultStyleSheet(sheet);
    // The default style sheet applies only to HTML set after it.
    setHtml(html);
}

} // namespace vn
