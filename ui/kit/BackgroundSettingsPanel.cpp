#include "ui/kit/BackgroundSettingsPanel.h"

#include "ui/kit/Combo.h"
#include "ui/kit/Factories.h"

#include <QBoxLayout>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSlider>

namespace vn {

namespace {

QString prefixOf(bool receive)
{
    return receive ? QStringLiteral("receiveBackground") : QStringLiteral("windowBackground");
}

int fitIndex(const QComboBox* combo, const QString& fit)
{
    for (int i = 0; i < combo->count(); ++i) {
        if (combo->itemData(i).toString() == fit)
            return i;
    }
    return 0;
}

QString percentText(int value)
{
    return QString::number(value) + u'%';
}

QLabel* valueLabel(const QString& name, int value)
{
    QLabel* result = label(percentText(value), name);
    result->setMinimumWidth(44);
    return result;
}

QSlider* percentSlider(const QString& name, int value, const QString& accessible)
{
    auto* slider = new QSlider(Qt::Horizontal);
    slider->setObjectName(name);
    slider->setRange(0, 100);
    slider->setValue(value);
    slider->setAccessibleName(accessible);
    return slider;
}

QHBoxLayout* sliderRow(QSlider* slider, QLabel* value)
{
    QHBoxLayout* row = horizontal(nullptr);
    row->addWidget(slider, 1);
    row->addWidget(value);
    return row;
}

// One group of the page, appended to `layout`.
void addGroup(QVBoxLayout* layout, const BackgroundActions& actions, bool receive)
{
    const QString p = prefixOf(receive);
    const QString area = receive ? QStringLiteral("收发区背景") : QStringLiteral("主界面背景");
    const BackgroundSpec look = actions.current(receive);

    layout->addWidget(label(receive ? QStringLiteral("收发显示区背景") : QStringLiteral("主界面背景（含左侧参数栏）"),
                            QStringLiteral("section")));

    auto* choose = new QPushButton(QStringLiteral("选择图片…"));
    choose->setObjectName(p + QStringLiteral("Choose"));
    choose->setProperty("variant", QStringLiteral("outline"));
    auto* centre = new QPushButton(QStringLiteral("图片居中"));
    centre->setObjectName(p + QStringLiteral("PositionReset"));
    auto* reset = new QPushButton(QStringLiteral("恢复默认"));
    reset->setObjectName(p + QStringLiteral("Reset"));
    QHBoxLayout* buttons = horizontal(nullptr);
    buttons->addWidget(choose);
    buttons->addWidget(centre);
    buttons->addWidget(reset);
    buttons->addStretch();
    layout->addLayout(buttons);

    QLabel* file = label(look.file.isEmpty() ? QStringLiteral("未设置图片") : look.name, p + QStringLiteral("File"));
    file->setWordWrap(true);
    layout->addWidget(file);

    Combo* mode = combo({}, QString(), false);
    mode->setObjectName(p + QStringLiteral("Mode"));
    mode->addItem(QStringLiteral("填满（保持比例裁剪）"), QStringLiteral("cover"));
    mode->addItem(QStringLiteral("完整显示（保持比例）"), QStringLiteral("contain"));
    mode->addItem(QStringLiteral("平铺"), QStringLiteral("tile"));
    mode->setCurrentIndex(fitIndex(mode, look.fit));

    QSlider* opacity = percentSlider(p + QStringLiteral("Opacity"), look.opacity, area + QStringLiteral("不透明度"));
    QSlider* x = percentSlider(p + QStringLiteral("PositionX"), look.position_x, area + QStringLiteral("水平位置"));
    x->setToolTip(QStringLiteral("0% 靠左，50% 居中，100% 靠右"));
    QSlider* y = percentSlider(p + QStringLiteral("PositionY"), look.position_y, area + QStringLiteral("垂直位置"));
    y->setToolTip(QStringLiteral("0% 靠上，50% 居中，100% 靠下"));

    auto* form = new QFormLayout;
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    form->addRow(QStringLiteral("显示方式"), mode);
    form->addRow(QStringLiteral("不透明度"), sliderRow(opacity, valueLabel(p + QStringLiteral("Percent"), look.opacity)));
    form->addRow(QStringLiteral("水平位置"),
                 sliderRow(x, valueLabel(p + QStringLiteral("PositionXValue"), look.position_x)));
    form->addRow(QStringLiteral("垂直位置"),
                 sliderRow(y, valueLabel(p + QStringLiteral("PositionYValue"), look.position_y)));
    layout->addLayout(form);

    QObject::connect(choose, &QPushButton::clicked, choose, [actions, receive] {
        QWidget* parent = actions.dialogParent();
        const QString path = QFileDialog::getOpenFileName(
            parent, QStringLiteral("选择背景图片"), QString(),
            QStringLiteral("常见图片 (*.jpg *.jpeg *.png *.bmp *.webp *.gif *.tif *.tiff);;全部文件 (*)"));
        if (path.isEmpty())
            return;
        QString error;
        if (!actions.import(receive, path, &error))
            QMessageBox::warning(parent, QStringLiteral("无法设置背景"), error, QMessageBox::Ok);
    });
    QObject::connect(reset, &QPushButton::clicked, reset,
                     [actions, receive] { actions.change(receive, BackgroundSpec(), true); });
    QObject::connect(centre, &QPushButton::clicked, centre, [actions, receive] {
        BackgroundSpec changed = actions.current(receive);
        changed.position_x = 50;
        changed.position_y = 50;
        actions.change(receive, changed, false);
    });
    // Fit, opacity and position are read back from the controls together, and the
    // labels follow only once the change has been applied (through the window's
    // synchronisation), so they always show what is in effect.
    const auto apply = [actions, receive, mode, opacity, x, y] {
        BackgroundSpec changed = actions.current(receive);
        changed.fit = mode->currentData().toString();
        changed.opacity = opacity->value();
        changed.position_x = x->value();
        changed.position_y = y->value();
        actions.change(receive, changed, false);
    };
    QObject::connect(mode, &QComboBox::currentIndexChanged, mode, apply);
    for (QSlider* slider : {opacity, x, y})
        QObject::connect(slider, &QSlider::valueChanged, slider, apply);
}

} // namespace

QWidget* backgroundSettingsPanel(const BackgroundActions& actions)
{
    auto* page = new QWidget;
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 12, 0, 0);
    layout->setSpacing(16);
    addGroup(layout, actions, false);
    addGroup(layout, actions, true);
    QLabel* hint = label(
        QStringLiteral("支持 JPG、PNG、BMP、WebP、GIF、TIFF；GIF 使用首帧。图片会保存到配置目录，降低不透明度可让文字更清晰。"
                       "\n位置 0% 靠左或靠上，50% 居中，100% 靠右或靠下。填满时调整裁剪位置，完整显示时调整留白位置，"
                       "平铺时移动平铺起点；与区域刚好贴合的方向无需移动。"),
        QString());
    hint->setWordWrap(true);
    layout->addWidget(hint);
    return page;
}

void syncBackgroundControls(QWidget* container, bool receive, const BackgroundSpec& look, bool hasImage,
                            const QString& folder)
{
    if (container == nullptr)
        return;
    const QString p = prefixOf(receive);
    if (auto* file = container->findChild<QLabel*>(p + QStringLiteral("File"))) {
        if (look.file.isEmpty())
            file->setText(QStringLiteral("未设置图片"));
        else
            file->setText(hasImage ? look.name : look.name + QStringLiteral("（图片不可用）"));
        file->setToolTip(QDir(folder).filePath(look.file));
    }
    if (auto* mode = container->findChild<QComboBox*>(p + QStringLiteral("Mode"))) {
        const QSignalBlocker quiet(mode);
        mode->setCurrentIndex(fitIndex(mode, look.fit));
    }
    const auto sync = [container](const QString& slider, const QString& text, int value) {
        if (auto* control = container->findChild<QSlider*>(slider)) {
            const QSignalBlocker quiet(control);
            control->setValue(value);
        }
        if (auto* shown = container->findChild<QLabel*>(text))
            shown->setText(percentText(value));
    };
    sync(p + QStringLiteral("Opacity"), p + QStringLiteral("Percent"), look.opacity);
    sync(p + QStringLiteral("PositionX"), p + QStringLiteral("PositionXValue"), look.position_x);
    sync(p + QStringLiteral("PositionY"), p + QStringLiteral("PositionYValue"), look.position_y);
}

} // namespace vn
