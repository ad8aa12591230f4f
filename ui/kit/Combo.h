#pragma once

#include <QComboBox>

namespace vn {

// The themed combo box: paints its own chevron, lets the wheel scroll the page
// around it unless its list is open, and opens its list as a rounded pop-up, or
// as a menu of checkable entries when `menuPopup` is set.
class Combo : public QComboBox {
public:
    explicit Combo(QWidget* parent = nullptr);

    bool menuPopup = false;

    void showPopup() override;

protected:
    void wheelEvent(QWheelEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    void showMenuPopup();
};

// The connection-kind selector of the side bar; indices 0..4 stand for
// "serial", "tcp-client", "tcp-server", "udp" and "ssh".
class ProtocolCombo : public Combo {
public:
    explicit ProtocolCombo(QWidget* parent = nullptr);

    void showPopup() override;
};

} // namespace vn
