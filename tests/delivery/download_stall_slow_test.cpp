// Servers that stop answering: the download ends by a time-out within the bound of one step (60
// seconds), never by hanging. The two stalls run side by side to keep the test near 60 seconds.
#include <gtest/gtest.h>

#include <cstdio>

#include "support/download_case.h"

namespace {

TEST(DownloadStall, EndsWithATimeOutWithinTheStepBound)
{
    HttpsBed bed;
    ASSERT_TRUE(FindHttpsBed(&bed)) << "the HTTPS test server is not running (ctest starts it)";
    // Headers, then no body: WinHTTP's own receive time-out (30 s) ends the pending read.
    DownloadCase body(bed, 100000, 31);
    // The request is read and never answered: the step's own 60-second bound ends the wait
    // for the headers (WinHTTP's wait for a response is longer).
    DownloadCase headers(bed, 100000, 37);
    ASSERT_TRUE(body.Ok() && headers.Ok());

    DWORD start = GetTickCount();
    DeliveryJob* bodyJob = body.Start(bed.Url(L"stall", body.Name()));
    DeliveryJob* headersJob = headers.Start(bed.Url(L"silent", headers.Name()));
    ASSERT_NE(bodyJob, nullptr);
    ASSERT_NE(headersJob, nullptr);

    JobStatus bodyEnd, headersEnd;
    DWORD bodyTook = 0, headersTook = 0;
    bool released = false;
    while ((bodyTook == 0 || headersTook == 0) && GetTickCount() - start < 75000) {
        Sleep(20);
        DWORD now = GetTickCount() - start;
        if (bodyTook == 0 && IsTerminal((bodyEnd = Poll(bodyJob)).phase)) bodyTook = now;
        if (headersTook == 0 && IsTerminal((headersEnd = Poll(headersJob)).phase)) headersTook = now;
        // Wine 8 delivers the request's closing notification only once the pending operation
        // has ended by itself, and the download waits for it after its own time-out; past the
        // bound, let the server drop the connection so that the request lets go.
        if (headersTook == 0 && !released && now > 60500 && RunningOnWine()) released = bed.Release(headers.Name());
    }

    // Windows reports WinHTTP's time-out as ERROR_WINHTTP_TIMEOUT; Wine 8's request error
    // carries WSAETIMEDOUT instead.
    EXPECT_EQ(bodyEnd.phase, PAYLOAD_FAILED);
    const wchar_t* receiveTimeout =
        RunningOnWine() ? L"应用包下载失败（错误码 10060）。" : L"应用包下载失败（错误码 12002）。";
    EXPECT_EQ(bodyEnd.text, receiveTimeout) << Narrow(bodyEnd.text);
    EXPECT_GE(bodyTook, 29000u);
    EXPECT_LT(bodyTook, 62000u);
    // The headers were accepted, so the (empty) package exists until close deletes it.
    EXPECT_TRUE(FileExists(body.PackagePath()));
    EXPECT_EQ(ReadBytes(body.PackagePath()), "");
    EXPECT_EQ(PayloadClose(bodyJob), 1);
    EXPECT_FALSE(FileExists(body.PackagePath()));

    EXPECT_EQ(headersEnd.phase, PAYLOAD_FAILED);
    EXPECT_EQ(headersEnd.text, L"应用包下载失败（错误码 12002）。") << Narrow(headersEnd.text);
    EXPECT_GE(headersTook, 29000u);
    EXPECT_LT(headersTook, RunningOnWine() ? 64000u : 62000u);
    EXPECT_FALSE(FileExists(headers.PackagePath()));
    EXPECT_EQ(PayloadClose(headersJob), 1);
    bed.Unrelease(headers.Name());

    printf("stalled body ended after %lu ms, stalled headers after %lu ms\n", bodyTook, headersTook);
}

}  // namespace
