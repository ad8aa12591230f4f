#include "ui/ssh/SshCacheDialog.h"

#include "core/Channel.h"
#include "core/Config.h"
#include "core/Engine.h"
#include "core/Fail.h"
#include "core/ssh/SshCredentialCache.h"
#include "core/ssh/SshHostCache.h"
#include "ui/kit/Factories.h"
#include "ui/kit/Theme.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScopeGuard>
#include <QVBoxLayout>

#include <exception>
#include <vector>

namespace vn {

namespace {

QLabel* wrappedLabel(const QString& text)
{
    auto* label = new QLabel(text);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    return label;
}

void tell(QWidget* parent, QMessageBox::Icon icon, const QString& objectName, const QString& title,
          const QString& text)
{
    QMessageBox box(icon, title, text, QMessageBox::Ok, parent);
    box.setObjectName(objectName);
    // Host names and file paths are shown as they are.
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

// The SSH channels of the host, whatever the letter case it was typed in;
// other kinds of connection to the same machine are left alone.
void closeHostChannels(Engine& engine, const QString& host)
{
    std::vector<QPointer<Channel>> matching;
    for (const auto& [id, channel] : engine.channels) {
        if (channel->config.kind == QLatin1String("ssh")
            && channel->config.ssh_host.compare(host, Qt::CaseInsensitive) == 0)
            matching.emplace_back(channel);
    }
    for (const QPointer<Channel>& channel : matching) {
        if (channel)
            channel->close();
    }
}

} // namespace

SshCacheDialog::SshCacheDialog(const QString& typedHost, const SshHostRecords& records,
                               QWidget* parent, const Theme& theme)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("sshCacheDialog"));
    setWindowTitle(QStringLiteral("清除当前主机的 SSH 缓存"));
    setStyleSheet(theme.stylesheet());
    setMinimumWidth(440);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 18);
    layout->setSpacing(12);
    layout->addWidget(wrappedLabel(QStringLiteral("%1 → %2:%3")
                                       .arg(typedHost, records.host, QString::number(records.port))));

    m_passwords = new QCheckBox(QStringLiteral("忘记此主机在瓦内勒中保存的密码和私钥口令"));
    m_passwords->setObjectName(QStringLiteral("sshClearPasswords"));
    m_passwords->setChecked(true);
    layout->addWidget(m_passwords);

    m_fingerprints = new QCheckBox(QStringLiteral("清除这台主机的指纹记录（设备重装或更换时使用）"));
    m_fingerprints->setObjectName(QStringLiteral("sshClearFingerprints"));
    m_fingerprints->setChecked(true);
    layout->addWidget(m_fingerprints);

    layout->addWidget(wrappedLabel(QStringLiteral(
        "清除会断开瓦内勒中此主机的 SSH 连接，下次连接可重新确认指纹、输入密码。SSH 配置和私钥文件会保留。修改指纹文件前会自动备份。")));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("清除并断开连接"));
    buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("取消"));
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);

    makeDialogScrollable(this, QSize(440, 260));
}

bool SshCacheDialog::clearPasswords() const
{
    return m_passwords->isChecked();
}

bool SshCacheDialog::clearFingerprints() const
{
    return m_fingerprints->isChecked();
}

void SshCacheDialog::run(const Config& config, Engine* engine, QWidget* parent, const Theme& theme)
{
    if (!engine)
        return;
    // The parent may go away while the dialog runs its own event loop.
    QPointer<QWidget> owner(parent);
    try {
        const SshHostRecords records = SshHostCache::resolve(config, engine->sshProgram);
        bool passwords = false;
        bool fingerprints = false;
        {
            // Owned by the parent too, which may delete it while it runs.
            QPointer<SshCacheDialog> dialog = new SshCacheDialog(config.ssh_host, records, parent, theme);
            const auto release = qScopeGuard([&dialog] { delete dialog.data(); });
            if (dialog->exec() != QDialog::Accepted || !dialog)
                return;
            passwords = dialog->clearPasswords();
            fingerprints = dialog->clearFingerprints();
        }
        if (!passwords && !fingerprints)
            return;

        closeHostChannels(*engine, config.ssh_host);
        if (passwords)
            SshCredentialCache::remove(engine->sshCredentialDirectory, config.ssh_host, QString());
        int removed = 0;
        if (fingerprints) {
            for (const QString& file : records.knownHostsFiles)
                removed += SshHostCache::remove(file, records.hostKeyNames);
        }
        tell(owner, QMessageBox::Information, QStringLiteral("sshCacheCleared"),
             QStringLiteral("SSH 缓存已清除"),
             QStringLiteral("已清除所选缓存，移除 %1 条主机指纹。\n请重新建立连接。").arg(removed));
    } catch (const std::exception& failure) {
        tell(owner, QMessageBox::Warning, QStringLiteral("sshCacheFailed"),
             QStringLiteral("无法清除 SSH 缓存"), errorText(failure));
    }
}

} // namespace vn
