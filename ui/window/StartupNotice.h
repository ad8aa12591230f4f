#pragma once

#include <QObject>
#include <QString>

class QWidget;

namespace vn {

// A message the window has for the user from its start (such as a workspace
// file that could not be read), shown once, as a window-modal box, after the
// window first appears; a window that never shows never shows it. The object
// removes itself once the box is up.
class StartupNotice : public QObject {
    Q_OBJECT
public:
    StartupNotice(QWidget* window, const QString& title, const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showBox();

    QWidget* owner;
    QString title;
    QString text;
};

} // namespace vn
