#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <exception>
#include <memory>
#include <utility>

namespace vn::test {

// The message an action fails with (as the user would read it), or `none` when
// it returns normally.
template <typename F>
QString errorOf(F&& action, const QString& none = QString())
{
    try {
        std::forward<F>(action)();
    } catch (const std::exception& error) {
        return QString::fromUtf8(error.what());
    }
    return none;
}

// `size` bytes from a generator seeded with `seed`: the same for every run.
QByteArray randomBytes(qsizetype size, quint32 seed);

// Whole-file helpers for transfer tests; a file that cannot be read reads as
// "<missing>", so a comparison fails with a readable value.
bool writeBytes(const QString& path, const QByteArray& data);
QByteArray readBytes(const QString& path);

// A loopback port that is free at the moment of asking.
quint16 freeTcpPort();
quint16 freeUdpPort();

// Two linked pseudo terminals made by socat: what is written to one end is read
// at the other, like two serial ports joined by a null-modem cable. Stopping
// kills only the socat this object started, so a port "vanishes"; start() again
// brings it back on the same link paths.
class SocatPair {
public:
    SocatPair();
    ~SocatPair();
    SocatPair(const SocatPair&) = delete;
    SocatPair& operator=(const SocatPair&) = delete;

    bool start();   // waits until both link paths exist
    void stop();    // kills socat by its PID and waits for it
    bool running() const;

    QString portA() const { return m_a; }
    QString portB() const { return m_b; }

private:
    QTemporaryDir m_dir;
    QString m_a;
    QString m_b;
    std::unique_ptr<QProcess> m_process;
};

} // namespace vn::test
