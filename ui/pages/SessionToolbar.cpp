#include "ui/pages/SessionToolbar.h"

#include "ui/kit/FoldingRow.h"
#include "ui/kit/IconButton.h"
#include "ui/views/FilterBox.h"

namespace vn {

namespace {

IconButton* makeButton(const char* objectName, const QString& icon, const QString& tip, bool checkable,
                       bool checked)
{
    auto* result = new IconButton(icon, tip);
    if (objectName)
        result->setObjectName(QLatin1String(objectName));
    result->setCheckable(checkable);
    result->setChecked(checked);
    return result;
}

} // namespace

void setButtonTip(QWidget* button, const QString& tip)
{
    button->setToolTip(tip);
    button->setAccessibleName(tip);
}

SessionToolbar::SessionToolbar(QWidget* parent)
    : QWidget(parent)
{
    setObjectName(QStringLiteral("monitorToolbar"));
    // Too narrow for everything on one line, the filter box takes a line of
    // its own under the buttons, which stay together on the first.
    auto* row = new FoldingRow(this);
    row->setContentsMargins(14, 8, 12, 6);
    row->setSpacing(3);
    row->setLineSpacing(6);

    terminalMode = makeButton("terminalMode", QStringLiteral("terminal"), QStringLiteral("切换到交互终端"), true, false);
    timestamps = makeButton("timestamps", QStringLiteral("clock"), QStringLiteral("显示时间戳"), true, true);
    hexDisplay = makeButton("hexDisplay", QStringLiteral("hex"), QStringLiteral("十六进制显示"), true, false);
    wrapLines = makeButton("wrapLines", QStringLiteral("wrap"), QStringLiteral("自动换行（关闭后可横向滚动）"), true, true);
    cursorShape = makeButton(nullptr, QStringLiteral("cursor"), QStringLiteral("光标形状：方块 / 竖线 · Insert"), true, true);
    clipboard = makeButton("terminalClipboard", QStringLiteral("clipboard"), QStringLiteral("终端复制与粘贴设置"), false, false);
    filter = new FilterBox;
    filter->setPlaceholderText(QStringLiteral("筛选内容"));
    pause = makeButton("pauseDisplay", QStringLiteral("pause"), QStringLiteral("暂停显示，后台继续接收"), true, false);
    clear = makeButton("clearDisplay", QStringLiteral("trash"), QStringLiteral("清空当前显示，保留共享历史"), false, false);
    follow = makeButton("followLatest", QStringLiteral("follow"), QStringLiteral("跟随最新数据"), true, true);
    exportLog = makeButton("exportLog", QStringLiteral("export"), QStringLiteral("导出连接日志"), false, false);
    fileTransfer = makeButton("serialFileTransfer", QStringLiteral("file-transfer"),
                              QStringLiteral("串口文件传输：原始字节 / XMODEM-CRC"), false, false);
    exportLog->setEnabled(false);
    fileTransfer->setEnabled(false);
    cursorShape->hide();
    clipboard->hide();

    for (QWidget* each : {static_cast<QWidget*>(terminalMode), static_cast<QWidget*>(timestamps),
                          static_cast<QWidget*>(hexDisplay), static_cast<QWidget*>(wrapLines),
                          static_cast<QWidget*>(cursorShape), static_cast<QWidget*>(clipboard)})
        row->addWidget(each);
    row->addSpacing(8);
    row->addStretch();
    row->addWidget(filter, 1, FoldingRow::OwnLineWhenFolded);
    for (QWidget* each : {static_cast<QWidget*>(pause), static_cast<QWidget*>(clear),
                          static_cast<QWidget*>(follow), static_cast<QWidget*>(exportLog),
                          static_cast<QWidget*>(fileTransfer)})
        row->addWidget(each);

    connect(pause, &IconButton::toggled, this, [this](bool on) {
        setButtonTip(pause, on ? QStringLiteral("继续显示，后台仍在接收") : QStringLiteral("暂停显示，后台继续接收"));
    });
}

void SessionToolbar::showMode(bool terminal)
{
    for (QWidget* each : {static_cast<QWidget*>(filter), static_cast<QWidget*>(follow),
                          static_cast<QWidget*>(timestamps), static_cast<QWidget*>(hexDisplay),
                          static_cast<QWidget*>(wrapLines)})
        each->setVisible(!terminal);
    cursorShape->setVisible(terminal);
    clipboard->setVisible(terminal);
    terminalMode->setIconName(terminal ? QStringLiteral("log") : QStringLiteral("terminal"));
    setButtonTip(terminalMode, terminal ? QStringLiteral("返回收发日志") : QStringLiteral("切换到交互终端"));
}

} // namespace vn
