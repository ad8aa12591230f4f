#include "ui/kit/Theme.h"

#include "ui/kit/ButtonFocusFeedback.h"
#include "ui/kit/ButtonMotion.h"
#include "ui/kit/StyleSheetTemplate.h"

#include <QDir>
#include <QFontDatabase>
#include <QMap>

#include <mutex>
#include <utility>

namespace vn {

namespace {

QColor hex(const char* text)
{
    return QColor(QString::fromLatin1(text));
}

// Lower-case "#rrggbb", the form the sheet's placeholders take.
QString colourText(const QColor& colour)
{
    return colour.name(QColor::HexRgb).toLower();
}

// The interface pixel font ships as resources whose names end in
// "<size>px-monospaced-zh_hans.otf"; what comes before is the font's own name.
QString pixelFontPath(int size)
{
    const QString suffix = QStringLiteral("%1px-monospaced-zh_hans.otf").arg(size);
    const QDir folder(QStringLiteral(":/fonts/"));
    const QStringList names = folder.entryList(QDir::Files, QDir::Name);
    for (const QString& name : names) {
        if (name.endsWith(suffix)) {
            return folder.filePath(name);
        }
    }
    return QStringLiteral(":/fonts/") + suffix;
}

} // namespace

Theme Theme::make(bool dark)
{
    Theme theme;
    theme.dark = dark;
    if (dark) {
        theme.bg = hex("#1e2b25");
        theme.panel = hex("#24332b");
        theme.side = hex("#2c3c32");
        theme.text = hex("#e1e5ce");
        theme.muted = hex("#a1b29a");
        theme.line = hex("#465b48");
        theme.accent = hex("#edaa50");
        theme.hover = hex("#3b5140");
        theme.green = hex("#9abf80");
        theme.red = hex("#e78b6d");
        theme.amber = hex("#edaa50");
        theme.edge = hex("#71826a");
        theme.rail = hex("#17231d");
        // onaccent stays dark: dark text on the accent in both variants.
    }
    return theme;
}

QString Theme::stylesheet() const
{
    installButtonFocusFeedback();
    installButtonMotion(*this);

    QMap<QString, QString> values; // sorted by placeholder text
    values.insert(QStringLiteral("$font"), interfaceFont().family());
    const std::pair<const char*, const QColor*> colours[] = {
        {"$bg", &bg},         {"$panel", &panel}, {"$side", &side},     {"$text", &text},
        {"$muted", &muted},   {"$line", &line},   {"$accent", &accent}, {"$hover", &hover},
        {"$red", &red},       {"$edge", &edge},   {"$rail", &rail},     {"$onaccent", &onaccent},
    };
    for (const auto& [name, colour] : colours) {
        values.insert(QString::fromLatin1(name), colourText(*colour));
    }

    QString sheet = styleSheetTemplate();
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        sheet.replace(it.key(), it.value(), Qt::CaseSensitive);
    }
    return sheet;
}

void Theme::installFontSubstitutions()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // The stored family names are the Windows ones; here the Chinese interface
        // text comes from WenQuanYi Micro Hei and data and Latin text from DejaVu.
        const QString cjk = QStringLiteral("WenQuanYi Micro Hei");
        const QString cjkMono = QStringLiteral("WenQuanYi Micro Hei Mono");
        const QString mono = QStringLiteral("DejaVu Sans Mono");
        const QString sans = QStringLiteral("DejaVu Sans");
        QFont::insertSubstitutions(QStringLiteral("Microsoft YaHei UI"), {cjk, sans});
        QFont::insertSubstitutions(QStringLiteral("Cascadia Mono"), {mono, cjkMono, cjk});
        QFont::insertSubstitutions(QStringLiteral("Consolas"), {mono, cjkMono, cjk});
        QFont::insertSubstitutions(QStringLiteral("Segoe UI"), {sans, cjk});
    });
}

QFont Theme::interfaceFont()
{
    installFontSubstitutions();
    QFont font(QStringLiteral("Microsoft YaHei UI"));
    font.setPixelSize(14);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QFont Theme::defaultDataFont()
{
    installFontSubstitutions();
    const QString cascadia = QStringLiteral("Cascadia Mono");
    const QString family = QFontDatabase::families().contains(cascadia)
                               ? cascadia
                               : QStringLiteral("Consolas");
    QFont font(family);
    font.setFamilies({family, QStringLiteral("Microsoft YaHei UI")});
    font.setPointSize(12);
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
    font.setStyleStrategy(QFont::PreferAntialias);
    return font;
}

QString Theme::fontFamily(int pixelSize)
{
    static const QMap<int, QString> table = [] {
        QMap<int, QString> families;
        for (const int size : {8, 12}) {
            const int id = QFontDatabase::addApplicationFont(pixelFontPath(size));
            const QStringList found =
                id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
            families.insert(size, found.isEmpty() ? QStringLiteral("Consolas") : found.first());
        }
        return families;
    }();
    return table.value(pixelSize);
}

} // namespace vn
