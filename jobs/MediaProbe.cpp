#include "jobs/MediaProbe.h"

#include "jobs/AviHeader.h"
#include "jobs/ColourProbe.h"
#include "jobs/SubtitleFile.h"
#include "shell/AppFolder.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include <QFile>
#include <QFileInfo>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/log.h>
}

namespace {

// The header of an AVI file is read in two steps: a prefix that normally holds it
// all, then, when its chunk sizes say the header list is longer, exactly that list.
// The cap keeps a hostile size from making the reader load a whole file.
constexpr qint64 AviPrefixBytes = 64 * 1024;
constexpr std::uint64_t AviHeaderCapBytes = 16 * 1024 * 1024;

// Bounds for the stream analysis that some containers (MPEG program streams) need
// before they tell the picture size and length.
constexpr std::int64_t AnalysisProbeBytes = 2 * 1024 * 1024;
constexpr std::int64_t AnalysisMicroseconds = 3 * AV_TIME_BASE;

void SilenceLibav()
{
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_level(AV_LOG_QUIET); });
}

bool IsRegularFile(const QByteArray& nativePath)
{
    struct stat st;
    return ::stat(nativePath.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// What libavformat tells about a file: picture size of the best video stream and
// the length in microseconds (AV_NOPTS_VALUE when none is known).
struct LibavAnswer
{
    int width = 0;
    int height = 0;
    std::int64_t durationUs = AV_NOPTS_VALUE;
};

// How a player turns a stream's pictures by its display matrix: a flip left to
// right when the matrix mirrors (its determinant is negative), then a rotation
// clockwise by whole quarter turns.
struct Turn
{
    int rotation = 0;
    bool mirrored = false;
};

Turn ReadTurn(const AVStream* stream)
{
    Turn turn;
    std::size_t size = 0;
    const std::uint8_t* side = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, &size);
    std::int32_t matrix[9];
    if (!side || size < sizeof matrix)
        return turn;
    std::memcpy(matrix, side, sizeof matrix);
    // Points are row vectors times the matrix, so a flip made first negates
    // its first row: negated back, the rest is the rotation.
    turn.mirrored = double(matrix[0]) * matrix[4] - double(matrix[1]) * matrix[3] < 0;
    if (turn.mirrored) {
        matrix[0] = -matrix[0];
        matrix[1] = -matrix[1];
    }
    // av_display_rotation_get gives degrees counter-clockwise.
    const double degrees = -av_display_rotation_get(matrix);
    if (std::isfinite(degrees))
        turn.rotation = ((int(std::lround(degrees / 90.0)) % 4 + 4) % 4) * 90;
    return turn;
}

void ReadVideoSize(const AVFormatContext* ctx, LibavAnswer& answer)
{
    const int index = av_find_best_stream(const_cast<AVFormatContext*>(ctx), AVMEDIA_TYPE_VIDEO, -1,
                                          -1, nullptr, 0);
    if (index < 0)
        return;
    const AVCodecParameters* par = ctx->streams[index]->codecpar;
    answer.width = par->width > 0 ? par->width : 0;
    answer.height = par->height > 0 ? par->height : 0;
    if (ReadTurn(ctx->streams[index]).rotation % 180 != 0)
        std::swap(answer.width, answer.height);
}

// The container's length, or the longest stream's when the container gives only
// per-stream lengths (AVI does).
void ReadDuration(const AVFormatContext* ctx, LibavAnswer& answer)
{
    if (ctx->duration != AV_NOPTS_VALUE && ctx->duration >= 0) {
        answer.durationUs = ctx->duration;
        return;
    }
    std::int64_t longest = AV_NOPTS_VALUE;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* st = ctx->streams[i];
        if (st->duration == AV_NOPTS_VALUE || st->duration < 0 || st->time_base.den <= 0 ||
            st->time_base.num <= 0)
            continue;
        const std::int64_t us = av_rescale_q(st->duration, st->time_base, AV_TIME_BASE_Q);
        if (us >= 0 && (longest == AV_NOPTS_VALUE || us > longest))
            longest = us;
    }
    answer.durationUs = longest;
}

// Opens a local file with libavformat; null when it is no movie.
// format: the demuxer to use, or null to let libavformat find out.

// The first and the end timestamp of a stream's index, when the index ends
// inside the file: the file then holds every indexed packet.
struct TimeSpan
{
    std::int64_t first = AV_NOPTS_VALUE;
    std::int64_t end = AV_NOPTS_VALUE;

    void Add(std::int64_t ts, std::int64_t duration)
    {
        if (ts == AV_NOPTS_VALUE)
            return;
        first = first == AV_NOPTS_VALUE ? ts : std::min(first, ts);
        // A packet without a duration lasts one tick of its time base.
        end = std::max(end == AV_NOPTS_VALUE ? ts : end, ts + std::max<std::int64_t>(duration, 1));
    }
    bool IsKnown() const { return end != AV_NOPTS_VALUE; }
};

TimeSpan IndexedSpan(AVStream* st, std::int64_t fileSize)
{
    TimeSpan span;
    const int count = avformat_index_get_entries_count(st);
    if (count <= 0)
        return span;
    const AVIndexEntry* last = avformat_index_get_entry(st, count - 1);
    const AVIndexEntry* first = avformat_index_get_entry(st, 0);
    if (!first || !last || last->pos < 0 || last->pos + last->size > fileSize)
        return span;
    span.Add(first->timestamp, 0);
    span.Add(last->timestamp, 0);
    return span;
}

LibavAnswer AskLibav(const QByteArray& nativePath)
{
    LibavAnswer answer;
    AVFormatContext* ctx = OpenLocalMovie(nativePath);
    if (!ctx)
        return answer;

    ReadVideoSize(ctx, answer);
    ReadDuration(ctx, answer);
    if (answer.width == 0 || answer.height == 0 || answer.durationUs == AV_NOPTS_VALUE) {
        ctx->probesize = AnalysisProbeBytes;
        ctx->max_analyze_duration = AnalysisMicroseconds;
        if (avformat_find_stream_info(ctx, nullptr) >= 0) {
            answer = LibavAnswer();
            ReadVideoSize(ctx, answer);
            ReadDuration(ctx, answer);
        }
    }
    avformat_close_input(&ctx);
    return answer;
}

// Reads up to maxBytes from the start of an open file.
std::vector<std::uint8_t> ReadPrefix(QFile& file, qint64 maxBytes)
{
    std::vector<std::uint8_t> bytes(std::size_t(maxBytes > 0 ? maxBytes : 0));
    if (!file.seek(0))
        return {};
    qint64 total = 0;
    while (total < maxBytes) {
        const qint64 n = file.read(reinterpret_cast<char*>(bytes.data()) + total, maxBytes - total);
        if (n <= 0)
            break;
        total += n;
    }
    bytes.resize(std::size_t(total));
    return bytes;
}

// The first bytes of a regular file, up to size; how many were read. Never
// blocks on a pipe: those are not read at all.
std::size_t ReadFileHead(const QString& path, std::uint8_t* head, std::size_t size)
{
    const QByteArray nativePath = QFile::encodeName(path);
    // O_NONBLOCK: opening a pipe must not wait for a writer.
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return 0;
    struct stat st;
    std::size_t got = 0;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        while (got < size) {
            const ssize_t n = ::read(fd, head + got, size - got);
            if (n > 0)
                got += std::size_t(n);
            else if (n == 0 || errno != EINTR)
                break;
        }
    }
    ::close(fd);
    return got;
}

// The GUID of the header object that every ASF (WMV, WMA) file starts with.
constexpr std::uint8_t AsfHeaderGuid[] = {0x30, 0x26, 0xB2, 0x75, 0x8E, 0x66, 0xCF, 0x11,
                                          0xA6, 0xD9, 0x00, 0xAA, 0x00, 0x62, 0xCE, 0x6C};

// Transport stream packets: the sync byte, the packet sizes and how many packets
// in a row make a stream.
constexpr std::uint8_t TransportSyncByte = 0x47;
constexpr std::size_t TransportPacketSizes[] = {188, 192};
constexpr std::size_t TransportPacketsInARow = 4;
constexpr std::size_t TransportHeadBytes = 192 * (TransportPacketsInARow + 1);

// The picture facts of a video stream: frame rate, size, pixel shape, the
// rotation its display matrix asks for and whether it is interlaced.
void ReadPicture(AVFormatContext* ctx, AVStream* stream, MovieTiming& timing)
{
    const AVRational rate = av_guess_frame_rate(ctx, stream, nullptr);
    if (rate.num > 0 && rate.den > 0) {
        timing.dFrameRate = av_q2d(rate);
        timing.nFrameRateNum = rate.num;
        timing.nFrameRateDen = rate.den;
    }
    const AVCodecParameters* par = stream->codecpar;
    timing.nWidth = std::max(par->width, 0);
    timing.nHeight = std::max(par->height, 0);
    const AVRational sar = av_guess_sample_aspect_ratio(ctx, stream, nullptr);
    if (sar.num > 0 && sar.den > 0) {
        const AVRational reduced = av_make_q(sar.num, sar.den);
        timing.nPixelAspectNum = reduced.num;
        timing.nPixelAspectDen = reduced.den;
    }
    const Turn turn = ReadTurn(stream);
    timing.nRotation = turn.rotation;
    timing.bMirrored = turn.mirrored;
    const AVRational average = stream->avg_frame_rate;
    const AVRational finest = stream->r_frame_rate;
    if (average.num > 0 && average.den > 0) {
        timing.nAverageRateNum = average.num;
        timing.nAverageRateDen = average.den;
        if (finest.num > 0 && finest.den > 0) {
            const double ratio = av_q2d(finest) / av_q2d(average);
            timing.bVariableRate =
                std::max(ratio, 1 / ratio) > 1 + MovieTiming::VariableRateTolerance;
        }
    }
    timing.bInterlaced = par->field_order == AV_FIELD_TT || par->field_order == AV_FIELD_BB ||
                         par->field_order == AV_FIELD_TB || par->field_order == AV_FIELD_BT;
}

// The sound track to take: the first default-flagged one that ffmpeg can
// decode, else the first it can decode; -1 for none. As for
// av_find_best_stream, a track without channels or sample rate is none.
int ChooseSound(const AVFormatContext* ctx)
{
    int first = -1;
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        const AVStream* stream = ctx->streams[i];
        const AVCodecParameters* par = stream->codecpar;
        if (par->codec_type != AVMEDIA_TYPE_AUDIO || par->ch_layout.nb_channels <= 0 ||
            par->sample_rate <= 0 || !avcodec_find_decoder(par->codec_id))
            continue;
        if (stream->disposition & AV_DISPOSITION_DEFAULT)
            return int(i);
        if (first < 0)
            first = int(i);
    }
    return first;
}

// The tags of the container and of its streams that tell a place.
void ReadPlaceTags(const AVFormatContext* ctx, MovieTiming& timing)
{
    const auto read = [&timing](const AVDictionary* tags) {
        const AVDictionaryEntry* tag = nullptr;
        while ((tag = av_dict_get(tags, "", tag, AV_DICT_IGNORE_SUFFIX))) {
            const QString key = QString::fromUtf8(tag->key);
            if (key.contains(QLatin1String("location"), Qt::CaseInsensitive) &&
                !timing.arrPlaceTags.contains(key, Qt::CaseInsensitive))
                timing.arrPlaceTags << key;
        }
    };
    read(ctx->metadata);
    for (unsigned i = 0; i < ctx->nb_streams; ++i)
        read(ctx->streams[i]->metadata);
}

} // namespace

// Feeds one packet (null: the end) to the decoder; true once a picture came out.
bool DecodesPicture(AVCodecContext* decoder, const AVPacket* packet, AVFrame* frame)
{
    if (avcodec_send_packet(decoder, packet) < 0 && packet)
        return false;
    return avcodec_receive_frame(decoder, frame) >= 0;
}

AVFormatContext* OpenLocalMovie(const QByteArray& nativePath, const AVInputFormat* format)
{
    const QByteArray url = "file:" + nativePath;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "protocol_whitelist", "file", 0);
    AVFormatContext* ctx = nullptr;
    const int opened = avformat_open_input(&ctx, url.constData(), format, &options);
    av_dict_free(&options);
    return opened < 0 ? nullptr : ctx;
}

std::uint64_t ProbeFileSize(const QString& path)
{
    const QByteArray nativePath = QFile::encodeName(path);
    // O_NONBLOCK: opening a pipe must not wait for a writer.
    const int fd = ::open(nativePath.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return StreamFile::UnknownSize;
    struct stat st;
    const bool ok = ::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= 0;
    ::close(fd);
    return ok ? std::uint64_t(st.st_size) : StreamFile::UnknownSize;
}

bool IsAviFile(const QString& path)
{
    std::uint8_t head[AviSignatureBytes];
    return HasAviSignature(head, ReadFileHead(path, head, sizeof head));
}

bool IsAsfFile(const QString& path)
{
    std::uint8_t head[sizeof AsfHeaderGuid];
    return ReadFileHead(path, head, sizeof head) == sizeof head &&
           std::equal(head, head + sizeof head, AsfHeaderGuid);
}

bool IsTransportStreamFile(const QString& path)
{
    std::uint8_t head[TransportHeadBytes];
    const std::size_t got = ReadFileHead(path, head, sizeof head);
    for (const std::size_t size : TransportPacketSizes) {
        for (std::size_t start = 0; start < size; ++start) {
            std::size_t packets = 0;
            while (packets < TransportPacketsInARow && start + packets * size < got &&
                   head[start + packets * size] == TransportSyncByte)
                ++packets;
            if (packets == TransportPacketsInARow)
                return true;
        }
    }
    return false;
}

bool DurationSecondsFrom100ns(std::int64_t d, int& seconds)
{
    if (d < 0)
        return false;
    const std::int64_t whole = (d / 1000) / 10000;
    if (whole > INT_MAX)
        return false;
    seconds = int(whole);
    return true;
}

void ProbeMovieFile(const QString& path, StreamFile& job)
{
    SilenceLibav();
    const QByteArray nativePath = QFile::encodeName(path);
    // A pipe or a device could block the probe or never end; movies are files.
    if (path.isEmpty() || !IsRegularFile(nativePath))
        return;

    const LibavAnswer answer = AskLibav(nativePath);
    job.nWidth = answer.width;
    job.nHeight = answer.height;
    if (answer.durationUs != AV_NOPTS_VALUE && answer.durationUs <= INT64_MAX / 10) {
        int seconds = 0;
        if (DurationSecondsFrom100ns(answer.durationUs * 10, seconds))
            job.nDuration = seconds;
    }
    if (answer.height == 0)
        ProbeAviFile(path, job);
}

void ProbeAviFile(const QString& path, StreamFile& job)
{
    if (path.isEmpty() || !IsRegularFile(QFile::encodeName(path)))
        return;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Unbuffered))
        return;
    std::vector<std::uint8_t> bytes = ReadPrefix(file, AviPrefixBytes);
    const std::uint64_t headerEnd = AviHeaderEnd(bytes.data(), bytes.size());
    if (headerEnd > bytes.size() && bytes.size() == std::size_t(AviPrefixBytes))
        bytes = ReadPrefix(file, qint64(std::min(headerEnd, AviHeaderCapBytes)));

    AviHeaderInfo info;
    if (!ParseAviHeader(bytes.data(), bytes.size(), info))
        return;
    job.nWidth = info.nWidth;
    job.nHeight = info.nHeight;
    // A length that does not fit the record is as good as none.
    if (info.bHasAudio && info.nAudioEndMs / 1000 <= INT_MAX)
        job.nDuration = int(info.nAudioEndMs / 1000);
}

StreamFile ProbeMovieJob(const QString& path)
{
    StreamFile job;
    job.strFilePath = path;
    job.strFileName = PathFileName(path);
    job.dwFileSize = ProbeFileSize(path);
    job.bHasSubtitle = ProbeSubtitle(path);
    ProbeMovieFile(path, job);
    return job;
}

MovieContent ProbeMovieContent(const QString& path)
{
    SilenceLibav();
    MovieContent content;
    const QByteArray nativePath = QFile::encodeName(path);
    struct stat st;
    if (path.isEmpty() || ::stat(nativePath.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return content;
    // The encoder writes AVI files: their demuxer is named rather than found by
    // asking every demuxer.
    AVFormatContext* ctx =
        OpenLocalMovie(nativePath, IsAviFile(path) ? av_find_input_format("avi") : nullptr);
    if (!ctx)
        return content;
    content.bOpened = true;

    const AVCodec* codec = nullptr;
    int video = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    if (video < 0) {
        // Containers such as MPEG program streams name their streams only after
        // a look at the packets.
        ctx->probesize = AnalysisProbeBytes;
        ctx->max_analyze_duration = AnalysisMicroseconds;
        if (avformat_find_stream_info(ctx, nullptr) >= 0)
            video = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    }
    AVCodecContext* decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (video >= 0 && decoder && packet && frame) {
        content.bHasVideo = true;
        AVStream* stream = ctx->streams[video];
        // Only the video stream is read: the demuxer skips the others' data.
        for (unsigned i = 0; i < ctx->nb_streams; ++i) {
            if (int(i) != video)
                ctx->streams[i]->discard = AVDISCARD_ALL;
        }
        // One picture proves the stream decodes; a decoder that can, makes it small.
        decoder->thread_count = 1;
        decoder->lowres = codec->max_lowres;
        const bool canDecode = avcodec_parameters_to_context(decoder, stream->codecpar) >= 0 &&
                               avcodec_open2(decoder, codec, nullptr) >= 0;
        const TimeSpan indexed = IndexedSpan(stream, std::int64_t(st.st_size));
        TimeSpan read;
        while (!(content.bHasPicture && indexed.IsKnown()) && av_read_frame(ctx, packet) >= 0) {
            if (packet->stream_index == video) {
                read.Add(packet->pts != AV_NOPTS_VALUE ? packet->pts : packet->dts,
                         packet->duration);
                if (canDecode && !content.bHasPicture)
                    content.bHasPicture = DecodesPicture(decoder, packet, frame);
            }
            av_packet_unref(packet);
        }
        if (canDecode && !content.bHasPicture)
            content.bHasPicture = DecodesPicture(decoder, nullptr, frame);
        const TimeSpan& span = indexed.IsKnown() ? indexed : read;
        if (span.IsKnown() && stream->time_base.den > 0)
            content.dSeconds = double(span.end - span.first) * av_q2d(stream->time_base);
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&ctx);
    return content;
}

MovieTiming ProbeMovieTiming(const QString& path)
{
    SilenceLibav();
    MovieTiming timing;
    const QByteArray nativePath = QFile::encodeName(path);
    if (path.isEmpty() || !IsRegularFile(nativePath))
        return timing;
    AVFormatContext* ctx = OpenLocalMovie(nativePath);
    if (!ctx)
        return timing;
    // The container's start time is known only after a look at the packets
    // (MPEG program streams name even their streams only then).
    ctx->probesize = AnalysisProbeBytes;
    ctx->max_analyze_duration = AnalysisMicroseconds;
    if (avformat_find_stream_info(ctx, nullptr) >= 0) {
        if (ctx->start_time != AV_NOPTS_VALUE && ctx->start_time > 0)
            timing.dStartSeconds = double(ctx->start_time) / AV_TIME_BASE;
        if (ctx->duration != AV_NOPTS_VALUE && ctx->duration > 0)
            timing.dSeconds = double(ctx->duration) / AV_TIME_BASE;
        const int video = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
        if (video >= 0) {
            timing.nVideoStream = video;
            ReadPicture(ctx, ctx->streams[video], timing);
        }
        const int audio = ChooseSound(ctx);
        if (audio >= 0) {
            timing.nAudioStream = audio;
            timing.nAudioChannels = ctx->streams[audio]->codecpar->ch_layout.nb_channels;
        }
        ReadPlaceTags(ctx, timing);
        // Last: it may read packets.
        if (video >= 0)
            ReadColour(ctx, video, timing);
    }
    avformat_close_input(&ctx);
    return timing;
}
