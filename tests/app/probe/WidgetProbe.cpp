// A Qt generic plugin the user-walk test loads into the built program
// (QT_QPA_GENERIC_PLUGINS) so it can find widgets by object name from outside:
// a few times a second it writes every visible widget, open menu action and
// tab with its place on the screen to the file named by VN_WIDGET_PROBE. It
// only looks; it never touches a widget.

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QGenericPlugin>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QSaveFile>
#include <QTabBar>
#include <QTimer>
#include <QWidget>

namespace {

QJsonArray rectangle(const QRect& rect)
{
    return {rect.x(), rect.y(), rect.width(), rect.height()};
}

QRect onScreen(const QWidget* widget, const QRect& local)
{
    return QRect(widget->mapToGlobal(local.topLeft()), local.size());
}

// The object names of the widget's named ancestors, outermost first.
QString ancestry(const QWidget* widget)
{
    QStringList names;
    for (const QWidget* up = widget->parentWidget(); up; up = up->parentWidget()) {
        if (!up->objectName().isEmpty())
            names.prepend(up->objectName());
    }
    return names.join(QLatin1Char('/'));
}

QJsonObject describe(const QWidget* widget)
{
    QJsonObject entry{
        {QStringLiteral("name"), widget->objectName()},
        {QStringLiteral("class"), QString::fromLatin1(widget->metaObject()->className())},
        {QStringLiteral("path"), ancestry(widget)},
        {QStringLiteral("window"), widget->window()->windowTitle()},
        {QStringLiteral("enabled"), widget->isEnabled()},
        {QStringLiteral("focus"), widget->hasFocus()},
        {QStringLiteral("rect"), rectangle(onScreen(widget, widget->rect()))},
    };
    if (const auto* button = qobject_cast<const QAbstractButton*>(widget)) {
        entry.insert(QStringLiteral("text"), button->text());
        entry.insert(QStringLiteral("checked"), button->isChecked());
    } else if (const auto* edit = qobject_cast<const QLineEdit*>(widget)) {
        entry.insert(QStringLiteral("text"), edit->text());
    } else if (const auto* combo = qobject_cast<const QComboBox*>(widget)) {
        entry.insert(QStringLiteral("text"), combo->currentText());
    } else if (const auto* label = qobject_cast<const QLabel*>(widget)) {
        entry.insert(QStringLiteral("text"), label->text().left(200));
    } else if (const auto* plain = qobject_cast<const QPlainTextEdit*>(widget)) {
        entry.insert(QStringLiteral("text"), plain->toPlainText().left(2000));
    }
    if (const auto* menu = qobject_cast<const QMenu*>(widget)) {
        QJsonArray actions;
        for (QAction* action : menu->actions()) {
            if (!action->isVisible() || action->isSeparator())
                continue;
            actions.append(QJsonObject{{QStringLiteral("name"), action->objectName()},
                                       {QStringLiteral("text"), action->text()},
                                       {QStringLiteral("rect"),
                                        rectangle(onScreen(menu, menu->actionGeometry(action)))}});
        }
        entry.insert(QStringLiteral("actions"), actions);
    }
    if (const auto* bar = qobject_cast<const QTabBar*>(widget)) {
        QJsonArray tabs;
        for (int index = 0; index < bar->count(); ++index) {
            tabs.append(QJsonObject{{QStringLiteral("text"), bar->tabText(index)},
                                    {QStringLiteral("current"), index == bar->currentIndex()},
                                    {QStringLiteral("rect"), rectangle(onScreen(bar, bar->tabRect(index)))}});
        }
        entry.insert(QStringLiteral("tabs"), tabs);
    }
    return entry;
}

class Probe : public QObject {
public:
    explicit Probe(QString target)
        : file(std::move(target))
    {
        auto* timer = new QTimer(this);
        timer->setInterval(150);
        connect(timer, &QTimer::timeout, this, &Probe::write);
        timer->start();
    }

private:
    void write()
    {
        QJsonArray widgets;
        for (const QWidget* widget : QApplication::allWidgets()) {
            if (widget->isVisible())
                widgets.append(describe(widget));
        }
        const QByteArray bytes = QJsonDocument(widgets).toJson(QJsonDocument::Compact);
        if (bytes == last)
            return;
        QSaveFile out(file);
        if (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.commit())
            last = bytes;
    }

    QString file;
    QByteArray last;
};

} // namespace

class WidgetProbePlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "WidgetProbe.json")

public:
    QObject* create(const QString& key, const QString&) override
    {
        const QString target = qEnvironmentVariable("VN_WIDGET_PROBE");
        if (key.compare(QLatin1String("vnwidgetprobe"), Qt::CaseInsensitive) != 0 || target.isEmpty())
            return nullptr;
        return new Probe(target);
    }
};

#include "WidgetProbe.moc"
