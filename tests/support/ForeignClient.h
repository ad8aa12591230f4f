#pragma once

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>

#include <memory>
#include <sys/types.h>

namespace vn::test {

// TCP clients run by another local account (uid and gid 65534, "nobody"),
// for the tests of who may use a loopback server. A child process, started
// through setpriv with Debian's python3, opens the connections and holds them
// until stop(). Changing the uid needs root; unavailable() says why the
// clients cannot run here, for a skip message.
class ForeignClient {
public:
    static constexpr uid_t Uid = 65534;

    // Empty when foreign clients can run; otherwise what is missing.
    static QString unavailable();

    ForeignClient();
    ~ForeignClient();
    ForeignClient(const ForeignClient&) = delete;
    ForeignClient& operator=(const ForeignClient&) = delete;

    // Opens `count` connections to host:port. With a request, sends it on
    // each once all are open and reads each answer until the server closes.
    bool start(const QString& host, quint16 port, int count = 1, const QByteArray& request = QByteArray());

    // These only read what the child has said so far: wait on them with
    // QTRY_*, so that a server in the test's own process keeps running.
    bool connected();                 // all connections are open
    QList<QByteArray> replies();      // the answers read so far, one per connection
    QString failure();                // what the child reported when it failed

    // Closes the child's input (it then closes its connections and ends),
    // waits for it and kills it by its PID when it does not end.
    void stop();

private:
    void readLines();

    std::unique_ptr<QProcess> process;
    bool held = false;
    QList<QByteArray> answers;
    QString error;
};

} // namespace vn::test
