#include "ui/window/AppearancePage.h"

#include "ui/kit/Combo.h"
#include "ui/kit/Factories.h"
#include "ui/window/Window.h"
#include "ui/window/WorkspaceFile.h"

#include <QCoreApplication>
#include <QFontDialog>
#include <QFormLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTranslator>
#include <QVBoxLayout>

namespace vn {

AppearancePage::AppearancePage(Window* owner, QWidget* parent)
    : QWidget(parent)
    , window(owner)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 24, 20, 20);

    auto* form = new QFormLayout;
    form->setVerticalSpacing(18);
    form->setRowWrapPolicy(QFormLayout::WrapLongRows);
    form->setFieldGrowthPolicy(QFormLayout::AllNonFixedFieldsGrow);

    themeChoice = combo({QStringLiteral("浅色主题"), QStringLiteral("深色主题")}, QString(), false);
    themeChoice->setObjectName(QStringLiteral("themeChoice"));
    form->addRow(QStringLiteral("界面主题"), themeChoice);

    fontChoice = button(QString(), QStringLiteral("outline"));
    fontChoice->setObjectName(QStringLiteral("dataFontChoice"));
    form->addRow(QStringLiteral("数据字体"), fontChoice);

    fontSize = new QSpinBox;
    fontSize->setObjectName(QStringLiteral("dataFontSize"));
    fontSize->setRange(8, 32);
    form->addRow(QStringLiteral("数据字号"), fontSize);

    QPushButton* reset = button(QStringLiteral("恢复推荐字体"), QStringLiteral("outline"));
    reset->setObjectName(QStringLiteral("dataFontReset"));
    form->addRow(QString(), reset);

    QLabel* note = label(QStringLiteral("界面使用清晰中文字体。数据区可自选字体，Ctrl + 滚轮调整字号。"), QStringLiteral("muted"));
    note->setWordWrap(true);
    form->addRow(note);
    layout->addLayout(form);

    layout->addWidget(window->backgroundSettingsPanel());
    layout->addStretch();

    showCurrent();

    connect(themeChoice, &QComboBox::currentIndexChanged, this,
            [this](int index) { window->applyTheme(index == 1); });
    connect(fontChoice, &QPushButton::clicked, this, &AppearancePage::chooseFont);
    connect(fontSize, &QSpinBox::valueChanged, this, [this](int size) {
        QFont font = window->dataFont;
        font.setPointSize(size);
        takeFont(font);
    });
    connect(reset, &QPushButton::clicked, this, [this]() { takeFont(Theme::defaultDataFont()); });
}

void AppearancePage::showCurrent()
{
    const QSignalBlocker themeQuiet(themeChoice);
    themeChoice->setCurrentIndex(window->theme.dark ? 1 : 0);
    fontChoice->setText(window->dataFont.family());
    const QSignalBlocker sizeQuiet(fontSize);
    fontSize->setValue(window->dataFont.pointSize());
}

void AppearancePage::takeFont(const QFont& font)
{
    // Every path into the data font keeps the program's rules: the Chinese
    // fall-back family, the 8..32 point range and unsmoothed pixel fonts.
    window->setDataFont(shapeDataFont(font, font.family(), font.pointSize()));
    showCurrent();
}

void AppearancePage::chooseFont()
{
    // Removed again by its destructor when the font dialog is done.
    QTranslator translation;
    if (translation.load(QStringLiteral(":/translations/qtbase_zh_CN.qm")))
        QCoreApplication::installTranslator(&translation);

    // On the heap and guarded: the window, and this page with it, may close
    // while the font dialog runs its own event loop.
    QPointer<QFontDialog> dialog = new QFontDialog(window->dataFont, this);
    dialog->setObjectName(QStringLiteral("dataFontDialog"));
    dialog->setOption(QFontDialog::DontUseNativeDialog);
    dialog->setWindowTitle(QStringLiteral("数据字体"));
    dialog->setPalette(window->palette());
    dialog->setStyleSheet(window->theme.stylesheet());
    const QPointer<AppearancePage> alive(this);
    const bool accepted = dialog->exec() == QDialog::Accepted;
    if (!alive || !dialog)
        return;
    const QFont chosen = dialog->selectedFont();
    delete dialog;
    if (accepted)
        takeFont(chosen);
}

} // namespace vn
