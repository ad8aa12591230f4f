#include "ui/plot/WavePlot.h"

#include "ui/kit/Combo.h"

#include <QApplication>
#include <QCheckBox>
#include <QColorDialog>
#include <QDialog>
#include <QDoubleSpinBox>
#include <QJsonArray>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <functional>

using namespace vn;

namespace {

QWidget* topLevel(const QString& name)
{
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (w->objectName() == name && w->isVisible())
            return w;
    }
    return nullptr;
}

// Answers the next modal window of that object name from the event loop.
void answer(const QString& name, std::function<void(QDialog*)> act)
{
    QTimer::singleShot(0, [name, act] {
        auto* dialog = qobject_cast<QDialog*>(topLevel(name));
        if (!dialog) {
            QFAIL(qPrintable(QStringLiteral("no dialog ") + name));
            return;
        }
        act(dialog);
    });
}

QPushButton* buttonText(QDialog* dialog, const QString& text)
{
    for (auto* b : dialog->findChildren<QPushButton*>()) {
        if (b->text() == text)
            return b;
    }
    return nullptr;
}

void click(QAbstractButton* b)
{
    QVERIFY(b);
    QTest::mouseClick(b, Qt::LeftButton, Qt::NoModifier, b->rect().center());
}

void save(QDialog* d)
{
    click(d->findChild<QPushButton*>("primary"));
}

void cancel(QDialog* d)
{
    click(buttonText(d, QStringLiteral("取消")));
}

QJsonObject wave(const QStringList& keys)
{
    QJsonObject values;
    for (const QString& key : keys)
        values.insert(key, 1.0);
    return {{"sources",
             QJsonObject{{"default", QJsonObject{{"samples", QJsonArray{QJsonObject{{"index", 1}, {"values", values}}}}}}}}};
}

struct Plot : WavePlot {
    Plot()
    {
        resize(700, 400);
        show();
        setSamples(wave({"a", "b", "c", "d", "e"}));
    }
};

} // namespace

class WaveSettingsDialogsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void curveDialogStoresAnOwnStyle()
    {
        Plot plot;
        QSignalSpy changed(&plot, &WavePlot::presentationChanged);
        answer("waveCurveDialog", [](QDialog* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("曲线设置 · b"));
            QCOMPARE(d->findChild<QLabel*>("waveCurveTitle")->text(), QStringLiteral("当前通道：b"));
            auto* inherit = d->findChild<QCheckBox*>("waveInheritStyle");
            QVERIFY(inherit->isChecked());
            QVERIFY(d->findChild<QCheckBox*>("waveAutomaticColor")->isChecked());
            d->findChild<QDoubleSpinBox*>("waveCurveWidth")->setValue(3);
            QVERIFY(!inherit->isChecked());
            save(d);
        });
        plot.openCurveSettings("b");
        QCOMPARE(plot.curveStyle("b"), (WaveCurveStyle{QColor(), 3, 1}));
        QVERIFY(plot.presentation().curveStyles.contains("b"));
        QCOMPARE(changed.count(), 1);
        QVERIFY(!plot.curveSettingsGeometry.isEmpty());

        // Ticking "use the default" again reloads it; saving drops the own style.
        answer("waveCurveDialog", [](QDialog* d) {
            auto* inherit = d->findChild<QCheckBox*>("waveInheritStyle");
            QVERIFY(!inherit->isChecked());
            QCOMPARE(d->findChild<QDoubleSpinBox*>("waveCurveWidth")->value(), 3.0);
            d->findChild<Combo*>("waveCurveLine")->setCurrentIndex(2);
            inherit->setChecked(true);
            QCOMPARE(d->findChild<QDoubleSpinBox*>("waveCurveWidth")->value(), 1.0);
            QCOMPARE(d->findChild<Combo*>("waveCurveLine")->currentData().toInt(), 1);
            QVERIFY(inherit->isChecked());
            save(d);
        });
        plot.openCurveSettings("b");
        QVERIFY(!plot.presentation().curveStyles.contains("b"));
    }

    void curveDialogManualUntickAndColour()
    {
        Plot plot;
        plot.restorePresentation({{"defaults", QJsonObject{{"width", 2}, {"line", 2}}}});
        const QColor drawn = plot.curveColor("c");
        answer("waveCurveDialog", [](QDialog* d) {
            d->findChild<QCheckBox*>("waveInheritStyle")->setChecked(false);
            d->findChild<QCheckBox*>("waveAutomaticColor")->setChecked(false);
            save(d);
        });
        plot.openCurveSettings("c");
        // A copy of the default, with the colour the curve was drawn with.
        QCOMPARE(plot.curveStyle("c"), (WaveCurveStyle{drawn, 2, 2}));

        // Cancelling the colour dialog leaves the automatic colour off.
        answer("waveCurveDialog", [](QDialog* d) {
            d->findChild<QCheckBox*>("waveInheritStyle")->setChecked(true);
            QVERIFY(d->findChild<QCheckBox*>("waveAutomaticColor")->isChecked());
            QTimer::singleShot(0, [d] {
                auto* colours = qobject_cast<QColorDialog*>(QApplication::activeModalWidget());
                QVERIFY(colours);
                QCOMPARE(colours->windowTitle(), QStringLiteral("选择曲线颜色"));
                colours->reject();
                QTimer::singleShot(0, [d] {
                    QVERIFY(!d->findChild<QCheckBox*>("waveAutomaticColor")->isChecked());
                    QVERIFY(!d->findChild<QCheckBox*>("waveInheritStyle")->isChecked());
                    cancel(d);
                });
            });
            click(d->findChild<QPushButton*>("waveCurveColor"));
        });
        plot.openCurveSettings("c");
        QCOMPARE(plot.curveStyle("c"), (WaveCurveStyle{drawn, 2, 2}));   // cancelled: unchanged
    }

    void plotSettingsSaveAndReset()
    {
        Plot plot;
        plot.setCurveStyle("a", {QColor(Qt::red), 4, 3});
        plot.setCurveVisible("b", false);
        plot.setReadoutChannels({"e"});
        QSignalSpy changed(&plot, &WavePlot::presentationChanged);

        // Reset, then cancel: nothing changes but the remembered tab and geometry.
        answer("waveSettingsDialog", [](QDialog* d) {
            QCOMPARE(d->windowTitle(), QStringLiteral("波形设置"));
            d->findChild<QTabWidget*>()->setCurrentIndex(1);
            auto* reset = buttonText(d, QStringLiteral("全部恢复默认"));
            click(reset);
            QCOMPARE(reset->text(), QStringLiteral("已恢复默认 · 保存后生效"));
            QVERIFY(d->isVisible());
            cancel(d);
        });
        plot.openPlotSettings();
        QCOMPARE(changed.count(), 0);
        QCOMPARE(plot.curveStyle("a").width, 4.0);
        QCOMPARE(plot.plotSettingsTab, 1);
        QVERIFY(!plot.plotSettingsGeometry.isEmpty());

        // Save without reset keeps styles, hidden curves and the readout choice.
        answer("waveSettingsDialog", [](QDialog* d) {
            QCOMPARE(d->findChild<QTabWidget*>()->currentIndex(), 1);
            auto* title = d->findChild<QLineEdit*>("waveXTitle");
            QCOMPARE(title->text(), QStringLiteral("采样序号"));
            QCOMPARE(title->maxLength(), 64);
            title->setText(QStringLiteral("时间"));
            click(d->findChildren<QToolButton*>("waveXUnitPreset").at(1));   // ms
            d->findChild<QLineEdit*>("waveYUnit")->setText(QStringLiteral("V"));
            auto* interval = d->findChild<QDoubleSpinBox*>("waveXIncrement");
            interval->setValue(0.000125);
            QCOMPARE(interval->text(), QStringLiteral("0.000125"));
            save(d);
        });
        plot.openPlotSettings();
        QCOMPARE(changed.count(), 1);
        QCOMPARE(plot.xAxisLabel(), QStringLiteral("时间 (ms)"));
        QCOMPARE(plot.yAxisLabel(), QStringLiteral("V"));
        QCOMPARE(plot.presentation().xIncrement, 0.000125);
        QCOMPARE(plot.curveStyle("a").width, 4.0);
        QVERIFY(!plot.isCurveVisible("b"));
        QCOMPARE(plot.readoutChannels(), QStringList{"e"});

        // Reset and save: everything back to the defaults.
        answer("waveSettingsDialog", [](QDialog* d) {
            QCOMPARE(d->findChild<QDoubleSpinBox*>("waveXIncrement")->text(), QStringLiteral("0.000125"));
            click(buttonText(d, QStringLiteral("全部恢复默认")));
            QCOMPARE(d->findChild<QDoubleSpinBox*>("waveXIncrement")->text(), QStringLiteral("1"));
            save(d);
        });
        plot.openPlotSettings();
        QCOMPARE(plot.presentationSettings(), WavePresentation().json());
        QVERIFY(plot.isCurveVisible("b"));
        QCOMPARE(plot.readoutChannels(), (QStringList{"a", "b", "c", "d"}));
    }

    void readoutDialog()
    {
        Plot plot;
        plot.setSamples(wave({"ch10", "ch2", "ch1", "x", "b"}));
        answer("waveReadoutDialog", [](QDialog* d) {
            QStringList chosen;
            for (int i = 0; i < 4; ++i)
                chosen << d->findChild<Combo*>(QStringLiteral("waveReadoutSlot%1").arg(i))->currentData().toString();
            QCOMPARE(chosen, (QStringList{"b", "ch1", "ch2", "ch10"}));
            auto* slot1 = d->findChild<Combo*>("waveReadoutSlot1");
            auto* saveButton = d->findChild<QPushButton*>("primary");
            auto* note = d->findChild<QLabel*>("waveReadoutNote");
            slot1->setCurrentIndex(slot1->findData("b"));
            QVERIFY(!saveButton->isEnabled());
            QCOMPARE(note->text(), QStringLiteral("同一个通道只能选择一次，请替换重复的通道。"));
            slot1->setCurrentIndex(0);   // "不显示"
            QCOMPARE(slot1->currentText(), QStringLiteral("不显示"));
            QVERIFY(saveButton->isEnabled());
            QVERIFY(note->text().startsWith(QStringLiteral("顶部最多显示四个")));
            save(d);
        });
        QSignalSpy changed(&plot, &WavePlot::presentationChanged);
        plot.openReadoutChannels();
        QVERIFY(plot.presentation().readoutsChosen);
        QCOMPARE(plot.readoutChannels(), (QStringList{"b", "ch2", "ch10"}));
        QCOMPARE(changed.count(), 1);

        // A chosen readout whose curve is gone is still offered and selected.
        plot.setReadoutChannels({"gone", "x"});
        answer("waveReadoutDialog", [](QDialog* d) {
            auto* slot0 = d->findChild<Combo*>("waveReadoutSlot0");
            QCOMPARE(slot0->currentData().toString(), QStringLiteral("gone"));
            QCOMPARE(slot0->count(), 1 + 5 + 1);
            click(buttonText(d, QStringLiteral("自动选择前四个")));
        });
        plot.openReadoutChannels();
        QVERIFY(!plot.presentation().readoutsChosen);
        QCOMPARE(plot.readoutChannels(), (QStringList{"b", "ch1", "ch2", "ch10"}));

        // Cancel changes nothing.
        answer("waveReadoutDialog", [](QDialog* d) { cancel(d); });
        plot.openReadoutChannels();
        QVERIFY(!plot.presentation().readoutsChosen);
    }

    void curveMenu()
    {
        Plot plot;
        plot.setCurveStyle("a", {QColor(Qt::red), 2, 1});
        const auto run = [&plot](const QString& action) {
            QTimer::singleShot(0, [action] {
                auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
                QVERIFY(menu);
                QCOMPARE(menu->objectName(), QStringLiteral("waveCurveMenu"));
                QCOMPARE(menu->actions().size(), 3);
                for (QAction* a : menu->actions()) {
                    if (a->objectName() == action || a->text() == action)
                        a->trigger();
                }
                menu->close();
            });
            plot.curveMenu("a", plot.mapToGlobal(QPoint(10, 10)));
        };
        run("显示曲线");
        QVERIFY(!plot.isCurveVisible("a"));
        run("resetWaveCurve");
        QVERIFY(!plot.presentation().curveStyles.contains("a"));
    }
};

QTEST_MAIN(WaveSettingsDialogsTest)
#include "WaveSettingsDialogsTest.moc"
