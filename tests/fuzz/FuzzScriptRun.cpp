// The frame-script interpreter under its limits: the input is a script, a NUL,
// and the bytes it is fed (cut by the chunking byte that follows the NUL).
// Faults of the script are ScriptErrors and leave the runtime usable; nothing
// may run past the step and time limits.

#include "core/script/FrameScriptProgram.h"
#include "core/script/FrameScriptRuntime.h"
#include "core/script/ScriptError.h"
#include "tests/fuzz/FuzzSupport.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QString>

#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const void* nul = std::memchr(data, 0, size);
    if (!nul)
        return 0;
    const std::size_t sourceSize = std::size_t(static_cast<const std::uint8_t*>(nul) - data);
    const QString source = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(sourceSize));
    std::shared_ptr<const vn::FrameScriptProgram> program;
    try {
        program = vn::FrameScriptProgram::compile(source);
    } catch (const vn::ScriptError&) {
        return 0;
    }
    const vn::fuzz::Input input(data + sourceSize + 1, size - sourceSize - 1);
    vn::FrameScriptRuntime runtime(program);
    int feeds = 0;
    for (const QByteArray& piece : input.pieces()) {
        // Each feed may spend its whole time budget; a few are enough to
        // reach the state carried between chunks.
        if (++feeds > 6)
            break;
        QElapsedTimer clock;
        clock.start();
        try {
            const QJsonArray frames = runtime.feed(piece);
            if (frames.size() > 1024)
                vn::fuzz::broken("more frames than the limit in one feed");
        } catch (const vn::ScriptError&) {
        }
        // The budget is 100 ms; sanitizers slow everything several times.
        if (clock.elapsed() > 3000)
            vn::fuzz::broken("one feed ran far past its time limit");
        if (runtime.bufferedBytes() < 0 || runtime.bufferedBytes() > 65536)
            vn::fuzz::broken("receive buffer outside 0..64 KiB");
    }
    return 0;
}
