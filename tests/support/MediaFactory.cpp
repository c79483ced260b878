#include "MediaFactory.h"

#include "engine/CommandLine.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <optional>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include <QFile>
#include <QStandardPaths>
#include <QtEndian>

extern char** environ;

namespace {

// A box of an MP4 or QuickTime file: its type and where its content lies.
struct Box
{
    QByteArray type;
    qsizetype content = 0;
    qsizetype end = 0;
};

std::vector<Box> Children(const QByteArray& data, qsizetype begin, qsizetype end)
{
    std::vector<Box> boxes;
    while (begin + 8 <= end) {
        const auto* at = reinterpret_cast<const uchar*>(data.constData() + begin);
        quint64 size = qFromBigEndian<quint32>(at);
        qsizetype header = 8;
        if (size == 1 && begin + 16 <= end) {
            size = qFromBigEndian<quint64>(at + 8);
            header = 16;
        } else if (size == 0) {
            size = quint64(end - begin);
        }
        if (size < quint64(header) || size > quint64(end - begin))
            break;
        boxes.push_back({data.mid(begin + 4, 4), begin + header, begin + qsizetype(size)});
        begin += qsizetype(size);
    }
    return boxes;
}

// The box down a path of types from a box, taking the first of each type.
std::optional<Box> Find(const QByteArray& data, const Box& in, const QList<QByteArray>& path)
{
    std::optional<Box> box = in;
    for (const QByteArray& type : path) {
        const std::vector<Box> children = Children(data, box->content, box->end);
        const auto it = std::find_if(children.begin(), children.end(),
                                     [&](const Box& child) { return child.type == type; });
        if (it == children.end())
            return std::nullopt;
        box = *it;
    }
    return box;
}

// Calls edit with each track of a movie file and its handler ("vide", "soun")
// and writes the file back.
bool EditTracks(const QString& path,
                const std::function<bool(QByteArray&, const Box&, const QByteArray&)>& edit)
{
    QByteArray data = MediaFactory::ReadFile(path);
    const std::optional<Box> moov = Find(data, {{}, 0, data.size()}, {"moov"});
    if (!moov)
        return false;
    bool edited = false;
    for (const Box& track : Children(data, moov->content, moov->end)) {
        const std::optional<Box> handler = Find(data, track, {"mdia", "hdlr"});
        if (track.type == "trak" && handler && edit(data, track, data.mid(handler->content + 8, 4)))
            edited = true;
    }
    return edited && MediaFactory::WriteFile(path, data);
}

} // namespace

namespace MediaFactory {

bool SetDisplayMatrix(const QString& path, int rotation, bool mirrored)
{
    // Row vectors times the matrix; the first row negated flips first.
    const int cosine = rotation == 0 ? 1 : rotation == 180 ? -1 : 0;
    const int sine = rotation == 90 ? 1 : rotation == 270 ? -1 : 0;
    const int flip = mirrored ? -1 : 1;
    constexpr qint32 One = 0x10000;
    const qint32 matrix[9] = {
        flip * cosine * One, flip * sine * One, 0, -sine * One, cosine * One, 0, 0, 0, 1 << 30};
    return EditTracks(path, [&](QByteArray& data, const Box& track, const QByteArray& handler) {
        const std::optional<Box> header = Find(data, track, {"tkhd"});
        if (handler != "vide" || !header)
            return false;
        // After the version's times, the reserved bytes, layer, group, volume.
        const qsizetype at = header->content + (data.at(header->content) == 1 ? 36 : 24) + 16;
        for (int i = 0; i < 9; ++i)
            qToBigEndian<qint32>(matrix[i], data.data() + at + 4 * i);
        return true;
    });
}

bool MakeFirstSoundUndecodable(const QString& path)
{
    bool done = false;
    return EditTracks(path, [&](QByteArray& data, const Box& track, const QByteArray& handler) {
        const std::optional<Box> table = Find(data, track, {"mdia", "minf", "stbl", "stsd"});
        if (done || handler != "soun" || !table)
            return false;
        // The first sample entry follows the version and the entry count.
        const qsizetype entry = table->content + 8;
        data.replace(entry + 4, 4, "apac");
        const qsizetype config = data.indexOf("esds", entry);
        if (config > 0 && config < table->end)
            data.replace(config, 4, "dapa");
        return done = true;
    });
}

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
