#pragma once

#include <QByteArray>
#include <QJsonArray>

#include <memory>

namespace vn {

class FrameScriptProgram;

// Runs one compiled frame script for one byte stream. Each feed() runs main
// once over a chunk and returns the frames emitted during that call; the
// receive buffer and the static variables persist between calls. Used by one
// thread at a time.
class FrameScriptRuntime {
public:
    explicit FrameScriptRuntime(std::shared_ptr<const FrameScriptProgram> program);
    ~FrameScriptRuntime();

    FrameScriptRuntime(const FrameScriptRuntime&) = delete;
    FrameScriptRuntime& operator=(const FrameScriptRuntime&) = delete;

    // Throws ScriptError on any fault; the runtime stays usable afterwards.
    QJsonArray feed(const QByteArray& chunk);

    int bufferedBytes() const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl;
};

} // namespace vn
