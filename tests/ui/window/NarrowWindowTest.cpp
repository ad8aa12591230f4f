#include "ui/kit/FoldingRow.h"
#include "ui/pages/Pane.h"
#include "ui/views/FilterBox.h"
#include "ui/window/StatusLine.h"
#include "ui/window/StatusText.h"
#include "ui/window/Window.h"

#include "WorkspaceFixture.h"

#include <QJsonObject>
#include <QLabel>
#include <QStatusBar>
#include <QTest>

using namespace vn;

namespace {

// The first fault among the visible children of `parent`: two that intersect,
// or one that reaches out of the parent. Empty when there is none.
QString overlapIn(const QWidget* parent)
{
    if (!parent || !parent->isVisible())
        return {};
    QList<const QWidget*> shown;
    for (const QObject* object : parent->children()) {
        const auto* child = qobject_cast<const QWidget*>(object);
        if (child && child->isVisible() && !child->isWindow() && !child->geometry().isEmpty())
            shown.append(child);
    }
    const auto name = [](const QWidget* widget) {
        const QString own = widget->objectName().isEmpty() ? widget->toolTip() : widget->objectName();
        return QStringLiteral("%1 \"%2\" %3,%4 %5x%6")
            .arg(QString::fromLatin1(widget->metaObject()->className()), own.left(16))
            .arg(widget->x())
            .arg(widget->y())
            .arg(widget->width())
            .arg(widget->height());
    };
    for (qsizetype first = 0; first < shown.size(); ++first) {
        if (!parent->rect().contains(shown.at(first)->geometry()))
            return name(shown.at(first)) + QStringLiteral(" leaves ") + name(parent);
        for (qsizetype second = first + 1; second < shown.size(); ++second) {
            if (shown.at(first)->geometry().intersects(shown.at(second)->geometry()))
                return name(shown.at(first)) + QStringLiteral(" meets ") + name(shown.at(second));
        }
    }
    return {};
}

// The visible children of `parent` with their place, for failure messages.
QString partsOf(const QWidget* parent)
{
    QStringList out;
    for (const QObject* object : parent->children()) {
        const auto* child = qobject_cast<const QWidget*>(object);
        if (child && child->isVisible())
            out << QStringLiteral("%1 %2+%3 min%4 hint%5 max%6 minw%7").arg(child->objectName()).arg(child->x()).arg(child->width()).arg(child->minimumSizeHint().width()).arg(child->sizeHint().width()).arg(child->maximumWidth()).arg(child->minimumWidth());
    }
    return out.join(QStringLiteral("; "));
}

} // namespace

class NarrowWindowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void nothingOverlaps_data();
    void nothingOverlaps();
    void theStatusTextShedsItsLesserFieldsFirst();
    void theStatusLineDropsTheVersionBeforeTheMcpLabel();

private:
    QString faults(Pane* page) const;
    StatusLine* statusLine() const { return window->statusBar()->findChild<StatusLine*>(); }

    std::unique_ptr<test::WorkspaceFixture> fixture;
    Window* window = nullptr;
};

void NarrowWindowTest::init()
{
    fixture = std::make_unique<test::WorkspaceFixture>();
    window = fixture->open();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window));
}

void NarrowWindowTest::cleanup()
{
    fixture.reset();
    window = nullptr;
}

QString NarrowWindowTest::faults(Pane* page) const
{
    QList<const QWidget*> parents{window->statusBar()};
    for (const char* name : {"page", "monitorToolbar", "controlToolbar"}) {
        for (const QWidget* each : page->findChildren<QWidget*>(QLatin1String(name)))
            parents.append(each);
    }
    for (const FilterBox* box : page->findChildren<FilterBox*>())
        parents.append(box);
    for (const QWidget* parent : std::as_const(parents)) {
        const QString fault = overlapIn(parent);
        if (!fault.isEmpty())
            return fault;
    }
    return {};
}

void NarrowWindowTest::nothingOverlaps_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<int>("width");
    QTest::addColumn<bool>("busy"); // an AI call and an update on show in the status line
    for (const char* kind : {"", "waveform", "json", "control"}) {
        for (const int width : {480, 560, 720, 900}) {
            for (const bool busy : {false, true}) {
                QTest::addRow("%s %d%s", *kind ? kind : "session", width, busy ? " busy" : "")
                    << QString::fromLatin1(kind) << width << busy;
            }
        }
    }
}

// Real widgets at the window's smallest size and three wider ones: no two
// visible siblings of a page toolbar, an instrument's rows or the status line
// meet, and each stays within its parent.
void NarrowWindowTest::nothingOverlaps()
{
    QFETCH(QString, kind);
    QFETCH(int, width);
    QFETCH(bool, busy);
    Pane* page = window->sessionPane;
    if (!kind.isEmpty())
        page = window->newInstrument(kind, nullptr, true, QString());
    QVERIFY(page);
    if (busy) {
        window->showAiActivity(QJsonObject{{QStringLiteral("tool"), QStringLiteral("search_logs")},
                                           {QStringLiteral("client"), QStringLiteral("codex")},
                                           {QStringLiteral("status"), QStringLiteral("ok")},
                                           {QStringLiteral("summary"), QStringLiteral("在全部会话中搜索 temperature 与 voltage 的告警行")}});
        statusLine()->showUpdate(QStringLiteral("0.16.0"));
    }
    window->resize(width, 640);
    QTRY_COMPARE(window->width(), width);
    QTRY_COMPARE_WITH_TIMEOUT(faults(page), QString(), 10000);
    // The state stays readable however narrow the window gets.
    StatusText* message = statusLine()->message;
    QTRY_VERIFY2(message->fitted().startsWith(kind.isEmpty() ? QStringLiteral("尚未连接") : QStringLiteral("控件页面")),
             qPrintable(QStringLiteral("\"%1\" in %2 px, keeps %3; %4").arg(message->fitted()).arg(message->width()).arg(message->keptWidth()).arg(partsOf(window->statusBar()))));

    if (width != 480 || busy)
        return;
    // Where each folding row leaves one line, as a window width (sidebar floating).
    for (const FoldingRow* row : page->findChildren<FoldingRow*>()) {
        QVERIFY(row->geometry().width() > 0);
        qInfo("%s row of %d parts: one line from a window %d px wide", qPrintable(kind.isEmpty() ? QStringLiteral("session") : kind),
              row->count(), width - row->geometry().width() + row->oneLineWidth());
    }
    if (auto* toolbar = page->findChild<QWidget*>(QStringLiteral("monitorToolbar"))) {
        const auto* row = qobject_cast<FoldingRow*>(toolbar->layout());
        QVERIFY(row);
        QCOMPARE(row->lineCount(toolbar->width()), 2);
    }
}

void NarrowWindowTest::theStatusTextShedsItsLesserFieldsFirst()
{
    StatusText text{QString()};
    text.setFields({{QStringLiteral("已连接"), 0},
                    {QStringLiteral("/dev/ttyUSB0 · 115200 bps"), 4},
                    {QStringLiteral("接收 1024 B"), 2},
                    {QStringLiteral("发送 16 B"), 3}});
    QCOMPARE(text.text(), QStringLiteral("已连接    /dev/ttyUSB0 · 115200 bps    接收 1024 B    发送 16 B"));
    const QFontMetrics metrics = text.fontMetrics();
    const auto widthOf = [&](const QString& line) { return metrics.horizontalAdvance(line); };
    QCOMPARE(text.fitted(widthOf(text.text())), text.text());
    QCOMPARE(text.fitted(widthOf(text.text()) - 1), QStringLiteral("已连接    接收 1024 B    发送 16 B"));
    QCOMPARE(text.fitted(widthOf(QStringLiteral("已连接    接收 1024 B"))), QStringLiteral("已连接    接收 1024 B"));
    QCOMPARE(text.fitted(widthOf(QStringLiteral("已连接"))), QStringLiteral("已连接"));
    const QString squeezed = text.fitted(widthOf(QStringLiteral("已连")));
    QVERIFY2(squeezed.endsWith(QChar(0x2026)) || squeezed.isEmpty(), qPrintable(squeezed));
}

void NarrowWindowTest::theStatusLineDropsTheVersionBeforeTheMcpLabel()
{
    window->resize(1400, 640);
    QTRY_COMPARE(window->width(), 1400);
    StatusLine* status = statusLine();
    QTRY_VERIFY(status->mcp->isVisible());
    QVERIFY(status->version->isVisible());
    // A left text so long that the MCP label still fits beside it, the version no more.
    const int room = status->bar->contentsRect().width();
    const int target = room - (status->mcp->width() + 6) - (status->version->width() + 6) / 2;
    QString state;
    while (status->message->fontMetrics().horizontalAdvance(state) < target)
        state += QChar(0x72B6);
    status->message->setFields({{state, 0}});
    QTRY_VERIFY(!status->version->isVisible());
    QVERIFY(status->mcp->isVisible());
    status->message->setFields({{QStringLiteral("尚未连接"), 0}});
    QTRY_VERIFY(status->version->isVisible());
    QVERIFY(status->mcp->isVisible());
}

QTEST_MAIN(NarrowWindowTest)
#include "NarrowWindowTest.moc"
