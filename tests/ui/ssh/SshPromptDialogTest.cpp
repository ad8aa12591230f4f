#include "ui/ssh/SshDialogs.h"
#include "ui/ssh/SshPromptDialog.h"

#include "core/ssh/SshAuthSession.h"
#include "ui/kit/Theme.h"

#include "tests/ui/ssh/DialogDriver.h"

#include <QCheckBox>
#include <QClipboard>
#include <QDialog>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

using namespace vn;
using vn::test::DialogDriver;

namespace {

const QString Host = QStringLiteral("<b>lab</b>-box");
const QString HostKeyQuestion = QStringLiteral(
    "The authenticity of host '[127.0.0.1]:2222' can't be established.\n"
    "ED25519 key fingerprint is SHA256:<i>x</i>Yz0123456789abcdef.\n"
    "Are you sure you want to continue connecting (yes/no/[fingerprint])?");
const QString PasswordQuestion = QStringLiteral("pi@lab-box's password: ");
const QString PassphraseQuestion = QStringLiteral("Enter PassPhrase for key '/home/pi/.ssh/id_ed25519': ");

// What reached the prompt's reply.
struct Reply {
    int calls = 0;
    bool accepted = false;
    QString answer;
    bool remember = false;
};

// A question as the askpass session hands it over; `rememberError`, when set,
// is what the session reports when it could not save the secret.
SshAuthPrompt* makePrompt(QObject* owner, Reply* reply, const QString& question, bool yesNo,
                          bool secret, bool retry = false, const QString& rememberError = QString())
{
    auto* prompt = new SshAuthPrompt(owner);
    prompt->host = Host;
    prompt->prompt = question;
    prompt->yesNo = yesNo;
    prompt->secret = secret;
    prompt->retry = retry;
    prompt->callback = [reply, prompt, rememberError](bool accepted, const QString& answer, bool remember) {
        ++reply->calls;
        reply->accepted = accepted;
        reply->answer = answer;
        reply->remember = remember;
        if (remember && !rememberError.isEmpty())
            prompt->error = rememberError;
    };
    return prompt;
}

QLabel* labelStartingWith(QWidget* dialog, const QString& start)
{
    const QList<QLabel*> labels = dialog->findChildren<QLabel*>();
    for (QLabel* label : labels) {
        if (label->text().startsWith(start))
            return label;
    }
    return nullptr;
}

// Keys go where the user's keys would: to the focused widget of the dialog.
QWidget* keyTarget(QWidget* dialog)
{
    QWidget* focus = QApplication::focusWidget();
    return focus && dialog->isAncestorOf(focus) ? focus : dialog;
}

} // namespace

class SshPromptDialogTest : public QObject {
    Q_OBJECT
    const Theme m_theme = Theme::make(false);
    std::unique_ptr<QWidget> m_window;
    std::unique_ptr<QObject> m_connection;

    QDialog* show(SshAuthPrompt* prompt)
    {
        showSshAuthPrompt(prompt, m_window.get(), m_theme);
        auto* dialog = m_window->findChild<QDialog*>(QStringLiteral("sshAuthenticationDialog"));
        if (dialog && !QTest::qWaitForWindowExposed(dialog))
            return nullptr;
        return dialog;
    }

private Q_SLOTS:
    void init()
    {
        m_window = std::make_unique<QWidget>();
        m_window->resize(800, 600);
        m_window->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_window.get()));
        // Stands for the askpass connection that owns each question.
        m_connection = std::make_unique<QObject>();
    }
    void cleanup()
    {
        m_connection.reset();
        m_window.reset();
    }

    void layoutFollowsTheQuestion_data()
    {
        QTest::addColumn<QString>("question");
        QTest::addColumn<bool>("yesNo");
        QTest::addColumn<bool>("secret");
        QTest::addColumn<bool>("retry");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("explanation");
        QTest::addColumn<QString>("placeholder");
        QTest::addColumn<QString>("okText");
        const QString password = QStringLiteral("输入登录密码或认证响应");
        QTest::newRow("host key") << HostKeyQuestion << true << false << false
                                  << "确认 SSH 主机指纹"
                                  << "请核对服务器指纹，确认这是要连接的设备。信任后，OpenSSH 会保存这台主机的指纹。"
                                  << password << "信任并继续";
        QTest::newRow("password") << PasswordQuestion << false << true << false << "SSH 身份验证"
                                  << "输入密码以继续连接。也支持私钥口令和交互式认证。" << password << "连接";
        QTest::newRow("password again") << PasswordQuestion << false << true << true << "SSH 身份验证"
                                        << "上次认证未通过，请重新输入。已失效的密码缓存已清除。" << password
                                        << "连接";
        QTest::newRow("passphrase") << PassphraseQuestion << false << true << false << "SSH 身份验证"
                                    << "输入密码以继续连接。也支持私钥口令和交互式认证。"
                                    << "输入私钥口令" << "连接";
        QTest::newRow("challenge") << "Verification code: " << false << false << false << "SSH 身份验证"
                                   << "输入密码以继续连接。也支持私钥口令和交互式认证。" << password << "连接";
    }
    void layoutFollowsTheQuestion()
    {
        QFETCH(QString, question);
        QFETCH(bool, yesNo);
        QFETCH(bool, secret);
        QFETCH(bool, retry);
        QFETCH(QString, title);
        QFETCH(QString, explanation);
        QFETCH(QString, placeholder);
        QFETCH(QString, okText);
        Reply reply;
        QDialog* dialog = show(makePrompt(m_connection.get(), &reply, question, yesNo, secret, retry));
        QVERIFY(dialog);
        QCOMPARE(dialog->windowTitle(), title);
        QCOMPARE(dialog->windowModality(), Qt::WindowModal);
        QVERIFY(dialog->testAttribute(Qt::WA_DeleteOnClose));
        QCOMPARE(dialog->styleSheet(), m_theme.stylesheet());
        QCOMPARE(dialog->minimumSize(), QSize(440, 260));
        QVERIFY(dialog->width() >= 540 && dialog->height() >= 300);
        QVERIFY(dialog->findChild<QScrollArea*>(QStringLiteral("dialogContentScroll")));

        // The host and the question are shown as text, never as markup.
        QLabel* host = labelStartingWith(dialog, QStringLiteral("连接主机："));
        QVERIFY(host);
        QCOMPARE(host->text(), QStringLiteral("连接主机：") + Host);
        QCOMPARE(host->textFormat(), Qt::PlainText);
        QVERIFY(host->wordWrap());
        QLabel* said = labelStartingWith(dialog, explanation);
        QVERIFY(said);
        QVERIFY(said->wordWrap());
        auto* challenge = dialog->findChild<QPlainTextEdit*>(QStringLiteral("sshAuthenticationChallenge"));
        QVERIFY(challenge);
        QCOMPARE(challenge->toPlainText(), question);
        QVERIFY(challenge->isReadOnly());
        QCOMPARE(challenge->minimumHeight(), 80);
        QCOMPARE(challenge->maximumHeight(), 140);

        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("sshPassword"));
        QVERIFY(edit);
        QCOMPARE(edit->isVisible(), !yesNo);
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
        QCOMPARE(edit->placeholderText(), placeholder);
        QCOMPARE(edit->maxLength(), 1023);
        auto* remember = dialog->findChild<QCheckBox*>(QStringLiteral("sshRememberPassword"));
        QVERIFY(remember);
        QCOMPARE(remember->isVisible(), secret);
        QVERIFY(!remember->isChecked());
        QCOMPARE(remember->text(), QStringLiteral("记住密码（使用本机用户密钥加密保存）"));

        QPushButton* ok = DialogDriver::button(dialog, QDialogButtonBox::Ok);
        QPushButton* cancel = DialogDriver::button(dialog, QDialogButtonBox::Cancel);
        QCOMPARE(ok->text(), okText);
        QCOMPARE(cancel->text(), QStringLiteral("取消"));
        if (yesNo) {
            QVERIFY(cancel->isDefault());
            QVERIFY(!ok->isDefault());
            QVERIFY(!ok->autoDefault());
        } else {
            QTRY_COMPARE(QApplication::focusWidget(), edit);
        }
        QCOMPARE(reply.calls, 0);
    }

    void startSizeShowsTheAnswer_data()
    {
        QTest::addColumn<QString>("question");
        QTest::addColumn<bool>("yesNo");
        QTest::addColumn<bool>("secret");
        QTest::addColumn<bool>("retry");
        QTest::addColumn<QString>("fontSize"); // empty: the interface font as the theme sets it
        // 32 pt is the largest text size the settings offer.
        for (const QString& size : {QString(), QStringLiteral("32pt")}) {
            const QByteArray font = size.isEmpty() ? QByteArray("default font") : size.toLatin1();
            QTest::newRow(("password, " + font).constData()) << PasswordQuestion << false << true << false << size;
            QTest::newRow(("password again, " + font).constData()) << PasswordQuestion << false << true << true << size;
            QTest::newRow(("passphrase, " + font).constData()) << PassphraseQuestion << false << true << false << size;
            QTest::newRow(("host key, " + font).constData()) << HostKeyQuestion << true << false << false << size;
        }
    }

    // At its start size the dialog shows the question box, the answer field
    // and the remember box whole, inside the scroll area and unscrolled.
    void startSizeShowsTheAnswer()
    {
        QFETCH(QString, question);
        QFETCH(bool, yesNo);
        QFETCH(bool, secret);
        QFETCH(bool, retry);
        QFETCH(QString, fontSize);
        Reply reply;
        auto* dialog = new SshPromptDialog(makePrompt(m_connection.get(), &reply, question, yesNo, secret, retry),
                                           m_window.get(), m_theme);
        if (!fontSize.isEmpty())
            dialog->setStyleSheet(dialog->styleSheet() + QStringLiteral("\nQWidget { font-size: %1; }").arg(fontSize));
        dialog->open();
        QVERIFY(QTest::qWaitForWindowExposed(dialog));
        QVERIFY(dialog->width() >= 540 && dialog->height() >= 300);
        auto* scroll = dialog->findChild<QScrollArea*>(QStringLiteral("dialogContentScroll"));
        QVERIFY(scroll);
        QWidget* viewport = scroll->viewport();
        QCOMPARE(scroll->verticalScrollBar()->value(), 0);
        QCOMPARE(scroll->horizontalScrollBar()->value(), 0);

        QList<QWidget*> shown{dialog->findChild<QPlainTextEdit*>(QStringLiteral("sshAuthenticationChallenge"))};
        if (!yesNo)
            shown.append(dialog->findChild<QLineEdit*>(QStringLiteral("sshPassword")));
        if (secret)
            shown.append(dialog->findChild<QCheckBox*>(QStringLiteral("sshRememberPassword")));
        for (QWidget* widget : std::as_const(shown)) {
            QVERIFY(widget && widget->isVisible());
            const QRect placed(widget->mapTo(viewport, QPoint(0, 0)), widget->size());
            QVERIFY2(viewport->rect().contains(placed),
                     qPrintable(QStringLiteral("%1 at %2,%3 %4x%5 outside the viewport's %6x%7")
                                    .arg(widget->objectName())
                                    .arg(placed.x())
                                    .arg(placed.y())
                                    .arg(placed.width())
                                    .arg(placed.height())
                                    .arg(viewport->width())
                                    .arg(viewport->height())));
            QCOMPARE(widget->visibleRegion().boundingRect(), widget->rect());
        }
        // The remember box shows its whole text.
        if (secret) {
            auto* remember = dialog->findChild<QCheckBox*>(QStringLiteral("sshRememberPassword"));
            QVERIFY(remember->width() >= remember->sizeHint().width());
        }
        dialog->close();
    }

    void hostKeyQuestion_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("trust") << "trust" << true;
        QTest::newRow("cancel") << "cancel" << false;
        QTest::newRow("enter") << "enter" << false;
        QTest::newRow("escape") << "escape" << false;
        QTest::newRow("close button") << "close" << false;
    }
    void hostKeyQuestion()
    {
        QFETCH(QString, how);
        QFETCH(bool, accepted);
        Reply reply;
        QPointer<QDialog> dialog = show(makePrompt(m_connection.get(), &reply, HostKeyQuestion, true, false));
        QVERIFY(dialog);
        if (how == QLatin1String("trust"))
            QTest::mouseClick(DialogDriver::button(dialog, QDialogButtonBox::Ok), Qt::LeftButton);
        else if (how == QLatin1String("cancel"))
            QTest::mouseClick(DialogDriver::button(dialog, QDialogButtonBox::Cancel), Qt::LeftButton);
        else if (how == QLatin1String("enter"))
            QTest::keyClick(keyTarget(dialog), Qt::Key_Return);
        else if (how == QLatin1String("escape"))
            QTest::keyClick(keyTarget(dialog), Qt::Key_Escape);
        else
            dialog->close();
        QCOMPARE(reply.calls, 1);
        QCOMPARE(reply.accepted, accepted);
        QCOMPARE(reply.answer, accepted ? QStringLiteral("yes") : QString());
        QVERIFY(!reply.remember);
        QTRY_VERIFY(!dialog);
    }

    void secretAnswer_data()
    {
        QTest::addColumn<QString>("question");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<bool>("remember");
        QTest::addColumn<bool>("byEnter");
        QTest::newRow("password") << PasswordQuestion << "s3cret pass" << false << true;
        QTest::newRow("password remembered") << PasswordQuestion << "s3cret pass" << true << false;
        QTest::newRow("passphrase remembered") << PassphraseQuestion << "open sesame" << true << true;
        QTest::newRow("passphrase") << PassphraseQuestion << "open sesame" << false << false;
        QTest::newRow("empty answer") << PasswordQuestion << "" << false << true;
    }
    void secretAnswer()
    {
        QFETCH(QString, question);
        QFETCH(QString, typed);
        QFETCH(bool, remember);
        QFETCH(bool, byEnter);
        Reply reply;
        QPointer<QDialog> dialog = show(makePrompt(m_connection.get(), &reply, question, false, true));
        QVERIFY(dialog);
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("sshPassword"));
        QTRY_COMPARE(QApplication::focusWidget(), edit);
        QTest::keyClicks(edit, typed);
        QCOMPARE(edit->text(), typed);
        if (remember) {
            auto* box = dialog->findChild<QCheckBox*>(QStringLiteral("sshRememberPassword"));
            QTest::mouseClick(box, Qt::LeftButton);
            QVERIFY(box->isChecked());
        }
        // The typed secret is gone from the widget by the time it closes.
        QString leftInEdit = QStringLiteral("unset");
        connect(dialog, &QDialog::accepted, this, [&] { leftInEdit = edit->text(); });
        if (byEnter)
            QTest::keyClick(keyTarget(dialog), Qt::Key_Return);
        else
            QTest::mouseClick(DialogDriver::button(dialog, QDialogButtonBox::Ok), Qt::LeftButton);
        QCOMPARE(reply.calls, 1);
        QVERIFY(reply.accepted);
        QCOMPARE(reply.answer, typed);
        QCOMPARE(reply.remember, remember);
        QCOMPARE(leftInEdit, QString());
        QTRY_VERIFY(!dialog);
    }

    void longPasteIsCut()
    {
        Reply reply;
        QPointer<QDialog> dialog = show(makePrompt(m_connection.get(), &reply, PasswordQuestion, false, true));
        QVERIFY(dialog);
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("sshPassword"));
        QTRY_COMPARE(QApplication::focusWidget(), edit);
        QGuiApplication::clipboard()->setText(QString(1500, QLatin1Char('k')));
        QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(edit->text().size(), 1023);
        QTest::keyClick(edit, Qt::Key_Return);
        QCOMPARE(reply.answer, QString(1023, QLatin1Char('k')));
        QTRY_VERIFY(!dialog);
    }

    // The question ends without the dialog: answered or refused elsewhere,
    // or its askpass connection went away and took the question with it.
    void questionEndsWhileOpen_data()
    {
        QTest::addColumn<QString>("end");
        QTest::addColumn<QString>("thenUser");
        QTest::addColumn<int>("calls");
        QTest::newRow("answered elsewhere") << "answer" << "" << 1;
        QTest::newRow("refused elsewhere") << "cancel" << "" << 1;
        QTest::newRow("deleted") << "delete" << "" << 0;
        QTest::newRow("deleted, then escape") << "delete" << "escape" << 0;
        QTest::newRow("deleted, then connect") << "delete" << "ok" << 0;
        QTest::newRow("deleted, then close button") << "delete" << "close" << 0;
    }
    void questionEndsWhileOpen()
    {
        QFETCH(QString, end);
        QFETCH(QString, thenUser);
        QFETCH(int, calls);
        Reply reply;
        QPointer<SshAuthPrompt> prompt =
            makePrompt(m_connection.get(), &reply, PasswordQuestion, false, true, false, QStringLiteral("不应出现"));
        QPointer<QDialog> dialog = show(prompt);
        QVERIFY(dialog);
        auto* edit = dialog->findChild<QLineEdit*>(QStringLiteral("sshPassword"));
        QTest::keyClicks(edit, QStringLiteral("typed"));
        QTest::mouseClick(dialog->findChild<QCheckBox*>(QStringLiteral("sshRememberPassword")), Qt::LeftButton);

        if (end == QLatin1String("answer"))
            prompt->answer(QStringLiteral("from the cache"), false);
        else if (end == QLatin1String("cancel"))
            prompt->cancel();
        else
            delete prompt.data();
        // The user acts before the dialog's own close comes round.
        if (thenUser == QLatin1String("escape"))
            QTest::keyClick(keyTarget(dialog), Qt::Key_Escape);
        else if (thenUser == QLatin1String("ok"))
            QTest::mouseClick(DialogDriver::button(dialog, QDialogButtonBox::Ok), Qt::LeftButton);
        else if (thenUser == QLatin1String("close"))
            dialog->close();
        QTRY_VERIFY(!dialog);
        QCOMPARE(reply.calls, calls);
        if (end == QLatin1String("answer"))
            QCOMPARE(reply.answer, QStringLiteral("from the cache"));
        // Nothing is left to report: no "not saved" box follows.
        QCoreApplication::processEvents();
        QCOMPARE(m_window->findChild<QWidget*>(QStringLiteral("sshPasswordNotSaved")), nullptr);
    }

    void rememberFailureIsReportedAndTheAnswerStands()
    {
        DialogDriver driver;
        QString title;
        QWidget* boxParent = nullptr;
        driver.on(QStringLiteral("sshPasswordNotSaved"), [&](QWidget* box) {
            title = box->windowTitle();
            boxParent = box->parentWidget();
            DialogDriver::acknowledge(box);
        });
        Reply reply;
        QPointer<QDialog> dialog = show(makePrompt(m_connection.get(), &reply, PasswordQuestion, false, true,
                                                   false, QStringLiteral("无法保存密码：<密钥>不可用")));
        QVERIFY(dialog);
        QTest::keyClicks(dialog->findChild<QLineEdit*>(QStringLiteral("sshPassword")), QStringLiteral("pw"));
        QTest::mouseClick(dialog->findChild<QCheckBox*>(QStringLiteral("sshRememberPassword")), Qt::LeftButton);
        QTest::mouseClick(DialogDriver::button(dialog, QDialogButtonBox::Ok), Qt::LeftButton);
        QCOMPARE(reply.calls, 1);
        QCOMPARE(reply.answer, QStringLiteral("pw"));
        QVERIFY(reply.remember);
        QTRY_COMPARE(driver.seen, QStringList{QStringLiteral("sshPasswordNotSaved")});
        QTRY_VERIFY(!dialog);
        QTRY_VERIFY(m_window->findChild<QWidget*>(QStringLiteral("sshPasswordNotSaved")) == nullptr);
        QCOMPARE(title, QStringLiteral("密码未保存"));
        QCOMPARE(boxParent, m_window.get());
        QCOMPARE(driver.texts, QStringList{QStringLiteral("无法保存密码：<密钥>不可用\n本次连接仍会继续。")});
    }

    void noQuestionNoDialog()
    {
        showSshAuthPrompt(nullptr, m_window.get(), m_theme);
        QCOMPARE(m_window->findChild<QDialog*>(), nullptr);
    }
};

// The dialogs open on a screen of a small laptop's size, 1366 x 768, rather
// than the offscreen platform's square of 800: the largest font needs the
// width such a screen has.
int main(int argc, char** argv)
{
    QTemporaryDir folder;
    if (qgetenv("QT_QPA_PLATFORM") == "offscreen" && folder.isValid()) {
        const QString path = folder.filePath(QStringLiteral("screens.json"));
        QFile config(path);
        if (config.open(QIODevice::WriteOnly)
            && config.write(R"({"screens": [{"name": "laptop", "x": 0, "y": 0, "width": 1366, "height": 768,)"
                            R"( "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                   > 0
            && config.flush()) {
            config.close();
            qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(path));
        }
    }
    QApplication app(argc, argv);
    app.setAttribute(Qt::AA_Use96Dpi, true);
    SshPromptDialogTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "SshPromptDialogTest.moc"
