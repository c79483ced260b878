#include "MediaFactory.h"

#include "engine/CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <QFile>
#include <QStandardPaths>
#include <QtEndian>

extern char** environ;

namespace MediaFactory {

bool HaveFfmpeg()
{
    return !QStandardPaths::findExecutable(QStringLiteral("ffmpeg")).isEmpty();
}

bool GenerateMovie(const QString& path, const MovieSpec& spec, QString* error)
{
    QString picture = QStringLiteral("%1=size=%2x%3:rate=%4")
                          .arg(spec.disc ? QStringLiteral("color") : spec.source)
                          .arg(spec.width)
                          .arg(spec.height)
                          .arg(spec.fps);
    // Drawn in 4:4:4: lavfi's 4:2:0 sources round odd sizes down.
    if (spec.disc)
        picture += QStringLiteral(",format=yuv444p,geq=lum='if(lt(hypot(X-W/2,Y-H/2),"
                                  "min(W,H)/5),235,16)':cb=128:cr=128");
    if (spec.numbered)
        picture += QStringLiteral(",geq=lum='if(bitand(N\\,pow(2\\,floor(X*12/W)))\\,235\\,16)'"
                                  ":cb=128:cr=128");
    QStringList args{
        QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"), QStringLiteral("error"),
        QStringLiteral("-nostdin"),     QStringLiteral("-y"),        QStringLiteral("-f"),
        QStringLiteral("lavfi"),        QStringLiteral("-i"),        picture};
    if (spec.audio)
        args << QStringLiteral("-f") << QStringLiteral("lavfi") << QStringLiteral("-i")
             << QStringLiteral("sine=frequency=440:sample_rate=44100");
    args << QStringLiteral("-t") << QString::number(spec.seconds, 'f', 3);
    if (spec.disc)
        args << QStringLiteral("-pix_fmt") << QStringLiteral("yuv420p");
    args << spec.outputArgs << path;
    if (!Run(QStringLiteral("ffmpeg"), args, error))
        return false;
    if (QFile::exists(path))
        return true;
    if (error)
        *error = QStringLiteral("ffmpeg wrote no %1").arg(path);
    return false;
}

bool Run(const QString& program, const QStringList& args, QString* error)
{
    // posix_spawn rather than QProcess: ThreadSanitizer loses track of the
    // calling thread after QProcess's clone-based start, and then reports races
    // in the thread tests that generate their movies here.
    NativeArgv argv(QStringList{program} + args);
    pid_t pid = -1;
    if (::posix_spawnp(&pid, argv.Program().constData(), nullptr, nullptr, argv.Data(), environ) !=
        0) {
        if (error)
            *error = QStringLiteral("%1 could not be started").arg(program);
        return false;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok && error)
        *error = QStringLiteral("%1 failed (wait status %2): %3")
                     .arg(program)
                     .arg(status)
                     .arg(args.join(QLatin1Char(' ')));
    return ok;
}

bool SetDisplayMatrix(const QString& path, int rotation, bool mirrored)
{
    // Row vectors times the matrix, in 16.16 fixed point; the first row
    // negated flips first.
    const int cosine = rotation == 0 ? 1 : rotation == 180 ? -1 : 0;
    const int sine = rotation == 90 ? 1 : rotation == 270 ? -1 : 0;
    const int flip = mirrored ? -1 : 1;
    const qint32 matrix[] = {flip * cosine * 0x10000,
                             flip * sine * 0x10000,
                             0,
                             -sine * 0x10000,
                             cosine * 0x10000,
                             0,
                             0,
                             0,
                             0x40000000};
    QByteArray data = ReadFile(path);
    bool written = false;
    // Each track header (version 0 as ffmpeg writes it): the matrix follows
    // 36 bytes of times, ids and levels; a picture's size follows it.
    for (qsizetype at = data.indexOf("tkhd"); at > 0; at = data.indexOf("tkhd", at + 4)) {
        char* fields = data.data() + at + 4 + 40;
        if (qFromBigEndian<quint32>(fields + 36) == 0)
            continue;
        for (std::size_t i = 0; i < std::size(matrix); ++i)
            qToBigEndian(matrix[i], fields + 4 * i);
        written = true;
    }
    return written && WriteFile(path, data);
}

bool MakeFirstSoundUndecodable(const QString& path)
{
    QByteArray data = ReadFile(path);
    const qsizetype entry = data.indexOf("mp4a");
    const qsizetype config = data.indexOf("esds", entry);
    if (entry < 0 || config < 0)
        return false;
    data.replace(entry, 4, "apac").replace(config, 4, "dapa");
    return WriteFile(path, data);
}

bool AddDolbyVisionConfig(const QString& path, int profile, int compatibility)
{
    QByteArray bytes = ReadFile(path);
    const auto size = [&bytes](qsizetype at) { return qFromBigEndian<quint32>(bytes.data() + at); };
    // The boxes down to the first sample entry (after the sample description's
    // version, flags and count) each grow by the new box.
    std::vector<qsizetype> boxes;
    qsizetype at = 0;
    qsizetype end = bytes.size();
    for (const char* type : {"moov", "trak", "mdia", "minf", "stbl", "stsd"}) {
        while (at + 8 <= end && bytes.mid(at + 4, 4) != type)
            at += std::max<quint32>(size(at), 8);
        if (at + 8 > end)
            return false;
        boxes.push_back(at);
        end = at + size(at);
        at += 8;
    }
    boxes.push_back(at + 8);
    if (!bytes.left(boxes.front()).contains("mdat"))
        return false;
    QByteArray box(32, '\0');
    qToBigEndian<quint32>(32, box.data());
    box.replace(4, 4, "dvcC");
    box[8] = 1; // version 1.0
    qToBigEndian<quint16>(quint16(profile << 9 | 6 << 3 | 1 << 2 | 1), box.data() + 10);
    box[12] = char(compatibility << 4);
    bytes.insert(boxes.back() + size(boxes.back()), box);
    for (const qsizetype parent : boxes)
        qToBigEndian<quint32>(size(parent) + 32, bytes.data() + parent);
    return WriteFile(path, bytes);
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
