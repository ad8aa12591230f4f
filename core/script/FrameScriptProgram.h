#pragma once

#include <QString>

#include <memory>

namespace vn {

// A compiled frame script: immutable once made, shared read-only by every
// runtime and thread that runs it. Made only by compile().
class FrameScriptProgram {
public:
    struct Impl;

    explicit FrameScriptProgram(std::shared_ptr<const Impl> impl);

    // Compiles the whole source; throws ScriptError on the first fault.
    static std::shared_ptr<const FrameScriptProgram> compile(const QString& source);

    // The built-in example script a new session page starts with.
    static QString example();

    std::shared_ptr<const Impl> impl;
};

} // namespace vn
