#include "jobs/ColourProbe.h"

#include "jobs/MediaProbe.h"

#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/dovi_meta.h>
#include <libavutil/mastering_display_metadata.h>
#include <libavutil/pixdesc.h>
}

namespace {

// How many video packets are decoded at most for the first picture's HDR
// metadata (a decoder with B-frames holds a few back before the first comes).
constexpr int FirstPicturePackets = 32;

// A colour name of libavutil's, empty for "unknown" and for values it has no
// name for.
QString ColourName(const char* name)
{
    return name && std::strcmp(name, "unknown") != 0 ? QString::fromLatin1(name) : QString();
}

void ReadMastering(const AVMasteringDisplayMetadata& data, MovieTiming& timing)
{
    if (!data.has_primaries && !data.has_luminance)
        return;
    MovieTiming::MasteringDisplay display;
    // libavutil keeps the primaries in the order red, green, blue.
    double* const xy[] = {display.red, display.green, display.blue};
    for (int i = 0; i < 3 && data.has_primaries; ++i) {
        xy[i][0] = av_q2d(data.display_primaries[i][0]);
        xy[i][1] = av_q2d(data.display_primaries[i][1]);
    }
    if (data.has_primaries) {
        display.white[0] = av_q2d(data.white_point[0]);
        display.white[1] = av_q2d(data.white_point[1]);
    }
    if (data.has_luminance) {
        display.dMinLuminance = av_q2d(data.min_luminance);
        display.dMaxLuminance = av_q2d(data.max_luminance);
    }
    timing.mastering = display;
}

void ReadContentLight(const AVContentLightMetadata& data, MovieTiming& timing)
{
    timing.nMaxCll = int(data.MaxCLL);
    timing.nMaxFall = int(data.MaxFALL);
}

// The HDR10 metadata that the first picture carries (HEVC and AV1 keep it in
// the stream rather than in the container): the packets that the stream
// analysis read are read again from the start, and decoded until a picture
// comes out.
void ReadFirstPictureMetadata(AVFormatContext* ctx, int video, MovieTiming& timing)
{
    const AVCodecParameters* par = ctx->streams[video]->codecpar;
    const AVCodec* codec = avcodec_find_decoder(par->codec_id);
    AVCodecContext* decoder = codec ? avcodec_alloc_context3(codec) : nullptr;
    AVPacket* packet = av_packet_alloc();
    AVFrame* frame = av_frame_alloc();
    if (decoder && packet && frame) {
        for (unsigned i = 0; i < ctx->nb_streams; ++i) {
            if (int(i) != video)
                ctx->streams[i]->discard = AVDISCARD_ALL;
        }
        decoder->thread_count = 1;
        bool decoded = false;
        if (avcodec_parameters_to_context(decoder, par) >= 0 &&
            avcodec_open2(decoder, codec, nullptr) >= 0) {
            for (int packets = 0;
                 !decoded && packets < FirstPicturePackets && av_read_frame(ctx, packet) >= 0;) {
                if (packet->stream_index == video) {
                    ++packets;
                    decoded = DecodesPicture(decoder, packet, frame);
                }
                av_packet_unref(packet);
            }
            if (!decoded)
                decoded = DecodesPicture(decoder, nullptr, frame);
        }
        if (decoded) {
            if (const AVFrameSideData* side =
                    av_frame_get_side_data(frame, AV_FRAME_DATA_MASTERING_DISPLAY_METADATA);
                side && !timing.mastering)
                ReadMastering(*reinterpret_cast<const AVMasteringDisplayMetadata*>(side->data),
                              timing);
            if (const AVFrameSideData* side =
                    av_frame_get_side_data(frame, AV_FRAME_DATA_CONTENT_LIGHT_LEVEL);
                side && timing.nMaxCll == 0)
                ReadContentLight(*reinterpret_cast<const AVContentLightMetadata*>(side->data),
                                 timing);
        }
    }
    av_frame_free(&frame);
    av_packet_free(&packet);
    avcodec_free_context(&decoder);
}

} // namespace

void ReadColour(AVFormatContext* ctx, int video, MovieTiming& timing)
{
    const AVStream* stream = ctx->streams[video];
    const AVCodecParameters* par = stream->codecpar;
    if (par->color_trc != AVCOL_TRC_UNSPECIFIED)
        timing.strColorTransfer = ColourName(av_color_transfer_name(par->color_trc));
    if (par->color_primaries != AVCOL_PRI_UNSPECIFIED)
        timing.strColorPrimaries = ColourName(av_color_primaries_name(par->color_primaries));
    if (par->color_space != AVCOL_SPC_UNSPECIFIED)
        timing.strColorMatrix = ColourName(av_color_space_name(par->color_space));
    if (par->color_range != AVCOL_RANGE_UNSPECIFIED)
        timing.strColorRange = ColourName(av_color_range_name(par->color_range));
    if (const AVPixFmtDescriptor* format = av_pix_fmt_desc_get(AVPixelFormat(par->format)))
        timing.nBitDepth = format->comp[0].depth;
    else if (par->bits_per_raw_sample > 0)
        timing.nBitDepth = par->bits_per_raw_sample;

    if (const auto* data =
            av_stream_get_side_data(stream, AV_PKT_DATA_MASTERING_DISPLAY_METADATA, nullptr))
        ReadMastering(*reinterpret_cast<const AVMasteringDisplayMetadata*>(data), timing);
    if (const auto* data =
            av_stream_get_side_data(stream, AV_PKT_DATA_CONTENT_LIGHT_LEVEL, nullptr))
        ReadContentLight(*reinterpret_cast<const AVContentLightMetadata*>(data), timing);
    if (const auto* data = av_stream_get_side_data(stream, AV_PKT_DATA_DOVI_CONF, nullptr)) {
        const auto* dovi = reinterpret_cast<const AVDOVIDecoderConfigurationRecord*>(data);
        timing.nDolbyVisionProfile = dovi->dv_profile;
        timing.nDolbyVisionCompatibility = dovi->dv_bl_signal_compatibility_id;
    }
    const bool hdr =
        par->color_trc == AVCOL_TRC_SMPTE2084 || par->color_trc == AVCOL_TRC_ARIB_STD_B67;
    if (hdr && (!timing.mastering || timing.nMaxCll == 0))
        ReadFirstPictureMetadata(ctx, video, timing);
}
