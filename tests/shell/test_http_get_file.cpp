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
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

namespace {

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
        // The downloads go to 127.0.0.1 directly, never through a proxy the
        // machine may have configured.
        for (const char* name :
             {"http_proxy", "https_proxy", "HTTPS_PROXY", "all_proxy", "ALL_PROXY"})
            m_env.Unset(name);
        ASSERT_TRUE(m_dir.isValid());

        httplib::Server& s = m_server.Server();
        s.Get("/body", [](const httplib::Request&, httplib::Response& res) {
            const QByteArray body = pattern(25000);
            res.set_content(body.toStdString(), "application/octet-stream");
        });
        s.Get("/big", [](const httplib::Request&, httplib::Response& res) {
            res.set_content(pattern(200000).toStdString(), "application/octet-stream");
        });
        s.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("no such page", "text/plain");
        });
        s.Get("/empty", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("", "text/plain");
        });
        s.Get("/chunked", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain",
                                             [](size_t offset, httplib::DataSink& sink) {
                                                 if (offset >= 15000) {
                                                     sink.done();
                                                     return true;
                                                 }
                                                 const std::string piece(5000, 'c');
                                                 sink.write(piece.data(), piece.size());
                                                 return true;
                                             });
        });
        s.Get("/redirect",
              [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/body"); });
        s.Get("/redirect-ftp", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("ftp://127.0.0.1:1/version");
        });
        s.Get("/redirect-file", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("file:///etc/hostname");
        });
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

    std::unique_ptr<HttpGetFileRequest> Request(const QString& path)
    {
        auto request = std::make_unique<HttpGetFileRequest>();
        request->url = m_server.Url(path);
        request->id = HttpGetFileDetail::TakeNextRequestId();
        request->notifyWindow = &m_recorder;
        return request;
    }

    QString FilePath(const QString& name) const { return m_dir.filePath(name); }

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
    const QString path = FilePath(QStringLiteral("body"));
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(fd, 0);
    auto request = Request(QStringLiteral("/body"));
    request->file = fd;
    qint64 bytes = -7, length = -7;
    request->bytesOut = &bytes;
    request->contentLengthOut = &length;
    const int id = request->id;

    EXPECT_EQ(HttpGetFileWorker(std::move(request)), 1);
    m_recorder.Deliver();
    EXPECT_EQ(MediaFactory::ReadFile(path), pattern(25000));
    EXPECT_EQ(bytes, 25000);
    EXPECT_EQ(length, 25000);

    const auto& events = m_recorder.events;
    ASSERT_GE(events.size(), 4u);
    EXPECT_EQ(events.front().type, WM_HTTPGETFILE_START());
    EXPECT_EQ(events.front().param, 25000);
    EXPECT_EQ(events.back().type, WM_HTTPGETFILE_COMPLETE());
    EXPECT_EQ(events.back().param, 1);
    qint64 previous = 0;
    for (size_t i = 1; i + 1 < events.size(); ++i) {
        EXPECT_EQ(events[i].type, WM_HTTPGETFILE_PROGRESS());
        // Pieces of at most 10240 bytes, counted up; the last, empty read
        // repeats the total.
        EXPECT_GE(events[i].param, previous);
        EXPECT_LE(events[i].param - previous, 10240);
        previous = events[i].param;
    }
    EXPECT_EQ(previous, 25000);
    EXPECT_EQ(events[events.size() - 2].param, events[events.size() - 3].param);
    for (const RecordedEvent& e : events)
        EXPECT_EQ(e.id, id);
    EXPECT_EQ(HttpGetFileRunningCount(), 0);
}

TEST_F(HttpGetFileTest, HttpGetFileReplacesTheLocalFileWhateverItsName)
{
    for (const char* name : {"version", "a b 'c' \"d\" 100% é영화.html"}) {
        const QString path = FilePath(QString::fromUtf8(name));
        ASSERT_TRUE(MediaFactory::WriteFile(path, QByteArray(60000, 'x')));
        int id = -5;
        EXPECT_EQ(HttpGetFile(path, &id, m_server.Url(QStringLiteral("/body"))), 1) << name;
        EXPECT_GE(id, 0);
        // Truncated first: nothing of the old, longer contents is left behind.
        EXPECT_EQ(MediaFactory::ReadFile(path), pattern(25000)) << name;
    }
    // Without a path the body is fetched and counted but stored nowhere.
    EXPECT_EQ(HttpGetFile(QString(), nullptr, m_server.Url(QStringLiteral("/body"))), 1);
}

TEST_F(HttpGetFileTest, SendsTheAgentAndAsksForNoCachedCopy)
{
    auto request = Request(QStringLiteral("/headers"));
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
    const QString path = FilePath(QStringLiteral("missing"));
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT, 0600);
    auto request = Request(QStringLiteral("/missing"));
    request->file = fd;
    EXPECT_EQ(HttpGetFileWorker(std::move(request)), 0);
    m_recorder.Deliver();
    EXPECT_TRUE(MediaFactory::ReadFile(path).isEmpty());
    ASSERT_EQ(m_recorder.events.size(), 2u);
    EXPECT_EQ(m_recorder.events[0].type, WM_HTTPGETFILE_START());
    EXPECT_EQ(m_recorder.events[0].param, 12); // "no such page"
    EXPECT_EQ(m_recorder.events[1].type, WM_HTTPGETFILE_COMPLETE());
    EXPECT_EQ(m_recorder.events[1].param, 0);

    EXPECT_EQ(HttpGetFile(path, nullptr, m_server.Url(QStringLiteral("/nowhere"))), 0);
    EXPECT_TRUE(MediaFactory::ReadFile(path).isEmpty());
}

TEST_F(HttpGetFileTest, BodiesWithoutLengthOrWithoutBytesStillComplete)
{
    const QString path = FilePath(QStringLiteral("chunked"));
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT, 0600);
    auto request = Request(QStringLiteral("/chunked"));
    request->file = fd;
    EXPECT_EQ(HttpGetFileWorker(std::move(request)), 1);
    m_recorder.Deliver();
    EXPECT_EQ(MediaFactory::ReadFile(path), QByteArray(15000, 'c'));
    ASSERT_FALSE(m_recorder.events.empty());
    EXPECT_EQ(m_recorder.events.front().type, WM_HTTPGETFILE_START());
    EXPECT_EQ(m_recorder.events.front().param, -1);
    EXPECT_EQ(m_recorder.events.back().param, 1);

    m_recorder.events.clear();
    const QString emptyPath = FilePath(QStringLiteral("empty"));
    ASSERT_TRUE(MediaFactory::WriteFile(emptyPath, "old contents"));
    auto empty = Request(QStringLiteral("/empty"));
    empty->file = ::open(QFile::encodeName(emptyPath).constData(), O_WRONLY | O_TRUNC, 0600);
    qint64 bytes = -1;
    empty->bytesOut = &bytes;
    EXPECT_EQ(HttpGetFileWorker(std::move(empty)), 1);
    m_recorder.Deliver();
    EXPECT_TRUE(MediaFactory::ReadFile(emptyPath).isEmpty());
    EXPECT_EQ(bytes, 0);
    ASSERT_EQ(m_recorder.events.size(), 3u);
    EXPECT_EQ(m_recorder.events[0].type, WM_HTTPGETFILE_START());
    EXPECT_EQ(m_recorder.events[0].param, 0);
    EXPECT_EQ(m_recorder.events[1].type, WM_HTTPGETFILE_PROGRESS());
    EXPECT_EQ(m_recorder.events[1].param, 0);
    EXPECT_EQ(m_recorder.events[2].param, 1);
}

TEST_F(HttpGetFileTest, MaxBytesEndsEarlyWithSuccess)
{
    const QString path = FilePath(QStringLiteral("part"));
    auto request = Request(QStringLiteral("/big"));
    request->file = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT, 0600);
    request->maxBytes = 5000;
    qint64 bytes = 0;
    request->bytesOut = &bytes;
    EXPECT_EQ(HttpGetFileWorker(std::move(request)), 1);
    // The read that crosses the limit is kept whole.
    EXPECT_GE(bytes, 5000);
    EXPECT_LT(bytes, 5000 + 10240);
    EXPECT_EQ(MediaFactory::ReadFile(path), pattern(200000).left(bytes));
}

TEST_F(HttpGetFileTest, MemoryModeCollectsTheBodyWithATrailingZero)
{
    QByteArray target("left over from before");
    auto request = Request(QStringLiteral("/body"));
    request->mode = HttpGetFileRequest::MemoryMode;
    request->memoryTarget = &target;
    EXPECT_EQ(HttpGetFileWorker(std::move(request)), 1);
    EXPECT_EQ(target, pattern(25000));
    EXPECT_EQ(target.constData()[target.size()], '\0');

    auto failing = Request(QStringLiteral("/missing"));
    failing->mode = HttpGetFileRequest::MemoryMode;
    failing->memoryTarget = &target;
    EXPECT_EQ(HttpGetFileWorker(std::move(failing)), 0);
    EXPECT_TRUE(target.isNull());

    // Without a target the body is only counted.
    auto counting = Request(QStringLiteral("/body"));
    counting->mode = HttpGetFileRequest::MemoryMode;
    qint64 bytes = 0;
    counting->bytesOut = &bytes;
    EXPECT_EQ(HttpGetFileWorker(std::move(counting)), 1);
    EXPECT_EQ(bytes, 25000);
}

TEST_F(HttpGetFileTest, FollowsRedirectsOverHttpOnly)
{
    QByteArray body;
    auto redirected = Request(QStringLiteral("/redirect"));
    redirected->mode = HttpGetFileRequest::MemoryMode;
    redirected->memoryTarget = &body;
    EXPECT_EQ(HttpGetFileWorker(std::move(redirected)), 1);
    EXPECT_EQ(body, pattern(25000));
    m_recorder.Deliver();
    // Only the final answer starts the download; the redirect's own length is not it.
    ASSERT_EQ(m_recorder.Of(WM_HTTPGETFILE_START()).size(), 1u);
    EXPECT_EQ(m_recorder.Of(WM_HTTPGETFILE_START())[0].param, 25000);
    m_recorder.events.clear();

    const QString path = FilePath(QStringLiteral("redirected"));

    for (const char* target : {"/redirect-ftp", "/redirect-file"}) {
        EXPECT_EQ(HttpGetFile(path, nullptr, m_server.Url(QString::fromLatin1(target))), 0)
            << target;
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
    auto request = Request(QStringLiteral("/body"));
    request->agent = QString(512, QLatin1Char('a'));
    EXPECT_EQ(HttpGetFileWorker(std::move(request)), 0);

    // No file, no request: the id counter does not move.
    HttpGetFileDetail::SetLastRequestId(41);
    int id = -3;
    EXPECT_EQ(HttpGetFile(FilePath(QStringLiteral("no/such/folder/version")), &id,
                          m_server.Url(QStringLiteral("/body"))),
              0);
    EXPECT_EQ(id, -3);
    EXPECT_EQ(HttpGetFileDetail::TakeNextRequestId(), 42);
}

TEST(HttpGetFileIds, WrapToZeroAfterTheLargestId)
{
    HttpGetFileDetail::SetLastRequestId(2147483645);
    int id = -1;
    HttpGetFile(QString(), &id, QStringLiteral("http://127.0.0.1:%1/").arg(DeadEnds::ClosedPort()));
    EXPECT_EQ(id, 2147483646);
    EXPECT_EQ(HttpGetFileDetail::TakeNextRequestId(), 0);
    EXPECT_EQ(HttpGetFileDetail::TakeNextRequestId(), 1);
    HttpGetFileDetail::SetLastRequestId(2147483646);
    EXPECT_EQ(HttpGetFileDetail::TakeNextRequestId(), 0);
}

TEST_F(HttpGetFileTest, CancelForOneIdEndsThatDownloadOnly)
{
    auto other = Request(QStringLiteral("/body"));
    HttpGetFileCancel(other->id + 1000);
    EXPECT_EQ(HttpGetFileWorker(std::move(other)), 1);

    auto request = Request(QStringLiteral("/body"));
    HttpGetFileCancel(request->id);
    EXPECT_EQ(HttpGetFileWorker(std::move(request)), 0);
    m_recorder.Deliver();
    EXPECT_EQ(m_recorder.events.back().type, WM_HTTPGETFILE_COMPLETE());
    EXPECT_EQ(m_recorder.events.back().param, 0);
    // The request was used up by the download it named.
    EXPECT_EQ(HttpGetFileWorker(Request(QStringLiteral("/body"))), 1);
}

TEST_F(HttpGetFileTest, CancelForEveryDownloadEndsRunningOnesButNotLaterOnes)
{
    auto request = Request(QStringLiteral("/stream"));
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
    EXPECT_EQ(m_recorder.events.back().type, WM_HTTPGETFILE_COMPLETE());
    EXPECT_EQ(m_recorder.events.back().id, id);
    EXPECT_EQ(m_recorder.events.back().param, 0);

    EXPECT_EQ(HttpGetFileWorker(Request(QStringLiteral("/body"))), 1);
}

TEST(HttpGetFileLimits, DefaultsAreFiveSecondsToConnectAndTwentyInAll)
{
    const HttpGetFileLimits limits;
    EXPECT_EQ(limits.connectTimeoutMs, 5000);
    EXPECT_EQ(limits.totalTimeoutMs, 20000);
    const HttpGetFileRequest request;
    EXPECT_EQ(request.limits.connectTimeoutMs, 5000);
    EXPECT_EQ(request.limits.totalTimeoutMs, 20000);
    EXPECT_EQ(request.agent, QStringLiteral("HttpGetFile"));
    EXPECT_EQ(request.maxBytes, -1);
    EXPECT_EQ(request.mode, HttpGetFileRequest::FileMode);
}

TEST(HttpGetFileLimits, UnreachableServersAreGivenUpWithinTheLimits)
{
    QElapsedTimer clock;
    clock.start();
    // Refused at once: far below the connect time-out.
    EXPECT_EQ(HttpGetFile(QString(), nullptr,
                          QStringLiteral("http://127.0.0.1:%1/v").arg(DeadEnds::ClosedPort())),
              0);
    EXPECT_LT(clock.elapsed(), 4000);

    // Connected, but no answer ever comes: the total limit ends it.
    DeadEnds::SilentListener silent;
    ASSERT_GT(silent.Port(), 0);
    EXPECT_EQ(HttpGetFile(QString(), nullptr,
                          QStringLiteral("http://127.0.0.1:%1/v").arg(silent.Port()), {5000, 800}),
              0);
    EXPECT_GE(clock.restart(), 700);

    // The connection itself never completes: the connect time-out ends it.
    DeadEnds::FullListener full;
    ASSERT_GT(full.Port(), 0);
    EXPECT_EQ(HttpGetFile(QString(), nullptr,
                          QStringLiteral("http://127.0.0.1:%1/v").arg(full.Port()), {500, 60000}),
              0);
    const qint64 waited = clock.elapsed();
    EXPECT_GE(waited, 400);
    EXPECT_LT(waited, 10000);
}

} // namespace
