#include "jobs/KeyFrames.h"

#include "jobs/MediaProbe.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <sys/stat.h>

#include <QFile>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

// The probe's cost, measured on a 10-minute 1920x1080 H.264 movie at 25 fps
// with a key frame every second (15,000 pictures, 600 key frames) and AAC
// sound, the file in the page cache, on the 2 shared cores of the development
// machine (load about 2), three runs each:
//   MP4, 1.03 GB, from the index and one packet per key frame: 49, 23, 22 ms;
//   the same movie in MPEG-TS, 1.06 GB, every packet read: 1.26, 0.82, 0.81 s.
// The transport stream costs about what reading its file costs; either is
// small beside the minutes its encode takes.

namespace {

// ffmpeg's -dts_delta_threshold: a larger jump of the clock in a container
// that allows them (MPEG transport and program streams) is evened out while
// ffmpeg reads the whole movie; a piece read from the middle cannot know of it.
constexpr double JumpSeconds = 10;

// What ffmpeg takes away from every timestamp when it reads these streams: the
// container's start, except in containers whose streams may start apart, where
// it is the earliest start of the streams read.
std::int64_t ClockStartUs(const AVFormatContext* ctx, std::initializer_list<int> streams)
{
    if (ctx->start_time == AV_NOPTS_VALUE)
        return 0;
    if (!(ctx->iformat->flags & AVFMT_TS_DISCONT))
        return ctx->start_time;
    std::int64_t start = INT64_MAX;
    for (const int index : streams) {
        if (index < 0 || unsigned(index) >= ctx->nb_streams)
            continue;
        const AVStream* st = ctx->streams[index];
        if (st->start_time != AV_NOPTS_VALUE)
            start = std::min(start, av_rescale_q(st->start_time, st->time_base, AV_TIME_BASE_Q));
    }
    return start == INT64_MAX ? ctx->start_time : start;
}

// Whether the video stream's index in an MP4 or QuickTime file lists every
// picture (a fragmented file lists only what was read so far).
bool IndexIsComplete(const AVFormatContext* ctx, AVStream* st)
{
    const int count = avformat_index_get_entries_count(st);
    return std::strstr(ctx->iformat->name, "mov") && count > 0 && st->nb_frames == count;
}

// The key frames of an indexed file. The index holds decode times; a key
// frame's presentation time is read from its packet, reached with a seek to it.
bool ReadIndexedKeyFrames(AVFormatContext* ctx, int video, AVPacket* packet, KeyFrames& frames)
{
    AVStream* st = ctx->streams[video];
    const int count = avformat_index_get_entries_count(st);
    std::vector<std::int64_t> keyDts;
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(st, i);
        if (entry && (entry->flags & AVINDEX_KEYFRAME))
            keyDts.push_back(entry->timestamp);
    }
    for (const std::int64_t dts : keyDts) {
        if (avformat_seek_file(ctx, video, dts, dts, dts, 0) < 0)
            return false;
        bool found = false;
        while (!found && av_read_frame(ctx, packet) >= 0) {
            if (packet->stream_index == video) {
                if (packet->dts != dts || !(packet->flags & AV_PKT_FLAG_KEY) ||
                    packet->pts == AV_NOPTS_VALUE) {
                    av_packet_unref(packet);
                    return false;
                }
                frames.arrKeyPts.push_back(packet->pts);
                found = true;
            }
            av_packet_unref(packet);
        }
        if (!found)
            return false;
    }
    frames.nFrames = count;
    return true;
}

// The key frames of any file, from every video packet, without decoding.
void ReadAllKeyFrames(AVFormatContext* ctx, int video, AVPacket* packet, KeyFrames& frames)
{
    const AVStream* st = ctx->streams[video];
    const bool jumps = ctx->iformat->flags & AVFMT_TS_DISCONT;
    const std::int64_t jump = std::int64_t(JumpSeconds / av_q2d(st->time_base));
    bool steady = true;
    std::int64_t lastDts = AV_NOPTS_VALUE;
    while (av_read_frame(ctx, packet) >= 0) {
        if (packet->stream_index == video) {
            ++frames.nFrames;
            if (packet->pts == AV_NOPTS_VALUE)
                steady = false;
            if (packet->dts != AV_NOPTS_VALUE) {
                if (lastDts != AV_NOPTS_VALUE &&
                    (packet->dts < lastDts || (jumps && packet->dts - lastDts > jump)))
                    steady = false;
                lastDts = packet->dts;
            }
            if ((packet->flags & AV_PKT_FLAG_KEY) && packet->pts != AV_NOPTS_VALUE)
                frames.arrKeyPts.push_back(packet->pts);
        }
        av_packet_unref(packet);
    }
    std::sort(frames.arrKeyPts.begin(), frames.arrKeyPts.end());
    frames.bSteady = steady;
}

bool IsRegularFile(const QByteArray& nativePath)
{
    struct stat st;
    return ::stat(nativePath.constData(), &st) == 0 && S_ISREG(st.st_mode);
}

// Opens a movie for reading its video stream's packets alone, with
// ffmpeg's own analysis limits: the start times must be those it finds.
AVFormatContext* OpenVideo(const QByteArray& nativePath, int& video, int videoStream)
{
    AVFormatContext* ctx = OpenLocalMovie(nativePath);
    if (!ctx)
        return nullptr;
    video = -1;
    if (avformat_find_stream_info(ctx, nullptr) >= 0)
        video = videoStream >= 0 && unsigned(videoStream) < ctx->nb_streams
                    ? videoStream
                    : av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    if (video < 0 || ctx->streams[video]->codecpar->codec_type != AVMEDIA_TYPE_VIDEO) {
        avformat_close_input(&ctx);
        return nullptr;
    }
    return ctx;
}

void DiscardAllBut(AVFormatContext* ctx, int video)
{
    for (unsigned i = 0; i < ctx->nb_streams; ++i) {
        if (int(i) != video)
            ctx->streams[i]->discard = AVDISCARD_ALL;
    }
}

} // namespace

KeyFrames ProbeKeyFrames(const QString& path, int videoStream, int audioStream)
{
    KeyFrames frames;
    const QByteArray nativePath = QFile::encodeName(path);
    if (path.isEmpty() || !IsRegularFile(nativePath))
        return frames;
    int video = -1;
    AVFormatContext* ctx = OpenVideo(nativePath, video, videoStream);
    AVPacket* packet = av_packet_alloc();
    if (ctx && packet) {
        const AVStream* st = ctx->streams[video];
        const int audio =
            audioStream >= 0 && unsigned(audioStream) < ctx->nb_streams ? audioStream : -1;
        frames.nTimeBaseNum = st->time_base.num;
        frames.nTimeBaseDen = st->time_base.den;
        frames.nStartUs = ctx->start_time == AV_NOPTS_VALUE ? 0 : ctx->start_time;
        frames.nWholeStartUs = ClockStartUs(ctx, {video, audio});
        // A segment's run keeps the source's times (-copyts) and reads the
        // video alone. ffmpeg 5.1 still starts the clock of an MPEG stream that
        // starts at 0 at its video, and its exact cut after a seek then misses
        // the key frame.
        const bool clockMoves = (ctx->iformat->flags & AVFMT_TS_DISCONT) && frames.nStartUs == 0 &&
                                ClockStartUs(ctx, {video}) > 0;
        DiscardAllBut(ctx, video);
        if (IndexIsComplete(ctx, ctx->streams[video]))
            frames.bFromIndex = frames.bSteady = ReadIndexedKeyFrames(ctx, video, packet, frames);
        if (!frames.bFromIndex) {
            // From the start again: the index's seeks have moved the reader.
            frames.arrKeyPts.clear();
            frames.nFrames = 0;
            avformat_close_input(&ctx);
            ctx = OpenVideo(nativePath, video, videoStream);
            if (ctx) {
                DiscardAllBut(ctx, video);
                ReadAllKeyFrames(ctx, video, packet, frames);
            }
        }
        frames.bSteady = frames.bSteady && !clockMoves;
        frames.bRead = ctx != nullptr;
    }
    av_packet_free(&packet);
    avformat_close_input(&ctx);
    return frames;
}

PieceContent ProbePiece(const QString& path)
{
    PieceContent piece;
    const QByteArray nativePath = QFile::encodeName(path);
    struct stat info;
    if (path.isEmpty() || ::stat(nativePath.constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return piece;
    AVFormatContext* ctx = OpenLocalMovie(nativePath);
    if (!ctx)
        return piece;
    const AVCodec* codec = nullptr;
    const int video = av_find_best_stream(ctx, AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
    AVCodecContext* decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (video >= 0 && decoder && packet && frame) {
        piece.bOpened = true;
        AVStream* st = ctx->streams[video];
        const AVCodecParameters* par = st->codecpar;
        piece.nTimeBaseNum = st->time_base.num;
        piece.nTimeBaseDen = st->time_base.den;
        piece.nFirstPts = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
        piece.codecConfig = QByteArray(avcodec_get_name(par->codec_id)) + ' ' +
                            QByteArray::number(par->width) + 'x' + QByteArray::number(par->height) +
                            ' ' +
                            QByteArray(reinterpret_cast<const char*>(par->extradata),
                                       par->extradata ? par->extradata_size : 0)
                                .toHex();
        const int count = avformat_index_get_entries_count(st);
        const AVIndexEntry* last = count > 0 ? avformat_index_get_entry(st, count - 1) : nullptr;
        piece.nFrames = count;
        piece.bIndexed = last && last->pos >= 0 && last->pos + last->size <= info.st_size;
        // One picture proves the stream decodes; a decoder that can, makes it small.
        decoder->thread_count = 1;
        decoder->lowres = codec->max_lowres;
        if (avcodec_parameters_to_context(decoder, par) >= 0 &&
            avcodec_open2(decoder, codec, nullptr) >= 0) {
            DiscardAllBut(ctx, video);
            while (!piece.bDecodes && av_read_frame(ctx, packet) >= 0) {
                if (packet->stream_index == video && avcodec_send_packet(decoder, packet) >= 0)
                    piece.bDecodes = avcodec_receive_frame(decoder, frame) >= 0;
                av_packet_unref(packet);
            }
            if (!piece.bDecodes && avcodec_send_packet(decoder, nullptr) >= 0)
                piece.bDecodes = avcodec_receive_frame(decoder, frame) >= 0;
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
    avformat_close_input(&ctx);
    return piece;
}

std::optional<SoundCopy> ProbeSoundCopy(const QString& path)
{
    const QByteArray nativePath = QFile::encodeName(path);
    if (path.isEmpty() || !IsRegularFile(nativePath))
        return std::nullopt;
    AVFormatContext* ctx = OpenLocalMovie(nativePath);
    if (!ctx)
        return std::nullopt;
    // Matroska tells a stream's start only after a look at its packets.
    std::optional<SoundCopy> copy;
    const int audio = avformat_find_stream_info(ctx, nullptr) >= 0
                          ? av_find_best_stream(ctx, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0)
                          : -1;
    if (audio >= 0) {
        const AVStream* st = ctx->streams[audio];
        const AVCodecParameters* par = st->codecpar;
        const std::int64_t start = ctx->start_time == AV_NOPTS_VALUE ? 0 : ctx->start_time;
        std::int64_t held = 0;
        if (par->initial_padding > 0 && par->sample_rate > 0)
            held = av_rescale_q(
                av_rescale_q(par->initial_padding, AVRational{1, par->sample_rate}, st->time_base),
                st->time_base, AV_TIME_BASE_Q);
        copy = SoundCopy{double(start + held) / AV_TIME_BASE,
                         start == -held ? double(held) / AV_TIME_BASE : 0.0};
    }
    avformat_close_input(&ctx);
    return copy;
}
