// PNG on Windows: the Windows Imaging Component's PNG decoder, converted to 32-bit BGRA and
// then to the packer's RGBA.
#include <windows.h>
#include <wincodec.h>

#include <cstdio>
#include <utility>

#include "tools/qelpack/picture_image.h"

namespace {

// One COM interface pointer, released when it goes.
template <typename T>
class Com {
public:
    Com() = default;
    ~Com()
    {
        if (p_ != nullptr) p_->Release();
    }
    Com(const Com&) = delete;
    Com& operator=(const Com&) = delete;
    T** Out() { return &p_; }
    void** OutVoid() { return reinterpret_cast<void**>(&p_); }
    T* operator->() const { return p_; }
    T* Get() const { return p_; }

private:
    T* p_ = nullptr;
};

// COM for this thread while a picture is decoded.
class ComScope {
public:
    ComScope() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
    ~ComScope()
    {
        if (SUCCEEDED(result_)) CoUninitialize();
    }
    ComScope(const ComScope&) = delete;
    ComScope& operator=(const ComScope&) = delete;
    bool Ready() const { return SUCCEEDED(result_) || result_ == RPC_E_CHANGED_MODE; }

private:
    HRESULT result_;
};

std::string Hex(HRESULT hr)
{
    char text[16];
    snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

}  // namespace

bool DecodePng(const std::string& bytes, RgbaImage* image, std::string* why)
{
    ComScope com;
    if (!com.Ready()) {
        *why = "COM could not be started for the imaging component";
        return false;
    }
    // Everything that holds a COM object is released before COM itself.
    {
        Com<IWICImagingFactory> factory;
        HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                      factory.OutVoid());
        if (FAILED(hr)) {
            *why = "the imaging component is not available (" + Hex(hr) + ")";
            return false;
        }
        if (bytes.size() > 0xFFFFFFFFu) {
            *why = "the PNG file is too large";
            return false;
        }
        Com<IWICStream> stream;
        Com<IWICBitmapDecoder> decoder;
        Com<IWICBitmapFrameDecode> frame;
        hr = factory->CreateStream(stream.Out());
        if (SUCCEEDED(hr)) {
            hr = stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                              static_cast<DWORD>(bytes.size()));
        }
        if (SUCCEEDED(hr)) hr = factory->CreateDecoder(GUID_ContainerFormatPng, nullptr, decoder.Out());
        if (SUCCEEDED(hr)) hr = decoder->Initialize(stream.Get(), WICDecodeMetadataCacheOnDemand);
        if (SUCCEEDED(hr)) hr = decoder->GetFrame(0, frame.Out());
        UINT width = 0, height = 0;
        if (SUCCEEDED(hr)) hr = frame->GetSize(&width, &height);
        if (FAILED(hr)) {
            *why = "the PNG data is damaged (the imaging component says " + Hex(hr) + ")";
            return false;
        }
        std::string rule = PictureSizeRule(width, height);
        if (!rule.empty()) {
            *why = rule;
            return false;
        }
        Com<IWICFormatConverter> converter;
        hr = factory->CreateFormatConverter(converter.Out());
        if (SUCCEEDED(hr)) {
            hr = converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                       WICBitmapPaletteTypeCustom);
        }
        image->width = width;
        image->height = height;
        image->pixels.assign(size_t(width) * height * 4, 0);
        if (SUCCEEDED(hr)) {
            hr = converter->CopyPixels(nullptr, width * 4, static_cast<UINT>(image->pixels.size()), image->pixels.data());
        }
        if (FAILED(hr)) {
            *why = "the PNG data is damaged (the imaging component says " + Hex(hr) + ")";
            image->pixels.clear();
            return false;
        }
    }
    for (size_t i = 0; i < image->pixels.size(); i += 4) std::swap(image->pixels[i], image->pixels[i + 2]);
    return true;
}
