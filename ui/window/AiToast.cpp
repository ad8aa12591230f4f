#include "ui/window/AiToast.h"

#include "ui/kit/Factories.h"
#include "ui/kit/IconButton.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>

namespace vn {

AiToast::AiToast(QWidget* parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("aiToast"));
    setProperty("roundedPopup", true);
    setAttribute(Qt::WA_StyledBackground);
    setMaximumWidth(560);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 7, 7, 7);
    layout->setSpacing(8);

    text = new QLabel(this);
    text->setObjectName(QStringLiteral("aiToastText"));
    // Summaries come from agents and are shown as they were written.
    text->setTextFormat(Qt::PlainText);
    layout->addWidget(text, 1);

    detail = button(QStringLiteral("详情"), QStringLiteral("outline"));
    detail->setObjectName(QStringLiteral("aiToastDetail"));
    detail->setFixedHeight(26);
    layout->addWidget(detail);

    all = button(QStringLiteral("全部记录"), QStringLiteral("outline"));
    all->setObjectName(QStringLiteral("aiToastAll"));
    all->setFixedHeight(26);
    layout->addWidget(all);

    close = new IconButton(QStringLiteral("close"), QStringLiteral("关闭 AI 活动提示"), this);
    close->setObjectName(QStringLiteral("aiToastClose"));
    close->setFixedSize(24, 24);
    layout->addWidget(close);

    timer = new QTimer(this);
    timer->setObjectName(QStringLiteral("toastTimer"));
    timer->setSingleShot(true);
    timer->setInterval(HideAfterMs);

    connect(detail, &QPushButton::clicked, this, &AiToast::detailRequested);
    connect(all, &QPushButton::clicked, this, &AiToast::allRequested);
    connect(close, &IconButton::clicked, this, &QWidget::hide);
    connect(timer, &QTimer::timeout, this, &QWidget::hide);
    hide();
}

void AiToast::showText(const QString& message)
{
    text->setText(message);
    adjustSize();
    show();
    raise();
    timer->start();
}

} // namespace vn
