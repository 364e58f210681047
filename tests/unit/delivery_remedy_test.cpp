// What a release job does after a part's delivery failed, read from qelfetch's failure lines,
// and the release's own status lines: the downloading line over all parts (read back from
// qelfetch's, written for totals past 2^32) and the pause before a new try.
#include <gtest/gtest.h>

#include <string>

#include "placement/delivery_failure.h"
#include "placement/release_text.h"

namespace {

DeliveryRemedy Downloaded(const wchar_t* line) { return RemedyFor(line, true); }

TEST(DeliveryRemedy, NetworkFaultsAreTriedAgain)
{
    EXPECT_EQ(Downloaded(L"应用包下载失败（错误码 12002）。"), DeliveryRemedy::Again) << "time-out";
    EXPECT_EQ(Downloaded(L"应用包下载失败（错误码 12029）。"), DeliveryRemedy::Again) << "cannot connect";
    EXPECT_EQ(Downloaded(L"应用包下载失败（错误码 12030）。"), DeliveryRemedy::Again) << "connection cut";
    EXPECT_EQ(Downloaded(L"应用包下载失败（错误码 12007）。"), DeliveryRemedy::Again) << "name not resolved";
    EXPECT_EQ(Downloaded(L"应用包下载失败（错误码 10054）。"), DeliveryRemedy::Again) << "socket reset";
    EXPECT_EQ(Downloaded(L"应用包下载失败（错误码 5023）。"), DeliveryRemedy::Again);
    EXPECT_EQ(Downloaded(L"应用包下载未完整，未开始安装。"), DeliveryRemedy::Again);
    EXPECT_EQ(Downloaded(L"下载数据超过发布清单声明的大小。"), DeliveryRemedy::Again);
    EXPECT_EQ(Downloaded(L"服务器未提供应用包（HTTP 500）。"), DeliveryRemedy::Again);
    EXPECT_EQ(Downloaded(L"服务器未提供应用包（HTTP 503）。"), DeliveryRemedy::Again);
    EXPECT_EQ(Downloaded(L"服务器未提供应用包（HTTP 429）。"), DeliveryRemedy::Again);
}

TEST(DeliveryRemedy, ABrokenDownloadIsTriedAgainButNotAPackageBesideTheInstaller)
{
    EXPECT_EQ(RemedyFor(L"应用包 SHA-256 校验失败，未开始安装。", true), DeliveryRemedy::Again);
    EXPECT_EQ(RemedyFor(L"应用包大小与发布清单不一致。", true), DeliveryRemedy::Again);
    EXPECT_EQ(RemedyFor(L"应用包 SHA-256 校验失败，未开始安装。", false), DeliveryRemedy::GiveUp);
    EXPECT_EQ(RemedyFor(L"应用包大小与发布清单不一致。", false), DeliveryRemedy::GiveUp);
}

TEST(DeliveryRemedy, AServerWithoutThePackageSendsToTheNextAddress)
{
    EXPECT_EQ(Downloaded(L"服务器未提供应用包（HTTP 404）。"), DeliveryRemedy::NextUrl);
    EXPECT_EQ(Downloaded(L"服务器未提供应用包（HTTP 403）。"), DeliveryRemedy::NextUrl);
    EXPECT_EQ(Downloaded(L"服务器返回的应用包大小与发布清单不一致。"), DeliveryRemedy::NextUrl);
    EXPECT_EQ(Downloaded(L"应用包下载失败（错误码 12156）。"), DeliveryRemedy::NextUrl) << "HTTPS redirected to HTTP";
}

TEST(DeliveryRemedy, WhatNoNewTryMendsEndsAtOnce)
{
    EXPECT_EQ(Downloaded(L"应用包下载失败（错误码 112）。"), DeliveryRemedy::GiveUp) << "disk full";
    EXPECT_EQ(Downloaded(L"应用包下载失败（错误码 12175）。"), DeliveryRemedy::GiveUp) << "certificate";
    EXPECT_EQ(Downloaded(L"应用包下载失败（错误码 12045）。"), DeliveryRemedy::GiveUp) << "unknown authority";
    EXPECT_EQ(Downloaded(L"应用包下载失败（错误码 12038）。"), DeliveryRemedy::GiveUp) << "another host's certificate";
    EXPECT_EQ(Downloaded(L"应用包下载失败（错误码 80）。"), DeliveryRemedy::GiveUp) << "a file in the package's place";
    EXPECT_EQ(Downloaded(L"应用包下载地址无效（错误码 13）。"), DeliveryRemedy::GiveUp);
    EXPECT_EQ(Downloaded(L"应用包发布清单无效。"), DeliveryRemedy::GiveUp);
    EXPECT_EQ(Downloaded(L"应用包工作磁盘的可用空间不足。"), DeliveryRemedy::GiveUp);
    EXPECT_EQ(Downloaded(L"应用包无法读取（错误码 5）。"), DeliveryRemedy::GiveUp);
    EXPECT_EQ(Downloaded(L"应用包下载失败（错误码 12002"), DeliveryRemedy::GiveUp) << "a line cut short is no code";
    EXPECT_EQ(Downloaded(L""), DeliveryRemedy::GiveUp);
}

TEST(DeliveryRemedy, CodeIsTheLastSuffixsNumber)
{
    EXPECT_EQ(FailureCode(L"应用包下载失败（错误码 12002）。"), 12002u);
    EXPECT_EQ(FailureCode(L"应用包下载失败（错误码 ）。"), 0u);
    EXPECT_EQ(FailureCode(L"应用包下载失败（错误码 12x）。"), 0u);
    EXPECT_EQ(FailureCode(L"应用包下载失败（错误码 99999999999）。"), 0u) << "more than 32 bits";
    EXPECT_EQ(FailureCode(L"应用包下载失败"), 0u);
}

TEST(ReleaseText, DownloadedBytesReadBackFromTheDeliverysLine)
{
    ULONGLONG bytes = 1;
    ASSERT_EQ(ReadDownloadedBytes(L"已下载 12.35 / 45.68 MB", &bytes), 1);
    EXPECT_EQ(bytes, 12350000u);
    ASSERT_EQ(ReadDownloadedBytes(L"已下载 0.00 / 0.01 MB", &bytes), 1);
    EXPECT_EQ(bytes, 0u);
    EXPECT_EQ(ReadDownloadedBytes(L"正在连接下载服务器…", &bytes), 0);
    EXPECT_EQ(ReadDownloadedBytes(L"已下载 12.3 / 45.68 MB", &bytes), 0);
    EXPECT_EQ(ReadDownloadedBytes(L"已下载 .35 / 45.68 MB", &bytes), 0);
    EXPECT_EQ(ReadDownloadedBytes(L"已下载 12.35", &bytes), 0);
}

TEST(ReleaseText, DownloadLineOverTheWholeReleasePassesFourGigabytes)
{
    wchar_t line[1024];
    DownloadLine(line, 812404999, 3204770000ull);
    EXPECT_EQ(std::wstring(line), L"已下载 812.40 / 3204.77 MB");
    DownloadLine(line, 4999, 6000000000ull + 5000);
    EXPECT_EQ(std::wstring(line), L"已下载 0.00 / 6000.01 MB");
    DownloadLine(line, 128000000000ull, 128000000000ull);
    EXPECT_EQ(std::wstring(line), L"已下载 128000.00 / 128000.00 MB");
}

TEST(ReleaseText, RetryLine)
{
    wchar_t line[1024];
    RetryLine(line, 3, 2);
    EXPECT_EQ(std::wstring(line), L"网络中断，3 秒后重试（第 2 次）…");
}

}  // namespace
