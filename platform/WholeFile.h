#pragma once

#include <QByteArrayView>
#include <QFileDevice>
#include <QSaveFile>
#include <QString>

namespace vn {

// A file that replaces its target whole or not at all. The bytes go to a
// temporary file beside the target; only a commit after every byte reached
// the disk puts it in place, and every failure leaves the target as it was.
//
// QSaveFile alone is not enough: its commit() flushes the last buffered
// bytes itself, ignores a failure of that flush (a full disk, a size limit,
// an I/O error) and then puts a cut-off or empty file in place. Here each
// write is flushed and checked at once, and the data is synced before the
// commit, so such a failure is seen while the target is still untouched.
//
// Streaming writers keep one open for the whole transfer; a whole file in
// memory goes through saveWhole().
class WholeFile {
public:
    explicit WholeFile(const QString& path);
    // What was not committed is dropped; the target stays as it was.
    ~WholeFile();
    WholeFile(const WholeFile&) = delete;
    WholeFile& operator=(const WholeFile&) = delete;

    bool open();
    // Gives the new file these permissions from now on (the target has them
    // once committed).
    bool setPermissions(QFileDevice::Permissions permissions);
    // Writes all of `bytes` and hands them to the system at once; a failure
    // drops the file, and nothing written later is kept.
    bool write(QByteArrayView bytes);
    // Puts the file in place of the target; false when that failed, with the
    // target as it was.
    bool commit();
    // Drops what was written.
    void cancel();

    bool isOpen() const { return m_file.isOpen(); }
    // The target's path.
    QString fileName() const { return m_file.fileName(); }
    // Why the last step failed, in the system's words.
    QString errorText() const { return m_error; }

private:
    bool failed(const QString& error);
    QString refusal(QByteArrayView rest);

    QSaveFile m_file;
    QString m_error;
};

// Writes `bytes` as the whole content of the file at `path`. Returns an empty
// text on success, the system's error text otherwise; the earlier file is
// then left as it was.
QString saveWhole(const QString& path, QByteArrayView bytes);

// Copies the file at `source` to `target`, which must not exist yet, with the
// source's permissions; the copy appears only when whole. Returns an empty
// text on success, the error text otherwise.
QString copyWhole(const QString& source, const QString& target);

} // namespace vn
