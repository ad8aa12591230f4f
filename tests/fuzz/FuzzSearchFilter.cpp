// The search filter's expression parser: option bits, then the expression,
// then (after a newline) lines to match it against. A filter either compiles
// or carries an error, and its settings restore to the same filter.

#include "tests/fuzz/FuzzSupport.h"
#include "ui/views/SearchFilter.h"

#include <QString>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 1)
        return 0;
    const std::uint8_t options = data[0];
    const QString rest = QString::fromUtf8(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    const qsizetype newline = rest.indexOf(QLatin1Char('\n'));
    vn::SearchFilter filter;
    filter.text = newline < 0 ? rest : rest.left(newline);
    filter.case_sensitive = options & 1;
    filter.whole_word = options & 2;
    filter.regex = options & 4;
    filter.logical = options & 8;
    filter.compile();
    if (!filter.error.isEmpty() && !filter.groups.isEmpty())
        vn::fuzz::broken("a filter with an error still has terms");

    vn::SearchFilter again;
    again.restore(filter.settings());
    again.compile();
    if (again.error != filter.error || again.groups.size() != filter.groups.size())
        vn::fuzz::broken("restored settings compile to a different filter");

    if (newline >= 0) {
        const QStringList lines = rest.mid(newline + 1).split(QLatin1Char('\n'));
        for (const QString& line : lines.mid(0, 16)) {
            if (filter.matches(line) != again.matches(line))
                vn::fuzz::broken("restored filter matches differently");
        }
    }
    return 0;
}
