// A Qt generic plugin the program soak loads into the built program
// (QT_QPA_GENERIC_PLUGINS) to close session pages from outside, the way the
// user does: it clicks the close button on each page's tab. It waits for the
// file named by VN_SOAK_CLOSE_REQUEST, a JSON object whose "close" lists the
// tab texts of the pages to close; it closes one page per turn of the event
// loop, so that each closing runs as a click of its own, and then writes
// {"closed": n, "missing": [...]} to the same path with ".done" appended.

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QGenericPlugin>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QSet>
#include <QTabBar>
#include <QTimer>
#include <QWidget>

namespace {

// The close button of a session page's tab, as the window lays it out.
QAbstractButton* sessionCloser(QTabBar* bar, int index)
{
    QWidget* holder = bar->tabButton(index, QTabBar::RightSide);
    auto* button = holder ? holder->findChild<QAbstractButton*>(QStringLiteral("closeTab")) : nullptr;
    return button && button->text() == QStringLiteral("关闭收发页面及连接") ? button : nullptr;
}

class Closer : public QObject {
public:
    explicit Closer(QString request)
        : m_request(std::move(request))
    {
        auto* timer = new QTimer(this);
        timer->setInterval(100);
        connect(timer, &QTimer::timeout, this, &Closer::step);
        timer->start();
    }

private:
    void step()
    {
        if (m_done)
            return;
        if (!m_started) {
            QFile file(m_request);
            if (!file.open(QIODevice::ReadOnly))
                return;
            const QJsonArray names = QJsonDocument::fromJson(file.readAll()).object().value(QStringLiteral("close")).toArray();
            for (const QJsonValue& name : names)
                m_wanted.insert(name.toString());
            m_started = true;
        }
        for (QWidget* widget : QApplication::allWidgets()) {
            auto* bar = qobject_cast<QTabBar*>(widget);
            if (!bar)
                continue;
            for (int index = 0; index < bar->count(); ++index) {
                const QString text = bar->tabText(index);
                if (!m_wanted.contains(text))
                    continue;
                if (QAbstractButton* button = sessionCloser(bar, index)) {
                    m_wanted.remove(text);
                    ++m_closed;
                    button->click();
                    return;   // one page a turn; the tab bar has changed
                }
            }
        }
        m_done = true;
        QJsonArray missing;
        for (const QString& name : std::as_const(m_wanted))
            missing.append(name);
        QSaveFile out(m_request + QStringLiteral(".done"));
        const QByteArray bytes = QJsonDocument(QJsonObject{{QStringLiteral("closed"), m_closed},
                                                           {QStringLiteral("missing"), missing}})
                                     .toJson(QJsonDocument::Compact);
        if (out.open(QIODevice::WriteOnly) && out.write(bytes) == bytes.size() && out.flush())
            out.commit();
    }

    QString m_request;
    QSet<QString> m_wanted;
    int m_closed = 0;
    bool m_started = false;
    bool m_done = false;
};

} // namespace

class PageCloserPlugin : public QGenericPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QGenericPluginFactoryInterface_iid FILE "PageCloser.json")

public:
    QObject* create(const QString& key, const QString&) override
    {
        const QString request = qEnvironmentVariable("VN_SOAK_CLOSE_REQUEST");
        if (key.compare(QLatin1String("vnsoakpagecloser"), Qt::CaseInsensitive) != 0 || request.isEmpty())
            return nullptr;
        return new Closer(request);
    }
};

#include "PageCloser.moc"
