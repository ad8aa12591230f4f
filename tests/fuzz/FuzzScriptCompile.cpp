// The frame-script lexer, parser and compiler on arbitrary source text: every
// input either compiles or is refused with a ScriptError that names a line.

#include "core/script/FrameScriptProgram.h"
#include "core/script/ScriptError.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString source = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    try {
        const auto program = vn::FrameScriptProgram::compile(source);
        if (!program || !program->impl)
            vn::fuzz::broken("compile returned no program");
    } catch (const vn::ScriptError& error) {
        if (error.display().isEmpty())
            vn::fuzz::broken("script error without a message");
    }
    return 0;
}
