#include "tests/app/ProgramRun.h"
#include "tests/support/TestSupport.h"

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTest>

using namespace vn::test;

class PreviewProcessTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void screenshotAndReadyFile();
    void viewPresets_data();
    void viewPresets();
    void demoStartsAndCloses();
    void unreadableQuitDelayClosesAtOnce();
    void readyFileInMissingFolderIsSkipped();

private:
    QImage plainShot; // the window without a preset, taken once
};

void PreviewProcessTest::screenshotAndReadyFile()
{
    ProgramHome home;
    const QString settings = home.workspace(QStringLiteral("settings.json"), freeTcpPort());
    const QString shot = home.path(QStringLiteral("out.png"));
    const QString ready = home.path(QStringLiteral("ready.json"));
    ProgramRun run(home, {QStringLiteral("--settings"), settings, QStringLiteral("--screenshot"), shot,
                          QStringLiteral("--ready-file"), ready, QStringLiteral("--quit-after"), QStringLiteral("2500")});
    QVERIFY(run.started());
    const qint64 pid = run.pid();
    QVERIFY(run.finish());
    QCOMPARE(run.exitCode(), 0);

    const QByteArray readyText = readFile(ready);
    const QJsonObject timing = QJsonDocument::fromJson(readyText).object();
    QCOMPARE(QStringList(timing.keys()),
             QStringList({QStringLiteral("elapsed_ms"), QStringLiteral("pid"), QStringLiteral("version")}));
    QCOMPARE(readyText, QJsonDocument(timing).toJson(QJsonDocument::Indented));
    QVERIFY(timing.value(QStringLiteral("elapsed_ms")).isDouble());
    QVERIFY(timing.value(QStringLiteral("elapsed_ms")).toInteger(-1) >= 50);
    QCOMPARE(timing.value(QStringLiteral("pid")).toInteger(), pid);
    QCOMPARE(timing.value(QStringLiteral("version")).toString(), QStringLiteral("0.15.32"));

    QCOMPARE(readFile(shot).left(8), QByteArray("\x89PNG\r\n\x1a\n"));
    const QImage image(shot);
    QVERIFY(!image.isNull());
    QVERIFY2(image.width() >= 400 && image.height() >= 300,
             qPrintable(QStringLiteral("%1x%2").arg(image.width()).arg(image.height())));
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3)
            colours.insert(image.pixel(x, y));
    }
    QVERIFY2(colours.size() > 8, qPrintable(QString::number(colours.size())));
}

namespace {

// Mean brightness of an image, 0..255.
int brightness(const QImage& image)
{
    qint64 sum = 0;
    qint64 count = 0;
    for (int y = 0; y < image.height(); y += 4) {
        for (int x = 0; x < image.width(); x += 4) {
            sum += qGray(image.pixel(x, y));
            ++count;
        }
    }
    return count ? int(sum / count) : 0;
}

QImage screenshotOf(const QString& view)
{
    ProgramHome home;
    const QString settings = home.workspace(QStringLiteral("settings.json"), freeTcpPort());
    const QString shot = home.path(QStringLiteral("view.png"));
    ProgramRun run(home, {QStringLiteral("--settings"), settings, QStringLiteral("--view"), view,
                          QStringLiteral("--screenshot"), shot, QStringLiteral("--quit-after"), QStringLiteral("1800")});
    if (!run.finish() || run.exitCode() != 0)
        return {};
    return QImage(shot);
}

} // namespace

void PreviewProcessTest::viewPresets_data()
{
    QTest::addColumn<QString>("view");
    QTest::newRow("narrow") << "narrow";
    QTest::newRow("dark") << "dark";
    QTest::newRow("settings") << "settings";
    QTest::newRow("unknown name") << "nothing-like-this";
}

void PreviewProcessTest::viewPresets()
{
    QFETCH(QString, view);
    if (plainShot.isNull())
        plainShot = screenshotOf(QStringLiteral("nothing-like-this"));
    const QImage plain = plainShot;
    QVERIFY(!plain.isNull());
    const QImage image = view == QStringLiteral("nothing-like-this") ? plain : screenshotOf(view);
    QVERIFY(!image.isNull());
    if (view == QStringLiteral("narrow")) {
        QCOMPARE(image.size(), QSize(480, 640));
    } else if (view == QStringLiteral("dark")) {
        QCOMPARE(image.size(), plain.size());
        QVERIFY2(brightness(image) + 60 < brightness(plain),
                 qPrintable(QStringLiteral("%1 against %2").arg(brightness(image)).arg(brightness(plain))));
    } else if (view == QStringLiteral("settings")) {
        // The picture is the settings dialog, not the window behind it.
        QVERIFY(image.size() != plain.size());
        QVERIFY(image.width() < plain.width());
    } else {
        QVERIFY(image.width() > 480);
    }
}

void PreviewProcessTest::demoStartsAndCloses()
{
    ProgramHome home;
    const QString settings = home.workspace(QStringLiteral("settings.json"), freeTcpPort());
    const QString ready = home.path(QStringLiteral("ready.json"));
    ProgramRun run(home, {QStringLiteral("--settings"), settings, QStringLiteral("--demo"), QStringLiteral("--view"),
                          QStringLiteral("values"), QStringLiteral("--ready-file"), ready,
                          QStringLiteral("--quit-after"), QStringLiteral("500")});
    QVERIFY(run.finish());
    QCOMPARE(run.exitCode(), 0);
    QVERIFY(QFile::exists(ready));
}

void PreviewProcessTest::unreadableQuitDelayClosesAtOnce()
{
    // Nothing else ends this run: only the delay read as 0 closes the window.
    ProgramHome home;
    const QString settings = home.workspace(QStringLiteral("settings.json"), freeTcpPort());
    ProgramRun run(home, {QStringLiteral("--settings"), settings, QStringLiteral("--quit-after"), QStringLiteral("soon")});
    QVERIFY(run.finish(60000));
    QCOMPARE(run.exitCode(), 0);
}

void PreviewProcessTest::readyFileInMissingFolderIsSkipped()
{
    ProgramHome home;
    const QString settings = home.workspace(QStringLiteral("settings.json"), freeTcpPort());
    const QString ready = home.path(QStringLiteral("missing/ready.json"));
    ProgramRun run(home, {QStringLiteral("--settings"), settings, QStringLiteral("--ready-file"), ready,
                          QStringLiteral("--quit-after"), QStringLiteral("400")});
    QVERIFY(run.finish());
    QCOMPARE(run.exitCode(), 0);
    QVERIFY(!QFile::exists(ready));
    QVERIFY(!QFile::exists(home.path(QStringLiteral("missing"))));
}

QTEST_GUILESS_MAIN(PreviewProcessTest)
#include "PreviewProcessTest.moc"
