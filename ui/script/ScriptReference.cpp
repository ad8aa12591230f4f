#include "ui/script/ScriptReference.h"

namespace vn {

QString scriptReferenceHtml()
{
    return QStringLiteral(
        "<h3>固定入口</h3>"
        "<pre>void main(const uint8_t data[], int length)</pre>"
        "<p>每收到一批数据运行一次 main。data 与 buffer 是只读数组，按 data[i] / buffer[i] 读取。"
        "一批数据可能只有半帧，也可能包含多帧；buffer 与 static 数值变量在多次调用之间保留。</p>"

        "<h3>缓存与输出</h3>"
        "<ul>"
        "<li>buffer_append(data, length)：把本批数据追加到缓存</li>"
        "<li>buffer_size()：缓存中的字节数</li>"
        "<li>buffer_drop(n)：丢弃缓存开头 n 个字节，并提交本帧已输出的字段</li>"
        "<li>buffer_clear()：清空缓存</li>"
        "<li>emit(\"名称\", 数值)：输出一个字段</li>"
        "<li>emit_frame()：结束当前帧</li>"
        "</ul>"
        "<p>main 返回时，尚未提交的字段会自动提交。结果显示在会话页的脚本结果区；"
        "波形和其他仪表各自独立解析。</p>"

        "<h3>读取与校验</h3>"
        "<ul>"
        "<li>read_u8 / read_i8(array, offset)</li>"
        "<li>read_u16_le / read_u16_be / read_i16_le / read_i16_be(array, offset)</li>"
        "<li>read_u32_le / read_u32_be / read_i32_le / read_i32_be(array, offset)</li>"
        "<li>read_f32_le / read_f32_be(array, offset)</li>"
        "<li>sum8 / xor8 / crc16_modbus(array, start, count)</li>"
        "<li>min(a, b) / max(a, b) / abs(a)</li>"
        "</ul>"
        "<p>_le 为小端，_be 为大端；array 为 data 或 buffer。</p>"

        "<h3>C 风格语法</h3>"
        "<p>支持数值变量、const、static、类型转换、if / else、for、while、break、continue、return、"
        "算术运算以及 32 位无符号位运算；整数除法向零截断。</p>"
        "<p>只有 main 与内置函数：不支持头文件、结构体、动态内存或自定义函数。</p>"

        "<h3>执行范围</h3>"
        "<ul>"
        "<li>仅用于串口会话，每个端口一份缓存。</li>"
        "<li>重新启用、应用代码或重新连接时状态复位。</li>"
        "<li>缓存最多 64 KiB；每次调用最多 200000 步、约 100 ms、1024 帧，每帧最多 16 个字段。</li>"
        "<li>出错时显示行号并停止解析，连接与原始数据照常继续。</li>"
        "<li>试解析独立运行，不向设备发送任何数据。</li>"
        "</ul>");
}

} // namespace vn
