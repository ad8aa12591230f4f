#include "platform/WholeFile.h"

#include "tests/support/FileSizeLimit.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cerrno>

#include <unistd.h>

using namespace vn;
using vn::test::FileSizeLimit;
using vn::test::randomBytes;
using vn::test::readBytes;
using vn::test::writeBytes;

namespace {

enum class Failure { None, SizeLimit, ReadOnlyFolder, FolderInPlace };

// QSaveFile keeps up to 16 KiB in its buffer before the first real write:
// contents on both sides of that reach the disk at different moments.
constexpr qsizetype SmallContent = 100;
constexpr qsizetype LargeContent = 40000;

const QByteArray OldContent("the earlier file, which a failed write must leave alone\n");

QStringList entries(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}

// Folder permissions do not stop root.
bool folderPermissionsHold()
{
    return ::geteuid() != 0;
}

} // namespace

Q_DECLARE_METATYPE(Failure)

class WholeFileTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void save_data();
    void save();
    void streamStopsAtTheFirstFailure();
    void streamCommitsTheWholeContent();
    void copyKeepsPermissionsAndNeverReplaces();
    void copyUnderSizeLimitLeavesNothing();
};

void WholeFileTest::save_data()
{
    QTest::addColumn<bool>("existing");
    QTest::addColumn<Failure>("failure");
    QTest::addColumn<qsizetype>("size");

    for (const bool existing : {false, true}) {
        const char* target = existing ? "existing" : "missing";
        for (const qsizetype size : {SmallContent, LargeContent}) {
            const QByteArray content = size == SmallContent ? "small" : "large";
            QTest::addRow("%s, written, %s", target, content.constData()) << existing << Failure::None << size;
            QTest::addRow("%s, size limit, %s", target, content.constData()) << existing << Failure::SizeLimit << size;
            QTest::addRow("%s, read-only folder, %s", target, content.constData())
                << existing << Failure::ReadOnlyFolder << size;
        }
    }
    QTest::newRow("folder in the file's place") << true << Failure::FolderInPlace << SmallContent;
}

void WholeFileTest::save()
{
    QFETCH(bool, existing);
    QFETCH(Failure, failure);
    QFETCH(qsizetype, size);
    if (failure == Failure::ReadOnlyFolder && !folderPermissionsHold())
        QSKIP("running as root: folder permissions do not stop this process");

    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("space"));
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + QStringLiteral("/file.json");
    if (failure == Failure::FolderInPlace)
        QVERIFY(QDir().mkpath(path));
    else if (existing)
        QVERIFY(writeBytes(path, OldContent));
    const QStringList before = entries(folder);
    const QByteArray content = randomBytes(size, quint32(size));

    QString error;
    if (failure == Failure::SizeLimit) {
        // What a full disk does, without root: the flush fails with EFBIG.
        const FileSizeLimit limit(rlim_t(size / 2));
        error = saveWhole(path, content);
    } else if (failure == Failure::ReadOnlyFolder) {
        QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        error = saveWhole(path, content);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    } else {
        error = saveWhole(path, content);
    }

    if (failure == Failure::None) {
        QCOMPARE(error, QString());
        QCOMPARE(readBytes(path), content);
        QCOMPARE(entries(folder), QStringList{QStringLiteral("file.json")});
        return;
    }
    QVERIFY(!error.isEmpty());
    if (failure == Failure::SizeLimit)
        QCOMPARE(error, qt_error_string(EFBIG));
    // Nothing changed: no temporary file left, the earlier file byte for byte.
    QCOMPARE(entries(folder), before);
    if (failure == Failure::FolderInPlace)
        QVERIFY(QFileInfo(path).isDir());
    else if (existing)
        QCOMPARE(readBytes(path), OldContent);
    else
        QVERIFY(!QFile::exists(path));
}

void WholeFileTest::streamStopsAtTheFirstFailure()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("received.bin"));
    QVERIFY(writeBytes(path, OldContent));
    WholeFile file(path);
    QVERIFY(file.open());
    const QByteArray block = randomBytes(128, 1);
    QVERIFY(file.write(block));
    {
        // Under QSaveFile's own buffer: only a flush of each block sees this.
        const FileSizeLimit limit(200);
        QVERIFY(!file.write(block));
    }
    QCOMPARE(file.errorText(), qt_error_string(EFBIG));
    QVERIFY(!file.isOpen());
    // Whatever comes after the failure is not taken either.
    QVERIFY(!file.write(block));
    QVERIFY(!file.commit());
    QCOMPARE(readBytes(path), OldContent);
    QCOMPARE(entries(folder.path()), QStringList{QStringLiteral("received.bin")});
}

void WholeFileTest::streamCommitsTheWholeContent()
{
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("received.bin"));
    QVERIFY(writeBytes(path, OldContent));
    const QByteArray content = randomBytes(10000, 2);
    {
        WholeFile file(path);
        QVERIFY(file.open());
        for (qsizetype at = 0; at < content.size(); at += 128) {
            QVERIFY(file.write(QByteArrayView(content).sliced(at, std::min<qsizetype>(128, content.size() - at))));
            // The target is replaced only at the commit.
            QCOMPARE(readBytes(path), OldContent);
        }
        QVERIFY(file.commit());
        QCOMPARE(file.errorText(), QString());
    }
    QCOMPARE(readBytes(path), content);

    // A file dropped before its commit leaves the target as it was.
    {
        WholeFile dropped(path);
        QVERIFY(dropped.open());
        QVERIFY(dropped.write("partial"));
    }
    QCOMPARE(readBytes(path), content);
    QCOMPARE(entries(folder.path()), QStringList{QStringLiteral("received.bin")});
}

void WholeFileTest::copyKeepsPermissionsAndNeverReplaces()
{
    QTemporaryDir folder;
    const QString source = folder.filePath(QStringLiteral("known_hosts"));
    const QByteArray content = randomBytes(30000, 3);
    QVERIFY(writeBytes(source, content));
    const QFile::Permissions owner = QFile::ReadOwner | QFile::WriteOwner;
    QVERIFY(QFile::setPermissions(source, owner));
    const QString backup = folder.filePath(QStringLiteral("known_hosts.bak"));
    QCOMPARE(copyWhole(source, backup), QString());
    QCOMPARE(readBytes(backup), content);
    QCOMPARE(QFile::permissions(backup), QFile::permissions(source));

    QVERIFY(writeBytes(backup, OldContent));
    QVERIFY(!copyWhole(source, backup).isEmpty());
    QCOMPARE(readBytes(backup), OldContent);
    QVERIFY(!copyWhole(folder.filePath(QStringLiteral("missing")), folder.filePath(QStringLiteral("copy"))).isEmpty());
    QVERIFY(!QFile::exists(folder.filePath(QStringLiteral("copy"))));
}

void WholeFileTest::copyUnderSizeLimitLeavesNothing()
{
    QTemporaryDir folder;
    const QString source = folder.filePath(QStringLiteral("config.json"));
    QVERIFY(writeBytes(source, randomBytes(SmallContent, 4)));
    const QString backup = folder.filePath(QStringLiteral("config.json.bak"));
    QString error;
    {
        const FileSizeLimit limit(10);
        error = copyWhole(source, backup);
    }
    QCOMPARE(error, qt_error_string(EFBIG));
    QCOMPARE(entries(folder.path()), QStringList{QStringLiteral("config.json")});
}

QTEST_GUILESS_MAIN(WholeFileTest)
#include "WholeFileTest.moc"
