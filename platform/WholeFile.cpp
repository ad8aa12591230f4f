#include "platform/WholeFile.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>

#include <unistd.h>

namespace vn {

namespace {

// A failure whose cause the file device did not name.
const QString UnknownFailure = QStringLiteral("无法写入文件");

// Pushes the written data to the disk and reports whether it got there; a
// write-back failure (EIO on a network or removable disk, ENOSPC on file
// systems that allocate late) shows up only here.
bool syncToDisk(int fd, QString* error)
{
    int result = 0;
    do {
        result = ::fdatasync(fd);
    } while (result != 0 && errno == EINTR);
    // A file that cannot be synced at all (no such support) is not a failure.
    if (result == 0 || errno == EINVAL || errno == EROFS)
        return true;
    *error = qt_error_string(errno);
    return false;
}

} // namespace

WholeFile::WholeFile(const QString& path)
    : m_file(path)
{
    // Writing straight into the target when no temporary file can be made
    // beside it would destroy the target on a failure.
    m_file.setDirectWriteFallback(false);
}

WholeFile::~WholeFile()
{
    cancel();
}

bool WholeFile::failed(const QString& error)
{
    m_error = error.isEmpty() ? UnknownFailure : error;
    cancel();
    return false;
}

bool WholeFile::open()
{
    m_error.clear();
    if (m_file.isOpen())
        return true;
    if (!m_file.open(QIODevice::WriteOnly))
        return failed(m_file.errorString());
    return true;
}

bool WholeFile::setPermissions(QFileDevice::Permissions permissions)
{
    if (!m_file.isOpen())
        return failed(m_error);
    if (!m_file.setPermissions(permissions))
        return failed(m_file.errorString());
    return true;
}

bool WholeFile::write(QByteArrayView bytes)
{
    if (!m_file.isOpen())
        return failed(m_error);
    const qint64 written = m_file.write(bytes.data(), bytes.size());
    if (written == bytes.size() && m_file.flush())
        return true;
    return failed(refusal(bytes.sliced(std::clamp<qint64>(written, 0, bytes.size()))));
}

QString WholeFile::refusal(QByteArrayView rest)
{
    // When the system takes part of a write before it refuses (the disk fills
    // up, the size limit is reached), Qt reports no reason. A second attempt
    // at what is left is refused outright and names it; the file is dropped
    // anyway.
    const QString first = m_file.errorString();
    if (rest.isEmpty())
        m_file.flush();
    else
        m_file.write(rest.data(), rest.size());
    const QString second = m_file.errorString();
    return second.isEmpty() || second == first ? first : second;
}

bool WholeFile::commit()
{
    if (!m_file.isOpen())
        return failed(m_error);
    QString error;
    if (!m_file.flush())
        return failed(refusal({}));
    if (!syncToDisk(m_file.handle(), &error))
        return failed(error);
    if (!m_file.commit()) {
        m_error = m_file.errorString().isEmpty() ? UnknownFailure : m_file.errorString();
        return false;
    }
    return true;
}

void WholeFile::cancel()
{
    if (!m_file.isOpen())
        return;
    // A cancelled save file discards its temporary file when committed.
    m_file.cancelWriting();
    m_file.commit();
}

QString saveWhole(const QString& path, QByteArrayView bytes)
{
    WholeFile file(path);
    if (!file.open() || !file.write(bytes) || !file.commit())
        return file.errorText();
    return {};
}

QString copyWhole(const QString& source, const QString& target)
{
    const QFileInfo existing(target);
    if (existing.exists() || existing.isSymLink())
        return QStringLiteral("目标文件已存在");
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return in.errorString();
    const QByteArray bytes = in.readAll();
    if (in.error() != QFileDevice::NoError || bytes.size() != in.size())
        return in.errorString().isEmpty() ? QStringLiteral("源文件读取不完整") : in.errorString();
    WholeFile file(target);
    if (!file.open() || !file.setPermissions(in.permissions()) || !file.write(bytes) || !file.commit())
        return file.errorText();
    return {};
}

} // namespace vn
