#include "StoredSettings.h"

#include "engine/Presets.h"
#include "shell/Numbers.h"

#include <algorithm>
#include <thread>

namespace {

// The entry a stored index names; an index outside the list names the entry at
// the value's default index.
template <class Choice, std::size_t Count>
const Choice& Chosen(const Choice (&list)[Count], DWORD index, const RegDwordValue& value)
{
    return list[index < Count ? index : value.defaultValue];
}

// Writes a list index, unless it is outside the list.
template <class Choice, std::size_t Count>
void StoreIndex(const Choice (&)[Count], DWORD index, const RegDwordValue& value)
{
    if (index < Count)
        SetRegDWORD(value, index);
}

// The leading integer of a picture size as typed.
int LeadingInt(const QString& text)
{
    return LeadingNumber<int>(text.toLatin1().toStdString());
}

} // namespace

QStringList StoredSettings::ListTexts(List list)
{
    QStringList texts;
    switch (list) {
    case List::Encoder:
        for (const EncoderChoice& choice : Encoders)
            texts << QString::fromLatin1(choice.dialogText);
        break;
    case List::BitRate:
        for (int rate : BitRates)
            texts << QString::number(rate);
        break;
    case List::FrameRate:
        for (int rate : FrameRates)
            texts << QString::number(rate);
        break;
    case List::Ratio:
        for (const RatioChoice& choice : Ratios)
            texts << QString::fromLatin1(choice.text);
        break;
    }
    return texts;
}

StoredSettings StoredSettings::Load()
{
    StoredSettings settings;
    settings.nPreset = static_cast<int>(GetRegDWORD(RegValue::Option));
    settings.nEncoder = GetRegDWORD(RegValue::Encoder);
    settings.nBitRate = GetRegDWORD(RegValue::Bit);
    settings.nFrameRate = GetRegDWORD(RegValue::Fps);
    settings.nRatio = GetRegDWORD(RegValue::Ratio);
    settings.strWidth = GetRegString(RegValue::Width);
    settings.strHeight = GetRegString(RegValue::Height);
    settings.bMixSubtitle = GetRegDWORD(RegValue::UseSub) != 0;
    settings.bShutdown = GetRegDWORD(RegValue::Shutdown) != 0;
    settings.nParallel = GetRegDWORD(RegValue::Parallel);
    settings.strPreset = GetRegString(RegValue::Preset);
    settings.bEvenLoudness = GetRegDWORD(RegValue::Loudness) != 0;
    return settings;
}

void StoredSettings::Store() const
{
    SetRegDWORD(RegValue::Option, nPreset == 0 ? 0 : 1);
    if (nPreset == 0) {
        SetRegString(RegValue::Preset, strPreset);
    } else {
        StoreIndex(Encoders, nEncoder, RegValue::Encoder);
        StoreIndex(BitRates, nBitRate, RegValue::Bit);
        StoreIndex(FrameRates, nFrameRate, RegValue::Fps);
        SetRegString(RegValue::Width, strWidth);
        SetRegString(RegValue::Height, strHeight);
        StoreIndex(Ratios, nRatio, RegValue::Ratio);
    }
    SetRegDWORD(RegValue::UseSub, bMixSubtitle ? 1 : 0);
    SetRegDWORD(RegValue::Shutdown, bShutdown ? 1 : 0);
    SetRegDWORD(RegValue::Parallel, nParallel);
    SetRegDWORD(RegValue::Loudness, bEvenLoudness ? 1 : 0);
}

int StoredSettings::CoreCount()
{
    return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

int StoredSettings::EncodesAtOnce() const
{
    if (nParallel == 0)
        return std::min(CoreCount(), MaxParallel);
    return static_cast<int>(std::min<DWORD>(nParallel, MaxParallel));
}

const StoredSettings::EncoderChoice& StoredSettings::Encoder() const
{
    return Chosen(Encoders, nEncoder, RegValue::Encoder);
}

int StoredSettings::BitRate() const
{
    return Chosen(BitRates, nBitRate, RegValue::Bit);
}

int StoredSettings::FrameRate() const
{
    return Chosen(FrameRates, nFrameRate, RegValue::Fps);
}

const StoredSettings::RatioChoice& StoredSettings::Ratio() const
{
    return Chosen(Ratios, nRatio, RegValue::Ratio);
}

EncodeProfile StoredSettings::Profile() const
{
    EncodeProfile profile;
    if (nPreset == 0) {
        const EncodeProfile* preset = Presets::Find(strPreset);
        profile = preset ? *preset : Presets::PocketPcNormal();
    } else {
        const EncodeProfile::VideoCodec codec = Encoder().codec;
        // The picture, the rate and the sound of the chosen encoder's kind:
        // mencoder's as the handhelds' preset has them, ffmpeg's as the preset
        // of the same codec.
        const EncodeProfile* base = &Presets::PocketPcNormal();
        for (const EncodeProfile& preset : Presets::All()) {
            if (preset.videoCodec == codec && preset.ullSizeBudget == 0) {
                base = &preset;
                break;
            }
        }
        profile = *base;
        profile.strName = QStringLiteral("User Define");
        profile.strPurpose.clear();
        profile.videoCodec = codec;
        profile.nVideoKbps = BitRate();
        profile.dFps = FrameRate();
        profile.sizeRule = EncodeProfile::SizeRule::Frame;
        profile.nWidth = LeadingInt(strWidth);
        profile.nHeight = LeadingInt(strHeight);
        profile.strAspect = QString::fromLatin1(Ratio().aspect);
    }
    profile.bEvenLoudness = profile.bEvenLoudness && bEvenLoudness;
    return profile;
}
