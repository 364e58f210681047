// A host may unload qelplace.dll right after its last call (an installer's plug-in call that
// unloads every time): the worker keeps the DLL loaded while it runs, and after PlaceClose
// nothing of it runs any more. The test loads the DLL itself (it does not link it).
#include <gtest/gtest.h>

#include <string>

#include "placement/place.h"
#include "support/files.h"
#include "support/placement_bed.h"
#include "support/process_handles.h"

namespace {

using StartFn = PlaceJob*(WINAPI*)(const wchar_t*, const wchar_t*);
using RemoveFn = PlaceJob*(WINAPI*)(const wchar_t*);
using AddFn = int(WINAPI*)(PlaceJob*, const wchar_t*, wchar_t*, int);
using PollFn = int(WINAPI*)(PlaceJob*, int*, int*, wchar_t*, int);
using JobFn = int(WINAPI*)(PlaceJob*);

const wchar_t* const DllName = L"qelplace.dll";

template <typename F>
F Export(HMODULE module, const char* name)
{
    return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

bool Unloaded()
{
    for (int i = 0; i < 500 && GetModuleHandleW(DllName) != nullptr; ++i) Sleep(10);
    return GetModuleHandleW(DllName) == nullptr;
}

// One whole install and uninstall, with the library loaded before every call and freed after it.
void EveryCallUnloads(const std::wstring& folder, const std::wstring& manifest, const ReleaseFiles& files)
{
    auto call = [](auto body) {
        HMODULE module = LoadLibraryW(DllName);
        ASSERT_NE(module, nullptr);
        body(module);
        FreeLibrary(module);
    };
    PlaceJob* job = nullptr;
    call([&](HMODULE m) { job = Export<StartFn>(m, "PlaceStart")(folder.c_str(), L"1"); });
    ASSERT_NE(job, nullptr);
    EXPECT_NE(GetModuleHandleW(DllName), nullptr) << "unloaded under a running worker";
    int phase = 0, percent = 0;
    wchar_t text[1024];
    do {
        call([&](HMODULE m) { Export<PollFn>(m, "PlacePoll")(job, &phase, &percent, text, 1024); });
    } while (phase < PLACE_OPEN);
    wchar_t work[1024];
    int added = 0;
    call([&](HMODULE m) { added = Export<AddFn>(m, "PlaceAddPart")(job, manifest.c_str(), work, 1024); });
    ASSERT_EQ(added, 1);
    ASSERT_TRUE(WriteEntryFiles(work, files));
    call([&](HMODULE m) { Export<JobFn>(m, "PlaceCommit")(job); });
    do {
        call([&](HMODULE m) { Export<PollFn>(m, "PlacePoll")(job, &phase, &percent, text, 1024); });
    } while (phase < PLACE_DONE);
    EXPECT_EQ(phase, PLACE_DONE);
    int closed = 0;
    call([&](HMODULE m) { closed = Export<JobFn>(m, "PlaceClose")(job); });
    EXPECT_EQ(closed, 1);

    call([&](HMODULE m) { job = Export<RemoveFn>(m, "RemoveStart")(folder.c_str()); });
    ASSERT_NE(job, nullptr);
    do {
        call([&](HMODULE m) { Export<PollFn>(m, "PlacePoll")(job, &phase, &percent, text, 1024); });
    } while (phase < PLACE_DONE);
    EXPECT_EQ(phase, PLACE_DONE);
    call([&](HMODULE m) { closed = Export<JobFn>(m, "PlaceClose")(job); });
    EXPECT_EQ(closed, 1);
}

TEST(Unload, EveryCallUnloadsAndNothingIsLeft)
{
    TempDir dir;
    ReleaseFiles files = {{L"a.txt", "a"}, {L"b\\c.txt", "c"}};
    ASSERT_TRUE(WritePartManifest(dir / L"m.ini", files));
    ASSERT_EQ(GetModuleHandleW(DllName), nullptr) << "the test must not link the DLL";
    // Warm-up: the platform's own libraries load once.
    EveryCallUnloads(dir / L"app", dir / L"m.ini", files);
    ASSERT_TRUE(Unloaded());
    long handles = CountProcessHandles();
    for (int i = 0; i < 20; ++i) {
        EveryCallUnloads(dir / L"app", dir / L"m.ini", files);
        if (HasFailure()) return;
    }
    EXPECT_TRUE(Unloaded()) << "qelplace.dll stayed loaded";
    EXPECT_FALSE(DirExists(dir / L"app"));
    if (handles >= 0) {
        EXPECT_LE(CountProcessHandles(), handles + 2) << "handles leaked";
    }
}

}  // namespace
