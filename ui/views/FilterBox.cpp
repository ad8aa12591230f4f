#include "ui/views/FilterBox.h"

#include "ui/kit/IconButton.h"

#include <QStyle>
#include <QToolButton>

namespace vn {

namespace {

const QString kHelp = QStringLiteral(
    "按行筛选；Aa 区分大小写，ab 全词，.* 正则，&& 逻辑匹配。\n"
    "逻辑示例：温度 && 报警 || 故障；双引号内不拆分运算符，例如 \"A||B\"。\n"
    "正则和逻辑可组合；正则项内含 && 或 || 时请用双引号包住。");

bool readBool(const QJsonObject& json, const char* key)
{
    const QJsonValue value = json.value(QLatin1String(key));
    return value.isBool() && value.toBool();
}

} // namespace

FilterBox::FilterBox(QWidget* parent) : SearchBox(parent)
{
    setMinimumWidth(270);
    setMaximumWidth(480);
    setMaxLength(kMaxLength);
    setTextMargins(25, 0, 134, 0);

    caseButton = makeToggle("filterCase", QStringLiteral("Aa"), QStringLiteral("区分大小写"));
    wordButton = makeToggle("filterWord", QStringLiteral("ab"),
                            QStringLiteral("全词匹配（字母、数字、下划线为词内字符）"));
    QFont underlined = wordButton->font();
    underlined.setUnderline(true);
    wordButton->setFont(underlined);
    regexButton = makeToggle("filterRegex", QStringLiteral(".*"), QStringLiteral("使用正则表达式"));
    // The ampersand doubled: a single one would be a mnemonic.
    logicButton = makeToggle("filterLogic", QStringLiteral("&&&&"),
                             QStringLiteral("逻辑匹配：&& 同时包含，|| 任一包含；&& 优先"));

    connect(this, &QLineEdit::textChanged, this, &FilterBox::rebuild);
    rebuild();
}

QToolButton* FilterBox::makeToggle(const char* objectName, const QString& text, const QString& tip)
{
    auto* button = new QToolButton(this);
    button->setObjectName(QLatin1String(objectName));
    button->setText(text);
    button->setToolTip(tip);
    button->setAccessibleName(tip);
    button->setCheckable(true);
    button->setChecked(false);
    button->setFixedSize(25, 26);
    button->setProperty("searchOption", true);
    button->setFocusPolicy(Qt::StrongFocus);
    button->setCursor(Qt::PointingHandCursor);
    connect(button, &QToolButton::toggled, this, &FilterBox::rebuild);
    optionButtons.append(button);
    return button;
}

void FilterBox::rebuild()
{
    filter.text = text();
    filter.case_sensitive = caseButton->isChecked();
    filter.whole_word = wordButton->isChecked();
    filter.regex = regexButton->isChecked();
    filter.logical = logicButton->isChecked();
    filter.compile();

    const bool invalid = !filter.error.isEmpty();
    if (property("invalidFilter").toBool() != invalid) {
        setProperty("invalidFilter", invalid);
        style()->unpolish(this);
        style()->polish(this);
    }
    if (invalid) {
        setToolTip(filter.error + u'\n' + kHelp);
        setAccessibleDescription(filter.error);
    } else {
        setToolTip(kHelp);
        setAccessibleDescription(kHelp);
    }
    update();
    Q_EMIT criteriaChanged();
}

void FilterBox::restore(const QJsonObject& json)
{
    const bool wasBlocked = blockSignals(true);
    for (QToolButton* button : std::as_const(optionButtons))
        button->blockSignals(true);
    const QJsonValue text = json.value(QLatin1String("text"));
    setText(text.isString() ? text.toString() : QString());   // cut to maxLength
    clearButton()->setVisible(!this->text().isEmpty());
    caseButton->setChecked(readBool(json, "case_sensitive"));
    wordButton->setChecked(readBool(json, "whole_word"));
    regexButton->setChecked(readBool(json, "regex"));
    logicButton->setChecked(readBool(json, "logical"));
    for (QToolButton* button : std::as_const(optionButtons))
        button->blockSignals(false);
    rebuild();
    blockSignals(wasBlocked);
    Q_EMIT criteriaChanged();
}

void FilterBox::resizeEvent(QResizeEvent* event)
{
    SearchBox::resizeEvent(event);
    const int count = static_cast<int>(optionButtons.size());
    int x = clearButton()->x() - 26 * count - 2;
    for (QToolButton* button : std::as_const(optionButtons)) {
        button->move(x, (height() - button->height()) / 2);
        x += 26;
    }
}

} // namespace vn
