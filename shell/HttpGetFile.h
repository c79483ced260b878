#pragma once

#include <memory>

#include <QByteArray>
#include <QEvent>
#include <QObject>
#include <QString>

// Fetches one HTTP or HTTPS resource with libcurl and stores its body in a local
// file or in memory. The calling thread runs the whole download; a notify object
// can follow it through three events posted to it:
//
//   "WM_HTTPGETFILE_START"     once the server's answer has arrived; param: the
//                              Content-Length of the body, or -1 without one
//   "WM_HTTPGETFILE_PROGRESS"  after every stored chunk; param: bytes so far
//   "WM_HTTPGETFILE_COMPLETE"  at the very end; param: 1 success, 0 failure
//
// Every event carries the request id. Redirects are followed over HTTP and
// HTTPS only, nothing comes from a cache, and every download is bounded by a
// connect time-out and a total time limit, so an unreachable host cannot hold
// its caller for long.

// The event type registered under a name: the same name gives the same type
// everywhere in the process, the way a registered window message does.
QEvent::Type RegisteredEventType(const char* name);

QEvent::Type WM_HTTPGETFILE_START();
QEvent::Type WM_HTTPGETFILE_PROGRESS();
QEvent::Type WM_HTTPGETFILE_COMPLETE();

// One of the three download events.
class HttpGetFileEvent final : public QEvent
{
public:
    HttpGetFileEvent(QEvent::Type type, int requestId, qint64 param)
        : QEvent(type)
        , m_nRequestId(requestId)
        , m_nParam(param)
    {
    }

    int RequestId() const { return m_nRequestId; }
    qint64 Param() const { return m_nParam; }

private:
    int m_nRequestId;
    qint64 m_nParam;
};

struct HttpGetFileLimits
{
    static constexpr int DefaultConnectTimeoutMs = 5000;
    static constexpr int DefaultTotalTimeoutMs = 20000;

    int connectTimeoutMs = DefaultConnectTimeoutMs;
    int totalTimeoutMs = DefaultTotalTimeoutMs;
};

// One download, filled by HttpGetFile or by a caller of HttpGetFileWorker.
struct HttpGetFileRequest
{
    static constexpr int MemoryMode = 0;
    static constexpr int FileMode = 1;
    static constexpr int MaxAgentLength = 511;

    HttpGetFileRequest() = default;
    ~HttpGetFileRequest();
    HttpGetFileRequest(const HttpGetFileRequest&) = delete;
    HttpGetFileRequest& operator=(const HttpGetFileRequest&) = delete;

    int mode = FileMode;
    QString url;
    // Open descriptor of the local file, or -1: the body is then only counted.
    // The request owns it and closes it.
    int file = -1;
    int id = 0;
    // Receives the three events; must outlive the download.
    QObject* notifyWindow = nullptr;
    QString agent = QStringLiteral("HttpGetFile");
    // Stop with success once this many bytes are in; -1 for no limit.
    qint64 maxBytes = -1;
    // Memory mode: receives the body (QByteArray keeps a zero byte after the
    // data). Emptied when the download fails. Without it the body is counted only.
    QByteArray* memoryTarget = nullptr;
    qint64* bytesOut = nullptr;
    // Windows-style priority of the running thread (-2 lowest ... 2 highest);
    // 0 leaves the thread as it is. Not restored afterwards.
    int priority = 0;
    qint64* contentLengthOut = nullptr;
    // Extra request header lines, separated by "\r\n".
    QString extraHeaders;
    HttpGetFileLimits limits;
};

// Creates (or truncates) localPath, takes a new request id (stored through idOut
// when given) and downloads url into the file on the calling thread. An empty
// localPath downloads without storing. Returns 1 on success, 0 on failure; 0
// without a request when the file cannot be created.
int HttpGetFile(const QString& localPath, int* idOut, const QString& url,
                const HttpGetFileLimits& limits = {});

// Carries out a filled request and frees it. Returns 1 on success, 0 on failure.
int HttpGetFileWorker(std::unique_ptr<HttpGetFileRequest> request);

// Asks a running download to end with result 0: the request with this id, or
// with -1 every download running at the time of the call.
void HttpGetFileCancel(int requestId);

// Number of downloads running at the moment.
int HttpGetFileRunningCount();

namespace HttpGetFileDetail {
// Ids run 1, 2, ... 2147483646 and then continue at 0.
int TakeNextRequestId();
// Makes the next id the one after lastId (tests use this to reach the wrap).
void SetLastRequestId(int lastId);
} // namespace HttpGetFileDetail
