#include "StoredSettings.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace StoredSettings {

const QStringList& EncoderEntries()
{
    static const QStringList entries = {QStringLiteral("MPEG-4"), QStringLiteral("MS MPEG4v2"),
                                        QStringLiteral("WMV7"), QStringLiteral("WMV8")};
    return entries;
}

const QStringList& BitRateEntries()
{
    static const QStringList entries = {
        QStringLiteral("100"), QStringLiteral("150"), QStringLiteral("200"), QStringLiteral("250"),
        QStringLiteral("300"), QStringLiteral("400"), QStringLiteral("500")};
    return entries;
}

const QStringList& FrameRateEntries()
{
    static const QStringList entries = {QStringLiteral("15"), QStringLiteral("25"),
                                        QStringLiteral("30")};
    return entries;
}

const QStringList& RatioEntries()
{
    static const QStringList entries = {QStringLiteral("4:3"), QStringLiteral("16:9")};
    return entries;
}

int StoredIndex(const QStringList& entries, const RegDwordValue& value)
{
    const DWORD stored = GetRegDWORD(value);
    return stored < DWORD(entries.size()) ? int(stored) : int(value.defaultValue);
}

QString StoredEntry(const QStringList& entries, const RegDwordValue& value)
{
    return entries.value(StoredIndex(entries, value));
}

int EncoderTemplateFor(int entry)
{
    static const int Templates[] = {0, 2, 3, 4};
    return entry >= 0 && entry < int(std::size(Templates)) ? Templates[entry] : -1;
}

int LeadingInt(const QString& text)
{
    const QByteArray bytes = text.toLatin1();
    const long long value = std::strtoll(bytes.constData(), nullptr, 10);
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

} // namespace StoredSettings

void ApplyStoredSettings(EncodeSetting& setting)
{
    using namespace StoredSettings;
    if (GetRegDWORD(RegValue::Option) == 0) {
        setting.ApplyPreset();
    } else {
        setting.m_nEncoder = EncoderTemplateFor(StoredIndex(EncoderEntries(), RegValue::Encoder));
        setting.m_nVidBitrate = LeadingInt(StoredEntry(BitRateEntries(), RegValue::Bit));
        setting.m_dVidFps = StoredEntry(FrameRateEntries(), RegValue::Fps).toDouble();
        setting.m_nVidW = LeadingInt(GetRegString(RegValue::Width));
        setting.m_nVidH = LeadingInt(GetRegString(RegValue::Height));
        setting.m_strAspect =
            GetRegDWORD(RegValue::Ratio) == 0 ? QStringLiteral("1.33") : QStringLiteral("1.77");
    }
    setting.m_bUseSub = GetRegDWORD(RegValue::UseSub) != 0;
}
