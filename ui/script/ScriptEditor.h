#pragma once

#include <QDialog>
#include <QPointer>
#include <QString>

class QCheckBox;
class QJsonArray;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTreeWidget;

namespace vn {

class CodeEdit;
class FrameScriptProcessor;
class Pane;

// The frame-script editor of one serial session page: the code with its
// colouring, a syntax check, a trial parse of HEX sample lines on a private
// worker, the language reference, and "保存并关闭", which applies the script
// to the page's live channel. The agent bridge drives it by object name
// ("scriptCode", "scriptTestHex", "scriptEnabled", "testScript",
// "scriptTestResults", "scriptEditorStatus").
class ScriptEditor : public QDialog {
    Q_OBJECT
public:
    ScriptEditor(Pane* page, bool nonModal);
    ~ScriptEditor() override;

    Pane* page() const;

    // Compiles the code and runs it over the HEX lines, one line a chunk.
    void testInput();
    // Shows the message and marks its line (taken from the message when 0).
    void showFailure(const QString& message, int line);

private:
    void loadExample();
    void importScript();
    void exportScript();
    void checkSyntax();
    void save();
    void addRows(const QJsonArray& frames);
    void batchFinished(int bufferedBytes);
    void trialFailed(const QString& message);

    QPointer<Pane> pane;
    CodeEdit* code = nullptr;
    QPlainTextEdit* testHex = nullptr;
    QTreeWidget* results = nullptr;
    QLabel* status = nullptr;
    QCheckBox* enabled = nullptr;
    QPushButton* testButton = nullptr;
    FrameScriptProcessor* processor = nullptr;
    int pendingBatches = 0;
    int frameRows = 0;
};

// The page's open script editor, or null.
ScriptEditor* findScriptEditor(const Pane* page);

// Raises the page's editor, or opens a new one (window-modal unless nonModal).
// Returns null and does nothing for a page whose script does not run: a
// control page or a session that is not serial.
ScriptEditor* showScriptEditor(Pane* page, bool nonModal);

} // namespace vn
