#pragma once

#include <QStackedWidget>

namespace vn {

// A stack that is only as tall as the page it shows, so the short network page
// does not keep the height of the serial page below it.
class AdaptiveStack : public QStackedWidget {
    Q_OBJECT
public:
    explicit AdaptiveStack(QWidget* parent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
};

} // namespace vn
