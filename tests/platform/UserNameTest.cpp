#include "platform/UserName.h"

#include <QTest>

#include <pwd.h>
#include <unistd.h>

using namespace vn;

class UserNameTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        savedUser = qgetenv("USER");
        savedLogName = qgetenv("LOGNAME");
    }
    void cleanup()
    {
        restore("USER", savedUser);
        restore("LOGNAME", savedLogName);
    }

    void sessionVariablesFirst_data();
    void sessionVariablesFirst();

private:
    // A null text unsets the variable; an empty one sets it empty.
    static void setVariable(const char* name, const QString& value)
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value.toLocal8Bit());
    }
    static void restore(const char* name, const QByteArray& value)
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }

    QByteArray savedUser;
    QByteArray savedLogName;
};

void UserNameTest::sessionVariablesFirst_data()
{
    const passwd* entry = ::getpwuid(::geteuid());
    const QString account = entry ? QString::fromLocal8Bit(entry->pw_name) : QString();

    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("logName");
    QTest::addColumn<QString>("expected");
    QTest::newRow("USER") << "alice" << "bob" << "alice";
    QTest::newRow("LOGNAME when USER is unset") << QString() << "bob" << "bob";
    QTest::newRow("LOGNAME when USER is empty") << "" << "bob" << "bob";
    QTest::newRow("account when both are unset") << QString() << QString() << account;
}

void UserNameTest::sessionVariablesFirst()
{
    QFETCH(QString, user);
    QFETCH(QString, logName);
    QFETCH(QString, expected);
    setVariable("USER", user);
    setVariable("LOGNAME", logName);
    QCOMPARE(userName(), expected);
}

QTEST_GUILESS_MAIN(UserNameTest)
#include "UserNameTest.moc"
