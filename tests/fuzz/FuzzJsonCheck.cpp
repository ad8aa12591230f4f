// The strict JSON checker of the JSON assistant. Whatever it accepts, its own
// compact and indented forms are accepted again and write out the same; a
// refusal points inside the text.

#include "tests/fuzz/FuzzSupport.h"
#include "ui/json/JsonAssistance.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const vn::JsonAssistance result = vn::analyzeJson(text);
    if (result.status.isEmpty())
        vn::fuzz::broken("no status line");
    if (!result.ok) {
        if (result.errorPosition > text.size())
            vn::fuzz::broken("fault position past the end of the text");
        return 0;
    }
    const vn::JsonAssistance compact = vn::analyzeJson(result.compact);
    if (!compact.ok || compact.compact != result.compact)
        vn::fuzz::broken("the compact form does not check back to itself");
    const vn::JsonAssistance indented = vn::analyzeJson(result.formatted);
    if (!indented.ok || indented.compact != result.compact)
        vn::fuzz::broken("the indented form does not check back to the same value");
    return 0;
}
