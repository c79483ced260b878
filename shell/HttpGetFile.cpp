#include "HttpGetFile.h"

#include "shell/Numbers.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <curl/curl.h>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <sys/resource.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QRegularExpression>
#include <QStringList>
#include <QUrl>

namespace {

// Bodies are stored in pieces of at most this size, each followed by a progress
// event, so that memory use does not grow with the size of a file download.
constexpr size_t ReadChunkBytes = 10240;
constexpr long MaxRedirects = 10;
constexpr int IdModulus = 2147483647;

std::mutex g_runningLock;
int g_nRunning = 0;

std::atomic<int> g_nLastId{0};

// A cancel request for one id: raised until the download with that id sees it.
std::atomic<bool> g_bCancelRaised{false};
std::atomic<int> g_nCancelId{0};
// A cancel request for every download: each download remembers the generation
// it started in and stops when it changes, so only the downloads running at the
// time of the request are affected, not every later one.
std::atomic<unsigned> g_nCancelAllGeneration{0};

void postHttpEvent(QObject* target, QEvent::Type type, int id, qint64 param)
{
    if (target)
        QCoreApplication::postEvent(target, new HttpGetFileEvent(type, id, param));
}

void initCurlOnce()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool startsWithNoCase(const QByteArray& line, const char* prefix)
{
    return line.left(qsizetype(qstrlen(prefix))).compare(prefix, Qt::CaseInsensitive) == 0;
}

bool writeAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= size_t(n);
    }
    return true;
}

// Windows thread priorities (-2 lowest ... 2 highest, -15 idle, 15 time
// critical) as nice values of the calling thread. Raising the priority needs a
// privilege the program usually lacks; a refusal leaves the thread as it is.
void setThreadPriority(int priority)
{
    if (priority == 0)
        return;
    const int nice = std::clamp(-priority * 5, -20, 19);
    ::setpriority(PRIO_PROCESS, ::gettid(), nice);
}

class Transfer
{
public:
    enum class Step
    {
        Continue,
        Done,
        Failed
    };

    Transfer(HttpGetFileRequest& request, CURL* curl)
        : m_request(request)
        , m_curl(curl)
        , m_nCancelGeneration(g_nCancelAllGeneration.load())
    {
    }

    Step Outcome() const { return m_step; }
    bool ResponseSeen() const { return m_bResponseSeen; }
    bool StatusOk() const { return m_bStatusOk; }

    // One header line of any response, redirects and interim answers included.
    bool OnHeaderLine(const QByteArray& line)
    {
        if (line.startsWith("HTTP/")) {
            m_lengthText.clear();
            m_bHaveLength = false;
            m_bHaveLocation = false;
        } else if (startsWithNoCase(line, "content-length:")) {
            m_lengthText = line.mid(15).trimmed();
            m_bHaveLength = true;
        } else if (startsWithNoCase(line, "location:")) {
            m_bHaveLocation = true;
        } else if (line == "\r\n" || line == "\n") {
            const long code = responseCode();
            if (code >= 100 && code < 200)
                return true;
            if (m_bHaveLocation && isFollowedRedirect(code))
                return true;
            OnResponse(code);
            // A status outside 2xx ends the download before the body is read.
            return m_bStatusOk;
        }
        return true;
    }

    // The final answer's headers are in: announce the body length, then judge
    // the status (0 means there was none to judge, which passes).
    void OnResponse(long code)
    {
        if (m_bResponseSeen)
            return;
        m_bResponseSeen = true;
        const qint64 length =
            m_bHaveLength ? LeadingNumber<qint64>(m_lengthText.toStdString()) : -1;
        if (m_request.contentLengthOut)
            *m_request.contentLengthOut = length;
        postHttpEvent(m_request.notifyWindow, WM_HTTPGETFILE_START(), m_request.id, length);
        m_bStatusOk = code == 0 || code / 100 == 2;
    }

    bool OnBody(const char* data, size_t size)
    {
        if (!m_bResponseSeen)
            OnResponse(responseCode());
        if (!m_bStatusOk) {
            m_step = Step::Failed;
            return false;
        }
        while (size > 0) {
            const size_t piece = std::min(size, ReadChunkBytes);
            if (AfterRead(data, piece) != Step::Continue)
                return false;
            data += piece;
            size -= piece;
        }
        return true;
    }

    // Stores one read of n bytes (0 at the end of the data) and decides whether
    // the download goes on.
    Step AfterRead(const char* data, size_t n)
    {
        if (n > 0 && !store(data, n))
            return m_step = Step::Failed;
        m_nTotal += qint64(n);
        if (m_request.bytesOut)
            *m_request.bytesOut = m_nTotal;
        postHttpEvent(m_request.notifyWindow, WM_HTTPGETFILE_PROGRESS(), m_request.id, m_nTotal);
        if (cancelRequested())
            return m_step = Step::Failed;
        if ((m_request.maxBytes != -1 && m_nTotal >= m_request.maxBytes) || n == 0)
            return m_step = Step::Done;
        return Step::Continue;
    }

private:
    long responseCode() const
    {
        long code = 0;
        if (curl_easy_getinfo(m_curl, CURLINFO_RESPONSE_CODE, &code) != CURLE_OK)
            return 0;
        return code;
    }

    // The answers libcurl follows when it is told to follow redirects.
    static bool isFollowedRedirect(long code)
    {
        return code == 300 || code == 301 || code == 302 || code == 303 || code == 307 ||
               code == 308;
    }

    bool store(const char* data, size_t n)
    {
        if (m_request.mode == HttpGetFileRequest::FileMode) {
            return m_request.file < 0 || writeAll(m_request.file, data, n);
        }
        if (!m_request.memoryTarget)
            return true;
        try {
            m_request.memoryTarget->append(data, qsizetype(n));
        } catch (const std::bad_alloc&) {
            return false;
        }
        return true;
    }

    bool cancelRequested()
    {
        if (g_nCancelAllGeneration.load() != m_nCancelGeneration)
            return true;
        bool raised = true;
        return g_nCancelId.load() == m_request.id &&
               g_bCancelRaised.compare_exchange_strong(raised, false);
    }

    HttpGetFileRequest& m_request;
    CURL* m_curl;
    unsigned m_nCancelGeneration;
    Step m_step = Step::Continue;
    qint64 m_nTotal = 0;
    bool m_bResponseSeen = false;
    bool m_bStatusOk = true;
    QByteArray m_lengthText;
    bool m_bHaveLength = false;
    bool m_bHaveLocation = false;
};

size_t headerCallback(char* buffer, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    return transfer->OnHeaderLine(QByteArray(buffer, qsizetype(bytes))) ? bytes : 0;
}

size_t writeCallback(char* buffer, size_t size, size_t count, void* user)
{
    auto* transfer = static_cast<Transfer*>(user);
    const size_t bytes = size * count;
    return transfer->OnBody(buffer, bytes) ? bytes : 0;
}

curl_slist* requestHeaders(const QString& extraHeaders)
{
    curl_slist* list = nullptr;
    // Always from the server: neither a proxy nor any other cache may answer.
    for (const char* line : {"Cache-Control: no-cache", "Pragma: no-cache"})
        list = curl_slist_append(list, line);
    const QStringList extra =
        extraHeaders.split(QRegularExpression(QStringLiteral("[\r\n]+")), Qt::SkipEmptyParts);
    for (const QString& line : extra)
        list = curl_slist_append(list, line.toUtf8().constData());
    return list;
}

// Runs the transfer and returns the download's result.
int runTransfer(HttpGetFileRequest& request)
{
    if (request.agent.size() > HttpGetFileRequest::MaxAgentLength)
        return 0;
    const QUrl url(request.url, QUrl::TolerantMode);
    if (!url.isValid() || url.isRelative())
        return 0;
    CURL* curl = curl_easy_init();
    if (!curl)
        return 0;

    Transfer transfer(request, curl);
    const QByteArray encodedUrl = url.toEncoded();
    const QByteArray agent = request.agent.toUtf8();
    curl_slist* headers = requestHeaders(request.extraHeaders);
    curl_easy_setopt(curl, CURLOPT_URL, encodedUrl.constData());
    curl_easy_setopt(curl, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(curl, CURLOPT_FOLLOWLOCATION, 1L);
    curl_easy_setopt(curl, CURLOPT_MAXREDIRS, MaxRedirects);
    curl_easy_setopt(curl, CURLOPT_USERAGENT, agent.constData());
    curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers);
    // Through a proxy, the tunnel's own answer is not the server's answer.
    curl_easy_setopt(curl, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, long(request.limits.connectTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, long(request.limits.totalTimeoutMs));
    curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(curl, CURLOPT_BUFFERSIZE, long(ReadChunkBytes));
    curl_easy_setopt(curl, CURLOPT_HEADERFUNCTION, headerCallback);
    curl_easy_setopt(curl, CURLOPT_HEADERDATA, &transfer);
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, writeCallback);
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &transfer);

    const CURLcode code = curl_easy_perform(curl);
    int result = 0;
    if (transfer.Outcome() == Transfer::Step::Done) {
        result = 1;
    } else if (transfer.Outcome() == Transfer::Step::Continue && code == CURLE_OK) {
        // All data is in: an answer without a body is judged here, and the last,
        // empty read ends the download.
        if (!transfer.ResponseSeen()) {
            long status = 0;
            curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
            transfer.OnResponse(status);
        }
        if (transfer.StatusOk() && transfer.AfterRead(nullptr, 0) == Transfer::Step::Done)
            result = 1;
    }
    curl_easy_cleanup(curl);
    curl_slist_free_all(headers);
    return result;
}

} // namespace

QEvent::Type RegisteredEventType(const char* name)
{
    static std::mutex lock;
    static QHash<QByteArray, int> types;
    const std::lock_guard<std::mutex> guard(lock);
    const QByteArray key(name);
    auto it = types.constFind(key);
    if (it == types.constEnd())
        it = types.insert(key, QEvent::registerEventType());
    return QEvent::Type(it.value());
}

QEvent::Type WM_HTTPGETFILE_START()
{
    static const QEvent::Type type = RegisteredEventType("WM_HTTPGETFILE_START");
    return type;
}

QEvent::Type WM_HTTPGETFILE_PROGRESS()
{
    static const QEvent::Type type = RegisteredEventType("WM_HTTPGETFILE_PROGRESS");
    return type;
}

QEvent::Type WM_HTTPGETFILE_COMPLETE()
{
    static const QEvent::Type type = RegisteredEventType("WM_HTTPGETFILE_COMPLETE");
    return type;
}

HttpGetFileRequest::~HttpGetFileRequest()
{
    if (file >= 0)
        ::close(file);
}

int HttpGetFile(const QString& localPath, int* idOut, const QString& url,
                const HttpGetFileLimits& limits)
{
    int fd = -1;
    if (!localPath.isEmpty()) {
        fd = ::open(QFile::encodeName(localPath).constData(),
                    O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0)
            return 0;
    }
    auto request = std::make_unique<HttpGetFileRequest>();
    request->file = fd;
    request->id = HttpGetFileDetail::TakeNextRequestId();
    if (idOut)
        *idOut = request->id;
    request->url = url;
    request->limits = limits;
    return HttpGetFileWorker(std::move(request));
}

int HttpGetFileWorker(std::unique_ptr<HttpGetFileRequest> request)
{
    initCurlOnce();
    {
        const std::lock_guard<std::mutex> guard(g_runningLock);
        ++g_nRunning;
    }
    setThreadPriority(request->priority);
    const bool collecting =
        request->mode == HttpGetFileRequest::MemoryMode && request->memoryTarget;
    if (collecting)
        request->memoryTarget->clear();

    const int result = runTransfer(*request);

    if (collecting && result == 0)
        *request->memoryTarget = QByteArray();
    if (request->file >= 0) {
        ::close(request->file);
        request->file = -1;
    }
    postHttpEvent(request->notifyWindow, WM_HTTPGETFILE_COMPLETE(), request->id, result);
    request.reset();
    {
        const std::lock_guard<std::mutex> guard(g_runningLock);
        --g_nRunning;
    }
    return result;
}

void HttpGetFileCancel(int requestId)
{
    if (requestId == -1) {
        g_nCancelAllGeneration.fetch_add(1);
        return;
    }
    g_nCancelId.store(requestId);
    g_bCancelRaised.store(true);
}

int HttpGetFileRunningCount()
{
    const std::lock_guard<std::mutex> guard(g_runningLock);
    return g_nRunning;
}

namespace HttpGetFileDetail {

int TakeNextRequestId()
{
    int last = g_nLastId.load();
    int next;
    do {
        next = int((qint64(last) + 1) % IdModulus);
    } while (!g_nLastId.compare_exchange_weak(last, next));
    return next;
}

void SetLastRequestId(int lastId)
{
    g_nLastId.store(int(((qint64(lastId) % IdModulus) + IdModulus) % IdModulus));
}

} // namespace HttpGetFileDetail
