// Search filter: lines per second through a three-group expression.
#include "ui/views/SearchFilter.h"

#include <QElapsedTimer>
#include <QStringList>

#include <cstdio>

int main()
{
    QStringList lines;
    for (int i = 0; i < 20000; ++i) {
        lines.append(QStringLiteral("03:04:05.678  RX    COM1  温度=%1 湿度=%2 状态 %3")
                         .arg(i % 50)
                         .arg(i % 97)
                         .arg(i % 13 == 0 ? QStringLiteral("报警") : QStringLiteral("正常")));
    }
    vn::SearchFilter filter;
    filter.text = QStringLiteral("温度 && 报警 || 故障 || 湿度=9 && 正常");
    filter.logical = true;
    filter.compile();
    constexpr int kRounds = 25;
    qint64 matched = 0;
    QElapsedTimer clock;
    clock.start();
    for (int r = 0; r < kRounds; ++r) {
        for (const QString& line : std::as_const(lines))
            matched += filter.matches(line) ? 1 : 0;
    }
    const double seconds = clock.nsecsElapsed() / 1e9;
    const double total = double(lines.size()) * kRounds;
    std::printf("search filter, three groups: %.0f lines/s (%lld of %.0f matched)\n", total / seconds,
                static_cast<long long>(matched), total);
    return 0;
}
