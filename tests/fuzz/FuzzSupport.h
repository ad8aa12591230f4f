#pragma once

// Shared pieces of the fuzz targets: one Qt application for the whole run and
// a splitter that cuts an input into the deliveries a device or peer might
// make of it.

#include <QByteArray>
#include <QCoreApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>

namespace vn::fuzz {

// Objects with timers and codecs want an application; one is made on first use.
inline void ensureApplication()
{
    if (QCoreApplication::instance())
        return;
    static int argc = 1;
    static char name[] = "vn-fuzz";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    // Warnings of Qt about inputs it refuses are expected by the thousand.
    if (!std::getenv("VN_FUZZ_SHOW"))
        qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
}

// The first byte of an input chooses how the rest is cut: 0 keeps it whole,
// any other value seeds the lengths of the pieces (1 .. value % 64 + 1 bytes),
// so the fuzzer can mutate the cutting as well as the bytes.
struct Input {
    std::uint8_t chunking = 0;
    QByteArray payload;

    Input(const std::uint8_t* data, std::size_t size)
    {
        if (size == 0)
            return;
        chunking = data[0];
        payload = QByteArray(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    }

    QList<QByteArray> pieces() const { return cut(payload, chunking); }

    static QList<QByteArray> cut(const QByteArray& bytes, std::uint8_t chunking)
    {
        QList<QByteArray> out;
        if (chunking == 0 || bytes.size() <= 1) {
            if (!bytes.isEmpty())
                out.append(bytes);
            return out;
        }
        std::uint32_t state = 0x9E3779B9u ^ chunking;
        const std::uint32_t longest = chunking % 64 + 1;
        qsizetype at = 0;
        while (at < bytes.size()) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const qsizetype length = qsizetype(state % longest) + 1;
            out.append(bytes.mid(at, length));
            at += length;
        }
        return out;
    }
};

// With VN_FUZZ_SHOW set, a target prints what it produced (to check seeds).
inline void show(const QByteArray& output)
{
    if (std::getenv("VN_FUZZ_SHOW"))
        std::fprintf(stderr, "%s\n", output.constData());
}

// A property the target checks failed: stop with the input as a finding.
[[noreturn]] inline void broken(const char* what)
{
    std::fprintf(stderr, "fuzz property broken: %s\n", what);
    std::abort();
}

// Inputs made of one byte of options and a JSON object: the object, or
// nothing when the rest is no JSON object (the caller has checked size >= 1).
inline std::optional<QJsonObject> objectAfterOptions(const std::uint8_t* data, std::size_t size)
{
    const QJsonDocument document = QJsonDocument::fromJson(
        QByteArray::fromRawData(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1)));
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

} // namespace vn::fuzz
