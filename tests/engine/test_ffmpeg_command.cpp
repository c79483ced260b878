// The ffmpeg back end's pure pieces: the picture size, the frame rate, the
// progress records and the size budget, against what ffmpeg was measured to do.
#include "engine/FfmpegCommand.h"
#include "engine/Presets.h"
#include "tests/engine/QStringPrinter.h"

#include <gtest/gtest.h>

namespace {

using namespace FfmpegCommand;

MovieTiming Source(int width, int height, int sarNum = 1, int sarDen = 1, int rotation = 0)
{
    MovieTiming source;
    source.nWidth = width;
    source.nHeight = height;
    source.nPixelAspectNum = sarNum;
    source.nPixelAspectDen = sarDen;
    source.nRotation = rotation;
    return source;
}

TEST(FfmpegCommandTest, PicturesFitTheBoxInTheirDisplayShapeNeverEnlargedAndEven)
{
    // The sizes ffmpeg's own scale expression gave for these sources.
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
        {"portrait phone", Source(1080, 1920), {404, 720}, {606, 1080}},
        {"turned by its display matrix", Source(1920, 1080, 1, 1, 90), {404, 720}, {606, 1080}},
        {"odd size goes down", Source(641, 361), {640, 360}, {640, 360}},
        {"unknown size: the box", Source(0, 0), {1280, 720}, {1920, 1080}},
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
        {"a fixed rate", fixed, rated(25, 1), hd, "15"},
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
    EXPECT_TRUE(VideoFilters(request).endsWith("FontSize=11.22\\,Outline=1.122\\,Shadow=0.5611"))
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

MovieTiming Hdr(const char* transfer, int maxCll, double masteringPeak)
{
    MovieTiming source = Source(3840, 2160);
    source.strColorTransfer = QLatin1String(transfer);
    source.strColorPrimaries = QStringLiteral("bt2020");
    source.strColorMatrix = QStringLiteral("bt2020nc");
    source.nBitDepth = 10;
    source.nMaxCll = maxCll;
    source.nMaxFall = maxCll > 0 ? 400 : 0;
    if (masteringPeak > 0)
        source.mastering = {{0.68, 0.32},    {0.265, 0.69}, {0.15, 0.06},
                            {0.3127, 0.329}, 0.005,         masteringPeak};
    return source;
}

} // namespace

TEST(FfmpegCommandTest, HdrIsToneMappedForEightBitsAndKeptInTenWithItsMetadata)
{
    const char* toneMap =
        "zscale=w=1280:h=720:f=bicubic:pin=bt2020:min=bt2020nc:rin=tv:tin=%1:t=linear:npl=100,"
        "format=gbrpf32le,zscale=p=bt709,tonemap=tonemap=hable:desat=0:peak=%2,"
        "zscale=t=bt709:m=bt709:r=tv,format=yuv420p,setsar=1";
    const char* bt709 = "-pix_fmt yuv420p -color_primaries bt709 -color_trc bt709 -colorspace "
                        "bt709 -color_range tv";
    MovieTiming iphone; // Dolby Vision 8.4 whose tags are left to its configuration
    iphone.nWidth = 1920;
    iphone.nHeight = 1080;
    iphone.nDolbyVisionProfile = 8;
    iphone.nDolbyVisionCompatibility = 4;
    MovieTiming wide = Source(1920, 1080);
    wide.strColorPrimaries = QStringLiteral("bt2020");
    EncodeProfile userDefine = *Presets::Find("Phone and Tablet");
    userDefine.sizeRule = EncodeProfile::SizeRule::Frame;
    userDefine.strAspect = QStringLiteral("1.77");
    const struct
    {
        const char* what;
        const char* preset;
        MovieTiming source;
        QStringList expected; // each is in the command line
    } cases[] = {
        {"PQ by its content light",
         "Phone and Tablet",
         Hdr("smpte2084", 4000, 1000),
         {QString(toneMap).arg("smpte2084", "40"), bt709}},
        {"PQ by its mastering", "Phone and Tablet", Hdr("smpte2084", 0, 4000), {"peak=40,"}},
        {"PQ without metadata: 1000 cd/m²",
         "Phone and Tablet",
         Hdr("smpte2084", 0, 0),
         {"peak=10,"}},
        {"PQ dim", "Phone and Tablet", Hdr("smpte2084", 80, 0), {"peak=1,"}},
        {"HLG", "Full HD", Hdr("arib-std-b67", 4000, 0), {"tin=arib-std-b67", "peak=10,", bt709}},
        {"iPhone's Dolby Vision",
         "Phone and Tablet",
         iphone,
         {QString(toneMap).arg("arib-std-b67", "10"), bt709}},
        {"PQ in H.265",
         "Small H.265",
         Hdr("smpte2084", 1000, 1000),
         {"scale=1920:1080,setsar=1",
          "-x265-params log-level=error:master-display=G(13250,34500)B(7500,3000)R(34000,16000)"
          "WP(15635,16450)L(10000000,50):max-cll=1000,400 -pix_fmt yuv420p10le -color_primaries "
          "bt2020 -color_trc smpte2084 -colorspace bt2020nc -color_range tv"}},
        {"PQ in AV1",
         "Smallest AV1",
         Hdr("smpte2084", 1000, 1000),
         {"-svtav1-params mastering-display=G(0.2650,0.6900)B(0.1500,0.0600)R(0.6800,0.3200)"
          "WP(0.3127,0.3290)L(1000,0.005):content-light=1000,400 -pix_fmt yuv420p10le"}},
        {"HLG in H.265",
         "Small H.265",
         Hdr("arib-std-b67", 0, 0),
         {"-x265-params log-level=error -pix_fmt yuv420p10le -color_primaries bt2020 -color_trc "
          "arib-std-b67"}},
        {"BT.2020 SDR in 8 bits",
         "Small H.265",
         wide,
         {"zscale=w=1920:h=1080:f=bicubic:pin=bt2020:min=bt2020nc:rin=tv:tin=bt709:t=bt709:p=bt709:"
          "m=bt709:"
          "r=tv,format=yuv420p,setsar=1",
          bt709}},
        {"SDR as it is",
         "Small H.265",
         Source(1920, 1080),
         {"scale=1920:1080,setsar=1", "-pix_fmt yuv420p -an"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Request request;
        request.profile = *Presets::Find(c.preset);
        request.source = c.source;
        const QString line = Arguments(request).join(' ');
        for (const QString& part : c.expected)
            EXPECT_TRUE(line.contains(part)) << line.toStdString() << "\n" << part.toStdString();
    }
    // A frame of the old kind: its small picture is tone mapped after it is made.
    Request request;
    request.profile = userDefine;
    request.source = Hdr("smpte2084", 0, 0);
    EXPECT_TRUE(VideoFilters(request).contains("(oh-ih)/2,zscale=pin=bt2020:"))
        << VideoFilters(request).toStdString();
}

TEST(FfmpegCommandTest, DolbyVisionShowsAsItsBaseLayerOrNotAtAll)
{
    const struct
    {
        int profile, compatibility;
        const char* transfer;
        SourceColour colour;
    } cases[] = {
        {5, 0, "", SourceColour::DolbyVisionOnly},
        {5, 0, "smpte2084", SourceColour::DolbyVisionOnly},
        {8, 0, "", SourceColour::DolbyVisionOnly},
        {8, 4, "", SourceColour::Hlg},
        {8, 1, "", SourceColour::Pq},
        {7, 6, "smpte2084", SourceColour::Pq},
        {8, 2, "", SourceColour::Standard},
        {0, 0, "bt709", SourceColour::Standard},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.profile << '.' << c.compatibility << c.transfer);
        MovieTiming source;
        source.nDolbyVisionProfile = c.profile;
        source.nDolbyVisionCompatibility = c.compatibility;
        source.strColorTransfer = QLatin1String(c.transfer);
        EXPECT_EQ(ColourOf(source), c.colour);
    }
}
