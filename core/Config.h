#pragma once

#include "core/Fail.h"

#include <QJsonObject>
#include <QString>

namespace vn {

// The settings of one connection, as asked for and as remembered. A plain
// value: copied freely, stored as JSON whose keys are the field names.
struct Config {
    QString kind = QStringLiteral("serial");
    QString name;
    QString port = QStringLiteral("NULL");
    int baudrate = 115200;
    int bytesize = 8;
    QString parity = QStringLiteral("N");
    double stopbits = 1.0;
    QString flow = QStringLiteral("none");
    bool dtr = false;
    bool rts = false;
    QString host = QStringLiteral("127.0.0.1");
    int network_port = 9000;
    QString bind_host = QStringLiteral("127.0.0.1");
    int bind_port = 9001;
    QString ssh_host;
    QString ssh_user;
    int ssh_port = 0;
    QString ssh_identity;

    static Config fromJson(const QJsonObject& object);
    QJsonObject json() const;

    // The identity under which the engine reuses an open channel.
    QString key() const;

    // Throws the first failing rule's message through fail().
    void validate() const;

    bool isWaveformDemo() const;
    bool isStructuredDemo() const;
    bool isBuiltinDemo() const;

    static Config waveformDemo();
    static Config structuredDemo();

    friend bool operator==(const Config&, const Config&) = default;
};

} // namespace vn
