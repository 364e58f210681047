#include "libraries.h"

namespace {

template <typename F>
bool Bind(HMODULE module, const char* name, F* target)
{
    *target = reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    return *target != nullptr;
}

}  // namespace

bool Libraries::Load(const wchar_t** missing)
{
    fetch = LoadLibraryW(L"qelfetch.dll");
    skin = LoadLibraryW(L"qelskin.dll");
    if (fetch == nullptr) {
        *missing = L"qelfetch.dll";
        return false;
    }
    if (skin == nullptr) {
        *missing = L"qelskin.dll";
        return false;
    }
    *missing = L"an export";
    return Bind(fetch, "PayloadStart", &PayloadStart) && Bind(fetch, "PayloadPoll", &PayloadPoll) &&
           Bind(fetch, "PayloadCancel", &PayloadCancel) && Bind(fetch, "PayloadClose", &PayloadClose) &&
           Bind(skin, "StylePage", &StylePage) && Bind(skin, "StylePrompt", &StylePrompt) &&
           Bind(skin, "StyleButton", &StyleButton) && Bind(skin, "StyleInput", &StyleInput) &&
           Bind(skin, "StyleWindow", &StyleWindow) && Bind(skin, "StyleWindowFrame", &StyleWindowFrame) &&
           Bind(skin, "StylePreviewProgress", &StylePreviewProgress) &&
           Bind(skin, "HideProgressDetails", &HideProgressDetails) &&
           Bind(skin, "CreateFailureClose", &CreateFailureClose) && Bind(skin, "CreateFailureText", &CreateFailureText) &&
           Bind(skin, "FontForDpi", &FontForDpi) && Bind(skin, "FontLineHeight", &FontLineHeight);
}

Libraries::~Libraries()
{
    if (skin != nullptr) FreeLibrary(skin);
    if (fetch != nullptr) FreeLibrary(fetch);
}
