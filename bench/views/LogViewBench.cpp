// Log view: journal events per second with a filter set.
#include "ui/views/LogView.h"
#include "ui/views/SearchFilter.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QJsonObject>

#include <cstdio>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int kEvents = qEnvironmentVariableIntValue("VN_EVENTS") > 0 ? qEnvironmentVariableIntValue("VN_EVENTS") : 100000;
    QList<QJsonObject> events;
    events.reserve(kEvents);
    for (int i = 0; i < kEvents; ++i) {
        const QByteArray text = (i % 7 == 0 ? "\x1b[31merror\x1b[0m code " : "temp=")
                                + QByteArray::number(i % 1000) + (i % 3 == 0 ? "\r\n" : " ");
        events.append(QJsonObject{{"direction", i % 5 == 0 ? "tx" : "rx"},
                                  {"peer", i % 2 ? "COM1" : "127.0.0.1:9000"},
                                  {"hex", QString::fromLatin1(text.toHex(' '))},
                                  {"time", "2026-01-02T03:04:05.678Z"}});
    }
    vn::LogView view;
    view.resize(900, 600);
    view.show();
    vn::SearchFilter filter;
    filter.text = QStringLiteral("error || temp=9");
    filter.logical = true;
    filter.compile();
    view.setFilter(filter);

    QElapsedTimer clock;
    clock.start();
    // As the session page does: at most 500 events per tick.
    int inTick = 0;
    for (const QJsonObject& e : std::as_const(events)) {
        view.feed(e);
        if (++inTick == 500) {
            inTick = 0;
            QApplication::processEvents();
        }
    }
    QApplication::processEvents();
    const double seconds = clock.nsecsElapsed() / 1e9;
    std::printf("log view: %d events (500 a tick) with a filter set in %.2f s: %.0f events/s (%d lines kept)\n",
                kEvents, seconds, kEvents / seconds, view.document()->blockCount());
    return 0;
}
