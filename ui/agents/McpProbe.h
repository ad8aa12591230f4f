#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

class QObject;

namespace vn {

// Proves, by speaking to it once as an MCP client, that the server answering at
// the address about to be written into the agent tools is this program's own;
// and reads the OpenCode CLI's version, whose major number decides the layout
// of OpenCode's entry. Everything created is a child of the given owner, so
// destroying the owner ends a pending read or probe without calling back.
class McpProbe {
public:
    McpProbe() = delete;

    // Called once: empty text when our own server answered at an unchanged
    // address, otherwise the reason to show.
    using Callback = std::function<void(const QString& failure)>;

    // The endpoint address read anew at every use; empty while nothing listens.
    using Address = std::function<QString()>;

    // The name our server gives in its answer to "initialize".
    static QString serverName();

    // Sends "initialize" to the address, checks the server's name, closes the
    // session it opened with DELETE and calls back. Calls back before returning
    // when nothing listens.
    static void probe(QObject* owner, const Address& address, const Callback& callback);

    // Whether the program is a compiled program that may be asked for its
    // version; a script is never run.
    static bool runsVersionRead(const QString& program);

    // Runs `program --version` for at most `limitMs` and reports whether the
    // first version triple it printed has a major number above 1; no value when
    // it printed none, could not start or crashed before printing one.
    static void readVersion(QObject* owner, const QString& program,
                            const std::function<void(std::optional<bool> v2)>& done, int limitMs = 2000);

    // The version rule on the first 1024 bytes of the output.
    static std::optional<bool> majorAboveOne(const QByteArray& output);
};

} // namespace vn
