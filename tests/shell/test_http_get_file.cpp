#include "shell/HttpGetFile.h"
#include "tests/shell/LocalHttpServer.h"
#include "tests/support/MediaFactory.h"
#include "tests/support/TestEnvironment.h"

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

namespace {

// An event's type and parameter, to compare whole sequences at once.
using Step = std::pair<QEvent::Type, qint64>;

struct RecordedEvent
{
    QEvent::Type type;
    int id;
    qint64 param;
};

// The notify object: keeps every download event delivered to it.
class EventRecorder : public QObject
{
public:
    bool event(QEvent* e) override
    {
        const QEvent::Type type = e->type();
        if (type == WM_HTTPGETFILE_START() || type == WM_HTTPGETFILE_PROGRESS() ||
            type == WM_HTTPGETFILE_COMPLETE()) {
            const auto* download = static_cast<HttpGetFileEvent*>(e);
            events.push_back({type, download->RequestId(), download->Param()});
            return true;
        }
        return QObject::event(e);
    }

    void Deliver() { QCoreApplication::sendPostedEvents(this); }

    std::vector<RecordedEvent> Of(QEvent::Type type) const
    {
        std::vector<RecordedEvent> found;
        for (const RecordedEvent& e : events)
            if (e.type == type)
                found.push_back(e);
        return found;
    }

    std::vector<Step> Steps() const
    {
        std::vector<Step> steps;
        for (const RecordedEvent& e : events)
            steps.emplace_back(e.type, e.param);
        return steps;
    }

    std::vector<RecordedEvent> events;
};

QByteArray pattern(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char(i % 251);
    return bytes;
}

class HttpGetFileTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        BypassProxies(m_env);
        ASSERT_TRUE(m_dir.isValid());

        httplib::Server& s = m_server.Server();
        const auto serve = [&s](const char* path, const std::string& body, int status = 200) {
            s.Get(path, [body, status](const httplib::Request&, httplib::Response& res) {
                res.status = status;
                res.set_content(body, "application/octet-stream");
            });
        };
        serve("/body", pattern(25000).toStdString());
        serve("/big", pattern(200000).toStdString());
        serve("/missing", "no such page", 404);
        serve("/empty", "");
        // 15000 bytes in pieces of 5000, without a length.
        s.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
            const auto provider = [](size_t offset, httplib::DataSink& sink) {
                const std::string piece(5000, 'c');
                if (offset >= 15000)
                    sink.done();
                else
                    sink.write(piece.data(), piece.size());
                return true;
            };
            res.set_chunked_content_provider("text/plain", provider);
        });
        const char* const redirects[][2] = {{"/redirect", "/body"},
                                            {"/redirect-ftp", "ftp://127.0.0.1:1/version"},
                                            {"/redirect-file", "file:///etc/hostname"}};
        for (const auto& [from, to] : redirects)
            s.Get(from,
                  [to](const httplib::Request&, httplib::Response& res) { res.set_redirect(to); });
        s.Get("/headers", [this](const httplib::Request& req, httplib::Response& res) {
            const std::lock_guard<std::mutex> guard(m_lock);
            m_agent = req.get_header_value("User-Agent");
            m_cacheControl = req.get_header_value("Cache-Control");
            m_pragma = req.get_header_value("Pragma");
            m_extra = req.get_header_value("X-Clipvane-Test");
            res.set_content("ok", "text/plain");
        });
        // Sends 1000 bytes every 20 ms until the test ends it.
        s.Get("/stream", [this](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [this](size_t, httplib::DataSink& sink) {
                if (m_bStopStream.load()) {
                    sink.done();
                    return true;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                const std::string piece(1000, 's');
                sink.write(piece.data(), piece.size());
                ++m_nStreamPieces;
                return true;
            });
        });
        ASSERT_TRUE(m_server.Start());
    }

    void TearDown() override
    {
        m_bStopStream = true;
        m_server.Stop();
    }

    QString Url(const char* path) const { return m_server.Url(QString::fromLatin1(path)); }
    QString FilePath(const char* name) const { return m_dir.filePath(QString::fromUtf8(name)); }

    static Step Started(qint64 length) { return {WM_HTTPGETFILE_START(), length}; }
    static Step Progressed(qint64 bytes) { return {WM_HTTPGETFILE_PROGRESS(), bytes}; }
    static Step Completed(qint64 success) { return {WM_HTTPGETFILE_COMPLETE(), success}; }

    std::unique_ptr<HttpGetFileRequest> Request(const char* path)
    {
        auto request = std::make_unique<HttpGetFileRequest>();
        request->url = Url(path);
        request->id = HttpGetFileDetail::TakeNextRequestId();
        request->notifyWindow = &m_recorder;
        return request;
    }

    // A request that stores the body in the file at filePath, opened with flags.
    std::unique_ptr<HttpGetFileRequest> FileRequest(const char* path, const QString& filePath,
                                                    int flags = O_WRONLY | O_CREAT)
    {
        auto request = Request(path);
        request->file = ::open(QFile::encodeName(filePath).constData(), flags, 0600);
        EXPECT_GE(request->file, 0) << filePath.toStdString();
        return request;
    }

    std::unique_ptr<HttpGetFileRequest> MemoryRequest(const char* path, QByteArray* target)
    {
        auto request = Request(path);
        request->mode = HttpGetFileRequest::MemoryMode;
        request->memoryTarget = target;
        return request;
    }

    // Runs the download on this thread and delivers its events.
    int Run(std::unique_ptr<HttpGetFileRequest> request)
    {
        const int result = HttpGetFileWorker(std::move(request));
        m_recorder.Deliver();
        return result;
    }

    ScopedEnv m_env;
    QTemporaryDir m_dir;
    LocalHttpServer m_server;
    EventRecorder m_recorder;
    std::atomic<bool> m_bStopStream{false};
    std::atomic<int> m_nStreamPieces{0};
    std::mutex m_lock;
    std::string m_agent, m_cacheControl, m_pragma, m_extra;
};

TEST_F(HttpGetFileTest, StoresTheBodyAndReportsEveryStepInOrder)
{
    const QString path = FilePath("body");
    auto request = FileRequest("/body", path);
    qint64 bytes = -7, length = -7;
    request->bytesOut = &bytes;
    request->contentLengthOut = &length;
    const int id = request->id;

    EXPECT_EQ(Run(std::move(request)), 1);
    EXPECT_EQ(MediaFactory::ReadFile(path), pattern(25000));
    EXPECT_EQ(bytes, 25000);
    EXPECT_EQ(length, 25000);

    const std::vector<Step> steps = m_recorder.Steps();
    ASSERT_GE(steps.size(), 4u);
    EXPECT_EQ(steps.front(), Started(25000));
    EXPECT_EQ(steps.back(), Completed(1));
    qint64 previous = 0;
    for (size_t i = 1; i + 1 < steps.size(); ++i) {
        EXPECT_EQ(steps[i].first, WM_HTTPGETFILE_PROGRESS());
        // Pieces of at most 10240 bytes, counted up; the last, empty read
        // repeats the total.
        EXPECT_GE(steps[i].second, previous);
        EXPECT_LE(steps[i].second - previous, 10240);
        previous = steps[i].second;
    }
    EXPECT_EQ(previous, 25000);
    EXPECT_EQ(steps[steps.size() - 2].second, steps[steps.size() - 3].second);
    for (const RecordedEvent& e : m_recorder.events)
        EXPECT_EQ(e.id, id);
    EXPECT_EQ(HttpGetFileRunningCount(), 0);
}

TEST_F(HttpGetFileTest, HttpGetFileReplacesTheLocalFileWhateverItsName)
{
    for (const char* name : {"version", "a b 'c' \"d\" 100% é영화.html"}) {
        const QString path = FilePath(name);
        ASSERT_TRUE(MediaFactory::WriteFile(path, QByteArray(60000, 'x')));
        int id = -5;
        EXPECT_EQ(HttpGetFile(path, &id, Url("/body")), 1) << name;
        EXPECT_GE(id, 0);
        // Truncated first: nothing of the old, longer contents is left behind.
        EXPECT_EQ(MediaFactory::ReadFile(path), pattern(25000)) << name;
    }
    // Without a path the body is fetched and counted but stored nowhere.
    EXPECT_EQ(HttpGetFile(QString(), nullptr, Url("/body")), 1);
}

TEST_F(HttpGetFileTest, SendsTheAgentAndAsksForNoCachedCopy)
{
    auto request = Request("/headers");
    request->extraHeaders = QStringLiteral("X-Clipvane-Test: one\r\n");
    EXPECT_EQ(HttpGetFileWorker(std::move(request)), 1);
    const std::lock_guard<std::mutex> guard(m_lock);
    EXPECT_EQ(m_agent, "HttpGetFile");
    EXPECT_EQ(m_cacheControl, "no-cache");
    EXPECT_EQ(m_pragma, "no-cache");
    EXPECT_EQ(m_extra, "one");
}

TEST_F(HttpGetFileTest, FailingStatusLeavesAnEmptyFileAndCompletesWithZero)
{
    const QString path = FilePath("missing");
    EXPECT_EQ(Run(FileRequest("/missing", path)), 0);
    EXPECT_TRUE(MediaFactory::ReadFile(path).isEmpty());
    // 12: the length of "no such page".
    EXPECT_EQ(m_recorder.Steps(), (std::vector<Step>{Started(12), Completed(0)}));

    EXPECT_EQ(HttpGetFile(path, nullptr, Url("/nowhere")), 0);
    EXPECT_TRUE(MediaFactory::ReadFile(path).isEmpty());
}

TEST_F(HttpGetFileTest, BodiesWithoutLengthOrWithoutBytesStillComplete)
{
    const QString path = FilePath("chunked");
    EXPECT_EQ(Run(FileRequest("/chunked", path)), 1);
    EXPECT_EQ(MediaFactory::ReadFile(path), QByteArray(15000, 'c'));
    ASSERT_FALSE(m_recorder.events.empty());
    EXPECT_EQ(m_recorder.Steps().front(), Started(-1));
    EXPECT_EQ(m_recorder.events.back().param, 1);

    m_recorder.events.clear();
    const QString emptyPath = FilePath("empty");
    ASSERT_TRUE(MediaFactory::WriteFile(emptyPath, "old contents"));
    auto empty = FileRequest("/empty", emptyPath, O_WRONLY | O_TRUNC);
    qint64 bytes = -1;
    empty->bytesOut = &bytes;
    EXPECT_EQ(Run(std::move(empty)), 1);
    EXPECT_TRUE(MediaFactory::ReadFile(emptyPath).isEmpty());
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(m_recorder.Steps(), (std::vector<Step>{Started(0), Progressed(0), Completed(1)}));
}

TEST_F(HttpGetFileTest, MaxBytesEndsEarlyWithSuccess)
{
    const QString path = FilePath("part");
    auto request = FileRequest("/big", path);
    request->maxBytes = 5000;
    qint64 bytes = 0;
    request->bytesOut = &bytes;
    EXPECT_EQ(Run(std::move(request)), 1);
    // The read that crosses the limit is kept whole.
    EXPECT_GE(bytes, 5000);
    EXPECT_LT(bytes, 5000 + 10240);
    EXPECT_EQ(MediaFactory::ReadFile(path), pattern(200000).left(bytes));
}

TEST_F(HttpGetFileTest, MemoryModeCollectsTheBodyWithATrailingZero)
{
    QByteArray target("left over from before");
    EXPECT_EQ(Run(MemoryRequest("/body", &target)), 1);
    EXPECT_EQ(target, pattern(25000));
    EXPECT_EQ(target.constData()[target.size()], '\0');

    EXPECT_EQ(Run(MemoryRequest("/missing", &target)), 0);
    EXPECT_TRUE(target.isNull());

    // Without a target the body is only counted.
    auto counting = MemoryRequest("/body", nullptr);
    qint64 bytes = 0;
    counting->bytesOut = &bytes;
    EXPECT_EQ(Run(std::move(counting)), 1);
    EXPECT_EQ(bytes, 25000);
}

TEST_F(HttpGetFileTest, FollowsRedirectsOverHttpOnly)
{
    QByteArray body;
    EXPECT_EQ(Run(MemoryRequest("/redirect", &body)), 1);
    EXPECT_EQ(body, pattern(25000));
    // Only the final answer starts the download; the redirect's own length is not it.
    ASSERT_EQ(m_recorder.Of(WM_HTTPGETFILE_START()).size(), 1u);
    EXPECT_EQ(m_recorder.Of(WM_HTTPGETFILE_START())[0].param, 25000);
    m_recorder.events.clear();

    const QString path = FilePath("redirected");
    for (const char* target : {"/redirect-ftp", "/redirect-file"}) {
        EXPECT_EQ(HttpGetFile(path, nullptr, Url(target)), 0) << target;
        EXPECT_TRUE(MediaFactory::ReadFile(path).isEmpty()) << target;
    }
    for (const char* url : {"file:///etc/hostname", "ftp://127.0.0.1:1/x", "not a url", ""}) {
        auto request = std::make_unique<HttpGetFileRequest>();
        request->url = QString::fromLatin1(url);
        request->notifyWindow = &m_recorder;
        EXPECT_EQ(HttpGetFileWorker(std::move(request)), 0) << url;
    }
    m_recorder.Deliver();
    // A request that never reached a server still completes, without a start.
    EXPECT_EQ(m_recorder.Of(WM_HTTPGETFILE_START()).size(), 0u);
    EXPECT_EQ(m_recorder.Of(WM_HTTPGETFILE_COMPLETE()).size(), 4u);
}

TEST_F(HttpGetFileTest, RefusesAnOverlongAgentAndAnUncreatableFile)
{
    auto request = Request("/body");
    request->agent = QString(512, QLatin1Char('a'));
    EXPECT_EQ(HttpGetFileWorker(std::move(request)), 0);

    // No file, no request: the id counter does not move.
    HttpGetFileDetail::SetLastRequestId(41);
    int id = -3;
    EXPECT_EQ(HttpGetFile(FilePath("no/such/folder/version"), &id, Url("/body")), 0);
    EXPECT_EQ(id, -3);
    EXPECT_EQ(HttpGetFileDetail::TakeNextRequestId(), 42);
}

TEST(HttpGetFileIds, WrapToZeroAfterTheLargestId)
{
    HttpGetFileDetail::SetLastRequestId(2147483645);
    int id = -1;
    HttpGetFile(QString(), &id, LoopbackUrl(DeadEnds::ClosedPort(), QStringLiteral("/")));
    EXPECT_EQ(id, 2147483646);
    EXPECT_EQ(HttpGetFileDetail::TakeNextRequestId(), 0);
    EXPECT_EQ(HttpGetFileDetail::TakeNextRequestId(), 1);
    HttpGetFileDetail::SetLastRequestId(2147483646);
    EXPECT_EQ(HttpGetFileDetail::TakeNextRequestId(), 0);
}

TEST_F(HttpGetFileTest, CancelForOneIdEndsThatDownloadOnly)
{
    auto other = Request("/body");
    HttpGetFileCancel(other->id + 1000);
    EXPECT_EQ(HttpGetFileWorker(std::move(other)), 1);

    auto request = Request("/body");
    HttpGetFileCancel(request->id);
    EXPECT_EQ(Run(std::move(request)), 0);
    EXPECT_EQ(m_recorder.Steps().back(), Completed(0));
    // The request was used up by the download it named.
    EXPECT_EQ(HttpGetFileWorker(Request("/body")), 1);
}

TEST_F(HttpGetFileTest, CancelForEveryDownloadEndsRunningOnesButNotLaterOnes)
{
    auto request = Request("/stream");
    const int id = request->id;
    std::atomic<int> result{-1};
    std::thread worker([&] { result = HttpGetFileWorker(std::move(request)); });

    // The server has sent bytes, so the download is under way. (Its events are
    // delivered only after the join: ThreadSanitizer cannot see the lock inside
    // Qt's event queue.)
    QElapsedTimer clock;
    clock.start();
    while (m_nStreamPieces.load() < 2 && clock.elapsed() < 10000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_GE(m_nStreamPieces.load(), 2);
    EXPECT_EQ(HttpGetFileRunningCount(), 1);
    HttpGetFileCancel(-1);
    worker.join();
    EXPECT_EQ(result.load(), 0);
    EXPECT_EQ(HttpGetFileRunningCount(), 0);
    m_recorder.Deliver();
    EXPECT_FALSE(m_recorder.Of(WM_HTTPGETFILE_PROGRESS()).empty());
    EXPECT_EQ(m_recorder.Steps().back(), Completed(0));
    EXPECT_EQ(m_recorder.events.back().id, id);

    EXPECT_EQ(HttpGetFileWorker(Request("/body")), 1);
}

TEST(HttpGetFileLimits, DefaultsAreFiveSecondsToConnectAndTwentyInAll)
{
    for (const HttpGetFileLimits& limits : {HttpGetFileLimits(), HttpGetFileRequest().limits}) {
        EXPECT_EQ(limits.connectTimeoutMs, 5000);
        EXPECT_EQ(limits.totalTimeoutMs, 20000);
    }
    const HttpGetFileRequest request;
    EXPECT_EQ(request.agent, QStringLiteral("HttpGetFile"));
    EXPECT_EQ(request.maxBytes, -1);
    EXPECT_EQ(request.mode, HttpGetFileRequest::FileMode);
}

TEST(HttpGetFileLimits, UnreachableServersAreGivenUpWithinTheLimits)
{
    const auto fetch = [](int port, const HttpGetFileLimits& limits) {
        return HttpGetFile(QString(), nullptr, LoopbackUrl(port, QStringLiteral("/v")), limits);
    };
    QElapsedTimer clock;
    clock.start();
    // Refused at once: far below the connect time-out.
    EXPECT_EQ(fetch(DeadEnds::ClosedPort(), {}), 0);
    EXPECT_LT(clock.elapsed(), 4000);

    // Connected, but no answer ever comes: the total limit ends it.
    DeadEnds::SilentListener silent;
    ASSERT_GT(silent.Port(), 0);
    EXPECT_EQ(fetch(silent.Port(), {5000, 800}), 0);
    EXPECT_GE(clock.restart(), 700);

    // The connection itself never completes: the connect time-out ends it.
    DeadEnds::FullListener full;
    ASSERT_GT(full.Port(), 0);
    EXPECT_EQ(fetch(full.Port(), {500, 60000}), 0);
    const qint64 waited = clock.elapsed();
    EXPECT_GE(waited, 400);
    EXPECT_LT(waited, 10000);
}

} // namespace
