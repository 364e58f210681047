#include "delivery/worker.h"

#include "delivery/download.h"
#include "delivery/extract.h"
#include "delivery/handles.h"
#include "delivery/manifest.h"
#include "delivery/verify.h"
#include "delivery/volume_identity.h"

namespace {

constexpr DWORD NotRegularFile = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT;

int FreeBytesOfVolume(const wchar_t* path, wchar_t* volume, ULONGLONG* freeBytes)
{
    ULARGE_INTEGER available;
    if (!GetVolumePathNameW(path, volume, PathCapacity)) return 0;
    if (!GetDiskFreeSpaceExW(volume, &available, nullptr, nullptr)) return 0;
    *freeBytes = available.QuadPart;
    return 1;
}

// The space is needed where it is written: the extracted files on the work directory's volume
// and, when the package is downloaded, the package on its own volume (the sum when the two
// share one, whatever names the two paths reach it by).
int CheckFreeSpace(DeliveryJob* job)
{
    wchar_t workVolume[PathCapacity];
    ULONGLONG workFree = 0;
    if (!FreeBytesOfVolume(job->workDir, workVolume, &workFree)) {
        return ReportFailure(job, L"无法检查应用包工作磁盘的空间", GetLastError());
    }
    ULONGLONG workNeed = job->unpackedSize;
    if (job->url[0] != 0) {
        wchar_t packageVolume[PathCapacity];
        ULONGLONG packageFree = 0;
        if (!FreeBytesOfVolume(job->packagePath, packageVolume, &packageFree)) {
            return ReportFailure(job, L"无法检查应用包工作磁盘的空间", GetLastError());
        }
        if (SameVolume(workVolume, packageVolume)) {
            workNeed += job->packageSize;
        } else if (packageFree < job->packageSize) {
            return ReportFailure(job, L"应用包工作磁盘的可用空间不足。", 0);
        }
    }
    if (workFree < workNeed) return ReportFailure(job, L"应用包工作磁盘的可用空间不足。", 0);
    return 1;
}

// Manifest, free space, download, verification and extraction. 1 when every entry was
// extracted and verified; 0 otherwise (a stage has usually published why).
int RunPipeline(DeliveryJob* job)
{
    if (!ReadManifest(job)) return ReportFailure(job, L"应用包发布清单无效。", 0);
    if (IsCancelled(job)) return 0;
    if (!CheckFreeSpace(job)) return 0;
    if (job->url[0] != 0 && !DownloadPackage(job)) return 0;
    if (IsCancelled(job)) return 0;

    // Read sharing only: from verification to the end of extraction nobody can write the
    // package. A link is opened as itself, not followed, and then refused. A downloaded package
    // must be the very file the download created: anything else on the path (a host's
    // replacement, a folder link pointed elsewhere) was never received from the server.
    UniqueFile package;
    if (job->packageCreated) {
        package.Reset(OpenSameFile(job->packagePath, job->packageIdentity, FILE_FLAG_SEQUENTIAL_SCAN));
        if (!package && GetLastError() == ERROR_FILE_INVALID) {
            return ReportFailure(job, L"应用包无法读取", ERROR_FILE_INVALID);
        }
    } else {
        package.Reset(CreateFileW(job->packagePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    }
    if (!package) {
        // Without backup semantics a directory, or a link to one, cannot be opened at all
        // (access denied): say what the path is rather than that it could not be read. The
        // attributes are those of the path itself; a link is not followed.
        DWORD error = GetLastError();
        DWORD attributes = GetFileAttributesW(job->packagePath);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & NotRegularFile) != 0) {
            return ReportFailure(job, L"应用包不是普通文件。", 0);
        }
        return ReportFailure(job, L"应用包无法读取", error);
    }

    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(package.Get(), &info) || (info.dwFileAttributes & NotRegularFile) != 0) {
        return ReportFailure(job, L"应用包不是普通文件。", 0);
    }
    // Extraction opens the package again; it must reach this file, the one verified.
    if (!ReadFileIdentity(package.Get(), &job->verifiedIdentity)) return ReportFailure(job, L"应用包无法读取", GetLastError());
    if (!VerifyPackage(job, package.Get()) || IsCancelled(job)) return 0;
    return ExtractPackage(job);
}

}  // namespace

DWORD WINAPI DeliveryWorker(void* argument)
{
    auto* job = static_cast<DeliveryJob*>(argument);
    int extracted = RunPipeline(job);

    // A cancellation seen here replaces whatever was published, a failure included; the first
    // failure a stage published otherwise stays.
    if (IsCancelled(job)) {
        PublishStatus(job, PAYLOAD_CANCELLED, 0, 0, L"已取消，未开始安装。");
    } else if (extracted) {
        PublishStatus(job, PAYLOAD_READY, 1, 1, L"应用文件已准备好。");
    } else if (job->phase != PAYLOAD_FAILED) {
        ReportFailure(job, L"应用包准备失败，未开始安装。", 0);
    }

    // The reference PayloadStart took for this thread is dropped by the system on the way out,
    // after the last instruction of this DLL has run: FreeLibraryAndExitThread does not return
    // here. The job record stays readable: PayloadClose frees it only once this thread is gone.
    //
    // WinHTTP's callbacks hold a reference of their own, dropped by the request's closing
    // notification without returning into this DLL (http_closing.h).
    HMODULE module = job->module;
    if (module != nullptr) FreeLibraryAndExitThread(module, 0);
    return 0;  // a test that runs the worker on its own thread without a reference
}
