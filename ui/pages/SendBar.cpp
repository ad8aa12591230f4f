#include "ui/pages/SendBar.h"

#include "core/Channel.h"
#include "core/Engine.h"
#include "core/Fail.h"
#include "ui/kit/Combo.h"
#include "ui/kit/Factories.h"
#include "ui/kit/IconButton.h"
#include "ui/pages/Pane.h"
#include "ui/pages/SendFooter.h"
#include "ui/pages/SessionToolbar.h"

#include <QBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QShortcut>
#include <QSpinBox>

#include <exception>

namespace vn {

namespace {

bool sendable(const Channel* channel)
{
    return channel && (channel->state == QLatin1String("connected") || channel->state == QLatin1String("listening"));
}

} // namespace

SendBar::SendBar(Pane& page, QWidget* parent)
    : QWidget(parent)
    , m_page(page)
{
    setObjectName(QStringLiteral("sender"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(18, 8, 18, 12);
    column->setSpacing(8);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(0, 0, 0, 0);
    header->setSpacing(8);
    header->addWidget(label(QStringLiteral("发送缓冲"), QStringLiteral("senderLabel")));
    header->addStretch();
    header->addWidget(label(QStringLiteral("Ctrl + Enter"), QStringLiteral("senderLabel")));
    column->addLayout(header);

    textBox = new QPlainTextEdit;
    textBox->setMinimumHeight(54);
    textBox->setPlaceholderText(QStringLiteral("输入待发送内容"));
    column->addWidget(textBox, 1);

    encoding = combo({QStringLiteral("utf-8"), QStringLiteral("gbk"), QStringLiteral("ascii"), QStringLiteral("latin-1")},
                     QString(), false);
    encoding->setFixedWidth(108);
    encoding->setToolTip(QStringLiteral("收发文本编码"));
    newline = combo({QStringLiteral("None · 无换行"), QStringLiteral("LF · \\n"), QStringLiteral("CR · \\r"),
                     QStringLiteral("CRLF · \\r\\n")},
                    QString(), false);
    const QStringList descriptions = {QStringLiteral("None · 不追加换行"), QStringLiteral("LF · \\n · Line Feed"),
                                      QStringLiteral("CR · \\r · Carriage Return"),
                                      QStringLiteral("CRLF · \\r\\n · Carriage Return + Line Feed")};
    for (int index = 0; index < descriptions.size(); ++index)
        newline->setItemData(index, descriptions.at(index), Qt::ToolTipRole);
    newline->menuPopup = true;
    newline->setCurrentIndex(3);
    newline->setFixedWidth(152);
    newline->setToolTip(QStringLiteral("发送时追加的换行符"));
    sendHex = new IconButton(QStringLiteral("hex"), QStringLiteral("十六进制发送"));
    sendHex->setObjectName(QStringLiteral("sendHex"));
    sendHex->setCheckable(true);

    target = combo({}, QString(), true);
    target->lineEdit()->setPlaceholderText(QStringLiteral("目标 IP:端口"));
    target->setMaximumWidth(210);
    target->hide();
    templates = new IconButton(QStringLiteral("template"), QStringLiteral("报文模板"));
    repeat = new IconButton(QStringLiteral("repeat"), QStringLiteral("循环发送"));
    repeat->setObjectName(QStringLiteral("repeatSend"));
    repeat->setCheckable(true);
    repeat->setEnabled(false);
    interval = new QSpinBox;
    interval->setObjectName(QStringLiteral("repeatInterval"));
    interval->setRange(20, 3600000);
    interval->setValue(1000);
    interval->setSuffix(QStringLiteral(" ms"));
    interval->setFixedWidth(126);
    interval->setToolTip(QStringLiteral("循环发送间隔 · 毫秒（ms）"));
    sendButton = button(QStringLiteral("发送"), QStringLiteral("primary"));
    sendButton->setFixedWidth(94);

    footer = new SendFooter;
    auto* format = new QHBoxLayout;
    format->setContentsMargins(0, 0, 0, 0);
    format->setSpacing(6);
    format->addWidget(encoding);
    format->addWidget(newline);
    format->addWidget(sendHex);
    auto* actions = new QHBoxLayout;
    actions->setContentsMargins(0, 0, 0, 0);
    actions->setSpacing(6);
    actions->addWidget(target);
    actions->addStretch();
    actions->addWidget(templates);
    actions->addWidget(repeat);
    actions->addWidget(interval);
    actions->addWidget(sendButton);
    footer->box()->addLayout(format, 0);
    footer->box()->addLayout(actions, 1);
    column->addWidget(footer);

    repeatTimer.setInterval(interval->value());
    connect(interval, &QSpinBox::valueChanged, this, [this](int value) { repeatTimer.setInterval(value); });
    connect(repeat, &IconButton::toggled, this, &SendBar::repeatToggled);
    connect(&repeatTimer, &QTimer::timeout, this, &SendBar::repeatStep);
    connect(sendButton, &QPushButton::clicked, this, [this]() { m_page.sendCurrent(); });
    connect(templates, &IconButton::clicked, this, [this]() { m_page.templateMenu(); });

    auto* shortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Return), textBox);
    shortcut->setObjectName(QStringLiteral("sendShortcut"));
    shortcut->setContext(Qt::WindowShortcut);
    connect(shortcut, &QShortcut::activated, this, [this]() {
        if (textBox->isVisible())
            m_page.sendCurrent();
    });
}

QString SendBar::lineEnding() const
{
    static const char* const names[] = {"none", "lf", "cr", "crlf"};
    const int index = newline->currentIndex();
    return index >= 0 && index < 4 ? QLatin1String(names[index]) : QStringLiteral("none");
}

QByteArray SendBar::encoded() const
{
    return Engine::encode(textBox->toPlainText(), sendHex->isChecked(), encoding->currentText(), lineEnding());
}

void SendBar::sendOnce()
{
    Channel* channel = m_page.liveChannel();
    if (!channel)
        fail(QStringLiteral("请先连接设备"));
    channel->send(encoded(), target->currentText(), QStringLiteral("gui"));
}

void SendBar::stopRepeat()
{
    repeat->setChecked(false);
}

void SendBar::repeatToggled(bool on)
{
    setButtonTip(repeat, on ? QStringLiteral("停止循环发送") : QStringLiteral("循环发送"));
    if (!on) {
        repeatTimer.stop();
        return;
    }
    try {
        startRepeat();
    } catch (const std::exception& error) {
        stopRepeat();
        m_page.showError(errorText(error));
    }
}

void SendBar::startRepeat()
{
    if (!sendable(m_page.liveChannel()))
        fail(QStringLiteral("请先连接设备"));
    repeatPayload = encoded();
    repeatTarget = target->currentText();
    repeatTimer.start(interval->value());
    // The first packet goes out at once; its failure ends the repeat it began.
    sendOnce();
}

void SendBar::repeatStep()
{
    try {
        Channel* channel = m_page.liveChannel();
        if (!channel)
            fail(QStringLiteral("连接已关闭"));
        channel->send(repeatPayload, repeatTarget, QStringLiteral("gui"));
    } catch (const std::exception& error) {
        stopRepeat();
        m_page.showError(errorText(error));
    }
}

} // namespace vn
