#include "Presets.h"

namespace {

using P = EncodeProfile;

// x264's speed and quality for the H.264 presets, chosen with bench/peers.sh:
// "veryfast" at CRF 19.5 beats the peer transcoder's 720p preset on time, size
// and picture at once, where every speed at CRF 22 draws a worse picture than
// the peer's. Full HD keeps the 2.5 steps of quality over it that its bigger
// screens ask for.
const QString X264Speed = QStringLiteral("veryfast");

// The constant-quality presets' typical video bit rates (nTypicalKbps, the job
// list's size estimate) are measured with bench/sizes.sh on two 1080p movies, a
// calm one and a busy one, as the geometric mean of the two rates: "Phone and
// Tablet" 1361 and 6949 kbit/s, "Full HD" 1368 and 16608, "Small H.265" 508 and
// 5278, "Smallest AV1" 995 and 6226.

std::vector<EncodeProfile> MakeTable()
{
    return {
        {.strName = QString::fromLatin1(Presets::PocketPcNormalName),
         .backend = P::Backend::Mencoder,
         .videoCodec = P::VideoCodec::Mpeg4,
         .nVideoKbps = 150,
         .dFps = 15.0,
         .sizeRule = P::SizeRule::Frame,
         .nWidth = 320,
         .nHeight = 240,
         .strAspect = QStringLiteral("1.77"),
         .audioCodec = P::AudioCodec::Mp3,
         .nAudioKbps = 64,
         .nSampleRate = 44100,
         .container = P::Container::Avi},
        {.strName = QString::fromLatin1(Presets::PhoneAndTabletName),
         .backend = P::Backend::Ffmpeg,
         .videoCodec = P::VideoCodec::H264,
         .dQuality = 19.5,
         .strSpeed = X264Speed,
         .sizeRule = P::SizeRule::FitWithin,
         .nWidth = 1280,
         .nHeight = 720,
         .audioCodec = P::AudioCodec::Aac,
         .nAudioKbps = 128,
         .nSampleRate = 48000,
         .bEvenLoudness = true,
         .container = P::Container::Mp4,
         .strPurpose = QStringLiteral("phones and tablets; plays while it downloads"),
         .nTypicalKbps = 3100},
        {.strName = QStringLiteral("Full HD"),
         .backend = P::Backend::Ffmpeg,
         .videoCodec = P::VideoCodec::H264,
         .dQuality = 17.5,
         .strSpeed = X264Speed,
         .sizeRule = P::SizeRule::FitWithin,
         .nWidth = 1920,
         .nHeight = 1080,
         .audioCodec = P::AudioCodec::Aac,
         .nAudioKbps = 160,
         .nSampleRate = 48000,
         .bEvenLoudness = true,
         .container = P::Container::Mp4,
         .strPurpose = QStringLiteral("televisions and computers"),
         .nTypicalKbps = 4800},
        {.strName = QStringLiteral("Small H.265"),
         .backend = P::Backend::Ffmpeg,
         .videoCodec = P::VideoCodec::H265,
         .dQuality = 26,
         // As fast as "fast" here, and a better picture.
         .strSpeed = QStringLiteral("medium"),
         .sizeRule = P::SizeRule::FitWithin,
         .nWidth = 1920,
         .nHeight = 1080,
         .audioCodec = P::AudioCodec::Aac,
         .nAudioKbps = 128,
         .nSampleRate = 48000,
         .bEvenLoudness = true,
         .container = P::Container::Mp4,
         .strPurpose = QStringLiteral("new phones, televisions and Apple players; half the size"),
         .nTypicalKbps = 1600},
        {.strName = QStringLiteral("Smallest AV1"),
         .backend = P::Backend::Ffmpeg,
         .videoCodec = P::VideoCodec::Av1,
         .dQuality = 35,
         // Half the time of 8 for the same size, and all but the same picture.
         .strSpeed = QStringLiteral("10"),
         .sizeRule = P::SizeRule::FitWithin,
         .nWidth = 1920,
         .nHeight = 1080,
         .audioCodec = P::AudioCodec::Opus,
         .nAudioKbps = 96,
         .nSampleRate = 48000,
         .bEvenLoudness = true,
         .container = P::Container::WebM,
         .strPurpose = QStringLiteral("browsers and new devices; the smallest files"),
         .nTypicalKbps = 2500},
        {.strName = QStringLiteral("Share (25 MB)"),
         .backend = P::Backend::Ffmpeg,
         .videoCodec = P::VideoCodec::H264,
         .strSpeed = X264Speed,
         .sizeRule = P::SizeRule::FitWithin,
         .nWidth = 1280,
         .nHeight = 720,
         .audioCodec = P::AudioCodec::Aac,
         .nAudioKbps = 96,
         .nSampleRate = 48000,
         .bEvenLoudness = true,
         .container = P::Container::Mp4,
         .ullSizeBudget = 25000000,
         .bKeepsPlace = false,
         .strPurpose = QStringLiteral("messengers and mail")},
    };
}

} // namespace

namespace Presets {

const std::vector<EncodeProfile>& All()
{
    static const std::vector<EncodeProfile> table = MakeTable();
    return table;
}

const EncodeProfile& PocketPcNormal()
{
    return All().front();
}

const EncodeProfile* Find(const QString& name)
{
    for (const EncodeProfile& profile : All()) {
        if (profile.strName == name)
            return &profile;
    }
    return nullptr;
}

} // namespace Presets
