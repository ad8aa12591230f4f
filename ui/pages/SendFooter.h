#pragma once

#include <QWidget>

class QBoxLayout;

namespace vn {

// The row under the send box: the format group and the action group side by
// side when there is room (730 px and more), stacked when there is not.
class SendFooter : public QWidget {
    Q_OBJECT
public:
    static constexpr int WideWidth = 730;

    explicit SendFooter(QWidget* parent = nullptr);

    QBoxLayout* box() const { return m_layout; }
    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QBoxLayout* m_layout = nullptr;
};

} // namespace vn
