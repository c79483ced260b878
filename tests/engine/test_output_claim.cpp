// Output claims without encoders: who holds a name, what a published or
// released claim leaves, and which leftovers a later run removes. Two real
// clipvane-batch processes racing for a name are in tests/app/test_batch.cpp.
#include "engine/OutputClaim.h"
#include "tests/engine/QStringPrinter.h"
#include "tests/support/MediaFactory.h"

#include <cstdio>
#include <functional>
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>

namespace {

using Found = COutputClaim::Found;

// The files of a folder, hidden ones too, sorted.
QStringList Files(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

// A name is held by one claim at a time, whatever the others would replace; the
// encoder's file is hidden beside it, and only Publish gives the name its
// movie. A released claim leaves the folder as it was, a finished movie under
// the name included; a published one leaves the movie alone.
TEST(OutputClaimTest, OneClaimHoldsANameAndOnlyItsPublishedMovieTakesIt)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString hangul = QString(83, QChar(0xD55C)) + ".mp4"; // 253 bytes
    const struct
    {
        const char* what;
        QString name;
        const char* before; // the finished file under the name; null: none
        bool replace;
    } rows[] = {
        {"a free name", "clip.mp4", nullptr, false},
        {"an odd name", "it's 100% \"ü\"\n.mp4", nullptr, false},
        {"a 253-byte name", hangul, nullptr, false},
        {"a finished movie kept", "kept.mp4", "an older movie", false},
        {"a finished movie replaced", "old.mp4", "an older movie", true},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        const QString folder = dir.filePath(row.what);
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString path = folder + '/' + row.name;
        if (row.before)
            ASSERT_TRUE(MediaFactory::WriteFile(path, row.before));
        const QStringList before = Files(folder);

        for (const bool publish : {false, true}) {
            COutputClaim::Attempt attempt = COutputClaim::Take(path, row.replace);
            EXPECT_TRUE(attempt.strError.isEmpty()) << attempt.strError.toStdString();
            if (row.before && !row.replace) {
                EXPECT_FALSE(attempt.claim);
                EXPECT_EQ(attempt.held, Found::Movie);
                break;
            }
            ASSERT_TRUE(attempt.claim);
            COutputClaim& claim = *attempt.claim;
            EXPECT_EQ(COutputClaim::Inspect(path), row.before ? Found::Movie : Found::Claim);
            for (const bool replace : {false, true}) {
                const COutputClaim::Attempt other = COutputClaim::Take(path, replace);
                EXPECT_FALSE(other.claim);
                EXPECT_EQ(other.held, row.before && !replace ? Found::Movie : Found::Claim);
            }
            const QString temp = QFileInfo(claim.TempPath()).fileName();
            EXPECT_TRUE(temp.startsWith('.') && temp.endsWith(".part")) << temp.toStdString();
            EXPECT_LE(QFile::encodeName(temp).size(), 255);
            ASSERT_TRUE(MediaFactory::WriteFile(claim.TempPath(), "the new movie"));
            if (row.before)
                EXPECT_EQ(MediaFactory::ReadFile(path), row.before);

            QString error;
            if (publish) {
                ASSERT_TRUE(claim.Publish(&error)) << error.toStdString();
                EXPECT_EQ(Files(folder), QStringList{row.name});
                EXPECT_EQ(MediaFactory::ReadFile(path), "the new movie");
            } else {
                EXPECT_TRUE(claim.Release());
                EXPECT_EQ(Files(folder), before);
            }
            // Done: letting go (the end of the object) removes nothing more.
            EXPECT_FALSE(claim.Release());
            EXPECT_FALSE(claim.Publish(&error));
        }
    }
}

// A name that another process took meanwhile (a movie renamed over it) is not
// published over, and letting the claim go leaves that process's file alone.
TEST(OutputClaimTest, ANameTakenMeanwhileIsNeitherPublishedOverNorRemoved)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    for (const bool replacing : {false, true}) {
        SCOPED_TRACE(replacing ? "replacing a movie" : "a free name");
        const QString path = dir.filePath(replacing ? "old.mp4" : "new.mp4");
        if (replacing)
            ASSERT_TRUE(MediaFactory::WriteFile(path, "an older movie"));
        COutputClaim::Attempt attempt = COutputClaim::Take(path, replacing);
        ASSERT_TRUE(attempt.claim);
        ASSERT_TRUE(MediaFactory::WriteFile(attempt.claim->TempPath(), "mine"));
        ASSERT_TRUE(MediaFactory::WriteFile(dir.filePath("theirs"), "theirs"));
        ASSERT_EQ(std::rename(QFile::encodeName(dir.filePath("theirs")).constData(),
                              QFile::encodeName(path).constData()),
                  0);
        QString error;
        EXPECT_FALSE(attempt.claim->Publish(&error));
        EXPECT_EQ(error, "Another process took the output's name.");
        EXPECT_EQ(MediaFactory::ReadFile(attempt.claim->TempPath()), "mine");
        attempt.claim.reset();
        EXPECT_EQ(MediaFactory::ReadFile(path), "theirs");
    }
}

// A later run removes the claims, and the files they name, of processes of
// this host that have ended: a process id now another process's, a boot since.
// A live process's claim, another host's or another process namespace's (a
// container) stays, and so does every file that is no claim.
TEST(OutputClaimTest, LeftoversOfEndedProcessesOfThisHostAndNothingElseAreRemoved)
{
    const auto replace = [](const char* pattern, const char* with) {
        return [=](QByteArray record) {
            return QString::fromUtf8(record).replace(QRegularExpression(pattern), with).toUtf8();
        };
    };
    const auto laterStart = [](QByteArray record) {
        const QRegularExpressionMatch owner =
            QRegularExpression("owner: (\\d+):(\\d+)").match(QString::fromUtf8(record));
        return record.replace(owner.captured(0).toUtf8(),
                              ("owner: " + owner.captured(1) + ':' +
                               QString::number(owner.captured(2).toLongLong() + 1))
                                  .toUtf8());
    };
    const struct
    {
        const char* what;
        std::function<QByteArray(QByteArray)> edit;
        bool replacing; // the claim beside a finished movie
        bool removed;
    } rows[] = {
        {"a live process", [](QByteArray record) { return record; }, false, false},
        {"an ended process whose id is now another's", laterStart, false, true},
        {"an ended process replacing a movie", laterStart, true, true},
        {"a process before the last boot", replace("boot: [^\n]+", "boot: 0000"), false, true},
        // Another host's own boot and process ids tell nothing here.
        {"another host",
         [=](QByteArray record) {
             return laterStart(replace("host: [^\n]+\nmachine: [^\n]*\nboot: [^\n]+",
                                       "host: elsewhere\nmachine: x\nboot: 0000")(record));
         },
         false, false},
        {"another process namespace",
         [=](QByteArray record) {
             return laterStart(replace("pids: [^\n]+", "pids: pid:[1]")(record));
         },
         false, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        QTemporaryDir dir;
        ASSERT_TRUE(dir.isValid());
        const QString path = dir.filePath("clip.mp4");
        // Files that are no claims: an unnamed hidden file that looks like an
        // encoder's, a note that starts as a record does, and a small movie.
        ASSERT_TRUE(MediaFactory::WriteFile(dir.filePath(".clip.mp4.1.part"), "someone's"));
        ASSERT_TRUE(MediaFactory::WriteFile(dir.filePath("note"), "Clipvane output claim\n"));
        if (row.replacing)
            ASSERT_TRUE(MediaFactory::WriteFile(path, "an older movie"));
        COutputClaim::Attempt attempt = COutputClaim::Take(path, row.replacing);
        ASSERT_TRUE(attempt.claim);
        ASSERT_TRUE(MediaFactory::WriteFile(attempt.claim->TempPath(), "half a movie"));
        const QString record =
            row.replacing ? dir.filePath(".clip.mp4.claim") : attempt.claim->Path();
        QFile file(record);
        const QByteArray text = MediaFactory::ReadFile(record);
        ASSERT_TRUE(text.startsWith("Clipvane output claim\nhost: "));
        // Rewritten in place: the claim is still the file it was.
        ASSERT_TRUE(file.open(QIODevice::ReadWrite | QIODevice::Truncate));
        file.write(row.edit(text));
        file.close();
        const QStringList before = Files(dir.path());

        EXPECT_EQ(COutputClaim::RemoveLeftoversFor({path}), row.removed ? 2 : 0);
        QStringList after = before;
        if (row.removed) {
            after.removeOne(QFileInfo(record).fileName());
            after.removeOne(QFileInfo(attempt.claim->TempPath()).fileName());
        }
        EXPECT_EQ(Files(dir.path()), after);
        if (row.replacing)
            EXPECT_EQ(MediaFactory::ReadFile(path), "an older movie");
    }
}

} // namespace
