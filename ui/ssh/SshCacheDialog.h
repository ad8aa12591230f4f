#pragma once

#include <QDialog>

class QCheckBox;

namespace vn {

class Engine;
struct Config;
struct SshHostRecords;
struct Theme;

// Lets the user forget one host: the secrets the program saved for it and
// its known_hosts entries, after closing that host's SSH channels. What was
// done before a failure stays done; the failure is shown, never thrown.
class SshCacheDialog : public QDialog {
    Q_OBJECT
public:
    SshCacheDialog(const QString& typedHost, const SshHostRecords& records, QWidget* parent,
                   const Theme& theme);

    bool clearPasswords() const;
    bool clearFingerprints() const;

    // Resolves the host, asks, then closes and forgets; returns when done.
    static void run(const Config& config, Engine* engine, QWidget* parent, const Theme& theme);

private:
    QCheckBox* m_passwords = nullptr;
    QCheckBox* m_fingerprints = nullptr;
};

} // namespace vn
