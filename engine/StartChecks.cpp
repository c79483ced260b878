#include "StartChecks.h"

#include "shell/AppInfo.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#include <QFile>

namespace {

// The size of the file the folder check writes: one block of the disk, so that
// a full disk refuses it.
constexpr std::size_t ProbeBytes = 4096;

QString SystemReason(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

namespace StartChecks {

std::optional<QString> MovieProblem(const QString& path)
{
    // Non-blocking, so that a FIFO under a movie's name cannot hold the run.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    int error = fd < 0 ? errno : 0;
    if (fd >= 0) {
        struct stat st;
        if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode))
            error = EISDIR;
        ::close(fd);
    }
    if (error == 0)
        return std::nullopt;
    if (error == ENOENT || error == ENOTDIR)
        return QStringLiteral("The movie file is gone.");
    return QStringLiteral("The movie file cannot be read: %1.").arg(SystemReason(error));
}

std::optional<QString> FolderWriteError(const QString& folder, bool create)
{
    const QByteArray name = QFile::encodeName(folder);
    if (create) {
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(name.toStdString()), error);
        if (error)
            return QString::fromLocal8Bit(error.message());
    }
    QByteArray probe = name + "/." + AppInfo::DesktopId + "-write-check-XXXXXX";
    const int fd = ::mkostemp(probe.data(), O_CLOEXEC);
    if (fd < 0)
        return SystemReason(errno);
    static const char block[ProbeBytes] = {};
    int error = 0;
    const ssize_t written = ::write(fd, block, sizeof block);
    if (written != static_cast<ssize_t>(sizeof block))
        error = written < 0 ? errno : ENOSPC;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    ::unlink(probe.constData());
    if (error != 0)
        return SystemReason(error);
    return std::nullopt;
}

QString FolderNotWritable(const QString& folder)
{
    return QStringLiteral("The output folder cannot be written: %1").arg(folder);
}

} // namespace StartChecks
