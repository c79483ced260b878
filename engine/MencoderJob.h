#pragma once

#include "engine/EncodeSetting.h"
#include "engine/EncoderJob.h"

// A job made by mencoder: one run with the argument string of the settings
// record (EncodeSetting::BuildCommandLine), its progress from the "Pos:"
// records on standard output.
class CMencoderJob final : public CEncoderJob
{
public:
    CMencoderJob(const EncodeProfile& profile, Setup setup);

    std::optional<QString> Prepare() override;
    QString CommandLine() const override { return m_strCommandLine; }
    bool ReadOutput(std::string_view chunk) override;
    StepEnd StepSucceeded(std::uint64_t) override { return StepEnd::Done; }
    std::span<const EncoderCause> Causes() const override;
    std::chrono::milliseconds StopGrace() const override;

    // The percentage of a "Pos:" chunk: the decimal integer between its first
    // "(" and the next "%" (0 when there is no "%"); nothing for any other
    // chunk.
    static std::optional<int> ParseProgressPercent(std::string_view text);

private:
    EncodeSetting m_setting;
    // Lasts as long as the job: the encoder reads the UTF-8 copy while it runs.
    EncoderSubtitle m_subtitle;
    QString m_strCommandLine;
};
