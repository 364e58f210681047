// Whole delivery jobs for tests: run one to its end, the texts the jobs publish, manifests that
// pass every rule, and the process's handle count and private bytes for leak checks.
#pragma once
#include <windows.h>

#include <string>
#include <vector>

#include "support/jobs.h"
#include "support/release.h"

// Status texts, as the job publishes them.
namespace texts {
inline const std::wstring Preparing = L"正在准备应用包…";
inline const std::wstring Verifying = L"正在校验应用包完整性…";
inline const std::wstring ManifestInvalid = L"应用包发布清单无效。";
inline const std::wstring NoSpace = L"应用包工作磁盘的可用空间不足。";
inline const std::wstring SpaceUnknown = L"无法检查应用包工作磁盘的空间";
inline const std::wstring SizeMismatch = L"应用包大小与发布清单不一致。";
inline const std::wstring DigestMismatch = L"应用包 SHA-256 校验失败，未开始安装。";
inline const std::wstring NotRegular = L"应用包不是普通文件。";
inline const std::wstring Cancelled = L"已取消，未开始安装。";
inline const std::wstring General = L"应用包准备失败，未开始安装。";
inline const std::wstring Ready = L"应用文件已准备好。";
// "应用包无法读取（错误码 N）。"
std::wstring Unreadable(unsigned code);
}  // namespace texts

struct Outcome {
    JobStatus end;
    int closed = -1;  // PayloadClose's result
};

// Starts a job, waits for its end and closes it. end.phase stays 0 when PayloadStart failed.
Outcome RunJob(const std::wstring& manifest, const std::wstring& package, const std::wstring& workDir,
               DWORD timeoutMs = 60000);

// A manifest that passes every rule: entries of the given sizes (names "file<i>.bin", made-up
// digests), UnpackedSize their sum, a package of packageSize bytes with a made-up digest, no Url.
Manifest ValidManifest(const std::vector<unsigned long long>& entrySizes, unsigned long long packageSize = 100);

