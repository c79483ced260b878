#pragma once

#include "jobs/StreamFile.h"

#include <QLocale>
#include <QString>

// How many seconds of each movie a Sampling run encodes.
inline constexpr int SampleSeconds = 60;

// A movie's subtitle as the encoder is given it (EncodeSetting::PrepareSubtitle).
struct EncoderSubtitle
{
    // What the encoder reads: the movie's subtitle file, or for a ".smi" file
    // its UTF-8 copy; empty without a subtitle.
    QString strPath;
    // The movie's subtitle file exists: the subtitle options are added. A copy
    // that failed has been removed, and the encoder then draws no subtitle.
    bool bExists = false;
};

// Every value from which the encoder's command line is made. The program has one
// instance, theEncodeSetting; it starts with the "Pocket PC Normal" preset and only
// the options dialog changes it (on the UI thread).
class EncodeSetting
{
public:
    EncodeSetting();

    // Sets every preset field to its "Pocket PC Normal" value, the subtitle font
    // included (chosen by the system language).
    void ApplyPreset();

    // The step before BuildCommandLine for a job with a subtitle file (an empty
    // path for none): a ".smi" subtitle is copied as UTF-8 into the per-process
    // subtitle folder (TempSubtitlePath of the run's slot), read in m_nSubCodePage.
    EncoderSubtitle PrepareSubtitle(const QString& subtitlePath, int slot = 0) const;

    // The argument string for one job: starts with a space, to be put after the
    // quoted encoder path (see MakeProcessCommandLine). Writes nothing; reads the
    // first bytes of the movie (an AVI file is read through libavformat unless
    // both streams are copied).
    QString BuildCommandLine(const EncoderSubtitle& subtitle, const QString& outputPath,
                             bool sampling, const StreamFile& job) const;

    // fontconfig pattern of the subtitle font for a language: "Gulim:lang=ko",
    // "MS Mincho:lang=ja" or "Arial".
    static QString FontPatternFor(QLocale::Language language);

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

extern EncodeSetting theEncodeSetting;
