#pragma once

#include "core/script/FrameScriptCode.h"
#include "core/script/FrameScriptProgram.h"
#include "core/script/FrameScriptSyntax.h"

namespace vn {

struct FrameScriptProgram::Impl {
    QString dataName;
    QString lengthName;
    script::StatementPtr body;
    std::shared_ptr<const script::Code> code;   // the body lowered for the interpreter
};

} // namespace vn
