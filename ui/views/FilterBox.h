#pragma once

#include "ui/kit/SearchBox.h"
#include "ui/views/SearchFilter.h"

#include <QJsonObject>
#include <QList>

class QToolButton;

namespace vn {

// The search field with four option toggles (case, whole word, regular
// expression, logical expression) that edits a SearchFilter and tells its
// owner whenever the criteria change. Criteria that do not compile mark the
// box red and put the reason in its tooltip; the owner keeps showing every line.
class FilterBox : public SearchBox {
    Q_OBJECT
public:
    static constexpr int kMaxLength = 2048;

    explicit FilterBox(QWidget* parent = nullptr);

    // The current criteria, compiled; read by the owner for matching and saving.
    SearchFilter filter;

    // Shows saved criteria (the filter's JSON form); emits criteriaChanged once.
    void restore(const QJsonObject& json);

    QToolButton* caseButton = nullptr;
    QToolButton* wordButton = nullptr;
    QToolButton* regexButton = nullptr;
    QToolButton* logicButton = nullptr;
    QList<QToolButton*> optionButtons;

public Q_SLOTS:
    void rebuild();

Q_SIGNALS:
    void criteriaChanged();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QToolButton* makeToggle(const char* objectName, const QString& text, const QString& tip);
};

} // namespace vn
