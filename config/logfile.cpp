#include "config/logfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <limits>

#if defined(_WIN32)
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include <windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

#if defined(_WIN32)

using NativePath = std::wstring;

NativePath nativePath(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

// Appending only (no FILE_WRITE_DATA): the system then writes every piece at
// the end as it is at that moment. Read, write and delete are shared, so
// that other processes append at the same time and one of them may rename
// the file. Reading is asked for only because a byte-range lock needs it.
HANDLE openForAppend(const NativePath &path)
{
    return CreateFileW(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                       FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

// Writers also take turns by a lock on one byte far past any end the file
// will reach, where no reader or writer ever goes: not every implementation
// of append-only handles finds the end and writes there in one step (Wine
// does not). The system drops the lock with the handle, a dead process's too.
class AppendTurn
{
public:
    explicit AppendTurn(HANDLE file) : m_file(file)
    {
        m_overlapped.OffsetHigh = lockOffsetHigh;
        m_locked = LockFileEx(m_file, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &m_overlapped);
    }
    ~AppendTurn()
    {
        if (m_locked)
            UnlockFileEx(m_file, 0, 1, 0, &m_overlapped);
    }
    AppendTurn(const AppendTurn &) = delete;
    AppendTurn &operator=(const AppendTurn &) = delete;

private:
    static const DWORD lockOffsetHigh = 0x40000000;
    HANDLE m_file;
    OVERLAPPED m_overlapped = {};
    BOOL m_locked = FALSE;
};

class Appender
{
public:
    explicit Appender(const NativePath &path) : m_handle(openForAppend(path)) {}
    ~Appender() { close(); }
    Appender(const Appender &) = delete;
    Appender &operator=(const Appender &) = delete;

    bool isOpen() const { return m_handle != INVALID_HANDLE_VALUE; }
    static bool folderMissing() { return GetLastError() == ERROR_PATH_NOT_FOUND; }
    void reopen(const NativePath &path)
    {
        close();
        m_handle = openForAppend(path);
    }
    void close()
    {
        if (isOpen())
            CloseHandle(m_handle);
        m_handle = INVALID_HANDLE_VALUE;
    }

    qint64 size() const
    {
        LARGE_INTEGER size = {};
        return GetFileSizeEx(m_handle, &size) ? qint64(size.QuadPart) : -1;
    }

    bool write(const char *data, qint64 size)
    {
        const AppendTurn turn(m_handle);
        while (size > 0) {
            const DWORD piece = DWORD(qMin<qint64>(size, std::numeric_limits<DWORD>::max() / 2));
            DWORD written = 0;
            if (!WriteFile(m_handle, data, piece, &written, nullptr) || written == 0)
                return false;
            data += written;
            size -= written;
        }
        return true;
    }

    // Renames the file this handle measured, and only that one: a second
    // handle by the path, checked to be the same file, renames by handle, so
    // that a file another process has already put aside and replaced is
    // left alone.
    void rollOver(const NativePath &path, const NativePath &rolled)
    {
        HANDLE current = CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        if (current == INVALID_HANDLE_VALUE)
            return;
        BY_HANDLE_FILE_INFORMATION measured = {};
        BY_HANDLE_FILE_INFORMATION found = {};
        if (GetFileInformationByHandle(m_handle, &measured) && GetFileInformationByHandle(current, &found)
            && measured.dwVolumeSerialNumber == found.dwVolumeSerialNumber
            && measured.nFileIndexHigh == found.nFileIndexHigh && measured.nFileIndexLow == found.nFileIndexLow) {
            const DWORD nameBytes = DWORD(rolled.size() * sizeof(wchar_t));
            std::vector<char> buffer(sizeof(FILE_RENAME_INFO) + nameBytes);
            auto *info = reinterpret_cast<FILE_RENAME_INFO *>(buffer.data());
            info->ReplaceIfExists = TRUE;
            info->RootDirectory = nullptr;
            info->FileNameLength = nameBytes;
            std::memcpy(buffer.data() + offsetof(FILE_RENAME_INFO, FileName), rolled.data(), nameBytes);
            SetFileInformationByHandle(current, FileRenameInfo, info, DWORD(buffer.size()));
        }
        CloseHandle(current);
    }

private:
    HANDLE m_handle;
};

#else

using NativePath = QByteArray;

NativePath nativePath(const QString &path)
{
    return QFile::encodeName(path);
}

int openForAppend(const NativePath &path)
{
    int fd;
    do
        fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    while (fd < 0 && errno == EINTR);
    return fd;
}

class Appender
{
public:
    explicit Appender(const NativePath &path) : m_fd(openForAppend(path)) {}
    ~Appender() { close(); }
    Appender(const Appender &) = delete;
    Appender &operator=(const Appender &) = delete;

    bool isOpen() const { return m_fd >= 0; }
    static bool folderMissing() { return errno == ENOENT; }
    void reopen(const NativePath &path)
    {
        close();
        m_fd = openForAppend(path);
    }
    void close()
    {
        if (isOpen())
            ::close(m_fd);
        m_fd = -1;
    }

    qint64 size() const
    {
        struct stat info = {};
        return ::fstat(m_fd, &info) == 0 ? qint64(info.st_size) : -1;
    }

    bool write(const char *data, qint64 size)
    {
        while (size > 0) {
            const ssize_t written = ::write(m_fd, data, size_t(size));
            if (written < 0 && errno == EINTR)
                continue;
            if (written <= 0)
                return false;
            data += written;
            size -= written;
        }
        return true;
    }

    // Of the processes that found this file full, the first to lock it
    // renames it; the others then find another file under its name and
    // leave both alone.
    void rollOver(const NativePath &path, const NativePath &rolled)
    {
        if (::flock(m_fd, LOCK_EX) != 0)
            return;
        struct stat measured = {};
        struct stat found = {};
        if (::fstat(m_fd, &measured) == 0 && ::stat(path.constData(), &found) == 0
            && measured.st_dev == found.st_dev && measured.st_ino == found.st_ino)
            ::rename(path.constData(), rolled.constData());
        ::flock(m_fd, LOCK_UN);
    }

private:
    int m_fd;
};

#endif

} // namespace

QString LogFile::rolledPath(const QString &path)
{
    return path + QStringLiteral(".1");
}

bool LogFile::append(const QString &path, const QByteArray &bytes, qint64 rolloverSize)
{
    const NativePath native = nativePath(path);
    Appender file(native);
    if (!file.isOpen() && Appender::folderMissing()) {
        // The folders are made on first use, and again should someone remove them.
        QDir().mkpath(QFileInfo(path).absolutePath());
        file.reopen(native);
    }
    if (!file.isOpen())
        return false;

    if (rolloverSize > 0 && file.size() >= rolloverSize) {
        file.rollOver(native, nativePath(rolledPath(path)));
        // Whoever renamed it, the name now holds the new file (or, where the
        // rename was refused, still the full one).
        file.reopen(native);
        if (!file.isOpen())
            return false;
    }
    return file.write(bytes.constData(), bytes.size());
}
