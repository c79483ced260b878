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

TEST(SplitCommandLine, SeparatesOnSpacesAndTabsOutsideQuotes)
{
    EXPECT_EQ(SplitCommandLine(QStringLiteral(" -oac  mp3lame\t-ovc lavc ")),
              List({"-oac", "mp3lame", "-ovc", "lavc"}));
    EXPECT_EQ(SplitCommandLine(QStringLiteral("\"/a b/c d.avi\" -o x")),
              List({"/a b/c d.avi", "-o", "x"}));
    // Quotes may open and close inside one argument.
    EXPECT_EQ(SplitCommandLine(QStringLiteral("-font \"Gulim:lang=ko\"x y")),
              List({"-font", "Gulim:lang=kox", "y"}));
    EXPECT_EQ(SplitCommandLine(QString()), QStringList());
    EXPECT_EQ(SplitCommandLine(QStringLiteral("   \t ")), QStringList());
}

TEST(SplitCommandLine, KeepsEmptyQuotedArguments)
{
    EXPECT_EQ(SplitCommandLine(QStringLiteral("-sub \"\" -o \"\"")), List({"-sub", "", "-o", ""}));
}

TEST(SplitCommandLine, AppliesTheBackslashRules)
{
    // Backslashes not before a quote are literal.
    EXPECT_EQ(SplitCommandLine(QStringLiteral("a\\\\b c\\")), List({"a\\\\b", "c\\"}));
    // 2n backslashes before a quote: n backslashes, the quote toggles.
    EXPECT_EQ(SplitCommandLine(QStringLiteral("\"a\\\\\" b")), List({"a\\", "b"}));
    // 2n+1 backslashes before a quote: n backslashes and a literal quote.
    EXPECT_EQ(SplitCommandLine(QStringLiteral("\"a\\\\\\\" b\"")), List({"a\\\" b"}));
    EXPECT_EQ(SplitCommandLine(QStringLiteral("x\\\"y")), List({"x\"y"}));
    // An unclosed quote runs to the end.
    EXPECT_EQ(SplitCommandLine(QStringLiteral("\"a b")), List({"a b"}));
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
    EXPECT_EQ(EscapeQuotedValue(QStringLiteral("a\"b")), QStringLiteral("a\\\"b"));
    EXPECT_EQ(EscapeQuotedValue(QStringLiteral("a\\\"b")), QStringLiteral("a\\\\\\\"b"));
    EXPECT_EQ(EscapeQuotedValue(QStringLiteral("dir\\")), QStringLiteral("dir\\\\"));
    EXPECT_EQ(EscapeQuotedValue(QStringLiteral("a\\b\\\\")), QStringLiteral("a\\b\\\\\\\\"));
}

TEST(EscapeQuotedValue, HostilePathsSplitBackWhole)
{
    const QStringList hostile = {
        QStringLiteral("/tmp/my movies/a b  c.avi"),
        QStringLiteral("/tmp/\" -o /etc/passwd \".avi"),
        QStringLiteral("/tmp/\"quoted\".avi"),
        QStringLiteral("\""),
        QStringLiteral("\"\""),
        QStringLiteral("/tmp/100% %s %d %1.avi"),
        QStringLiteral("/tmp/back\\slash\\\\es\\"),
        QStringLiteral("\\\\\\"),
        QStringLiteral("/tmp/a\\\"b\\\\\"c.avi"),
        QStringLiteral("/tmp/영화 파일/자막.smi"),
        QStringLiteral("-endpos 60"),
        QStringLiteral("--help"),
        QStringLiteral("\ttab\tand end "),
        QString(),
    };
    for (const QString& path : hostile) {
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
