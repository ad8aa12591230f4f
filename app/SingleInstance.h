#pragma once

#include <QString>

#include <functional>
#include <memory>
#include <optional>

class QLocalServer;
class QLocalSocket;
class QLockFile;
class QObject;

namespace vn {

// At most one window per user and workspace (or per fixed MCP port): a second
// start asks the running instance to come to the front and ends. The running
// instance holds a user-only local server under the instance name.
class SingleInstance {
public:
    SingleInstance();
    ~SingleInstance();
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    // "VarnelleNative-" + user + "-" + the fixed port, or else the first 16 hex
    // digits of the SHA-256 of the settings file's absolute path.
    static QString name(const QString& user, std::optional<quint16> fixedPort, const QString& settingsPath);

    // True when an instance answered under `name` and was sent "activate"; the
    // caller then ends with 0. Otherwise this process starts listening under
    // the name. A name held by another start that does not answer yet (it is
    // still on its way to its event loop) is asked again for up to about 3 s;
    // only when nobody answers, or the name cannot be listened on, does this
    // process run unguarded, and it says so on stderr.
    bool activateRunning(const QString& name);

    // Every later connection to the name calls `bringToFront` while `context` lives.
    void onActivation(QObject* context, std::function<void()> bringToFront);

    bool listening() const;

private:
    enum class Claim { Listening, Taken, Unguarded };

    bool handOver(const QString& name);
    Claim claim(const QString& name);

    // Declared in teardown order reversed: the server goes first, then the
    // claim on its name, then the probe.
    std::unique_ptr<QLocalSocket> probe;
    std::unique_ptr<QLockFile> nameLock;
    std::unique_ptr<QLocalServer> server;
    QString listenFailure;
};

} // namespace vn
