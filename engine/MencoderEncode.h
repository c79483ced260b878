#pragma once

#include "engine/Encode.h"
#include "engine/EncodeSetting.h"
#include "engine/FailureReason.h"

// What mencoder prints when it is broken on purpose (the lines are kept in
// tests/engine/data/encoder-lines), in the order they are tried: the first entry
// whose words a line holds names the cause. Its lines for an output it cannot
// open also say "File not found" of the output file, so that entry comes first;
// it says "File not found" also of a movie it may not read.
inline constexpr EncoderCause MencoderCauses[] = {
    {"Cannot open output file", "The output file cannot be written."},
    {"dimensions too large", "The picture size is too large for this encoder."},
    {"must be multiple of 2", "The picture size does not suit this encoder."},
    {"this file format is not recognized", DamagedMovieCause},
    {"Filters have not been configured! Empty file?", DamagedMovieCause},
    {"File not found", "The movie file is gone or cannot be read."},
};

// A job made by mencoder: one run with the argument string of the settings
// record (EncodeSetting::BuildCommandLine), its progress from the "Pos:"
// records on standard output.
class CMencoderEncode final : public CEncode
{
public:
    CMencoderEncode(const EncodeProfile& profile, Setup setup);

    std::optional<QString> Prepare() override;
    QString CommandLine() const override { return m_strCommandLine; }
    bool ReadOutput(std::string_view chunk) override;
    StepEnd StepSucceeded(std::uint64_t) override { return StepEnd::Done; }

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
