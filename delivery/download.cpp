// One HTTPS GET of the package into a newly created packagePath, bounded by the manifest's Size.
// WinHTTP runs asynchronously, but the worker drives it one step at a time through an HttpWait
// record, so that every network wait can be cancelled and none lasts longer than 60 seconds.
#include "delivery/download.h"

#include "delivery/handles.h"
#include "delivery/http_closing.h"
#include "delivery/http_wait.h"
#include "delivery/package_url.h"
#include "delivery/manifest.h"
#include "delivery/winhttp_handles.h"
#include "delivery/wstr.h"

namespace {

constexpr DWORD ReceiveCapacity = 65536;
// The receive buffer, then the URL path as split from the manifest's Url.
constexpr DWORD DownloadBufferSize = ReceiveCapacity + UrlPathCapacity * sizeof(wchar_t);  // 69,634
static_assert(DownloadBufferSize == 69634);
constexpr DWORD LengthTextBytes = 64;

const wchar_t* const DownloadFailedText = L"应用包下载失败";
const wchar_t* const OversizeText = L"下载数据超过发布清单声明的大小。";

// What one download holds. Close releases it in the order the callback requires: the request
// first, then (when the callback was installed) the wait for its closing notification, after
// which no notification reaches the wait record; then the connection, the session, the package
// file and the events.
struct DownloadSession {
    HttpWait wait = {};
    UniqueHandle doneEvent;
    UniqueHandle closedEvent;
    UniqueInternet root;
    UniqueInternet connection;
    UniqueInternet request;
    UniqueFile package;
    FileIdentity* packageIdentity = nullptr;  // where the package's identity is sealed
    int callbackInstalled = 0;

    DownloadSession() = default;
    DownloadSession(const DownloadSession&) = delete;
    DownloadSession& operator=(const DownloadSession&) = delete;
    ~DownloadSession() { Close(); }

    void Close()
    {
        if (request) {
            request.Reset();
            if (callbackInstalled) WaitForSingleObject(closedEvent.Get(), INFINITE);
        }
        callbackInstalled = 0;
        connection.Reset();
        root.Reset();
        ClosePackage();
        doneEvent.Reset();
        closedEvent.Reset();
    }

    // The package, complete or not, is sealed before its handle goes, so that closing the job
    // knows it again; one that cannot be sealed is deleted now, through this handle.
    void ClosePackage()
    {
        if (package && packageIdentity != nullptr && !SealFileIdentity(package.Get(), packageIdentity)) {
            DeleteThroughHandle(package.Get());
        }
        package.Reset();
    }
};

int FailWithCode(DWORD* code, DWORD value)
{
    *code = value;
    return 0;
}

int FailWithLastError(DWORD* code) { return FailWithCode(code, GetLastError()); }

// Flag options are 32-bit values; the context value is pointer-sized. WinHTTP checks the length
// of each against its own type, so the two kinds are passed with their own sizes.
int SetRequestOption(HINTERNET request, DWORD option, DWORD value)
{
    return WinHttpSetOption(request, option, &value, sizeof value) ? 1 : 0;
}

int SetRequestContext(HINTERNET request, void* context)
{
    auto value = reinterpret_cast<DWORD_PTR>(context);
    return WinHttpSetOption(request, WINHTTP_OPTION_CONTEXT_VALUE, &value, sizeof value) ? 1 : 0;
}

// Opens the session, connection and request and installs the status callback.
int OpenRequest(DownloadSession* s, const wchar_t* host, INTERNET_PORT port, const wchar_t* path, DWORD* code)
{
    // WinHTTP goes on working on its own threads for a while after its handles are closed
    // (connections, name resolution, its task queues), and nothing tells when it has finished.
    // This DLL is usually the one that brought it into the process, so a host unloading this DLL
    // right after PayloadClose would unload WinHTTP under that work (seen under Wine as a fault
    // in the unloaded winhttp.dll). WinHTTP therefore stays loaded for the life of the process.
    HMODULE pinned = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_PIN, L"winhttp.dll", &pinned)) return FailWithLastError(code);

    s->root.Reset(WinHttpOpen(L"QEL Installer/1", WINHTTP_ACCESS_TYPE_AUTOMATIC_PROXY, WINHTTP_NO_PROXY_NAME,
                              WINHTTP_NO_PROXY_BYPASS, WINHTTP_FLAG_ASYNC));
    if (!s->root) return FailWithLastError(code);
    if (!WinHttpSetTimeouts(s->root.Get(), 15000, 15000, 30000, 30000)) return FailWithLastError(code);

    s->connection.Reset(WinHttpConnect(s->root.Get(), host, port, 0));
    if (!s->connection) return FailWithLastError(code);

    s->request.Reset(WinHttpOpenRequest(s->connection.Get(), L"GET", path, nullptr, WINHTTP_NO_REFERER,
                                        WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE));
    if (!s->request) return FailWithLastError(code);

    HINTERNET request = s->request.Get();
    if (!SetRequestOption(request, WINHTTP_OPTION_DISABLE_FEATURE,
                          WINHTTP_DISABLE_COOKIES | WINHTTP_DISABLE_AUTHENTICATION) ||
        !SetRequestOption(request, WINHTTP_OPTION_REDIRECT_POLICY,
                          WINHTTP_OPTION_REDIRECT_POLICY_DISALLOW_HTTPS_TO_HTTP) ||
        !SetRequestContext(request, &s->wait)) {
        return FailWithLastError(code);
    }

    // The callback's own reference to this DLL, dropped by the request's closing notification.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<const wchar_t*>(reinterpret_cast<void*>(&HttpClosingNotified)),
                            &s->wait.module)) {
        return FailWithLastError(code);
    }
    if (WinHttpSetStatusCallback(request, HttpCallbackEntry, HttpNotificationMask, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK) {
        DWORD error = GetLastError();
        FreeLibrary(s->wait.module);
        s->wait.module = nullptr;
        return FailWithCode(code, error);
    }
    s->callbackInstalled = 1;
    return 1;
}

// The final status must be 200 and an announced length must be the manifest's Size. A missing
// Content-Length (chunked transfer) is accepted: the length is then enforced while reading.
int CheckResponse(DeliveryJob* job, HINTERNET request, wchar_t* text /* StatusCapacity */, DWORD* code)
{
    DWORD status = 0;
    DWORD size = sizeof status;
    if (!WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                             WINHTTP_HEADER_NAME_BY_INDEX, &status, &size, WINHTTP_NO_HEADER_INDEX)) {
        return FailWithLastError(code);
    }
    if (status != HTTP_STATUS_OK) {
        WStrCopy(text, StatusCapacity, L"服务器未提供应用包（HTTP ");
        AppendDecimal(text, StatusCapacity, status, 1);
        WStrAppend(text, StatusCapacity, L"）。");
        return ReportFailure(job, text, 0);
    }

    wchar_t lengthText[LengthTextBytes / sizeof(wchar_t)];
    size = LengthTextBytes;
    if (WinHttpQueryHeaders(request, WINHTTP_QUERY_CONTENT_LENGTH, WINHTTP_HEADER_NAME_BY_INDEX, lengthText,
                            &size, WINHTTP_NO_HEADER_INDEX)) {
        ULONGLONG announced = 0;
        if (!ParseDecimal(lengthText, &announced) || announced != job->packageSize) {
            return ReportFailure(job, L"服务器返回的应用包大小与发布清单不一致。", 0);
        }
    } else if (GetLastError() != ERROR_WINHTTP_HEADER_NOT_FOUND) {
        return FailWithLastError(code);
    }
    return 1;
}

int ReadStep(DeliveryJob* job, DownloadSession* s, BYTE* buffer, DWORD* code)
{
    HttpWaitReset(&s->wait);
    BOOL issued = WinHttpReadData(s->request.Get(), buffer, ReceiveCapacity, nullptr);
    return HttpWaitStep(job, &s->wait, issued, WINHTTP_CALLBACK_STATUS_READ_COMPLETE, code);
}

// Reads until a completed read of 0 bytes, writing each block before the next read is issued.
// A block that would take the total past packageSize is not written.
int ReceiveBody(DeliveryJob* job, DownloadSession* s, BYTE* buffer, wchar_t* text, DWORD* code)
{
    ULONGLONG received = 0;
    if (!ReadStep(job, s, buffer, code)) return 0;
    for (;;) {
        DWORD n = static_cast<DWORD>(InterlockedCompareExchange(&s->wait.length, 0, 0));
        if (n == 0) {
            if (received != job->packageSize) return ReportFailure(job, L"应用包下载未完整，未开始安装。", 0);
            if (!FlushFileBuffers(s->package.Get())) return FailWithLastError(code);
            return 1;
        }
        if (n > ReceiveCapacity) return ReportFailure(job, OversizeText, 0);
        received += n;
        if (received > job->packageSize) return ReportFailure(job, OversizeText, 0);

        DWORD written = 0;
        if (!WriteFile(s->package.Get(), buffer, n, &written, nullptr)) return FailWithLastError(code);
        if (written < n) return FailWithCode(code, ERROR_WRITE_FAULT);

        WStrCopy(text, StatusCapacity, L"已下载 ");
        AppendMegabytes(text, StatusCapacity, received);
        WStrAppend(text, StatusCapacity, L" / ");
        AppendMegabytes(text, StatusCapacity, job->packageSize);
        WStrAppend(text, StatusCapacity, L" MB");
        PublishStatus(job, PAYLOAD_DOWNLOADING, received, job->packageSize, text);

        if (!ReadStep(job, s, buffer, code)) return 0;
    }
}

// Everything from the events to the end of the body. 0 with *code set for the general failure
// text, or with *code 0 when a specific failure has been published (or 1223 on cancel).
int Transfer(DeliveryJob* job, DownloadSession* s, BYTE* buffer, const wchar_t* host, INTERNET_PORT port,
             const wchar_t* path, DWORD* code)
{
    s->doneEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    s->closedEvent.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    if (!s->doneEvent || !s->closedEvent) return FailWithCode(code, ERROR_NOT_ENOUGH_MEMORY);
    s->wait.doneEvent = s->doneEvent.Get();
    s->wait.closedEvent = s->closedEvent.Get();

    if (!OpenRequest(s, host, port, path, code)) return 0;
    HINTERNET request = s->request.Get();

    HttpWaitReset(&s->wait);
    BOOL issued = WinHttpSendRequest(request, L"Accept-Encoding: identity\r\n", static_cast<DWORD>(-1),
                                     WINHTTP_NO_REQUEST_DATA, 0, 0, reinterpret_cast<DWORD_PTR>(&s->wait));
    if (!HttpWaitStep(job, &s->wait, issued, WINHTTP_CALLBACK_STATUS_SENDREQUEST_COMPLETE, code)) return 0;

    HttpWaitReset(&s->wait);
    issued = WinHttpReceiveResponse(request, nullptr);
    if (!HttpWaitStep(job, &s->wait, issued, WINHTTP_CALLBACK_STATUS_HEADERS_AVAILABLE, code)) return 0;

    wchar_t text[StatusCapacity];
    if (!CheckResponse(job, request, text, code)) return 0;

    // Never over an existing file: that one is not ours and stays as it is.
    // The file's identity is read from the handle that created it: PayloadClose deletes the
    // file on packagePath only when it is this one, and the worker opens only this one.
    s->package.Reset(CreateFileW(job->packagePath, GENERIC_WRITE | FILE_READ_ATTRIBUTES | DELETE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!s->package) return FailWithLastError(code);
    if (!ReadFileIdentity(s->package.Get(), &job->packageIdentity)) {
        DWORD error = GetLastError();
        DeleteThroughHandle(s->package.Get());
        s->package.Reset();
        return FailWithCode(code, error);
    }
    job->packageCreated = 1;
    s->packageIdentity = &job->packageIdentity;

    return ReceiveBody(job, s, buffer, text, code);
}

}  // namespace

int DownloadPackage(DeliveryJob* job)
{
    UniqueHeapBlock block(HeapAlloc(GetProcessHeap(), 0, DownloadBufferSize));
    if (!block) return ReportFailure(job, DownloadFailedText, ERROR_NOT_ENOUGH_MEMORY);
    BYTE* buffer = static_cast<BYTE*>(block.Get());
    auto* path = reinterpret_cast<wchar_t*>(buffer + ReceiveCapacity);

    wchar_t host[HostCapacity];
    INTERNET_PORT port = 0;
    if (!CrackPackageUrl(job->url, host, path, &port)) {
        return ReportFailure(job, L"应用包下载地址无效", ERROR_INVALID_DATA);
    }

    PublishStatus(job, PAYLOAD_DOWNLOADING, 0, job->packageSize, L"正在连接下载服务器…");

    DWORD code = 0;
    int result;
    {
        DownloadSession session;
        result = Transfer(job, &session, buffer, host, port, path, &code);
        session.Close();
    }
    block.Reset();

    if (!result && code != 0 && code != ERROR_CANCELLED) ReportFailure(job, DownloadFailedText, code);
    return result;
}
