#include "engine/CommandLine.h"
#include "tests/engine/QStringPrinter.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace {

QStringList List(std::initializer_list<const char*> items)
{
    QStringList list;
    for (const char* item : items)
        list.append(QString::fromUtf8(item));
    return list;
}

QString Quoted(const QString& value)
{
    return QLatin1Char('"') + EscapeQuotedValue(value) + QLatin1Char('"');
}

} // namespace

TEST(SplitCommandLine, SplitsLikeTheProcessStarter)
{
    const struct
    {
        const char* line; // nullptr: a null string
        QStringList argv;
    } cases[] = {
        // Spaces and tabs separate outside quotes.
        {" -oac  mp3lame\t-ovc lavc ", List({"-oac", "mp3lame", "-ovc", "lavc"})},
        {"\"/a b/c d.avi\" -o x", List({"/a b/c d.avi", "-o", "x"})},
        // Quotes may open and close inside one argument.
        {"-font \"Gulim:lang=ko\"x y", List({"-font", "Gulim:lang=kox", "y"})},
        {nullptr, {}},
        {"   \t ", {}},
        // Empty quoted arguments are kept.
        {"-sub \"\" -o \"\"", List({"-sub", "", "-o", ""})},
        // Backslashes not before a quote are literal.
        {"a\\\\b c\\", List({"a\\\\b", "c\\"})},
        // 2n backslashes before a quote: n backslashes, the quote toggles.
        {"\"a\\\\\" b", List({"a\\", "b"})},
        // 2n+1 backslashes before a quote: n backslashes and a literal quote.
        {"\"a\\\\\\\" b\"", List({"a\\\" b"})},
        {"x\\\"y", List({"x\"y"})},
        // An unclosed quote runs to the end.
        {"\"a b", List({"a b"})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line ? c.line : "(null)");
        EXPECT_EQ(SplitCommandLine(QString::fromUtf8(c.line)), c.argv);
    }
}

TEST(EscapeQuotedValue, LeavesOrdinaryPathsAlone)
{
    for (const char* path : {"/home/u/Movies/a b.avi", "C:\\Movies\\a.avi", "/x/100%.avi",
                             "/x/%1 %s.avi", "/x/영화 파일.smi", "-o.avi", ""}) {
        const QString value = QString::fromUtf8(path);
        EXPECT_EQ(EscapeQuotedValue(value), value) << path;
    }
}

TEST(EscapeQuotedValue, EscapesQuotesAndTrailingBackslashes)
{
    const std::pair<const char*, const char*> cases[] = {
        {"a\"b", "a\\\"b"},
        {"a\\\"b", "a\\\\\\\"b"},
        {"dir\\", "dir\\\\"},
        {"a\\b\\\\", "a\\b\\\\\\\\"},
    };
    for (const auto& [value, escaped] : cases)
        EXPECT_EQ(EscapeQuotedValue(QString::fromUtf8(value)), QString::fromUtf8(escaped)) << value;
}

TEST(EscapeQuotedValue, HostilePathsSplitBackWhole)
{
    // nullptr stands for a null string.
    for (const char* text :
         {"/tmp/my movies/a b  c.avi", "/tmp/\" -o /etc/passwd \".avi", "/tmp/\"quoted\".avi", "\"",
          "\"\"", "/tmp/100% %s %d %1.avi", "/tmp/back\\slash\\\\es\\", "\\\\\\",
          "/tmp/a\\\"b\\\\\"c.avi", "/tmp/영화 파일/자막.smi", "-endpos 60", "--help",
          "\ttab\tand end ", static_cast<const char*>(nullptr)}) {
        const QString path = QString::fromUtf8(text);
        const QString line = QStringLiteral(" -o ") + Quoted(path) + QStringLiteral(" -sub ") +
                             Quoted(path) + QStringLiteral(" -quiet");
        const QStringList expected = {QStringLiteral("-o"), path, QStringLiteral("-sub"), path,
                                      QStringLiteral("-quiet")};
        EXPECT_EQ(SplitCommandLine(line), expected) << path.toStdString();
    }
}

TEST(MakeProcessCommandLine, PutsTheQuotedProgramFirst)
{
    EXPECT_EQ(MakeProcessCommandLine(QStringLiteral("/opt/clip vane/tools/mencoder"),
                                     QStringLiteral(" \"in.avi\" -o \"out.avi\"")),
              QStringLiteral("\"/opt/clip vane/tools/mencoder\"  \"in.avi\" -o \"out.avi\""));

    const QString program = QStringLiteral("/tmp/we\"ird\\/tools/mencoder");
    EXPECT_EQ(SplitCommandLine(MakeProcessCommandLine(program, QStringLiteral(" -quiet"))),
              QStringList({program, QStringLiteral("-quiet")}));
}
