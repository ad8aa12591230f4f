// Checking and formatting a document just under the assistant's 1 MiB input limit,
// the worst case of one refresh of the dialog (its debounce is 160 ms).
#include "ui/json/JsonAssistance.h"
#include "ui/json/JsonSyntax.h"

#include <QElapsedTimer>
#include <QString>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

QString document()
{
    QString text = QStringLiteral("[\n");
    for (int i = 0;; ++i) {
        const QString record = QStringLiteral(
            "  {\"id\": %1, \"device\": \"sensor-%2\", \"temperature\": %3, \"online\": %4,"
            " \"note\": \"温度 \\u00b0C \\\"ok\\\"\", \"samples\": [1, 2.5, -3e2, null]},\n")
            .arg(i).arg(i % 97).arg(20.0 + (i % 100) / 10.0).arg(i % 2 ? "true" : "false");
        if ((text + record).toUtf8().size() + 32 > 1048576)
            break;
        text += record;
    }
    text += QStringLiteral("  {}\n]\n");
    return text;
}

} // namespace

int main()
{
    const QString text = document();
    const qsizetype bytes = text.toUtf8().size();
    std::vector<double> times;
    bool ok = true;
    for (int run = 0; run < 25; ++run) {
        QElapsedTimer timer;
        timer.start();
        const vn::JsonAssistance result = vn::analyzeJson(text);
        times.push_back(double(timer.nsecsElapsed()) / 1e6);
        ok = ok && result.ok && !result.formatted.isEmpty();
    }
    std::vector<double> checks;
    for (int run = 0; run < 25; ++run) {
        QElapsedTimer timer;
        timer.start();
        vn::JsonSyntax syntax(text);
        ok = syntax.value(0) && ok;
        checks.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(times.begin(), times.end());
    std::sort(checks.begin(), checks.end());
    std::printf("analyzeJson, %lld-byte document (check, Qt parse, indented and compact text):\n",
                static_cast<long long>(bytes));
    std::printf("  median %.2f ms, min %.2f ms, max %.2f ms over %zu runs (target < 30 ms)%s\n",
                times[times.size() / 2], times.front(), times.back(), times.size(),
                ok ? "" : "  [FAILED: document not accepted]");
    std::printf("  of which the strict checker alone: median %.2f ms, min %.2f ms\n",
                checks[checks.size() / 2], checks.front());
    return ok ? 0 : 1;
}
