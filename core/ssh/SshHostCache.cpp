#include "core/ssh/SshHostCache.h"

#include "core/Fail.h"
#include "platform/WholeFile.h"

#include <QDir>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <QProcess>
#include <QRegularExpression>
#include <QUuid>

namespace vn {

namespace {

bool hashedEntryMatches(const QByteArray& entry, const QString& name)
{
    const QList<QByteArray> parts = entry.split('|');
    if (parts.size() != 4)
        return false;
    const QByteArray salt = QByteArray::fromBase64(parts.at(2));
    const QByteArray expected = QByteArray::fromBase64(parts.at(3));
    return QMessageAuthenticationCode::hash(name.toUtf8(), salt, QCryptographicHash::Sha1)
           == expected;
}

bool entryMatches(const QByteArray& entry, const QString& name)
{
    if (entry.startsWith("|1|"))
        return hashedEntryMatches(entry, name);
    return QString::fromUtf8(entry).compare(name, Qt::CaseInsensitive) == 0;
}

} // namespace

SshHostRecords SshHostCache::resolve(const SshTarget& target, const QString& program)
{
    target.validate();
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.setStandardErrorFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    process.start(program, QStringList{QStringLiteral("-G")} + target.clientArguments());
    const bool done = process.waitForFinished(3000);
    if (!done || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished(300);
        }
        fail(QStringLiteral("无法读取 OpenSSH 的有效配置，请检查主机名称和 SSH 配置文件"));
    }
    return parse(process.readAllStandardOutput(), target.host);
}

SshHostRecords SshHostCache::parse(const QByteArray& output, const QString& configuredHost)
{
    SshHostRecords records;
    const qsizetype at = configuredHost.lastIndexOf(QLatin1Char('@'));
    records.host = configuredHost.mid(at + 1).toLower();
    QString user;
    QString alias;
    QStringList raw;

    const QStringList lines = QString::fromUtf8(output).split(QLatin1Char('\n'));
    for (const QString& line : lines) {
        const qsizetype space = line.indexOf(QLatin1Char(' '));
        const QString key = (space < 0 ? line : line.left(space)).toLower();
        const QString value = space < 0 ? QString() : line.mid(space + 1).trimmed();
        if (key == QStringLiteral("hostname")) {
            records.host = value.toLower();
        } else if (key == QStringLiteral("port")) {
            bool ok = false;
            const int port = value.toInt(&ok);
            records.port = ok ? port : 0;
        } else if (key == QStringLiteral("user")) {
            user = value;
        } else if (key == QStringLiteral("hostkeyalias")) {
            if (value != QStringLiteral("none"))
                alias = value;
        } else if (key == QStringLiteral("userknownhostsfile")) {
            // A path holding spaces arrives as several words: rejoin them.
            for (const QString& word : QProcess::splitCommand(value)) {
                const bool fresh = raw.isEmpty() || word == QStringLiteral("none")
                                   || !QDir::isRelativePath(word)
                                   || word.startsWith(QStringLiteral("~/"))
                                   || word.startsWith(QStringLiteral("~\\"))
                                   || word.startsWith(QLatin1Char('%'));
                if (fresh)
                    raw.append(word);
                else
                    raw.last() += QLatin1Char(' ') + word;
            }
        }
    }

    if (records.host.isEmpty() || records.port < 1 || records.port > 65535)
        fail(QStringLiteral("OpenSSH 主机配置无效，未清除缓存"));
    if (!alias.isEmpty())
        records.hostKeyNames.append(alias);
    else if (records.port != 22)
        records.hostKeyNames.append(QStringLiteral("[%1]:%2").arg(records.host).arg(records.port));
    else
        records.hostKeyNames.append(records.host);

    const QString home = QDir::homePath();
    for (const QString& entry : std::as_const(raw)) {
        if (entry == QStringLiteral("none"))
            continue;
        QString path = entry;
        path.replace(QStringLiteral("%d"), home);
        path.replace(QStringLiteral("%h"), records.host);
        path.replace(QStringLiteral("%p"), QString::number(records.port));
        path.replace(QStringLiteral("%n"), configuredHost);
        path.replace(QStringLiteral("%r"), user);
        if (path.startsWith(QStringLiteral("~/")) || path.startsWith(QStringLiteral("~\\")))
            path = home + path.mid(1);
        if (path.contains(QLatin1Char('%')) || path.contains(QStringLiteral("${"))
            || QDir::isRelativePath(path))
            fail(QStringLiteral("known_hosts 路径包含尚未解析的变量，未清除缓存"));
        const QString clean = QDir::cleanPath(path);
        if (!records.knownHostsFiles.contains(clean))
            records.knownHostsFiles.append(clean);
    }
    return records;
}

int SshHostCache::remove(const QString& knownHostsFile, const QStringList& names)
{
    QFile file(knownHostsFile);
    if (!file.exists())
        return 0;
    if (!file.open(QIODevice::ReadOnly))
        fail(QStringLiteral("无法读取主机指纹记录"));
    const QByteArray snapshot = file.readAll();
    const QFileDevice::Permissions permissions = file.permissions();
    file.close();

    static const QRegularExpression hostLine(QStringLiteral("^(\\s*(?:@\\S+\\s+)?)(\\S+)(\\s+.*)$"));
    QByteArray text;
    int removed = 0;
    for (const QByteArray& line : snapshot.split('\n')) {
        const QString decoded = QString::fromUtf8(line);
        const QRegularExpressionMatch match = hostLine.match(decoded);
        if (!match.hasMatch() || decoded.trimmed().startsWith(QLatin1Char('#'))) {
            text += line + '\n';
            continue;
        }
        QList<QByteArray> kept;
        int removedHere = 0;
        for (const QByteArray& entry : match.captured(2).toUtf8().split(',')) {
            bool hit = false;
            for (const QString& name : names) {
                if (entryMatches(entry, name)) {
                    hit = true;
                    break;
                }
            }
            if (hit)
                ++removedHere;
            else
                kept.append(entry);
        }
        if (removedHere == 0)
            text += line + '\n';
        else if (!kept.isEmpty())
            text += match.captured(1).toUtf8() + kept.join(',') + match.captured(3).toUtf8() + '\n';
        removed += removedHere;
    }
    if (removed == 0)
        return 0;

    if (snapshot.endsWith('\n') && text.endsWith("\n\n"))
        text.chop(1);
    else if (!snapshot.endsWith('\n') && text.endsWith('\n'))
        text.chop(1);

    const QString backup = knownHostsFile + QStringLiteral(".varnelle-")
                           + QUuid::createUuid().toString(QUuid::Id128) + QStringLiteral(".bak");
    QFile again(knownHostsFile);
    if (!again.open(QIODevice::ReadOnly) || again.readAll() != snapshot)
        fail(QStringLiteral("主机指纹文件已被其他程序修改，请重新清除缓存"));
    again.close();
    if (!copyWhole(knownHostsFile, backup).isEmpty())
        fail(QStringLiteral("无法备份主机指纹记录，未清除"));

    WholeFile save(knownHostsFile);
    if (!save.open())
        fail(QStringLiteral("无法更新主机指纹记录"));
    if (!save.setPermissions(permissions) || !save.write(text) || !save.commit())
        fail(QStringLiteral("无法保存主机指纹记录"));
    return removed;
}

} // namespace vn
