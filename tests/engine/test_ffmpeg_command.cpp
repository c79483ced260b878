// The ffmpeg back end's pure pieces: the picture size, the frame rate, the
// progress records and the size budget, against what ffmpeg was measured to do.
#include "engine/FfmpegColour.h"
#include "engine/FfmpegCommand.h"
#include "engine/Presets.h"
#include "tests/engine/QStringPrinter.h"

#include <gtest/gtest.h>

namespace {

using namespace FfmpegCommand;

MovieTiming Source(int width, int height, int sarNum = 1, int sarDen = 1, int rotation = 0,
                   bool mirrored = false)
{
    MovieTiming source;
    source.nWidth = width;
    source.nHeight = height;
    source.nPixelAspectNum = sarNum;
    source.nPixelAspectDen = sarDen;
    source.nRotation = rotation;
    source.bMirrored = mirrored;
    return source;
}

// The box turns with the picture: a portrait picture's long side fits the
// box's long side.
TEST(FfmpegCommandTest, PicturesFitTheBoxInTheirDisplayShapeNeverEnlargedAndEven)
{
    const struct
    {
        const char* what;
        MovieTiming source;
        PictureSize in720, in1080;
    } cases[] = {
        {"full HD", Source(1920, 1080), {1280, 720}, {1920, 1080}},
        {"4:3 VGA is not enlarged", Source(640, 480), {640, 480}, {640, 480}},
        {"16:9 PAL DVD", Source(720, 576, 64, 45), {1024, 576}, {1024, 576}},
        {"4:3 NTSC DVD", Source(720, 480, 8, 9), {640, 480}, {640, 480}},
        {"16:9 NTSC DVD", Source(720, 480, 32, 27), {852, 480}, {852, 480}},
        {"anamorphic HD", Source(1440, 1080, 4, 3), {1280, 720}, {1920, 1080}},
        {"portrait phone", Source(1080, 1920), {720, 1280}, {1080, 1920}},
        {"turned by its display matrix", Source(1920, 1080, 1, 1, 90), {720, 1280}, {1080, 1920}},
        {"turned the other way", Source(1920, 1080, 1, 1, 270), {720, 1280}, {1080, 1920}},
        {"mirrored and turned", Source(1920, 1080, 1, 1, 90, true), {720, 1280}, {1080, 1920}},
        {"upside down", Source(1920, 1080, 1, 1, 180, true), {1280, 720}, {1920, 1080}},
        // The nearest even width keeps the shape best (590 would be 0.2 % off).
        {"coded portrait screen recording", Source(886, 1918), {592, 1280}, {886, 1918}},
        {"portrait 3:4: its width sets the size", Source(1080, 1440), {720, 960}, {1080, 1440}},
        {"odd size goes down", Source(641, 361), {640, 360}, {640, 360}},
        {"unknown size: left to the scale filter", Source(0, 0), {0, 0}, {0, 0}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const PictureSize a = FitWithin(c.source, 1280, 720);
        const PictureSize b = FitWithin(c.source, 1920, 1080);
        EXPECT_EQ(a.width, c.in720.width);
        EXPECT_EQ(a.height, c.in720.height);
        EXPECT_EQ(b.width, c.in1080.width);
        EXPECT_EQ(b.height, c.in1080.height);
    }
    // Share's smaller boxes turn the same way.
    EXPECT_EQ(FitWithin(Source(1920, 1080, 1, 1, 90), 960, 540), (PictureSize{540, 960}));
    EXPECT_EQ(FitWithin(Source(1080, 1920), 640, 360), (PictureSize{360, 640}));
}

TEST(FfmpegCommandTest, TheSourcesRateIsKeptEvenlyUpToTheLimitOfTheCodecsLevel)
{
    const EncodeProfile& phone = *Presets::Find("Phone and Tablet");
    const EncodeProfile& av1 = *Presets::Find("Smallest AV1");
    EncodeProfile fixed = phone;
    fixed.dFps = 15;
    const auto rated = [](int num, int den) {
        MovieTiming source;
        source.nFrameRateNum = num;
        source.nFrameRateDen = den;
        source.dFrameRate = den > 0 ? double(num) / den : 0;
        return source;
    };
    // A variable-rate source: the probe's guessed rate and the average.
    const auto varying = [&](int num, int den, int averageNum, int averageDen) {
        MovieTiming source = rated(num, den);
        source.nAverageRateNum = averageNum;
        source.nAverageRateDen = averageDen;
        source.bVariableRate = true;
        return source;
    };
    const PictureSize hd{1280, 720};
    const PictureSize fullHd{1920, 1080};
    const struct
    {
        const char* what;
        const EncodeProfile& profile;
        MovieTiming source;
        PictureSize output;
        const char* rate;
    } cases[] = {
        {"NTSC kept", phone, rated(30000, 1001), hd, "30000/1001"},
        {"phone's average kept", phone, rated(11880000, 448957), hd, "11880000/448957"},
        {"120 fps: every second picture", phone, rated(120, 1), hd, "120/2"},
        {"100 fps: every second picture", phone, rated(100, 1), hd, "100/2"},
        {"60 fps kept at 720p", phone, rated(60, 1), hd, "60/1"},
        {"59.94 at 1080p H.264 level 4.1: halved", phone, rated(60000, 1001), fullHd, "60000/2002"},
        {"AV1 has no such level: 60 at 1080p", av1, rated(60, 1), fullHd, "60/1"},
        {"variable, average 28.2: 29.97", phone, varying(120, 1, 282, 10), hd, "30000/1001"},
        {"variable, average 26.46: 25", phone, varying(11880000, 448957, 11880000, 448957), hd,
         "25/1"},
        {"variable, average 23.9: film", phone, varying(90000, 1, 239, 10), hd, "24000/1001"},
        {"variable, average 57 at 1080p H.264: 59.94 halved", phone, varying(120, 1, 57, 1), fullHd,
         "60000/2002"},
        {"variable, average 58 in AV1", av1, varying(600, 1, 58, 1), fullHd, "60000/1001"},
        {"a fixed rate", fixed, rated(25, 1), hd, "15"},
        {"a fixed rate also for a variable one", fixed, varying(120, 1, 28, 1), hd, "15"},
        {"unknown rate: the source's timestamps", phone, rated(0, 1), hd, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(OutputFrameRate(c.profile, c.source, c.output), QString::fromLatin1(c.rate));
    }
}

TEST(FfmpegCommandTest, ProgressComesFromWholeRecordsAndEndsOnlyAtTheEnd)
{
    // Chunks cut anywhere, with the records of a 10 s movie.
    ProgressReader reader(10000000);
    EXPECT_FALSE(reader.Feed("frame=1\nout_time_us=N/A\nprogress=con"));
    EXPECT_EQ(reader.Feed("tinue\n"), 0);
    EXPECT_FALSE(reader.Feed("out_time_us=25"));
    EXPECT_EQ(reader.Feed("00000\nspeed=   0x\nprogress=continue\n"), 25);
    // Past the length (ffmpeg ends a little above it) it stays below 100 until
    // the end.
    EXPECT_EQ(reader.Feed("out_time_us=10010667\nprogress=continue\n"), 99);
    EXPECT_EQ(reader.Feed("progress=end\n"), 100);
    // An unknown length gives 0 until the end.
    ProgressReader unknown(0);
    EXPECT_EQ(unknown.Feed("out_time_us=5000000\r\nprogress=continue\r\n"), 0);
    EXPECT_EQ(ExpectedMicroseconds(Source(1, 1), false), 0);
    MovieTiming ninety;
    ninety.dSeconds = 90;
    EXPECT_EQ(ExpectedMicroseconds(ninety, true), 60000000);
    EXPECT_EQ(ExpectedMicroseconds(ninety, false), 90000000);
}

TEST(FfmpegCommandTest, ABudgetGivesARateAndAPictureForTheLengthOrNone)
{
    const EncodeProfile& share = *Presets::Find("Share (25 MB)");
    const struct
    {
        double seconds;
        int width; // 0: refused
    } cases[] = {
        {30, 1280}, {90, 960}, {600, 640}, {3600, 0}, {0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.seconds);
        MovieTiming source;
        source.dSeconds = c.seconds;
        source.dFrameRate = 30;
        const std::optional<Budget> budget = PlanBudget(share, source);
        ASSERT_EQ(budget.has_value(), c.width > 0);
        if (!budget)
            continue;
        EXPECT_EQ(budget->nMaxWidth, c.width);
        EXPECT_GE(budget->nVideoKbps, FloorKbps);
        // Sound and picture together leave the container its room.
        const double bytes = (budget->nVideoKbps + share.nAudioKbps) * 1000.0 / 8 * c.seconds;
        EXPECT_LE(bytes, 0.97 * double(share.ullSizeBudget));
        EXPECT_GE(bytes, 0.9 * double(share.ullSizeBudget));
    }
}

TEST(FfmpegCommandTest, FilterValuesAreEscapedForBothParsers)
{
    // The escaping that worked for this name with the subtitles filter.
    EXPECT_EQ(EscapeFilterValue("/s/we'ird, [x]; 100% \xc3\xa9:a\\b.srt"),
              QString::fromUtf8("/s/we\\\\\\'ird\\, \\[x\\]\\; 100% \xc3\xa9\\\\:a\\\\\\\\b.srt"));
    EXPECT_EQ(EscapeFilterValue("/plain/name.srt"), "/plain/name.srt");
}

// Burnt-in text gets the installed font of its language, and the size and
// outline of a wide picture of the same shorter side (an upright phone movie's
// text is not twice as large); a track's tag is in the form its container
// writes.
TEST(FfmpegCommandTest, SubtitlesGetTheirLanguagesFontAndSizeAndTheirTracksATag)
{
    Request request;
    request.profile = *Presets::Find("Phone and Tablet");
    request.subtitle = Subtitle{"/s/a.srt", true, SubtitleFontFamily(QLocale::Japanese), "jpn"};
    request.source = Source(1920, 1080);
    EXPECT_TRUE(
        VideoFilters(request).endsWith("subtitles=filename=/s/a.srt:charenc=UTF-8:force_style="
                                       "FontName=IPAGothic\\,FontSize=20\\,Outline=2\\,Shadow=1"))
        << VideoFilters(request).toStdString();
    request.source = Source(1080, 1920);
    EXPECT_TRUE(VideoFilters(request).endsWith("FontSize=11.25\\,Outline=1.125\\,Shadow=0.5625"))
        << VideoFilters(request).toStdString();
    EXPECT_EQ(SubtitleGlyphPixels({1280, 720}), 50);
    EXPECT_EQ(SubtitleGlyphPixels({404, 720}), SubtitleGlyphPixels({720, 404}));

    const struct
    {
        QLocale language;
        const char* font;
        const char* mp4;
        const char* webm;
    } cases[] = {
        {QLocale::Korean, "NanumGothic", "kor", "kor"},
        {QLocale::Chinese, "WenQuanYi Micro Hei", "zho", "chi"},
        {QLocale::German, "Liberation Sans", "deu", "ger"},
        {QLocale::c(), "Liberation Sans", "und", "und"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SubtitleFontFamily(c.language), c.font);
        EXPECT_EQ(SubtitleLanguageCode(c.language, EncodeProfile::Container::Mp4), c.mp4);
        EXPECT_EQ(SubtitleLanguageCode(c.language, EncodeProfile::Container::WebM), c.webm);
    }
}

} // namespace

namespace {

// A 4K movie with these colours, Dolby Vision configuration and HDR10
// metadata (a mastering display of masteringPeak cd/m², 0 for none).
MovieTiming Colours(const char* transfer, const char* primaries, int maxCll = 0,
                    double masteringPeak = 0, int dolbyVision = 0, int baseLayer = 0)
{
    MovieTiming source = Source(3840, 2160);
    source.strColorTransfer = QLatin1String(transfer);
    source.strColorPrimaries = QLatin1String(primaries);
    source.nMaxCll = maxCll;
    source.nMaxFall = maxCll > 0 ? 400 : 0;
    if (masteringPeak > 0)
        source.mastering = {{0.68, 0.32},    {0.265, 0.69}, {0.15, 0.06},
                            {0.3127, 0.329}, 0.005,         masteringPeak};
    source.nDolbyVisionProfile = dolbyVision;
    source.nDolbyVisionCompatibility = baseLayer;
    return source;
}

} // namespace

// What the colours are taken for and the peak the tone map compresses.
TEST(FfmpegCommandTest, SourcesAreTakenForTheirColoursAndDolbyVisionForItsBaseLayer)
{
    using C = SourceColour;
    const struct
    {
        const char* what;
        MovieTiming source;
        SourceColour colour;
        double peak; // 100 cd/m²
    } cases[] = {
        {"PQ by its content light", Colours("smpte2084", "bt2020", 4000, 1000), C::Pq, 40},
        {"PQ by its mastering", Colours("smpte2084", "bt2020", 0, 4000), C::Pq, 40},
        {"PQ without metadata", Colours("smpte2084", "", 0, 0), C::Pq, 10},
        {"PQ dim", Colours("smpte2084", "bt2020", 80), C::Pq, 1},
        {"HLG: its display's peak", Colours("arib-std-b67", "bt2020", 4000), C::Hlg, 10},
        {"Dolby Vision 5", Colours("smpte2084", "", 0, 0, 5, 0), C::DolbyVisionOnly, 10},
        {"Dolby Vision 8 without base", Colours("", "", 0, 0, 8, 0), C::DolbyVisionOnly, 10},
        {"Dolby Vision 8.4 untagged", Colours("", "", 0, 0, 8, 4), C::Hlg, 10},
        {"Dolby Vision 8.1 untagged", Colours("", "", 0, 0, 8, 1), C::Pq, 10},
        {"Dolby Vision 7", Colours("smpte2084", "bt2020", 0, 0, 7, 6), C::Pq, 10},
        {"Dolby Vision 8.2", Colours("bt709", "bt709", 0, 0, 8, 2), C::Standard, 10},
        {"BT.2020 SDR", Colours("bt2020-10", "bt2020"), C::WideGamut, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(ColourOf(c.source), c.colour);
        if (c.colour == C::Pq || c.colour == C::Hlg)
            EXPECT_EQ(ToneMapPeak(c.source), c.peak);
    }
}

TEST(FfmpegCommandTest, HdrIsToneMappedForEightBitsAndKeptInTenWithItsMetadataOrRefused)
{
    const char* bt709 = "-pix_fmt yuv420p -color_primaries bt709 -color_trc bt709 -colorspace "
                        "bt709 -color_range tv";
    EncodeProfile userDefine = *Presets::Find("Phone and Tablet");
    userDefine.sizeRule = EncodeProfile::SizeRule::Frame;
    userDefine.strAspect = QStringLiteral("1.77");
    EncodeProfile mpeg4 = *Presets::Find("Phone and Tablet");
    mpeg4.videoCodec = EncodeProfile::VideoCodec::Mpeg4;
    const struct
    {
        const char* what;
        EncodeProfile profile;
        MovieTiming source;
        QStringList expected; // each is in the command line
    } cases[] = {
        {"PQ in H.264",
         *Presets::Find("Phone and Tablet"),
         Colours("smpte2084", "bt2020", 4000),
         {"zscale=w=1280:h=720:f=bicubic:pin=bt2020:min=bt2020nc:rin=tv:tin=smpte2084:t=linear:"
          "npl=100:p=bt709,format=gbrpf32le,tonemap=tonemap=hable:desat=0:peak=40,"
          "zscale=t=bt709:m=bt709:r=tv,format=yuv420p,setsar=1",
          bt709}},
        {"iPhone's Dolby Vision",
         *Presets::Find("Full HD"),
         Colours("", "", 0, 0, 8, 4),
         {"tin=arib-std-b67:", bt709}},
        {"a frame of the old kind: tone mapped once made",
         userDefine,
         Colours("smpte2084", ""),
         {"(oh-ih)/2,zscale=pin=bt2020:min=bt2020nc:", bt709}},
        {"PQ in H.265",
         *Presets::Find("Small H.265"),
         Colours("smpte2084", "bt2020", 1000, 1000),
         {"scale=1920:1080,setsar=1",
          "-x265-params log-level=error:master-display=G(13250,34500)B(7500,3000)R(34000,16000)"
          "WP(15635,16450)L(10000000,50):max-cll=1000,400 -pix_fmt yuv420p10le -color_primaries "
          "bt2020 -color_trc smpte2084 -colorspace bt2020nc -color_range tv"}},
        {"BT.2020 SDR in 8 bits",
         *Presets::Find("Small H.265"),
         Colours("bt2020-10", "bt2020"),
         {"zscale=w=1920:h=1080:f=bicubic:pin=bt2020:min=bt2020nc:rin=tv:tin=bt709:t=bt709:p=bt709:"
          "m=bt709:r=tv,format=yuv420p,setsar=1",
          bt709}},
        {"SDR as it is",
         *Presets::Find("Small H.265"),
         Source(1920, 1080),
         {"scale=1920:1080,setsar=1", "-pix_fmt yuv420p -an"}},
        // Refused before the encoder starts: the reason instead of the line.
        {"Dolby Vision 5",
         *Presets::Find("Phone and Tablet"),
         Colours("smpte2084", "", 0, 0, 5, 0),
         {"This movie's colours can only be shown by a Dolby Vision player."}},
        {"a codec ffmpeg is not set up for",
         mpeg4,
         Source(1920, 1080),
         {"Clipvane does not make MPEG-4(OpenDivx) with ffmpeg."}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Request request;
        request.profile = c.profile;
        request.source = c.source;
        const QString line = Refusal(request).value_or(Arguments(request).join(' '));
        for (const QString& part : c.expected)
            EXPECT_TRUE(line.contains(part)) << line.toStdString() << "\n" << part.toStdString();
    }
}
