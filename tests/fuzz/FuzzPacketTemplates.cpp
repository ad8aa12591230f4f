// The packet template file import: PacketTemplates::read of any file, then
// validate, write and read again, and applying each template to a session
// page's sender of a root window shared by the whole run. Checked: a read
// either refuses with a message and leaves the list alone, or hands over the
// file's array and no message; an accepted list validates; what write stores
// reads back as the same templates; applying a template sets the sender's
// switch, encoding and line ending as the template says, and encoding the
// sender's text either gives bytes or refuses with a message.

#include "tests/fuzz/FuzzSupport.h"
#include "tests/fuzz/FuzzDesk.h"
#include "ui/kit/Combo.h"
#include "ui/kit/IconButton.h"
#include "ui/pages/PacketTemplates.h"
#include "ui/pages/Pane.h"
#include "ui/pages/SendBar.h"

#include <QJsonDocument>

#include <exception>

namespace {

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        vn::fuzz::broken("the template file could not be laid down");
}

void checkApplied(vn::SendBar& sender, const QJsonObject& entry)
{
    // The sender's state before, so a template that names an unknown encoding
    // can be seen to leave the combo alone.
    const QString encodingBefore = sender.encoding->currentText();
    vn::PacketTemplates::apply(sender, entry);
    if (sender.sendHex->isChecked() != entry.value(QLatin1String("hex_mode")).toBool(false))
        vn::fuzz::broken("the HEX switch differs from the template");
    if (sender.newline->currentIndex() != entry.value(QLatin1String("newline")).toInt(0))
        vn::fuzz::broken("the line ending differs from the template");
    const QString encoding = entry.value(QLatin1String("encoding")).toString(QStringLiteral("utf-8"));
    const QString expected = sender.encoding->findText(encoding) >= 0 ? encoding : encodingBefore;
    if (sender.encoding->currentText() != expected)
        vn::fuzz::broken("the encoding differs from the template");
    const QJsonObject captured = vn::PacketTemplates::capture(sender, entry.value(QLatin1String("name")).toString());
    if (vn::PacketTemplates::validate(QJsonArray{captured}) != QString())
        vn::fuzz::broken("the sender's own template does not validate");
    try {
        sender.encoded();
    } catch (const std::exception& error) {
        if (QString::fromUtf8(error.what()).isEmpty())
            vn::fuzz::broken("encoding the sender's text fails without a message");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    vn::fuzz::Desk& desk = vn::fuzz::desk();
    static vn::Pane* page = desk.window.newConnection();
    static const QString input = vn::fuzz::scratchFolder().filePath(QStringLiteral("input.json"));
    static const QString exported = vn::fuzz::scratchFolder().filePath(QStringLiteral("exported.json"));

    writeFile(input, QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    const QJsonArray untouched{QJsonObject{{QStringLiteral("name"), QStringLiteral("kept")},
                                           {QStringLiteral("payload"), QString()}}};
    QJsonArray templates = untouched;
    const QString problem = vn::PacketTemplates::read(input, &templates);
    if (!problem.isEmpty()) {
        if (templates != untouched)
            vn::fuzz::broken("a refused file changes the template list");
        return 0;
    }
    const QJsonDocument document = QJsonDocument::fromJson(QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)));
    if (!document.isArray() || templates != document.array())
        vn::fuzz::broken("an accepted file gives another list than it holds");
    if (!vn::PacketTemplates::validate(templates).isEmpty())
        vn::fuzz::broken("an accepted list does not validate");
    vn::fuzz::show(QJsonDocument(templates).toJson(QJsonDocument::Compact));

    if (const QString failed = vn::PacketTemplates::write(templates, exported); !failed.isEmpty())
        vn::fuzz::broken("the template list cannot be written");
    QJsonArray back;
    if (const QString failed = vn::PacketTemplates::read(exported, &back); !failed.isEmpty()) {
        std::fprintf(stderr, "reading back: %s\n", qPrintable(failed));
        vn::fuzz::broken("an exported template file is refused");
    }
    if (back != templates)
        vn::fuzz::broken("an exported template file reads back as other templates");

    for (const QJsonValue& entry : std::as_const(templates))
        checkApplied(*page->sendBar(), entry.toObject());
    return 0;
}
