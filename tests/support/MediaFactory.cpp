#include "MediaFactory.h"

#include "engine/CommandLine.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <QFile>
#include <QStandardPaths>

extern char** environ;

namespace MediaFactory {

bool HaveFfmpeg()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

bool GenerateMovie(const QString& path, const MovieSpec& spec, QString* error)
{
    QStringList args{QStringLiteral("-hide_banner"),
                     QStringLiteral("-loglevel"),
                     QStringLiteral("error"),
                     QStringLiteral("-nostdin"),
                     QStringLiteral("-y"),
                     QStringLiteral("-f"),
                     QStringLiteral("lavfi"),
                     QStringLiteral("-i"),
                     QStringLiteral("testsrc2=size=%1x%2:rate=%3")
                         .arg(spec.width)
                         .arg(spec.height)
                         .arg(spec.fps)};
    if (spec.audio)
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
             << QStringLiteral("sine=frequency=440:sample_rate=44100");
    args << QStringLiteral("-t") << QString::number(spec.seconds, 'f', 3);
    args << spec.outputArgs << path;

    // ffmpeg is started with posix_spawn rather than QProcess: ThreadSanitizer loses
    // track of the calling thread after QProcess's clone-based start, and then
    // reports races in the thread tests that generate their movies here. Its
    // complaints go to the test's own standard error.
    NativeArgv argv(QStringList{QStringLiteral("ffmpeg")} + args);

    pid_t pid = -1;
    if (::posix_spawnp(&pid, "ffmpeg", nullptr, nullptr, argv.Data(), environ) != 0) {
        if (error)
            *error = QStringLiteral("ffmpeg could not be started");
        return false;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && QFile::exists(path);
    if (!ok && error)
        *error = QStringLiteral("ffmpeg failed (wait status %1) for %2").arg(status).arg(path);
    return ok;
}

bool WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    return file.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

} // namespace MediaFactory
