#include "jpeg_encode.h"

#include <objbase.h>
// The encoder's class and format identifiers are defined here, once.
#include <initguid.h>
#include <wincodec.h>

std::vector<uint8_t> jpeg_encode(const std::vector<uint8_t>& pixels, UINT width, UINT height)
{
    const UINT stride = width * 3;
    std::vector<uint8_t> jpeg;
    if (pixels.size() < size_t(stride) * height) return jpeg;
    IWICImagingFactory* factory = nullptr;
    IStream* stream = nullptr;
    IWICBitmapEncoder* encoder = nullptr;
    IWICBitmapFrameEncode* frame = nullptr;
    IPropertyBag2* options = nullptr;
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    HGLOBAL memory = nullptr;
    bool made = ::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                                   reinterpret_cast<void**>(&factory)) == S_OK &&
                ::CreateStreamOnHGlobal(nullptr, TRUE, &stream) == S_OK &&
                factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder) == S_OK &&
                encoder->Initialize(stream, WICBitmapEncoderNoCache) == S_OK &&
                encoder->CreateNewFrame(&frame, &options) == S_OK && frame->Initialize(options) == S_OK &&
                frame->SetSize(width, height) == S_OK && frame->SetPixelFormat(&format) == S_OK &&
                format == GUID_WICPixelFormat24bppBGR &&
                frame->WritePixels(height, stride, stride * height, const_cast<BYTE*>(pixels.data())) == S_OK &&
                frame->Commit() == S_OK && encoder->Commit() == S_OK && ::GetHGlobalFromStream(stream, &memory) == S_OK;
    if (made) {
        STATSTG stat{};
        stream->Stat(&stat, STATFLAG_NONAME);
        auto* bytes = static_cast<uint8_t*>(::GlobalLock(memory));
        jpeg.assign(bytes, bytes + stat.cbSize.QuadPart);
        ::GlobalUnlock(memory);
    }
    for (IUnknown* object :
         {static_cast<IUnknown*>(options), static_cast<IUnknown*>(frame), static_cast<IUnknown*>(encoder),
          static_cast<IUnknown*>(stream), static_cast<IUnknown*>(factory)})
        if (object) object->Release();
    return jpeg;
}
