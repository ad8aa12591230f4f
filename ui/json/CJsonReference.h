#pragma once

#include <QString>
#include <QTextBrowser>

namespace vn {

// The assistant's page of common cJSON calls. Its link colour follows the
// lightness of the palette, so the page stays readable when the theme changes.
class CJsonReference : public QTextBrowser {
    Q_OBJECT
public:
    explicit CJsonReference(QWidget* parent = nullptr);
    ~CJsonReference() override;

protected:
    void changeEvent(QEvent* event) override;

private:
    void applyLinkColour();

    QString html;
    QString styleSheet; // the default style sheet last given to the document
};

} // namespace vn
