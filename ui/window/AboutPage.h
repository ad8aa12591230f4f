#pragma once

#include <QWidget>

class QGridLayout;

namespace vn {

// The "关于" page of the settings dialog: name, version and what the program does.
class AboutPage : public QWidget {
    Q_OBJECT
public:
    explicit AboutPage(QWidget* parent = nullptr);

private:
    static void addRow(QGridLayout* grid, int row, const QString& heading, const QString& text);
};

} // namespace vn
