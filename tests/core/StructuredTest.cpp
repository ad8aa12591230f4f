#include "core/Channel.h"
#include "core/Engine.h"

#include <QJsonArray>
#include <QTest>

using namespace vn;

namespace {

struct Fixture {
    Engine engine;
    Channel channel;
    explicit Fixture(const char* mode = "auto")
        : channel(&engine, [] {
            Config c;
            c.port = QStringLiteral("loop://");
            return c;
        }())
    {
        channel.configureParser(QLatin1String(mode), QStringLiteral("utf-8"));
    }
    void feed(const QByteArray& data) { channel.receive(data, QString()); }
    const std::deque<QJsonObject>& records()
    {
        static const std::deque<QJsonObject> none;
        const auto it = channel.sources.find(QStringLiteral("default"));
        return it == channel.sources.end() ? none : it->second->records;
    }
    QStringList texts()
    {
        QStringList out;
        for (const QJsonObject& r : records())
            out.append(r.value("format").toString() + QLatin1Char(':') + r.value("text").toString());
        return out;
    }
};

const QByteArray mixed =
    "boot \x1b[1;32mOK\x1b[0m\r\n"
    "\x1b[32m{\"t\":1,\"s\":\"a}b\\\"c\",\"n\":[1,{\"x\":null}]}\x1b[0m\r\n"
    "noise < 3 and > 2\n"
    "<?xml version=\"1.0\"?><!-- c --><r a=\"1\"><v>2</v></r>\r\n"
    "[1,2]{\"bad\":}{\"z\":\"中文\"}\n";

const QStringList mixedRecords{
    QStringLiteral("json:{\"t\":1,\"s\":\"a}b\\\"c\",\"n\":[1,{\"x\":null}]}"),
    QStringLiteral("xml:<r a=\"1\"><v>2</v></r>"),
    QStringLiteral("json:[1,2]"),
    QStringLiteral("json:{\"z\":\"中文\"}"),
};

QByteArray nested(int depth, char open, char close)
{
    return QByteArray(depth, open) + QByteArray(depth, close);
}

QByteArray nestedXml(int depth)
{
    QByteArray out;
    for (int i = 0; i < depth; ++i)
        out += "<e>";
    for (int i = 0; i < depth; ++i)
        out += "</e>";
    return out;
}

} // namespace

class StructuredTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void logTextAroundJson()
    {
        Fixture f;
        f.feed("some log {\"t\":1}\r\n");
        QCOMPARE(f.texts(), QStringList{QStringLiteral("json:{\"t\":1}")});
        const QJsonObject r = f.records().front();
        QCOMPARE(r.value("seq").toInteger(), 1);
        QCOMPARE(r.value("event_seq").toInteger(), 1);
        QCOMPARE(r.value("peer").toString(), QString());
        QCOMPARE(r.value("value").toObject().value("t").toInt(), 1);
        QVERIFY(r.value("pretty").toString().contains(QStringLiteral("\"t\": 1")));
        QVERIFY(f.channel.sources.at("default")->pendingText.isEmpty());
    }

    void mixedStream()
    {
        Fixture f;
        f.feed(mixed);
        // The XML declaration goes with the document, so its text is whole.
        QStringList expected = mixedRecords;
        expected[1] = QStringLiteral("xml:<?xml version=\"1.0\"?><!-- c --><r a=\"1\"><v>2</v></r>");
        QCOMPARE(f.texts(), expected);
        const QJsonObject xml = f.records()[1];
        QVERIFY(xml.value("value").isNull());
        QVERIFY(xml.value("pretty").toString().contains(QStringLiteral("<v>2</v>")));
        QCOMPARE(f.records()[2].value("seq").toInteger(), 3);
        QCOMPARE(f.records()[3].value("seq").toInteger(), 4);
    }

    // Every two-chunk split, colour sequences cut included, gives the same records.
    void splitAtEveryOffset()
    {
        Fixture whole;
        whole.feed(mixed);
        const QStringList expected = whole.texts();
        for (int cut = 0; cut <= mixed.size(); ++cut) {
            Fixture f;
            f.feed(mixed.left(cut));
            f.feed(mixed.mid(cut));
            QCOMPARE(f.texts(), expected);
        }
        Fixture bytes;
        for (char c : mixed)
            bytes.feed(QByteArray(1, c));
        QCOMPARE(bytes.texts(), expected);
    }

    void colourCutBeforeDocuments()
    {
        Fixture f;
        f.feed("\x1b[3");
        f.feed("2m{\"a\":1}\x1b[");
        f.feed("0m{\"b\":2}\n");
        QCOMPARE(f.texts(), (QStringList{QStringLiteral("json:{\"a\":1}"), QStringLiteral("json:{\"b\":2}")}));
    }

    void completingChunk()
    {
        Fixture f;
        f.feed("{\"a\":");
        f.feed("[1,");
        QVERIFY(f.records().empty());
        f.feed("2]}");
        QCOMPARE(f.records().size(), std::size_t(1));
        QCOMPARE(f.records().front().value("event_seq").toInteger(), 3);
    }

    void modes()
    {
        Fixture json("json");
        json.feed("<a>text</a>{\"j\":1}");
        QCOMPARE(json.texts(), QStringList{QStringLiteral("json:{\"j\":1}")});
        Fixture xml("xml");
        xml.feed("{\"j\":1}<a>text</a>");
        QCOMPARE(xml.texts(), QStringList{QStringLiteral("xml:<a>text</a>")});
        Fixture off("off");
        off.feed("{\"j\":1}");
        QVERIFY(off.records().empty());
    }

    void depthLimits()
    {
        Fixture f;
        f.feed(nested(128, '[', ']') + "\n");
        QCOMPARE(f.records().size(), std::size_t(1));
        f.feed(nested(129, '{', '}') + "{\"after\":1}");
        QCOMPARE(f.texts().last(), QStringLiteral("json:{\"after\":1}"));
        QCOMPARE(f.records().size(), std::size_t(2));

        Fixture x("xml");
        x.feed(nestedXml(128));
        QCOMPARE(x.records().size(), std::size_t(1));
        x.feed(nestedXml(129) + "<ok/>");
        QCOMPARE(x.texts().last(), QStringLiteral("xml:<ok/>"));
    }

    void xmlAbandons()
    {
        Fixture f("xml");
        f.feed("<?xml version=\"1.0\"?><!DOCTYPE note><note>x</note>");
        QCOMPARE(f.texts(), QStringList{QStringLiteral("xml:<note>x</note>")});

        Fixture lone;
        lone.feed("<open>{\"held\":1}");
        QVERIFY(lone.records().empty());   // held back by the unclosed element
        lone.feed("</open>{\"next\":2}");
        QCOMPARE(lone.texts(), (QStringList{QStringLiteral("xml:<open>{\"held\":1}</open>"),
                                            QStringLiteral("json:{\"next\":2}")}));

        Fixture space;
        space.feed("a < b {\"c\":1}");
        QCOMPARE(space.texts(), QStringList{QStringLiteral("json:{\"c\":1}")});
    }

    void reconfigureForgetsHalfDocument()
    {
        Fixture f;
        f.feed("{\"x\":1}{\"half\":");
        f.channel.configureParser(QStringLiteral("json"), QStringLiteral("utf-8"));
        f.feed("2}{\"y\":3}");
        QCOMPARE(f.texts(), (QStringList{QStringLiteral("json:{\"x\":1}"), QStringLiteral("json:{\"y\":3}")}));
        QCOMPARE(f.records().back().value("seq").toInteger(), 2);
    }

    void endlessDocumentDropped()
    {
        Fixture f;
        QByteArray array("[");
        while (array.size() < 70000)
            array += "1,";
        f.feed(array.left(60000));
        QCOMPARE(f.channel.sources.at("default")->pendingText.size(), 60000);
        f.feed(array.mid(60000));
        QVERIFY(f.channel.sources.at("default")->pendingText.isEmpty());
        f.feed("1]{\"fresh\":1}");
        QCOMPARE(f.texts(), QStringList{QStringLiteral("json:{\"fresh\":1}")});
    }

    // A big document arriving one byte at a time is found once, whole.
    void bigDocumentByteByByte()
    {
        Fixture f;
        QByteArray doc("{\"items\":[");
        for (int i = 0; doc.size() < 65000; ++i)
            doc += "{\"i\":" + QByteArray::number(i) + ",\"s\":\"<x>{[\"},";
        doc += "0]}";
        Source& source = *f.channel.sources.emplace("default", std::make_shared<Source>()).first->second;
        for (char c : doc)
            f.channel.parseStructured(source, QByteArray(1, c), 7, QString());
        QCOMPARE(f.records().size(), std::size_t(1));
        QCOMPARE(f.records().front().value("text").toString().size(), doc.size());
        QCOMPARE(f.records().front().value("event_seq").toInteger(), 7);
    }
};

QTEST_GUILESS_MAIN(StructuredTest)
#include "StructuredTest.moc"
