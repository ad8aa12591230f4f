#include "tests/app/ProgramRun.h"
#include "tests/support/TestSupport.h"

#include <QImage>
#include <QMap>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <QTest>

#include <memory>
#include <utility>
#include <vector>

using namespace vn::test;

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

// One preview run: the screenshot of a view preset, taken 1600 ms after start.
struct PresetShot {
    PresetShot(const QString& view, bool demo)
        : shot(home.path(QStringLiteral("view.png")))
        , run(home, arguments(view, demo))
    {
    }

    QStringList arguments(const QString& view, bool demo) const
    {
        QStringList list{QStringLiteral("--settings"), home.workspace(QStringLiteral("settings.json"), freeTcpPort()),
                         QStringLiteral("--view"), view, QStringLiteral("--screenshot"), shot,
                         QStringLiteral("--quit-after"), QStringLiteral("1800")};
        if (demo)
            list << QStringLiteral("--demo");
        return list;
    }

    QImage image()
    {
        if (!run.finish() || run.exitCode() != 0)
            return {};
        return QImage(shot);
    }

    ProgramHome home;
    QString shot;
    ProgramRun run;
};

} // namespace

class PreviewProcessTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void screenshotAndReadyFile();
    void viewPresets_data();
    void viewPresets();
    void everyPresetDrawsAPicture_data();
    void everyPresetDrawsAPicture();
    void demoStartsAndCloses();
    void unreadableQuitDelayClosesAtOnce();
    void readyFileInMissingFolderIsSkipped();

private:
    QMap<QString, QImage> shots; // "view" or "view demo" -> its screenshot; "window": no preset
    QMap<QString, QImage> demoShots; // every preset with the demo, taken on first use
};

// The preset runs all take the same 1600 ms, so they run side by side.
void PreviewProcessTest::initTestCase()
{
    const QList<std::pair<QString, bool>> presets{
        {QStringLiteral("narrow"), false},        {QStringLiteral("dark"), false},
        {QStringLiteral("settings"), false},      {QStringLiteral("detached"), true},
        {QStringLiteral("floating-wave"), true},  {QStringLiteral("floating-wave"), false},
        {QStringLiteral("nothing-like-this"), false},
    };
    std::vector<std::unique_ptr<PresetShot>> runs;
    for (const auto& [view, demo] : presets)
        runs.push_back(std::make_unique<PresetShot>(view, demo));
    for (std::size_t i = 0; i < runs.size(); ++i) {
        const auto& [view, demo] = presets[qsizetype(i)];
        shots.insert(view + (demo ? QStringLiteral(" demo") : QString()), runs[i]->image());
    }
    shots.insert(QStringLiteral("window"), shots.value(QStringLiteral("nothing-like-this")));
}

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


void PreviewProcessTest::viewPresets_data()
{
    QTest::addColumn<QString>("view");
    QTest::addColumn<bool>("demo");
    QTest::addColumn<QString>("shows"); // what the screenshot is of

    QTest::newRow("narrow") << "narrow" << false << "narrow window";
    QTest::newRow("dark") << "dark" << false << "dark window";
    QTest::newRow("settings") << "settings" << false << "other window";
    QTest::newRow("detached with demo pages") << "detached" << true << "other window";
    QTest::newRow("floating wave with demo pages") << "floating-wave" << true << "other window";
    QTest::newRow("floating wave without a waveform page") << "floating-wave" << false << "window";
    QTest::newRow("unknown name") << "nothing-like-this" << false << "window";
}

void PreviewProcessTest::viewPresets()
{
    QFETCH(QString, view);
    QFETCH(bool, demo);
    QFETCH(QString, shows);

    const QImage plain = shots.value(QStringLiteral("window"));
    QVERIFY(!plain.isNull());
    const QImage image = shots.value(view + (demo ? QStringLiteral(" demo") : QString()));
    QVERIFY(!image.isNull());
    if (shows == QStringLiteral("narrow window")) {
        QCOMPARE(image.size(), QSize(480, 640));
    } else if (shows == QStringLiteral("dark window")) {
        QCOMPARE(image.size(), plain.size());
        QVERIFY2(brightness(image) + 60 < brightness(plain),
                 qPrintable(QStringLiteral("%1 against %2").arg(brightness(image)).arg(brightness(plain))));
    } else if (shows == QStringLiteral("other window")) {
        // A dialog or a torn-off window, not the root window behind it.
        QVERIFY(image.size() != plain.size());
    } else {
        QCOMPARE(image.size(), plain.size());
        QVERIFY(qAbs(brightness(image) - brightness(plain)) < 10);
    }
}

namespace {

const QStringList& everyPreset()
{
    static const QStringList names{
        QStringLiteral("agents"),   QStringLiteral("settings"),      QStringLiteral("dark"),
        QStringLiteral("search"),   QStringLiteral("terminal"),      QStringLiteral("ssh"),
        QStringLiteral("narrow"),   QStringLiteral("protocol"),      QStringLiteral("detached"),
        QStringLiteral("waveform"), QStringLiteral("values"),        QStringLiteral("json"),
        QStringLiteral("structured"), QStringLiteral("xml"),         QStringLiteral("floating-wave"),
    };
    return names;
}

} // namespace

void PreviewProcessTest::everyPresetDrawsAPicture_data()
{
    QTest::addColumn<QString>("view");
    for (const QString& name : everyPreset())
        QTest::newRow(qPrintable(name)) << name;
}

// `varnelle --demo --view X --screenshot out.png --quit-after 2500` for every
// preset: a PNG of a real window, neither blank nor of one colour.
void PreviewProcessTest::everyPresetDrawsAPicture()
{
    QFETCH(QString, view);
    if (demoShots.isEmpty()) {
        // A few at a time, so the machine is not starved while they start up.
        constexpr qsizetype batch = 5;
        for (qsizetype first = 0; first < everyPreset().size(); first += batch) {
            const QStringList names = everyPreset().mid(first, batch);
            std::vector<std::unique_ptr<ProgramHome>> homes;
            std::vector<std::unique_ptr<ProgramRun>> runs;
            for (const QString& name : names) {
                homes.push_back(std::make_unique<ProgramHome>());
                ProgramHome& home = *homes.back();
                runs.push_back(std::make_unique<ProgramRun>(
                    home, QStringList{QStringLiteral("--settings"),
                                      home.workspace(QStringLiteral("settings.json"), freeTcpPort()),
                                      QStringLiteral("--demo"), QStringLiteral("--view"), name,
                                      QStringLiteral("--screenshot"), home.path(QStringLiteral("out.png")),
                                      QStringLiteral("--quit-after"), QStringLiteral("2500")}));
            }
            for (std::size_t i = 0; i < runs.size(); ++i) {
                const bool ended = runs[i]->finish() && runs[i]->exitCode() == 0 && !runs[i]->crashed();
                const QString shot = homes[i]->path(QStringLiteral("out.png"));
                QImage image;
                if (ended && readFile(shot).startsWith(QByteArray("\x89PNG\r\n\x1a\n")))
                    image.load(shot);
                demoShots.insert(names.at(qsizetype(i)), image);
            }
        }
    }

    const QImage image = demoShots.value(view);
    QVERIFY2(!image.isNull(), "no PNG, or the run failed");
    const QSize least = view == QStringLiteral("narrow") ? QSize(480, 640) : QSize(400, 300);
    QVERIFY2(image.width() >= least.width() && image.height() >= least.height(),
             qPrintable(QStringLiteral("%1x%2").arg(image.width()).arg(image.height())));
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 3) {
        for (int x = 0; x < image.width(); x += 3)
            colours.insert(image.pixel(x, y));
    }
    QVERIFY2(colours.size() > 8, qPrintable(QString::number(colours.size())));
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
