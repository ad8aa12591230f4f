#include "ui/views/AnsiState.h"

#include <algorithm>
#include <array>

namespace vn {

QColor ansiColor(int index)
{
    static const std::array<QColor, 16> palette = [] {
        const char* const names[16] = {"#263342", "#cf5266", "#26997c", "#ad812b",
                                       "#397fca", "#9d68b7", "#218f9a", "#c4cbd4",
                                       "#7a899a", "#ed8894", "#62c8a3", "#ddbd72",
                                       "#80b5fa", "#c29cdd", "#69c8d1", "#f0f4fa"};
        std::array<QColor, 16> colours;
        for (int i = 0; i < 16; ++i)
            colours[static_cast<size_t>(i)] = QColor(QLatin1String(names[i]));
        return colours;
    }();
    if (index < 16)
        return palette[static_cast<size_t>(std::max(index, 0))];
    if (index < 232) {
        const int c = index - 16;
        auto level = [](int k) { return k == 0 ? 0 : 55 + 40 * k; };
        return QColor(level(c / 36), level((c / 6) % 6), level(c % 6));
    }
    const int grey = std::min(8 + 10 * (index - 232), 255);
    return QColor(grey, grey, grey);
}

void AnsiState::sgr(const QList<int>& parameters, const Theme&)
{
    sgr(parameters);
}

void AnsiState::sgr(const QList<int>& parameters)
{
    const QList<int> list = parameters.isEmpty() ? QList<int>{0} : parameters;
    const qsizetype n = list.size();
    for (qsizetype i = 0; i < n; ++i) {
        const int p = list.at(i);
        if (p == 0) {
            foreground = QColor();
            background = QColor();
            bold = false;
        } else if (p == 1) {
            bold = true;
        } else if (p == 22) {
            bold = false;
        } else if (p >= 30 && p <= 37) {
            foreground = ansiColor(p - 30);
        } else if (p >= 40 && p <= 47) {
            background = ansiColor(p - 40);
        } else if (p >= 90 && p <= 97) {
            foreground = ansiColor(p - 82);
        } else if (p >= 100 && p <= 107) {
            background = ansiColor(p - 92);
        } else if (p == 39) {
            foreground = QColor();
        } else if (p == 49) {
            background = QColor();
        } else if (p == 38 || p == 48) {
            if (i + 1 >= n)
                return;
            QColor& target = p == 38 ? foreground : background;
            const int selector = list.at(i + 1);
            if (selector == 5 && i + 2 < n) {
                target = ansiColor(std::clamp(list.at(i + 2), 0, 255));
                i += 2;
            } else if (selector == 2 && i + 4 < n) {
                target = QColor(std::clamp(list.at(i + 2), 0, 255),
                                std::clamp(list.at(i + 3), 0, 255),
                                std::clamp(list.at(i + 4), 0, 255));
                i += 4;
            } else {
                // The selector is read again as a code of its own.
                target = QColor();
            }
        }
    }
}

} // namespace vn
