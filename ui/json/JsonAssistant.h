#pragma once

#include "ui/json/JsonAssistance.h"

#include <QDialog>
#include <QTimer>

class QLabel;
class QPlainTextEdit;
class QTabWidget;

namespace vn {

// The JSON assistant: a tool window that checks JSON while the user types,
// underlines the first fault, shows the value formatted and the cJSON parse and
// build functions for it, with a page of common cJSON calls. Every view comes from
// one analyzeJson per refresh; a burst of edits leads to one refresh.
class JsonAssistant : public QDialog {
    Q_OBJECT
public:
    static constexpr int RefreshDelayMs = 160;

    JsonAssistant(QWidget* parent, const QString& text);
    ~JsonAssistant() override;

    void refresh();

private:
    void copyResult();
    void showFormatted(const QString& text);
    void fillFormatted();

    QPlainTextEdit* input = nullptr;
    QPlainTextEdit* formattedView = nullptr;
    QPlainTextEdit* parseView = nullptr;
    QPlainTextEdit* buildView = nullptr;
    QLabel* statusLabel = nullptr;
    QTabWidget* tabs = nullptr;
    QTimer refreshTimer;
    JsonAssistance result;

    // A formatted text of a large document is shown in slices, one per event-loop
    // turn, so a refresh never freezes the window for the whole layout of it.
    QString formattedText; // what the formatted view shows once filled
    qsizetype formattedShown = 0;
    QTimer fillTimer;
};

// One code editor of the assistant, without a parent: data font, no wrapping,
// tab stops of four spaces, JSON colours when `highlighted`.
QPlainTextEdit* codeEditor(const QString& objectName, bool readOnly, bool highlighted);

// Shows the assistant that belongs to `parent`, creating it with `text` when the
// parent has none yet; an existing one keeps its own input.
QDialog* showJsonAssistant(QWidget* parent, const QString& text);

} // namespace vn
