#pragma once

#include "core/Config.h"

#include <QObject>
#include <QStringList>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;
class QVBoxLayout;
class QWidget;

namespace vn {

class AdaptiveStack;
class Combo;
class IconButton;
class ProtocolCombo;
class StatusLed;
class Window;

// The controls of the connection form in the parameter sidebar: the kind
// selector, the serial, network and SSH pages, the name, the state row, the
// connect button and the script row. It builds them into the sidebar's layout
// and converts between them and a Config; which page the form edits and what
// the buttons do stay with the window.
class ConnectionForm : public QObject {
    Q_OBJECT
public:
    ConnectionForm(Window* window, QWidget* sidebar, QVBoxLayout* layout);

    // The connection kinds in the order of the kind selector.
    static const QStringList& kinds();
    // The selector index of a kind, or -1 for a kind it does not offer.
    static int kindIndex(const QString& kind);

    // The form as a Config. Throws through fail() for a baud rate that is not
    // an integer, and for an SSH port outside 1..65535 on an SSH connection.
    Config read() const;
    // Every field but the port and the kind, which the window places itself.
    void write(const Config& config);

    ProtocolCombo* protocol = nullptr;
    AdaptiveStack* stack = nullptr;

    // Serial page.
    Combo* port = nullptr;
    QLabel* portDetails = nullptr;
    Combo* baud = nullptr;
    Combo* dataBits = nullptr;
    Combo* parity = nullptr;
    Combo* stopBits = nullptr;
    Combo* flow = nullptr;
    QCheckBox* dtr = nullptr;
    QCheckBox* rts = nullptr;
    QLabel* serialNote = nullptr;

    // Network page.
    QLabel* remoteCaption = nullptr;
    QLineEdit* remoteHost = nullptr;
    QSpinBox* remotePort = nullptr;
    QLabel* bindCaption = nullptr;
    QLineEdit* bindHost = nullptr;
    QSpinBox* bindPort = nullptr;

    // SSH page.
    Combo* sshHost = nullptr;
    QLineEdit* sshUser = nullptr;
    QLineEdit* sshPort = nullptr;
    QLineEdit* sshIdentity = nullptr;
    QPushButton* sshClearCache = nullptr;

    // Below the pages.
    QLineEdit* name = nullptr;
    StatusLed* led = nullptr;
    QLabel* state = nullptr;
    QPushButton* connectButton = nullptr;
    QWidget* scriptControls = nullptr;
    QCheckBox* scriptToggle = nullptr;
    IconButton* scriptEdit = nullptr;
    QLabel* scriptHint = nullptr;
    QLabel* connectionHint = nullptr;

private:
    void buildBrand(QVBoxLayout* layout);
    QWidget* buildSerialPage(Window* window);
    QWidget* buildNetworkPage();
    QWidget* buildSshPage();
};

} // namespace vn
