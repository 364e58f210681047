#include "benchmarks/download_bench.h"

#include <windows.h>

#include <winhttp.h>

#include <cstdio>

#include "delivery/payload.h"
#include "support/files.h"
#include "support/https_bed.h"
#include "support/release.h"
#include "support/runs.h"

namespace {

constexpr size_t FileSize = 100000000;
constexpr DWORD ReadSize = 65536;

bool WriteRandomFile(const std::wstring& path, size_t size)
{
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    std::vector<unsigned> chunk(1 << 18);
    unsigned state = 0x2545F491u;
    bool ok = true;
    for (size_t done = 0; done < size && ok;) {
        for (unsigned& word : chunk) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            word = state;
        }
        size_t n = chunk.size() * sizeof(unsigned);
        if (n > size - done) n = size - done;
        DWORD put = 0;
        ok = WriteFile(file, chunk.data(), static_cast<DWORD>(n), &put, nullptr) && put == n;
        done += n;
    }
    return CloseHandle(file) && ok;
}

// How the floor's reads came back (for the figure's note): WinHTTP hands out what one TLS
// record holds, whatever the buffer, so the read count is what per-read costs multiply.
LONG floorReads = 0;

struct Bed {
    HttpsBed https;
    std::wstring name, served, dir, manifest, package, work;
    int port = 0;
};

// qelfetch, timed from PayloadStart until the poll sees the download over (verification
// begun); the job is then cancelled and closed, which deletes the downloaded package.
double QelfetchDownload(const Bed& bed)
{
    double start = Now();
    DeliveryJob* job = PayloadStart(bed.manifest.c_str(), bed.package.c_str(), bed.work.c_str());
    if (job == nullptr) return -1;
    int phase = 0, percent = 0;
    wchar_t text[1024];
    do {
        Sleep(2);
        PayloadPoll(job, &phase, &percent, text, 1024);
    } while (phase < PAYLOAD_VERIFYING);
    double elapsed = Now() - start;
    bool downloaded = phase == PAYLOAD_VERIFYING || phase == PAYLOAD_EXTRACTING || phase == PAYLOAD_READY ||
                      (phase == PAYLOAD_FAILED && text[0] != 0 && FileExists(bed.package));
    if (!downloaded) {
        fprintf(stderr, "bench: qelfetch download ended in phase %d: %ls\n", phase, text);
    }
    PayloadCancel(job);
    PayloadClose(job);
    return downloaded && !FileExists(bed.package) ? elapsed : -1;
}

// The floor: one synchronous WinHTTP GET with the same user agent and header, 64 KiB reads
// written straight to the file, flushed at the end.
double FloorDownload(const Bed& bed)
{
    double start = Now();
    bool ok = false;
    HINTERNET session = WinHttpOpen(L"QEL Installer/1", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                    WINHTTP_NO_PROXY_BYPASS, 0);
    HINTERNET connection = session ? WinHttpConnect(session, L"127.0.0.1", static_cast<INTERNET_PORT>(bed.port), 0)
                                   : nullptr;
    std::wstring path = L"/normal/" + bed.name;
    HINTERNET request = connection ? WinHttpOpenRequest(connection, L"GET", path.c_str(), nullptr, WINHTTP_NO_REFERER,
                                                        WINHTTP_DEFAULT_ACCEPT_TYPES, WINHTTP_FLAG_SECURE)
                                   : nullptr;
    HANDLE file = CreateFileW(bed.package.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (request && file != INVALID_HANDLE_VALUE &&
        WinHttpSendRequest(request, L"Accept-Encoding: identity\r\n", static_cast<DWORD>(-1), WINHTTP_NO_REQUEST_DATA,
                           0, 0, 0) &&
        WinHttpReceiveResponse(request, nullptr)) {
        DWORD status = 0, size = sizeof status;
        WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER, WINHTTP_HEADER_NAME_BY_INDEX,
                            &status, &size, WINHTTP_NO_HEADER_INDEX);
        std::vector<char> buffer(ReadSize);
        size_t total = 0;
        ok = status == 200;
        floorReads = 0;
        for (DWORD got = 0; ok; total += got) {
            ok = WinHttpReadData(request, buffer.data(), ReadSize, &got);
            ++floorReads;
            if (!ok || got == 0) break;
            DWORD put = 0;
            ok = WriteFile(file, buffer.data(), got, &put, nullptr) && put == got;
        }
        ok = ok && total == FileSize && FlushFileBuffers(file);
    }
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    if (request) WinHttpCloseHandle(request);
    if (connection) WinHttpCloseHandle(connection);
    if (session) WinHttpCloseHandle(session);
    double elapsed = Now() - start;
    DeleteFileW(bed.package.c_str());
    if (!ok) fprintf(stderr, "bench: floor download failed (%lu)\n", GetLastError());
    return ok ? elapsed : -1;
}

}  // namespace

bool BenchDownload(int pairs, std::vector<Figure>* figures)
{
    Bed bed;
    if (!FindHttpsBed(&bed.https)) {
        fprintf(stderr, "bench: the test bed's HTTPS server is not running\n");
        return false;
    }
    bed.port = bed.https.tlsPort;
    bed.name = L"bench-download.bin";
    bed.served = bed.https.dir + L"\\root\\" + bed.name;
    bed.dir = bed.https.dir + L"\\bench";
    RemoveTree(bed.dir);
    bed.manifest = bed.dir + L"\\manifest.ini";
    bed.package = bed.dir + L"\\application.cab";
    bed.work = bed.dir + L"\\work";
    fprintf(stderr, "bench: placing %zu bytes on the HTTPS server\n", FileSize);
    bool ok = CreateDirectoryW(bed.dir.c_str(), nullptr) && WriteRandomFile(bed.served, FileSize);
    if (ok) {
        // A manifest whose Url is the served file; Size is its length, so the download
        // completes, and the job is cancelled as soon as verification begins.
        Manifest m = ValidManifest({1});
        m.Set(L"Package", L"Size", std::to_wstring(FileSize));
        m.Set(L"Package", L"Url", bed.https.Url(L"normal", bed.name));
        ok = m.Write(bed.manifest);
    }
    if (ok) {
        Figure figure;
        figure.name = "download vs WinHTTP loop";
        figure.a = "qelfetch download of 100 MB over loopback HTTPS, PayloadStart to verification";
        figure.b = "synchronous WinHTTP GET, 64 KiB WinHttpReadData written to the file, flushed";
        figure.unit = "s";
        figure.target = 1.05;
        MeasurePairs(figure, pairs, [&] { return QelfetchDownload(bed); }, [&] { return FloorDownload(bed); });
        char note[200];
        snprintf(note, sizeof note,
                 "the floor's last run took %ld reads (%.1f KiB each on average); qelfetch's asynchronous reads "
                 "each add an event reset, a completion event and a wait",
                 floorReads, floorReads ? FileSize / 1024.0 / floorReads : 0.0);
        figure.note = note;
        figures->push_back(figure);
    }
    DeleteFileW(bed.served.c_str());
    RemoveTree(bed.dir);
    return ok;
}
