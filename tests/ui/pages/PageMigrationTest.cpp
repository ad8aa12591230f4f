#include "ui/pages/PageMigration.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>

using namespace vn;

namespace {

QJsonArray parse(const char* json)
{
    return QJsonDocument::fromJson(json).array();
}

} // namespace

class PageMigrationTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void migrate_data()
    {
        QTest::addColumn<QJsonArray>("stored");
        QTest::addColumn<QJsonArray>("expected");

        QTest::newRow("empty") << QJsonArray() << QJsonArray();
        QTest::newRow("current kinds pass unchanged")
            << parse(R"([{"kind":"waveform","points":300},{"kind":"json"},{"kind":"xml","x":1},{"kind":"control"}])")
            << parse(R"([{"kind":"waveform","points":300},{"kind":"json"},{"kind":"xml","x":1},{"kind":"control"}])");
        QTest::newRow("structured both with the default title")
            << parse(R"([{"kind":"structured","parser":0,"title":"JSON / XML","source_key":"s","frozen":true}])")
            << parse(R"([{"kind":"json","title":"","source_key":"s","frozen":true},
                         {"kind":"xml","title":"","source_key":"s","frozen":true}])");
        QTest::newRow("structured both with a user title")
            << parse(R"([{"kind":"structured","title":"Bus"}])")
            << parse(R"([{"kind":"json","title":"Bus · JSON"},{"kind":"xml","title":"Bus · XML"}])");
        QTest::newRow("structured XML only keeps its title")
            << parse(R"([{"kind":"structured","parser":2,"title":"Bus"}])")
            << parse(R"([{"kind":"xml","title":"Bus"}])");
        QTest::newRow("structured JSON only")
            << parse(R"([{"kind":"structured","parser":1}])")
            << parse(R"([{"kind":"json","title":""}])");
        QTest::newRow("structured with an unknown parser")
            << parse(R"([{"kind":"structured","parser":7,"title":"Bus"}])")
            << parse(R"([{"kind":"json","title":"Bus"},{"kind":"xml","title":"Bus"}])");
        QTest::newRow("values merge into the waveform page of their source")
            << parse(R"([{"kind":"waveform","source_key":"a"},{"kind":"values","source_key":"a","title":"实时数值"}])")
            << parse(R"([{"kind":"waveform","source_key":"a","show_values":true}])");
        QTest::newRow("values merge into the first waveform page only")
            << parse(R"([{"kind":"waveform","source_key":"a"},{"kind":"waveform","source_key":"a"},
                         {"kind":"values","source_key":"a"}])")
            << parse(R"([{"kind":"waveform","source_key":"a","show_values":true},{"kind":"waveform","source_key":"a"}])");
        QTest::newRow("values without a waveform page come last")
            << parse(R"([{"kind":"values","source_key":"b","title":"实时数值"},{"kind":"json","source_key":"b"}])")
            << parse(R"([{"kind":"json","source_key":"b"},{"kind":"waveform","source_key":"b","show_values":true}])");
        QTest::newRow("values keep another title")
            << parse(R"([{"kind":"values","source_key":"b","title":"Mine"}])")
            << parse(R"([{"kind":"waveform","source_key":"b","title":"Mine","show_values":true}])");
        QTest::newRow("two values pages of one source give one page")
            << parse(R"([{"kind":"values","source_key":"b"},{"kind":"values","source_key":"b","title":"x"}])")
            << parse(R"([{"kind":"waveform","source_key":"b","show_values":true}])");
        QTest::newRow("values without source keys match each other")
            << parse(R"([{"kind":"values"},{"kind":"values"}])")
            << parse(R"([{"kind":"waveform","show_values":true}])");
        QTest::newRow("unknown kinds, other letter case and no kind are dropped")
            << parse(R"([{"kind":"Waveform"},{"kind":"plot"},{"source_key":"a"},5,"text",{"kind":"control"}])")
            << parse(R"([{"kind":"control"}])");
    }

    void migrate()
    {
        QFETCH(QJsonArray, stored);
        QFETCH(QJsonArray, expected);
        QCOMPARE(migrateInstrumentPages(stored), expected);
    }
};

QTEST_MAIN(PageMigrationTest)
#include "PageMigrationTest.moc"
