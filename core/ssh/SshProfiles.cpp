#include "core/ssh/SshProfiles.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>

namespace vn {

QString SshProfiles::defaultPath()
{
    return QDir::home().filePath(QStringLiteral(".ssh/config"));
}

void SshProfiles::collectConfig(const QString& path, QStringList* aliases, QSet<QString>& visited,
                                QCryptographicHash* digest, int depth)
{
    if (depth == 13)
        return;
    const QFileInfo info(path);
    const QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty()) {
        if (digest) {
            digest->addData(QDir::cleanPath(info.absoluteFilePath()).toUtf8());
            digest->addData(QByteArrayView("missing"));
        }
        return;
    }
    if (visited.contains(canonical))
        return;
    visited.insert(canonical);

    QFile file(canonical);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (digest) {
            digest->addData(canonical.toUtf8());
            digest->addData(QByteArrayView("unreadable"));
        }
        return;
    }
    const QByteArray bytes = file.readAll();
    file.close();
    if (digest) {
        digest->addData(canonical.toUtf8());
        digest->addData(bytes);
    }

    static const QRegularExpression keyword(QStringLiteral("^(Host|Include)\\s+(.+)$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QString directory = QFileInfo(canonical).absolutePath();
    const QStringList lines = QString::fromUtf8(bytes).split(QLatin1Char('\n'));
    for (const QString& raw : lines) {
        const QString line = raw.trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QRegularExpressionMatch match = keyword.match(line);
        if (!match.hasMatch())
            continue;
        QString value = match.captured(2);
        const qsizetype comment = value.indexOf(QLatin1Char('#'));
        if (comment >= 0)
            value.truncate(comment);
        const QStringList words = QProcess::splitCommand(value.trimmed());

        if (match.captured(1).compare(QStringLiteral("Host"), Qt::CaseInsensitive) == 0) {
            for (const QString& word : words) {
                if (word.isEmpty() || word.startsWith(QLatin1Char('!'))
                    || word.contains(QLatin1Char('*')) || word.contains(QLatin1Char('?'))
                    || word.startsWith(QLatin1Char('-')))
                    continue;
                if (aliases && !aliases->contains(word))
                    aliases->append(word);
            }
            continue;
        }

        for (QString word : words) {
            if (word.startsWith(QStringLiteral("~/")))
                word = QDir::homePath() + word.mid(1);
            if (QDir::isRelativePath(word))
                word = QDir(directory).filePath(word);
            const QFileInfo pattern(word);
            const QDir folder(pattern.path());
            // Names match as the client's own glob matches them on this
            // system: with letter case, and a leading dot only when the
            // pattern spells it (an editor's hidden swap file is no config).
            const QString namePattern = pattern.fileName();
            QDir::Filters filters = QDir::Files | QDir::Readable | QDir::CaseSensitive;
            if (namePattern.startsWith(QLatin1Char('.')))
                filters |= QDir::Hidden;
            const QStringList matched =
                folder.entryList(QStringList{namePattern}, filters, QDir::Name);
            if (digest) {
                digest->addData(word.toUtf8());
                for (const QString& name : matched)
                    digest->addData(name.toUtf8());
            }
            for (const QString& name : matched)
                collectConfig(folder.absoluteFilePath(name), aliases, visited, digest, depth + 1);
        }
    }
}

QStringList SshProfiles::aliases(const QString& path)
{
    QStringList list;
    QSet<QString> visited;
    collectConfig(path.isEmpty() ? defaultPath() : path, &list, visited, nullptr, 0);
    return list;
}

QString SshProfiles::fingerprint(const QString& path)
{
    QSet<QString> visited;
    QCryptographicHash digest(QCryptographicHash::Sha256);
    collectConfig(path.isEmpty() ? defaultPath() : path, nullptr, visited, &digest, 0);
    return QString::fromLatin1(digest.result().toHex());
}

} // namespace vn
