#include "ui/views/FilterBox.h"

#include "ui/kit/IconButton.h"

#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

using vn::FilterBox;

class FilterBoxTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void construction()
    {
        FilterBox box;
        QCOMPARE(box.objectName(), QStringLiteral("searchBox"));
        QCOMPARE(box.minimumWidth(), 270);
        QCOMPARE(box.maximumWidth(), 480);
        QCOMPARE(box.maxLength(), 2048);
        QCOMPARE(box.textMargins(), QMargins(25, 0, 134, 0));
        QCOMPARE(box.optionButtons.size(), 4);
        const QStringList names{"filterCase", "filterWord", "filterRegex", "filterLogic"};
        const QStringList texts{"Aa", "ab", ".*", "&&&&"};
        const QStringList tips{"区分大小写", "全词匹配（字母、数字、下划线为词内字符）", "使用正则表达式",
                               "逻辑匹配：&& 同时包含，|| 任一包含；&& 优先"};
        for (int i = 0; i < 4; ++i) {
            QToolButton* b = box.optionButtons.at(i);
            QCOMPARE(b->objectName(), names.at(i));
            QCOMPARE(b->text(), texts.at(i));
            QCOMPARE(b->toolTip(), tips.at(i));
            QCOMPARE(b->accessibleName(), tips.at(i));
            QVERIFY(b->isCheckable() && !b->isChecked());
            QCOMPARE(b->size(), QSize(25, 26));
            QCOMPARE(b->property("searchOption").toBool(), true);
            QCOMPARE(b->focusPolicy(), Qt::StrongFocus);
            QCOMPARE(b->cursor().shape(), Qt::PointingHandCursor);
        }
        QVERIFY(box.wordButton->font().underline());
        QCOMPARE(box.optionButtons.at(0), box.caseButton);
        QCOMPARE(box.optionButtons.at(3), box.logicButton);
        QVERIFY(box.toolTip().startsWith(QStringLiteral("按行筛选；Aa 区分大小写")));
        QCOMPARE(box.accessibleDescription(), box.toolTip());
        QVERIFY(!box.property("invalidFilter").toBool());
    }

    void editsTheFilter()
    {
        FilterBox box;
        QSignalSpy changed(&box, &FilterBox::criteriaChanged);
        box.setText(QStringLiteral("温度 && 报警"));
        QCOMPARE(changed.count(), 1);
        QVERIFY(box.filter.matches(QStringLiteral("x 温度 && 报警")));
        QVERIFY(!box.filter.matches(QStringLiteral("温度 报警")));
        box.logicButton->setChecked(true);
        QCOMPARE(changed.count(), 2);
        QVERIFY(box.filter.logical);
        QVERIFY(box.filter.matches(QStringLiteral("报警：温度高")));
        box.caseButton->click();
        box.wordButton->click();
        box.regexButton->click();
        QVERIFY(box.filter.case_sensitive && box.filter.whole_word && box.filter.regex);
        QCOMPARE(changed.count(), 5);
        box.rebuild();
        QCOMPARE(changed.count(), 6);   // also when nothing changed
    }

    void invalidCriteria()
    {
        FilterBox box;
        box.logicButton->setChecked(true);
        box.setText(QStringLiteral("a ||"));
        QCOMPARE(box.filter.error, QStringLiteral("逻辑运算符两侧需要填写内容"));
        QCOMPARE(box.property("invalidFilter").toBool(), true);
        QVERIFY(box.toolTip().startsWith(QStringLiteral("逻辑运算符两侧需要填写内容\n按行筛选；")));
        QCOMPARE(box.accessibleDescription(), QStringLiteral("逻辑运算符两侧需要填写内容"));
        QVERIFY(box.filter.matches(QStringLiteral("anything")));
        box.setText(QStringLiteral("a || b"));
        QCOMPARE(box.property("invalidFilter").toBool(), false);
        QVERIFY(box.toolTip().startsWith(QStringLiteral("按行筛选；")));
    }

    void restoreEmitsOnce()
    {
        FilterBox box;
        QSignalSpy changed(&box, &FilterBox::criteriaChanged);
        box.restore(QJsonObject{{"text", "err"}, {"case_sensitive", true}, {"whole_word", true},
                                {"regex", false}, {"logical", true}});
        QCOMPARE(changed.count(), 1);
        QCOMPARE(box.text(), QStringLiteral("err"));
        QVERIFY(box.caseButton->isChecked() && box.wordButton->isChecked());
        QVERIFY(!box.regexButton->isChecked() && box.logicButton->isChecked());
        QCOMPARE(box.filter.settings().value("text").toString(), QStringLiteral("err"));
        QVERIFY(box.filter.whole_word);
        QVERIFY(box.clearButton()->isVisibleTo(&box));
        box.restore(QJsonObject{});
        QCOMPARE(changed.count(), 2);
        QVERIFY(!box.clearButton()->isVisibleTo(&box));
        QVERIFY(!box.caseButton->isChecked());
        // A caller's own blocking is kept.
        box.blockSignals(true);
        box.restore(QJsonObject{{"text", "x"}});
        QVERIFY(box.signalsBlocked());
        QCOMPARE(changed.count(), 2);
        QCOMPARE(box.filter.text, QStringLiteral("x"));
    }

    void lengthLimit()
    {
        FilterBox box;
        box.restore(QJsonObject{{"text", QString(3000, u'x')}});
        QCOMPARE(box.text().size(), 2048);
        QCOMPARE(box.filter.text.size(), 2048);
        box.setText(QString(2046, u'y'));
        box.end(false);
        QTest::keyClicks(&box, QStringLiteral("zzzzz"));
        QCOMPARE(box.text().size(), 2048);
    }

    void togglesBesideClearButton()
    {
        FilterBox box;
        box.resize(400, 34);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        const int clearX = box.clearButton()->x();
        for (int i = 0; i < 4; ++i) {
            QToolButton* b = box.optionButtons.at(i);
            QCOMPARE(b->x(), clearX - 26 * 4 - 2 + 26 * i);
            QCOMPARE(b->y(), (34 - 26) / 2);
        }
    }
};

QTEST_MAIN(FilterBoxTest)
#include "FilterBoxTest.moc"
