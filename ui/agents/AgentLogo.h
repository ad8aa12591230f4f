#pragma once

#include "ui/kit/Theme.h"

#include <QLabel>
#include <QPixmap>
#include <QString>

namespace vn {

// The small mark on an agent card. The marks are drawn here, not loaded: each
// tool's icon name (as discovery names it) selects one simple painted figure.
// It follows the palette: the OpenCode and Hermes marks have a variant for a
// dark palette, and the single-colour Codex and Grok marks turn white on dark
// and black on light.
class AgentLogo : public QLabel {
public:
    AgentLogo(const QString& icon, const Theme& theme, QWidget* parent = nullptr);

    // Redraws in the current palette; called on every style and palette change.
    void refreshImage();

    // New colours for the coloured marks.
    void setTheme(const Theme& theme);

    // The icon name drawn last, with "-dark" when the dark variant was chosen.
    QString drawnName() const { return drawn; }

    // The mark of an icon name, `size` logical pixels square.
    static QPixmap draw(const QString& name, const Theme& theme, int size, qreal ratio);

protected:
    void changeEvent(QEvent* event) override;

private:
    QString icon;
    QString drawn;
    Theme colours;
};

} // namespace vn
