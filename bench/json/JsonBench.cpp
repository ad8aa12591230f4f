// Checking and formatting a document just under the assistant's 1 MiB input limit,
// the worst case of one refresh of the dialog (its debounce is 160 ms): the analysis
// alone, and the dialog's whole refresh with its views filled.
#include "ui/json/JsonAssistance.h"
#include "ui/json/JsonAssistant.h"
#include "ui/json/JsonSyntax.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPlainTextEdit>
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

// Median, min and max of a sorted list of milliseconds.
void report(const char* what, std::vector<double> times, const char* target)
{
    std::sort(times.begin(), times.end());
    std::printf("  %s: median %.2f ms, min %.2f ms, max %.2f ms over %zu runs%s\n", what,
                times[times.size() / 2], times.front(), times.back(), times.size(), target);
}

// One refresh of the assistant's window, as the user sees it after the debounce:
// check, format, generate, every view and the underline updated. A formatted text
// this large reaches its view in slices on the following event-loop turns; the
// time until the last slice is shown is measured too.
bool dialogRefresh(const QString& text)
{
    vn::JsonAssistant dialog(nullptr, QString());
    auto* input = dialog.findChild<QPlainTextEdit*>(QStringLiteral("jsonInput"));
    auto* formatted = dialog.findChild<QPlainTextEdit*>(QStringLiteral("jsonFormatted"));
    std::vector<double> refreshes;
    std::vector<double> filled;
    std::vector<double> slices;
    bool ok = true;
    for (int run = 0; run < 10; ++run) {
        // A different value each time, as after an edit.
        QString edited = text;
        edited.replace(QStringLiteral("\"id\": 0,"), QStringLiteral("\"id\": %1,").arg(run + 1000));
        input->setPlainText(edited);
        const vn::JsonAssistance expected = vn::analyzeJson(edited);
        const int lines = int(expected.formatted.count(u'\n')) + 1;
        QElapsedTimer timer;
        timer.start();
        dialog.refresh();
        refreshes.push_back(double(timer.nsecsElapsed()) / 1e6);
        while (formatted->blockCount() < lines) {
            QElapsedTimer slice;
            slice.start();
            QCoreApplication::processEvents();
            slices.push_back(double(slice.nsecsElapsed()) / 1e6);
        }
        filled.push_back(double(timer.nsecsElapsed()) / 1e6);
        ok = ok && formatted->toPlainText() == expected.formatted;
    }
    std::printf("JSON assistant dialog, the same document with one value changed per run:\n");
    report("refresh (check, format, generate, views)", refreshes,
           ok ? " (target < 60 ms)" : "  [FAILED: formatted view differs]");
    report("one later slice of the formatted view", slices, "");
    report("until the formatted view is complete", filled, "");
    return ok;
}

int analysis(const QString& text)
{
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
    std::printf("analyzeJson, %lld-byte document (check, Qt parse, indented and compact text):\n",
                static_cast<long long>(bytes));
    report("analysis", times, ok ? " (target < 30 ms)" : "  [FAILED: document not accepted]");
    report("of which the strict checker alone", checks, "");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString text = document();
    const int failed = analysis(text);
    return dialogRefresh(text) ? failed : 1;
}
