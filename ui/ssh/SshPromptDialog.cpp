#include "ui/ssh/SshPromptDialog.h"

#include "core/ssh/SshAuthSession.h"
#include "ui/kit/Factories.h"
#include "ui/kit/Theme.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>

namespace vn {

namespace {

// The longest answer the askpass helper passes on to ssh.
constexpr int MaxAnswerLength = 1023;

QLabel* wrappedLabel(const QString& text, Qt::TextFormat format)
{
    auto* label = new QLabel(text);
    label->setTextFormat(format);
    label->setWordWrap(true);
    return label;
}

QString explanation(const SshAuthPrompt& prompt)
{
    if (prompt.yesNo)
        return QStringLiteral("请核对服务器指纹，确认这是要连接的设备。信任后，OpenSSH 会保存这台主机的指纹。");
    if (prompt.retry)
        return QStringLiteral("上次认证未通过，请重新输入。已失效的密码缓存已清除。");
    return QStringLiteral("输入密码以继续连接。也支持私钥口令和交互式认证。");
}

void reportUnsaved(QWidget* owner, const QString& error)
{
    QMessageBox box(QMessageBox::Information, QStringLiteral("密码未保存"),
                    error + QStringLiteral("\n本次连接仍会继续。"), QMessageBox::Ok, owner);
    box.setObjectName(QStringLiteral("sshPasswordNotSaved"));
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

SshPromptDialog::SshPromptDialog(SshAuthPrompt* prompt, QWidget* parent, const Theme& theme)
    : QDialog(parent)
    , m_prompt(prompt)
    , m_owner(parent)
{
    setObjectName(QStringLiteral("sshAuthenticationDialog"));
    setAttribute(Qt::WA_DeleteOnClose);
    const bool yesNo = prompt->yesNo;
    setWindowTitle(yesNo ? QStringLiteral("确认 SSH 主机指纹") : QStringLiteral("SSH 身份验证"));
    setStyleSheet(theme.stylesheet());
    setMinimumWidth(440);
    resize(540, 300);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 18, 20, 18);
    layout->setSpacing(12);

    // The host and the question come from the remote side and the user's
    // settings; they are shown as they are, never as markup.
    layout->addWidget(wrappedLabel(QStringLiteral("连接主机：") + prompt->host, Qt::PlainText));
    layout->addWidget(wrappedLabel(explanation(*prompt), Qt::PlainText));

    auto* challenge = new QPlainTextEdit;
    challenge->setObjectName(QStringLiteral("sshAuthenticationChallenge"));
    challenge->setPlainText(prompt->prompt);
    challenge->setReadOnly(true);
    challenge->setMinimumHeight(80);
    challenge->setMaximumHeight(140);
    layout->addWidget(challenge);

    m_secret = new QLineEdit;
    m_secret->setObjectName(QStringLiteral("sshPassword"));
    m_secret->setEchoMode(QLineEdit::Password);
    m_secret->setPlaceholderText(prompt->prompt.contains(QStringLiteral("passphrase"), Qt::CaseInsensitive)
                                     ? QStringLiteral("输入私钥口令")
                                     : QStringLiteral("输入登录密码或认证响应"));
    m_secret->setMaxLength(MaxAnswerLength);
    m_secret->setVisible(!yesNo);
    layout->addWidget(m_secret);

    m_remember = new QCheckBox(QStringLiteral("记住密码（使用本机用户密钥加密保存）"));
    m_remember->setObjectName(QStringLiteral("sshRememberPassword"));
    m_remember->setChecked(false);
    m_remember->setVisible(prompt->secret);
    layout->addWidget(m_remember);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    QPushButton* ok = buttons->button(QDialogButtonBox::Ok);
    QPushButton* cancel = buttons->button(QDialogButtonBox::Cancel);
    ok->setText(yesNo ? QStringLiteral("信任并继续") : QStringLiteral("连接"));
    cancel->setText(QStringLiteral("取消"));
    if (yesNo) {
        // Trusting a host key must be a deliberate click, never a stray Enter.
        ok->setAutoDefault(false);
        ok->setDefault(false);
        cancel->setDefault(true);
    }
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &SshPromptDialog::submit);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(this, &QDialog::rejected, this, &SshPromptDialog::refuse);
    // Answered elsewhere, or its connection ended: the dialog has nothing left
    // to ask. Closing on the next turn lets the prompt's own signal finish.
    const auto closeSoon = [this] { QTimer::singleShot(0, this, &QWidget::close); };
    connect(prompt, &SshAuthPrompt::finished, this, closeSoon);
    connect(prompt, &QObject::destroyed, this, closeSoon);

    makeDialogScrollable(this, QSize(440, 260));
}

SshPromptDialog* SshPromptDialog::ask(SshAuthPrompt* prompt, QWidget* parent, const Theme& theme)
{
    if (!prompt)
        return nullptr;
    auto* dialog = new SshPromptDialog(prompt, parent, theme);
    dialog->open();
    if (!prompt->yesNo)
        dialog->m_secret->setFocus();
    return dialog;
}

void SshPromptDialog::showEvent(QShowEvent* event)
{
    // Once the style sheet's fonts are in force, and before the window maps.
    if (!m_fitted) {
        m_fitted = true;
        fitStartSize();
    }
    QDialog::showEvent(event);
}

void SshPromptDialog::fitStartSize()
{
    auto* scroll = findChild<QScrollArea*>(QStringLiteral("dialogContentScroll"));
    QWidget* content = scroll ? scroll->widget() : nullptr;
    auto* buttons = findChild<QDialogButtonBox*>();
    QLayout* outer = layout();
    if (!content || !buttons || !outer || !content->layout())
        return;
    ensurePolished();
    content->ensurePolished();
    const QMargins margins = outer->contentsMargins();
    const int frame = 2 * scroll->frameWidth();
    const int sides = margins.left() + margins.right() + frame;
    const QScreen* shownOn = parentWidget() ? parentWidget()->screen() : screen();
    const QSize room = shownOn ? shownOn->availableGeometry().size() : QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);

    // The widest line that cannot wrap (the remember box) decides the width.
    const int width = std::min(std::max(this->width(), content->minimumSizeHint().width() + sides), room.width());
    const int inner = width - sides;
    QLayout* rows = content->layout();
    const int contentHeight = rows->hasHeightForWidth() ? rows->totalHeightForWidth(inner) : rows->totalSizeHint().height();
    const int wanted = margins.top() + margins.bottom() + frame + contentHeight + outer->spacing()
        + buttons->sizeHint().height();
    const int height = std::min(std::max(this->height(), wanted), std::max(room.height(), minimumHeight()));
    resize(width, height);
}

void SshPromptDialog::submit()
{
    const bool remember = m_remember->isChecked();
    QString error;
    if (m_prompt) {
        m_prompt->answer(m_prompt->yesNo ? QStringLiteral("yes") : m_secret->text(), remember);
        error = m_prompt->error;
    }
    m_secret->clear();
    accept();
    if (error.isEmpty())
        return;
    QObject* context = m_owner ? static_cast<QObject*>(m_owner.data()) : QCoreApplication::instance();
    QPointer<QWidget> owner = m_owner;
    QTimer::singleShot(0, context, [owner, error] { reportUnsaved(owner, error); });
}

void SshPromptDialog::refuse()
{
    if (m_prompt)
        m_prompt->cancel();
}

} // namespace vn
