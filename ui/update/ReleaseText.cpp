#include "ui/update/ReleaseText.h"

#include <QDateTime>
#include <QDesktopServices>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>

namespace vn {

QString mebibytes(qint64 bytes)
{
    return QString::number(double(bytes) / 1048576.0, 'f', 1);
}

QString releaseDate(const QString& publishedAt)
{
    const QDateTime time = QDateTime::fromString(publishedAt, Qt::ISODate);
    return time.isValid() ? time.toLocalTime().toString(QStringLiteral("yyyy-MM-dd")) : QString();
}

void renderNotes(QTextBrowser* browser, const QString& markdown)
{
    browser->document()->setMarkdown(
        markdown, QTextDocument::MarkdownFeatures(QTextDocument::MarkdownDialectGitHub)
                      | QTextDocument::MarkdownNoHTML);
}

void openHttpsLinksOnly(QTextBrowser* browser)
{
    browser->setOpenLinks(false);
    browser->setOpenExternalLinks(false);
    QObject::connect(browser, &QTextBrowser::anchorClicked, browser, [](const QUrl& url) {
        if (url.scheme() == QLatin1String("https"))
            QDesktopServices::openUrl(url);
    });
}

} // namespace vn
