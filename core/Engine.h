#pragma once

#include "core/Config.h"
#include "core/Journal.h"
#include "core/TcpPace.h"

#include <QByteArray>
#include <QJsonArray>
#include <QObject>
#include <QString>

#include <map>

namespace vn {

class Channel;
class SshAuthPrompt;

// The display label of a channel state; any other text is returned unchanged.
QString stateText(const QString& state);

// Owner and registry of every open connection, the journal of all traffic,
// the AI-control switch and the text/HEX encoder every sender uses.
class Engine : public QObject {
    Q_OBJECT
public:
    static constexpr int MaxChannels = 64;

    explicit Engine(QObject* parent = nullptr);
    ~Engine() override;

    Channel* open(const Config& config);
    Channel* get(const QString& id) const;
    void remove(const QString& id);
    QJsonArray list() const;
    QJsonArray ports();
    void checkSerialDevices(const QJsonArray& ports);
    Channel* waveformDemo();
    Channel* structuredDemo();

    static QByteArray encode(const QString& text, bool hex, const QString& encoding,
                             const QString& lineEnding);

    Journal journal;
    TcpPace tcpPace; // shared by every TCP connection
    std::map<QString, Channel*> channels;
    bool allowAiControl = false;
    QString sshProgram = QStringLiteral("ssh");
    QString sshCredentialDirectory;

Q_SIGNALS:
    void channelsChanged();
    void eventAdded();
    void sshPromptRequested(vn::SshAuthPrompt* prompt);
};

} // namespace vn
