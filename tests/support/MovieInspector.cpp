#include "MovieInspector.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include <QFile>
#include <QStringList>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/intreadwrite.h>
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/pixdesc.h>
}

namespace MovieInspector {

namespace {

// A pixel differs when its luma differs by more than this; encoding noise
// between two encodes of the same picture stays well below it.
constexpr int PixelThreshold = 48;
// A row belongs to a band when at least this many of its pixels differ.
constexpr int RowThreshold = 3;

bool Differs(unsigned char a, unsigned char b)
{
    return std::abs(int(a) - int(b)) > PixelThreshold;
}

// The frame's luma plane, each sample cut to its top 8 bits, and its HDR10
// metadata.
void TakeLuma(const AVFrame& frame, Luma& luma)
{
    const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(AVPixelFormat(frame.format));
    luma.bitDepth = format ? format->comp[0].depth : 8;
    luma.width = frame.width;
    luma.height = frame.height;
    for (int y = 0; y < frame.height; ++y) {
        const std::uint8_t* row = frame.data[0] + std::ptrdiff_t(y) * frame.linesize[0];
        for (int x = 0; x < frame.width; ++x)
            luma.pixels.push_back(luma.bitDepth > 8 ? AV_RL16(row + 2 * x) >> (luma.bitDepth - 8)
                                                    : row[x]);
    }
    if (const AVFrameSideData* side =
            av_frame_get_side_data(&frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA))
        luma.masteringPeak =
            av_q2d(reinterpret_cast<const AVMasteringDisplayMetadata*>(side->data)->max_luminance);
    if (const AVFrameSideData* side =
            av_frame_get_side_data(&frame, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL))
        luma.maxCll = int(reinterpret_cast<const AVContentLightMetadata*>(side->data)->MaxCLL);
}

} // namespace

Facts Inspect(const QString& path)
{
    Facts facts;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return facts;
    facts.format = format->iformat->name;
    if (avformat_find_stream_info(format, nullptr) >= 0) {
        facts.opened = true;
        for (unsigned i = 0; i < format->nb_streams; ++i) {
            const AVStream* stream = format->streams[i];
            const AVCodecParameters* par = stream->codecpar;
            if (par->codec_type == AVMEDIA_TYPE_VIDEO && !facts.HasVideo()) {
                facts.videoCodec = par->codec_id;
                facts.videoTag = par->codec_tag;
                facts.width = par->width;
                facts.height = par->height;
                facts.frameRate =
                    stream->avg_frame_rate.num ? stream->avg_frame_rate : stream->r_frame_rate;
                facts.sampleAspect = par->sample_aspect_ratio;
                facts.colorTransfer = av_color_transfer_name(par->color_trc);
                facts.colorPrimaries = av_color_primaries_name(par->color_primaries);
                facts.colorMatrix = av_color_space_name(par->color_space);
                if (const AVPixFmtDescriptor* pixels =
                        av_pix_fmt_desc_get(AVPixelFormat(par->format)))
                    facts.bitDepth = pixels->comp[0].depth;
                if (stream->duration != AV_NOPTS_VALUE && stream->duration > 0)
                    facts.videoSeconds = stream->duration * av_q2d(stream->time_base);
            } else if (par->codec_type == AVMEDIA_TYPE_AUDIO && !facts.HasAudio()) {
                facts.audioCodec = par->codec_id;
                facts.sampleRate = par->sample_rate;
                facts.audioChannels = par->ch_layout.nb_channels;
            } else if (par->codec_type == AVMEDIA_TYPE_SUBTITLE) {
                if (facts.subtitleStreams++ == 0) {
                    if (const AVDictionaryEntry* tag =
                            av_dict_get(stream->metadata, "language", nullptr, 0))
                        facts.subtitleLanguage = tag->value;
                }
            }
        }
    }
    const AVDictionaryEntry* tag = nullptr;
    while ((tag = av_dict_get(format->metadata, "", tag, AV_DICT_IGNORE_SUFFIX)))
        facts.tags.insert(QByteArray(tag->key).toLower(), tag->value);
    avformat_close_input(&format);
    return facts;
}

bool IndexBeforeData(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The top-level boxes: a 32-bit size (1: a 64-bit size follows the type)
    // and a four-letter type.
    qint64 at = 0;
    while (at + 8 <= file.size()) {
        file.seek(at);
        const QByteArray head = file.read(16);
        if (head.size() < 8)
            return false;
        quint64 size = (quint64(quint8(head[0])) << 24) | (quint64(quint8(head[1])) << 16) |
                       (quint64(quint8(head[2])) << 8) | quint64(quint8(head[3]));
        const QByteArray type = head.mid(4, 4);
        if (size == 1 && head.size() == 16) {
            size = 0;
            for (int i = 8; i < 16; ++i)
                size = (size << 8) | quint8(head[i]);
        }
        if (type == "moov")
            return true;
        if (type == "mdat" || size < 8)
            return false;
        at += qint64(size);
    }
    return false;
}

namespace {

// What ffmpeg prints when it runs a sound filter over a movie; the number after
// the last (or the first) mark in it, NaN when there is none.
double AudioFilterReport(const QString& path, const char* filter, const char* mark, bool last)
{
    const QByteArray command = "ffmpeg -nostdin -hide_banner -nostats -i '" +
                               QFile::encodeName(path).replace('\'', "'\\''") + "' -vn -af " +
                               filter + " -f null - 2>&1";
    FILE* pipe = ::popen(command.constData(), "r");
    if (!pipe)
        return std::nan("");
    QByteArray output;
    char buffer[4096];
    while (const size_t n = ::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, qsizetype(n));
    ::pclose(pipe);
    const qsizetype at = last ? output.lastIndexOf(mark) : output.indexOf(mark);
    if (at < 0)
        return std::nan("");
    bool ok = false;
    const double value =
        output.mid(at + qsizetype(std::strlen(mark))).trimmed().split(' ').value(0).toDouble(&ok);
    return ok ? value : std::nan("");
}

} // namespace

double IntegratedLoudness(const QString& path)
{
    // The summary at the end: "Integrated loudness:\n    I:         -16.1 LUFS".
    return AudioFilterReport(path, "ebur128", "I:", true);
}

double SoundStart(const QString& path)
{
    // "[silencedetect @ 0x...] silence_end: 1.00011 | silence_duration: 1.00011"
    return AudioFilterReport(path, "silencedetect=n=-30dB:d=0.1", "silence_end:", false);
}

namespace {

// Decodes a movie's video and hands each picture to take, in order, until take
// returns false or the pictures end.
void DecodePictures(const QString& path, const std::function<bool(const AVFrame&)>& take)
{
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return;
    avformat_find_stream_info(format, nullptr);
    const int streamIndex = av_find_best_stream(format, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    const AVCodec* codec =
        streamIndex >= 0 ? avcodec_find_decoder(format->streams[streamIndex]->codecpar->codec_id)
                         : nullptr;
    AVCodecContext* context = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (context &&
        avcodec_parameters_to_context(context, format->streams[streamIndex]->codecpar) >= 0 &&
        avcodec_open2(context, codec, nullptr) >= 0) {
        bool wanted = true;
        bool draining = false;
        while (wanted) {
            if (!draining) {
                if (av_read_frame(format, packet) < 0) {
                    draining = true;
                    avcodec_send_packet(context, nullptr);
                } else {
                    if (packet->stream_index == streamIndex)
                        avcodec_send_packet(context, packet);
                    av_packet_unref(packet);
                }
            }
            int rc;
            while (wanted && (rc = avcodec_receive_frame(context, frame)) >= 0) {
                wanted = take(*frame);
                av_frame_unref(frame);
            }
            if (draining && rc == AVERROR_EOF)
                break;
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&context);
    avformat_close_input(&format);
}

} // namespace

Luma DecodeLuma(const QString& path, int index)
{
    Luma luma;
    int decoded = 0;
    DecodePictures(path, [&](const AVFrame& frame) {
        if (decoded++ < index)
            return true;
        TakeLuma(frame, luma);
        return false;
    });
    return luma;
}

std::vector<Luma> DecodeAllLuma(const QString& path)
{
    std::vector<Luma> pictures;
    DecodePictures(path, [&](const AVFrame& frame) {
        TakeLuma(frame, pictures.emplace_back());
        return true;
    });
    return pictures;
}

int FrameNumber(const Luma& luma)
{
    if (luma.IsEmpty())
        return -1;
    int number = 0;
    for (int bit = 0; bit < 12; ++bit) {
        if (luma.At(int((bit + 0.5) * luma.width / 12), luma.height / 2) > 128)
            number |= 1 << bit;
    }
    return number;
}

Packets PacketTimes(const QString& path, AVMediaType type)
{
    Packets packets;
    AVFormatContext* format = nullptr;
    if (avformat_open_input(&format, QFile::encodeName(path).constData(), nullptr, nullptr) < 0)
        return packets;
    avformat_find_stream_info(format, nullptr);
    const int stream = av_find_best_stream(format, type, -1, -1, nullptr, 0);
    AVPacket* packet = av_packet_alloc();
    if (stream >= 0 && packet) {
        packets.timeBase = format->streams[stream]->time_base;
        while (av_read_frame(format, packet) >= 0) {
            if (packet->stream_index == stream)
                packets.times.push_back({packet->pts, packet->duration});
            av_packet_unref(packet);
        }
        std::sort(packets.times.begin(), packets.times.end());
    }
    av_packet_free(&packet);
    avformat_close_input(&format);
    return packets;
}

double Packets::EndSeconds() const
{
    if (times.empty())
        return 0;
    return double(times.back().first + times.back().second) * av_q2d(timeBase);
}

Box BrightBox(const Luma& luma)
{
    int left = luma.width, right = -1, top = luma.height, bottom = -1;
    for (int y = 0; y < luma.height; ++y)
        for (int x = 0; x < luma.width; ++x) {
            if (luma.pixels[std::size_t(y) * std::size_t(luma.width) + std::size_t(x)] <= 128)
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    if (right < 0)
        return {};
    return {left, top, right - left + 1, bottom - top + 1};
}

int DifferingPixels(const Luma& a, const Luma& b, int fromRow, int toRow)
{
    if (a.width != b.width || a.height != b.height)
        return -1;
    int count = 0;
    for (int y = std::max(fromRow, 0); y < std::min(toRow, a.height); ++y)
        for (int x = 0; x < a.width; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(a.width) + std::size_t(x);
            count += Differs(a.pixels[i], b.pixels[i]) ? 1 : 0;
        }
    return count;
}

std::vector<RowBand> DifferingBands(const Luma& a, const Luma& b, int gap)
{
    std::vector<RowBand> bands;
    if (a.width != b.width || a.height != b.height)
        return bands;
    for (int y = 0; y < a.height; ++y) {
        if (DifferingPixels(a, b, y, y + 1) < RowThreshold)
            continue;
        if (bands.empty() || y - bands.back().last > gap)
            bands.push_back({y, y, a.width, -1});
        RowBand& band = bands.back();
        band.last = y;
        for (int x = 0; x < a.width; ++x) {
            const std::size_t i = std::size_t(y) * std::size_t(a.width) + std::size_t(x);
            if (Differs(a.pixels[i], b.pixels[i])) {
                band.left = std::min(band.left, x);
                band.right = std::max(band.right, x);
            }
        }
    }
    return bands;
}

QString Describe(const std::vector<RowBand>& bands)
{
    QStringList parts;
    for (const RowBand& band : bands)
        parts << QStringLiteral("[%1-%2 x %3-%4]")
                     .arg(band.first)
                     .arg(band.last)
                     .arg(band.left)
                     .arg(band.right);
    return parts.isEmpty() ? QStringLiteral("none") : parts.join(QLatin1Char(' '));
}

} // namespace MovieInspector
