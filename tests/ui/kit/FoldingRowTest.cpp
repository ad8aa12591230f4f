#include "ui/kit/FoldingRow.h"

#include <QTest>
#include <QWidget>

using namespace vn;

namespace {

QWidget* fixedPart(int width, int height = 30)
{
    auto* part = new QWidget;
    part->setFixedSize(width, height);
    return part;
}

} // namespace

class FoldingRowTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void oneLineAsABoxLayout();
    void theOwnLinePartLeavesFirst();
    void theRestFlowsAndSpacingsAtABreakVanish();
    void aHiddenPartTakesNoLine();

private:
    void layOut(int width);

    std::unique_ptr<QWidget> owner;
    FoldingRow* row = nullptr;
    QList<QWidget*> left;
    QWidget* filter = nullptr;
    QList<QWidget*> right;
};

// Two buttons, a spacing, a stretch, a filter that grows from 100 to 200 and
// two buttons after it: the session toolbar's shape.
void FoldingRowTest::init()
{
    owner = std::make_unique<QWidget>();
    row = new FoldingRow(owner.get());
    row->setContentsMargins(10, 5, 10, 5);
    row->setSpacing(4);
    row->setLineSpacing(6);
    left = {fixedPart(30), fixedPart(30)};
    right = {fixedPart(30), fixedPart(30)};
    filter = new QWidget;
    filter->setMinimumSize(100, 26);
    filter->setMaximumSize(200, 26);
    filter->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    for (QWidget* each : std::as_const(left))
        row->addWidget(each);
    row->addSpacing(8);
    row->addStretch();
    row->addWidget(filter, 1, FoldingRow::OwnLineWhenFolded);
    for (QWidget* each : std::as_const(right))
        row->addWidget(each);
    owner->show();
    QVERIFY(QTest::qWaitForWindowExposed(owner.get()));
}

void FoldingRowTest::cleanup()
{
    owner.reset();
    row = nullptr;
}

void FoldingRowTest::layOut(int width)
{
    owner->resize(width, row->heightForWidth(width));
    QTRY_COMPARE(owner->width(), width);
    row->activate();
    row->setGeometry(owner->rect());
}

void FoldingRowTest::oneLineAsABoxLayout()
{
    // Margins, four buttons, the fixed spacing, the filter's least width and
    // the four spacings between the five parts that are not spacers.
    QCOMPARE(row->oneLineWidth(), 20 + 120 + 8 + 100 + 4 * 4);
    layOut(500);
    QCOMPARE(row->lineCount(500), 1);
    QCOMPARE(row->heightForWidth(500), 30 + 10);
    QCOMPARE(left.at(0)->x(), 10);
    QCOMPARE(left.at(1)->x(), 44);
    // The filter takes its stretch up to its maximum; the stretch before it the rest.
    QCOMPARE(filter->width(), 200);
    QCOMPARE(right.at(1)->geometry().right(), 500 - 10 - 1);
    QCOMPARE(filter->geometry().right() + 1 + 4, right.at(0)->x());
}

void FoldingRowTest::theOwnLinePartLeavesFirst()
{
    layOut(row->oneLineWidth() - 1);
    QCOMPARE(row->lineCount(owner->width()), 2);
    QCOMPARE(row->heightForWidth(owner->width()), 5 + 30 + 6 + 26 + 5);
    // The buttons keep their line, pushed apart by the stretch as before.
    QCOMPARE(left.at(0)->y(), 5);
    QCOMPARE(right.at(1)->y(), 5);
    QCOMPARE(right.at(1)->geometry().right(), owner->width() - 10 - 1);
    QCOMPARE(filter->geometry(), QRect(10, 5 + 30 + 6, 200, 26)); // its maximum
}

void FoldingRowTest::theRestFlowsAndSpacingsAtABreakVanish()
{
    // Room for three buttons: the fourth starts the next line at the margin.
    layOut(20 + 3 * 30 + 2 * 4 + 8);
    QCOMPARE(row->lineCount(owner->width()), 3);
    QCOMPARE(left.at(0)->pos(), QPoint(10, 5));
    QCOMPARE(left.at(1)->pos(), QPoint(44, 5));
    QCOMPARE(right.at(0)->pos(), QPoint(44 + 30 + 8 + 4, 5));
    QCOMPARE(right.at(1)->pos(), QPoint(10, 5 + 30 + 6));
    QCOMPARE(filter->y(), 5 + 2 * (30 + 6));
    QCOMPARE(row->heightForWidth(owner->width()), 5 + 3 * 30 + 2 * 6 + 5 - 4);
    QCOMPARE(row->minimumSize().width(), 20 + 100);
}

void FoldingRowTest::aHiddenPartTakesNoLine()
{
    filter->hide();
    QCOMPARE(row->oneLineWidth(), 20 + 120 + 8 + 3 * 4);
    layOut(row->oneLineWidth());
    QCOMPARE(row->lineCount(owner->width()), 1);
    QCOMPARE(row->heightForWidth(owner->width()), 30 + 10);
}

QTEST_MAIN(FoldingRowTest)
#include "FoldingRowTest.moc"
