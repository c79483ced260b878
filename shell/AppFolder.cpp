#include "AppFolder.h"

#include "shell/AppInfo.h"

#include <climits>
#include <unistd.h>
#include <vector>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

QString GetAppDir()
{
    // /proc/self/exe works before (and without) a QCoreApplication, which the
    // tests and the benchmarks rely on.
    std::vector<char> buffer(PATH_MAX + 1);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (n < 0)
            break;
        if (static_cast<size_t>(n) < buffer.size()) {
            const QString exe = QFile::decodeName(QByteArray(buffer.data(), n));
            return QFileInfo(exe).absolutePath();
        }
        buffer.resize(buffer.size() * 2);
    }
    return QCoreApplication::applicationDirPath();
}

QString GetStateDir()
{
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (state.isEmpty() || QDir::isRelativePath(state))
        state = QDir::homePath() + QStringLiteral("/.local/state");
    return AppInfo::ProgramFolderIn(state);
}

QString FormatInt(int value)
{
    return QString::number(value);
}

QString FormatReal(double value)
{
    return QString::asprintf("%.3f", value);
}

QString FormatDuration(std::int64_t seconds)
{
    const auto s = static_cast<std::int32_t>(seconds);
    return QString::asprintf("%02d:%02d:%02d", s / 3600, (s % 3600) / 60, s % 60);
}

QString PathFileName(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString PathExtension(const QString& path)
{
    const QString name = PathFileName(path);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot);
}

void PumpMessages()
{
    // Only the calling thread's own queue: QCoreApplication::processEvents works
    // on the event dispatcher of the thread that calls it.
    if (QThread::currentThread()->eventDispatcher())
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}
