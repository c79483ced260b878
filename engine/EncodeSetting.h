#pragma once

#include "engine/EncodeProfile.h"
#include "jobs/StreamFile.h"
#include "subtitles/EncoderSubtitle.h"

#include <QLocale>
#include <QString>

// How a movie's display matrix asks a player to turn its pictures (as
// MovieTiming tells it): flipped left to right when mirrored, then turned
// clockwise by nRotation degrees.
struct PictureTurn
{
    int nRotation = 0;
    bool bMirrored = false;
};

// Every value from which mencoder's command line is made: a new record holds
// the "Pocket PC Normal" preset; the mencoder back end makes one for each job
// from its run's profile (ApplyProfile). The options no setting changes (the
// MP3 encoder's, the subtitle's place and look, the volume normaliser, the
// subtitle languages) are written into the command line itself.
class EncodeSetting
{
public:
    EncodeSetting();

    // Sets every preset field to its "Pocket PC Normal" value (Presets.h), the
    // subtitle font included (chosen by the system language).
    void ApplyPreset();

    // Takes what a mencoder profile says: the video encoder template, the
    // video bit rate, frame rate, frame size and aspect, the MP3 bit rate and
    // the sample rate.
    void ApplyProfile(const EncodeProfile& profile);

    // The record of a mencoder profile, with the subtitle switch.
    static EncodeSetting FromProfile(const EncodeProfile& profile, bool burnSubtitle);

    // The video encoder template (m_nEncoder) a codec is made with; -1 for a
    // codec mencoder does not make here.
    static int TemplateIndexFor(EncodeProfile::VideoCodec codec);

    // The step before BuildCommandLine for a job with a subtitle file (an empty
    // path for none) beside the movie at moviePath: the subtitle's copy for
    // mencoder (PrepareSubtitleCopy, read in codePage as DecodeSubtitle takes
    // it, long Chinese and Japanese lines broken for the frame at the text's
    // size). The movie's timing (ProbeMovieTiming) gives the cue delay and
    // MicroDVD's frame rate.
    EncoderSubtitle PrepareSubtitle(const QString& subtitlePath, const QString& moviePath,
                                    int codePage) const;

    // The argument string for one job: starts with a space, to be put after the
    // quoted encoder path (see MakeProcessCommandLine). Writes nothing; reads the
    // first bytes of the movie (an AVI, ASF or MPEG transport stream file is
    // read through libavformat). With the subtitle options come its font and,
    // for a movie whose timestamps start late, " -subdelay <seconds>". The
    // encoder ignores display matrices: a turned movie gets the filters that set
    // it upright before the crop (FrameGeometry), which is then taken from the
    // job's size as the picture is shown.
    QString BuildCommandLine(const EncoderSubtitle& subtitle, const QString& outputPath,
                             bool sampling, const StreamFile& job,
                             const PictureTurn& turn = {}) const;

    // fontconfig pattern of the subtitle font for a language: "Gulim:lang=ko",
    // "MS Mincho:lang=ja", "SimSun:lang=zh-cn" ("MingLiU:lang=zh-tw" in
    // traditional script) or "Arial".
    static QString FontPatternFor(const QLocale& locale);

    // Written by ApplyPreset, FromProfile and ApplyProfile.
    QString m_strPathFont;
    bool m_bBurnSubtitle;
    double m_dVidFps;
    int m_nVidW;
    int m_nVidH;
    int m_nVidBitrate;
    QString m_strAspect;
    int m_nEncoder;
    int m_nAudBitrate;
    int m_nAudSrate;
};
