#include "Driver.h"

#include <objidl.h>
#include <gdiplus.h>

#include <vector>

namespace e2e {

namespace {

bool PngEncoder(CLSID* clsid)
{
    UINT count = 0, size = 0;
    Gdiplus::GetImageEncodersSize(&count, &size);
    if (size == 0)
        return false;
    std::vector<BYTE> buffer(size);
    auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
    Gdiplus::GetImageEncoders(count, size, encoders);
    for (UINT i = 0; i < count; ++i) {
        if (wcscmp(encoders[i].MimeType, L"image/png") == 0) {
            *clsid = encoders[i].Clsid;
            return true;
        }
    }
    return false;
}

} // namespace

std::vector<COLORREF> ScreenPixels(const RECT& rect)
{
    const int w = rect.right - rect.left, h = rect.bottom - rect.top;
    if (w <= 0 || h <= 0)
        return {};
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    std::vector<COLORREF> pixels;
    if (bitmap) {
        HGDIOBJ old = SelectObject(memory, bitmap);
        BitBlt(memory, 0, 0, w, h, screen, rect.left, rect.top, SRCCOPY);
        GdiFlush();
        const auto* bgra = static_cast<const BYTE*>(bits);
        pixels.reserve(static_cast<size_t>(w) * h);
        for (size_t i = 0; i < static_cast<size_t>(w) * h; ++i)
            pixels.push_back(RGB(bgra[i * 4 + 2], bgra[i * 4 + 1], bgra[i * 4]));
        SelectObject(memory, old);
        DeleteObject(bitmap);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

bool SaveScreenshot(const std::wstring& path, HWND window)
{
    Gdiplus::GdiplusStartupInput input;
    ULONG_PTR token = 0;
    if (Gdiplus::GdiplusStartup(&token, &input, nullptr) != Gdiplus::Ok)
        return false;
    RECT r;
    if (window)
        GetWindowRect(window, &r);
    else
        r = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    const int w = r.right - r.left, h = r.bottom - r.top;
    bool saved = false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, w, h);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    SelectObject(memory, old);
    {
        Gdiplus::Bitmap image(bitmap, nullptr);
        CLSID png;
        saved = PngEncoder(&png) && image.Save(path.c_str(), &png, nullptr) == Gdiplus::Ok;
    }
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    Gdiplus::GdiplusShutdown(token);
    return saved;
}

} // namespace e2e
