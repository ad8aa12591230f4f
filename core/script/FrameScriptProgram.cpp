#include "core/script/FrameScriptProgram.h"

#include "core/script/FrameScriptLexer.h"
#include "core/script/FrameScriptParser.h"
#include "core/script/FrameScriptProgramImpl.h"
#include "core/script/ScriptError.h"

namespace vn {

using namespace script;

FrameScriptProgram::FrameScriptProgram(std::shared_ptr<const Impl> impl_) : impl(std::move(impl_))
{
}

std::shared_ptr<const FrameScriptProgram> FrameScriptProgram::compile(const QString& source)
{
    Parser parser(tokenize(source));

    // The one fixed head: void main(<byte array> data, <integer> length).
    parser.expect(QStringLiteral("void"));
    parser.expect(QStringLiteral("main"));
    parser.expect(QStringLiteral("("));

    parser.accept(QStringLiteral("const"));
    const QString dataType = parser.type();
    if (dataType != u"uint8_t" && dataType != u"byte" && dataType != u"char")
        throw ScriptError(parser.current().line, QStringLiteral("main 第一个参数应为字节数组"));
    const bool pointer = parser.accept(QStringLiteral("*"));
    parser.dataName = parser.identifier();
    if (!pointer) {
        parser.expect(QStringLiteral("["));
        parser.expect(QStringLiteral("]"));
    }

    parser.expect(QStringLiteral(","));
    const QString lengthType = parser.type();
    if (lengthType == u"float" || lengthType == u"double")
        throw ScriptError(parser.current().line, QStringLiteral("main 长度参数应为整数"));
    parser.lengthName = parser.identifier();

    if (parser.dataName == parser.lengthName || parser.dataName == u"buffer"
        || parser.lengthName == u"buffer")
        throw ScriptError(parser.current().line,
                          QStringLiteral("main 参数名重复或使用了保留名称 buffer"));

    parser.expect(QStringLiteral(")"));
    if (!parser.at(u"{"))
        throw ScriptError(parser.current().line, QStringLiteral("main 缺少函数体"));

    StatementPtr body = parser.statement();
    if (!parser.atEnd())
        throw ScriptError(parser.current().line,
                          QStringLiteral("第一版仅支持一个固定的 main 函数"));

    auto impl = std::make_shared<Impl>();
    impl->dataName = parser.dataName;
    impl->lengthName = parser.lengthName;
    impl->code = lower(body, impl->dataName, impl->lengthName);
    impl->body = std::move(body);
    return std::make_shared<const FrameScriptProgram>(std::move(impl));
}

QString FrameScriptProgram::example()
{
    return QStringLiteral(
        "// 帧：AA 55 | int16 温度 / 100 | uint16 电压 / 1000 | SUM8 | 0D\n"
        "// 示例：AA 55 C4 09 E4 0C BC 0D -> 温度 25，电压 3.3\n"
        "void main(const uint8_t data[], int length)\n"
        "{\n"
        "    buffer_append(data, length);\n"
        "\n"
        "    while (buffer_size() >= 8)\n"
        "    {\n"
        "        if (buffer[0] != 0xAA || buffer[1] != 0x55)\n"
        "        {\n"
        "            buffer_drop(1);\n"
        "            continue;\n"
        "        }\n"
        "\n"
        "        if (buffer[7] != 0x0D\n"
        "            || sum8(buffer, 0, 6) != buffer[6])\n"
        "        {\n"
        "            buffer_drop(1);\n"
        "            continue;\n"
        "        }\n"
        "\n"
        "        emit(\"温度\", read_i16_le(buffer, 2) / 100.0);\n"
        "        emit(\"电压\", read_u16_le(buffer, 4) / 1000.0);\n"
        "        buffer_drop(8);\n"
        "    }\n"
        "}\n");
}

} // namespace vn
