#pragma once

#include "engine/EncodeProfile.h"
#include "engine/SubtitleConverter.h"
#include "jobs/StreamFile.h"

#include <memory>

#include <QLocale>
#include <QString>

class QTemporaryFile;

// A movie's subtitle as the encoder is given it (EncodeSetting::PrepareSubtitle).
// Copies share the UTF-8 copy on disk, which is removed when the last of them
// goes: a run keeps its job's subtitle while the job's encoder runs.
struct EncoderSubtitle
{
    // What the encoder reads: the movie's subtitle file, or its UTF-8 copy;
    // empty without a subtitle.
    QString strPath;
    // The movie's subtitle file exists: the subtitle options are added. A copy
    // that failed has been removed, and the encoder then draws no subtitle.
    bool bExists = false;
    // The font pattern for the language of the subtitle's text where the text
    // tells one (Korean, Japanese, Chinese); empty: the setting's font.
    QString strFont;
    // The language of the copy's text where its letters tell one (Korean,
    // Japanese, Chinese, the script of Chinese), else AnyLanguage.
    QLocale::Language language = QLocale::AnyLanguage;
    QLocale::Script script = QLocale::AnyScript;
    // Seconds by which the encoder shifts the cues: the movie's start time, at
    // which its timestamps begin; 0 for none.
    double dDelaySeconds = 0;
    // The UTF-8 copy at strPath, if one was made.
    std::shared_ptr<const QTemporaryFile> pCopy;
};
// The subtitle file at subtitlePath (empty: none) as a renderer is given it: a
// ".smi", ".sub" or ".srt" file is copied (MakeSubtitleCopy) into a file of its
// own in the per-process subtitle folder (SubtitleWorkDir), so that jobs never
// share one, named by the copy's format; any other file is given in place.
// The copy's path is set even when the copy failed, and that file is gone.
EncoderSubtitle PrepareSubtitleCopy(const QString& subtitlePath,
                                    const SubtitleCopyOptions& options);

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
// from its run's profile (ApplyProfile).
class EncodeSetting
{
public:
    EncodeSetting();

    // Sets every preset field to its "Pocket PC Normal" value (Presets.h), the
    // subtitle font included (chosen by the system language).
    void ApplyPreset();

    // Takes what a mencoder profile says: the video encoder template, the
    // video bit rate, frame rate, frame size and aspect, the MP3 bit rate and
    // the sample rate. The fixed configuration stays.
    void ApplyProfile(const EncodeProfile& profile);

    // The record of a mencoder profile, with the subtitle switch.
    static EncodeSetting FromProfile(const EncodeProfile& profile, bool useSubtitle);

    // The video encoder template (m_nEncoder) a codec is made with; -1 for a
    // codec mencoder does not make here.
    static int TemplateIndexFor(EncodeProfile::VideoCodec codec);

    // The crop and scale values for one job; the expand filter pads the scaled
    // picture, centred, to the frame (m_nVidW by m_nVidH).
    struct Geometry
    {
        int scaleW;
        int scaleH;
        int cropW;
        int cropH;
    };
    Geometry PictureGeometry(const StreamFile& job) const;

    // The step before BuildCommandLine for a job with a subtitle file (an empty
    // path for none) beside the movie at moviePath: the subtitle's copy for
    // mencoder (PrepareSubtitleCopy, read in m_nSubCodePage, long Chinese and
    // Japanese lines broken for the frame at the text's size). The movie's
    // timing (ProbeMovieTiming) gives the cue delay and MicroDVD's frame rate.
    EncoderSubtitle PrepareSubtitle(const QString& subtitlePath, const QString& moviePath) const;

    // The argument string for one job: starts with a space, to be put after the
    // quoted encoder path (see MakeProcessCommandLine). Writes nothing; reads the
    // first bytes of the movie (an AVI or ASF file is read through libavformat
    // unless both streams are copied). With the subtitle options come its font
    // and, for a movie whose timestamps start late, " -subdelay <seconds>". The
    // encoder ignores display matrices: a turned movie gets the filters that set
    // it upright before the crop, which is then taken from the job's size as
    // the picture is shown.
    QString BuildCommandLine(const EncoderSubtitle& subtitle, const QString& outputPath,
                             bool sampling, const StreamFile& job,
                             const PictureTurn& turn = {}) const;

    // fontconfig pattern of the subtitle font for a language: "Gulim:lang=ko",
    // "MS Mincho:lang=ja", "SimSun:lang=zh-cn" ("MingLiU:lang=zh-tw" in
    // traditional script) or "Arial".
    static QString FontPatternFor(const QLocale& locale);

    // Written by the constructor only.
    bool m_bVolNorm;
    int m_nSubCodePage;
    bool m_bNormalPriority;

    // Written by ApplyPreset (and some by the options dialog).
    QString m_strPathFont;
    bool m_bUseFps;
    bool m_bUseResize;
    bool m_bUseAspect;
    bool m_bUseSampleRate;
    bool m_bCopyAll;
    bool m_bCopyVideo;
    bool m_bCopyAudio;
    bool m_bUseSub;
    double m_dVidFps;
    int m_nVidW;
    int m_nVidH;
    int m_nVidBitrate;
    QString m_strAspect;
    bool m_bAlwaysCrop;
    bool m_bStretch;
    int m_nEncoder;
    int m_nAudBitrate;
    int m_nAudVol;
    int m_nAudAlgorithm;
    int m_nAudMode;
    int m_nAudVbr;
    int m_nAudSrate;
    int m_nSubPos;
    int m_nSubBlur;
    int m_nSubOutline;
    int m_nSubSize;
    QString m_strExtraOptions;
};
