#pragma once

#include <QDialog>
#include <QPointer>

class QCheckBox;
class QLineEdit;

namespace vn {

class SshAuthPrompt;
struct Theme;

// The dialog for one question of the SSH client: a host-key confirmation, or
// a password, passphrase or challenge entry that may be remembered. Any way
// out but OK refuses the question. The question belongs to its askpass
// connection and may be destroyed while the dialog is still open, so it is
// held through a guarded pointer and never touched once gone.
class SshPromptDialog : public QDialog {
    Q_OBJECT
public:
    SshPromptDialog(SshAuthPrompt* prompt, QWidget* parent, const Theme& theme);

    // Builds the dialog, opens it window-modal and returns; it deletes itself
    // when closed.
    static SshPromptDialog* ask(SshAuthPrompt* prompt, QWidget* parent, const Theme& theme);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void submit();
    void refuse();
    // Grows the start size until everything above the buttons shows without
    // scrolling, the answer field and the remember box above all; the screen
    // the dialog opens on is the limit.
    void fitStartSize();

    QPointer<SshAuthPrompt> m_prompt;
    QPointer<QWidget> m_owner;
    QLineEdit* m_secret = nullptr;
    QCheckBox* m_remember = nullptr;
    bool m_fitted = false;
};

} // namespace vn
