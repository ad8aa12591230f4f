#pragma once

#include <QLineEdit>

#include <functional>

namespace vn {

// The line edit laid over a tab while its title is renamed in place. It
// finishes once: Return or Enter and losing the focus accept, Escape cancels;
// then it hands the answer to its callback and deletes itself.
class TabTitleEditor : public QLineEdit {
    Q_OBJECT
public:
    explicit TabTitleEditor(QWidget* parent);
    ~TabTitleEditor() override;

    std::function<void(bool accepted)> commit;
    bool finished = false;

    void finish(bool accepted);

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
};

} // namespace vn
