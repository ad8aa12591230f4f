#include "ui/window/WorkspaceFile.h"

#include "platform/WholeFile.h"
#include "ui/kit/Theme.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

#include <algorithm>
#include <cmath>

namespace vn {

namespace {

const QString chineseFallback = QStringLiteral("Microsoft YaHei UI");

// The value as a whole number limited to low..high; anything that is not a
// whole number reads as `fallback`. Out-of-range numbers are limited too,
// rather than falling back, so 1e20 reads as the upper limit.
int wholeNumber(const QJsonValue& value, int fallback, int low, int high)
{
    double number = fallback;
    if (value.isDouble() && std::isfinite(value.toDouble())
        && value.toDouble() == std::trunc(value.toDouble()))
        number = value.toDouble();
    return static_cast<int>(std::clamp(number, double(low), double(high)));
}

QFont savedDataFont(const QJsonObject& appearance)
{
    const QFont standard = Theme::defaultDataFont();
    const QString family = appearance.value(QStringLiteral("font_family")).toString();
    const QJsonValue size = appearance.value(QStringLiteral("font_size"));
    // Before readable type existed the data views used the 12 px pixel font at
    // 18 pt; such a file gets the readable default once, and the next write
    // marks it so this never applies again.
    const bool oldPixelDefault = appearance.value(QStringLiteral("readable_type")) != QJsonValue(true)
                                 && family == Theme::fontFamily(12) && size.isDouble()
                                 && size.toDouble() == 18;
    if (oldPixelDefault || family.isEmpty())
        return standard;
    QFont font = standard;
    QString fontText = appearance.value(QStringLiteral("font_spec")).toString();
    // QFont::toString() writes the family unescaped, so a family holding a
    // comma would shift every field after it. The family is "font_family"'s
    // anyway: read the saved font text with a stand-in that has no comma.
    if (family.contains(QLatin1Char(',')) && fontText.startsWith(family + QLatin1Char(',')))
        fontText = QString(family).remove(QLatin1Char(',')) + fontText.mid(family.size());
    if (!fontText.isEmpty() && !font.fromString(fontText))
        font = standard;
    return shapeDataFont(font, family, wholeNumber(size, 12, 8, 32));
}

// A name clash this many times over means something else is going on; the
// file then stays where it is rather than a name being taken by force.
constexpr int KeptNameAttempts = 100;

// Why the bytes are no workspace, for the user; empty when they are one.
QString unreadableReason(const QByteArray& bytes, QJsonObject* object)
{
    if (bytes.trimmed().isEmpty())
        return QStringLiteral("文件为空");
    QJsonParseError parse{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parse);
    if (parse.error != QJsonParseError::NoError) {
        const QByteArray before = bytes.left(parse.offset);
        const qsizetype lineStart = before.lastIndexOf('\n') + 1;
        return QStringLiteral("JSON 格式错误（第 %1 行第 %2 列）")
            .arg(before.count('\n') + 1)
            .arg(QString::fromUtf8(before.mid(lineStart)).size() + 1);
    }
    if (!document.isObject())
        return QStringLiteral("内容不是 JSON 对象");
    *object = document.object();
    return {};
}

bool nameTaken(const QString& path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Moves the file to the first free kept name; empty when it cannot be moved.
QString moveAside(const QString& path, const QDateTime& when)
{
    for (int attempt = 1; attempt <= KeptNameAttempts; ++attempt) {
        const QString candidate = keptWorkspaceName(path, when, attempt);
        if (nameTaken(candidate))
            continue;
        // rename() refuses an existing target, so an earlier copy that
        // appears meanwhile is never replaced.
        if (QFile::rename(path, candidate))
            return candidate;
        if (!nameTaken(candidate))
            return {}; // not a clash: no other name would fare better
    }
    return {};
}

} // namespace

QJsonObject readWorkspaceFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

QString keptWorkspaceName(const QString& path, const QDateTime& when, int attempt)
{
    QString name = path + QStringLiteral(".unreadable-") + when.toString(QStringLiteral("yyyyMMdd-HHmmss"));
    if (attempt > 1)
        name += QLatin1Char('-') + QString::number(attempt);
    return name;
}

WorkspaceStart startWorkspace(const QString& path, const QDateTime& now)
{
    WorkspaceStart start;
    const QFileInfo info(path);
    // A folder in the file's place holds no workspace of the user's; the
    // first write reports that it cannot replace it.
    if (!info.exists() || info.isDir())
        return start;
    QString reason;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        reason = unreadableReason(file.readAll(), &start.settings);
    else
        reason = QStringLiteral("无法打开文件");
    file.close();
    if (reason.isEmpty())
        return start;

    start.kept = moveAside(path, now);
    if (!start.kept.isEmpty()) {
        start.notice = QStringLiteral("工作区文件无法读取（%1），已另存为 %2，当前使用默认设置。")
                           .arg(reason, QDir::toNativeSeparators(start.kept));
    } else {
        start.writable = false;
        start.notice = QStringLiteral("工作区文件 %1 无法读取（%2），也无法在旁边另存副本。"
                                      "当前使用默认设置，本次运行不保存工作区，以免覆盖该文件。")
                           .arg(QDir::toNativeSeparators(path), reason);
    }
    return start;
}

WorkspaceAppearance readAppearance(const QJsonObject& appearance)
{
    WorkspaceAppearance look;
    look.parameterWidth = wholeNumber(appearance.value(QStringLiteral("parameter_width")),
                                      DefaultParameterWidth, MinimumParameterWidth,
                                      MaximumParameterWidth);
    look.dark = appearance.value(QStringLiteral("theme")) == QJsonValue(QStringLiteral("dark"));
    look.dataFont = savedDataFont(appearance);
    return look;
}

QString sharedPrefix(const QString& first, const QString& second)
{
    const auto mismatch = std::mismatch(first.begin(), first.end(), second.begin(), second.end());
    return first.left(mismatch.first - first.begin());
}

QString pixelFontPrefix()
{
    // fontFamily() answers "Consolas" for a pixel font it could not register;
    // that is an ordinary font which must keep its antialiasing.
    const QString fallback = QStringLiteral("Consolas");
    const QString small = Theme::fontFamily(8);
    const QString large = Theme::fontFamily(12);
    if (small == fallback || large == fallback)
        return {};
    return sharedPrefix(small, large);
}

bool isPixelFamily(const QString& family, const QString& prefix)
{
    return !prefix.isEmpty() && family.startsWith(prefix, Qt::CaseSensitive);
}

QFont shapeDataFont(QFont font, const QString& family, int pointSize)
{
    font.setFamilies({family, chineseFallback});
    font.setPointSize(std::clamp(pointSize, 8, 32));
    font.setStyleStrategy(isPixelFamily(family, pixelFontPrefix()) ? QFont::NoAntialias
                                                                   : QFont::PreferAntialias);
    return font;
}

QJsonObject appearanceForFile(QJsonObject page, bool dark, const QFont& dataFont, int parameterWidth,
                              const BackgroundSpec& windowBackground,
                              const BackgroundSpec& receiveBackground)
{
    page.remove(QStringLiteral("instruments"));
    page.insert(QStringLiteral("theme"), dark ? QStringLiteral("dark") : QStringLiteral("light"));
    page.insert(QStringLiteral("pixel_theme"), true);
    page.insert(QStringLiteral("readable_type"), true);
    page.insert(QStringLiteral("font_spec"), dataFont.toString());
    page.insert(QStringLiteral("font_family"), dataFont.family());
    page.insert(QStringLiteral("font_size"), dataFont.pointSize());
    page.insert(QStringLiteral("parameter_width"), parameterWidth);
    page.insert(QStringLiteral("window_background"), windowBackground.json());
    page.insert(QStringLiteral("receive_background"), receiveBackground.json());
    return page;
}

QString writeWorkspaceFile(const QString& path, const QJsonObject& object)
{
    // A folder that cannot be made shows up as the write failing below.
    QDir().mkpath(QFileInfo(path).absolutePath());
    return saveWhole(path, QJsonDocument(object).toJson(QJsonDocument::Indented));
}

} // namespace vn
