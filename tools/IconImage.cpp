#include "IconImage.h"

#include <algorithm>
#include <memory>
#include <type_traits>

namespace
{
struct GdiObjectDeleter
{
    void operator()(HBITMAP bitmap) const { ::DeleteObject(bitmap); }
};
using BitmapPtr = std::unique_ptr<std::remove_pointer_t<HBITMAP>, GdiObjectDeleter>;

class ScreenDc
{
public:
    ScreenDc() : m_dc(::GetDC(nullptr)) {}
    ~ScreenDc()
    {
        if (m_dc)
            ::ReleaseDC(nullptr, m_dc);
    }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC Get() const { return m_dc; }

private:
    HDC m_dc;
};

// A memory DC with a 32-bit top-down DIB section selected into it.
class DibCanvas
{
public:
    DibCanvas(int width, int height) : m_width(width), m_height(height)
    {
        if (width <= 0 || height <= 0)
            return;
        m_dc = ::CreateCompatibleDC(nullptr);
        if (!m_dc)
            return;
        BITMAPINFO info = {};
        info.bmiHeader.biSize = sizeof(info.bmiHeader);
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        m_bitmap.reset(::CreateDIBSection(m_dc, &info, DIB_RGB_COLORS, &m_bits, nullptr, 0));
        if (m_bitmap)
            m_previous = ::SelectObject(m_dc, m_bitmap.get());
    }
    ~DibCanvas()
    {
        if (m_previous)
            ::SelectObject(m_dc, m_previous);
        m_bitmap.reset();
        if (m_dc)
            ::DeleteDC(m_dc);
    }
    DibCanvas(const DibCanvas&) = delete;
    DibCanvas& operator=(const DibCanvas&) = delete;

    bool Ok() const { return m_previous != nullptr && m_bits != nullptr; }
    HDC Dc() const { return m_dc; }
    uint32_t* Bits() const { return static_cast<uint32_t*>(m_bits); }

    IconImage Snapshot() const
    {
        ::GdiFlush();
        return IconImage(m_width, m_height, std::vector<uint32_t>(Bits(), Bits() + static_cast<size_t>(m_width) * m_height));
    }

private:
    int m_width;
    int m_height;
    HDC m_dc = nullptr;
    BitmapPtr m_bitmap;
    HGDIOBJ m_previous = nullptr;
    void* m_bits = nullptr;
};

// Reads a bitmap's rows as 32-bit pixels; appends them to pixels.
bool AppendBitmapPixels(HBITMAP bitmap, int& width, int& height, std::vector<uint32_t>& pixels)
{
    BITMAP header = {};
    if (!bitmap || ::GetObject(bitmap, sizeof(header), &header) != sizeof(header))
        return false;
    if (header.bmWidth <= 0 || header.bmHeight <= 0 || header.bmWidth > 1024 || header.bmHeight > 2048)
        return false;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = header.bmWidth;
    info.bmiHeader.biHeight = -header.bmHeight;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    std::vector<uint32_t> rows(static_cast<size_t>(header.bmWidth) * header.bmHeight);
    ScreenDc dc;
    if (!dc.Get() || ::GetDIBits(dc.Get(), bitmap, 0, header.bmHeight, rows.data(), &info, DIB_RGB_COLORS) != header.bmHeight)
        return false;
    if (width != 0 && width != header.bmWidth)
        return false;
    width = header.bmWidth;
    height += header.bmHeight;
    pixels.insert(pixels.end(), rows.begin(), rows.end());
    return true;
}
}

IconImage::IconImage(int width, int height, std::vector<uint32_t> pixels)
    : m_width(width > 0 ? width : 0)
    , m_height(height > 0 ? height : 0)
    , m_pixels(std::move(pixels))
{
    m_pixels.resize(static_cast<size_t>(m_width) * m_height);
    for (uint32_t& pixel : m_pixels)
        pixel &= 0x00FFFFFFu;
}

std::optional<IconImage> IconImage::FromIconBitmaps(HICON icon)
{
    ICONINFO info = {};
    if (!icon || !::GetIconInfo(icon, &info))
        return std::nullopt;
    // GetIconInfo hands us copies that we now own.
    BitmapPtr color(info.hbmColor);
    BitmapPtr mask(info.hbmMask);
    int width = 0;
    int height = 0;
    std::vector<uint32_t> pixels;
    if (color && !AppendBitmapPixels(color.get(), width, height, pixels))
        return std::nullopt;
    if (!AppendBitmapPixels(mask.get(), width, height, pixels))
        return std::nullopt;
    return IconImage(width, height, std::move(pixels));
}

std::optional<IconImage> IconImage::Render(HICON icon, int width, int height, COLORREF background)
{
    DibCanvas canvas(width, height);
    if (!icon || !canvas.Ok())
        return std::nullopt;
    const uint32_t fill = (GetRValue(background) << 16) | (GetGValue(background) << 8) | GetBValue(background);
    ::GdiFlush();
    std::fill(canvas.Bits(), canvas.Bits() + static_cast<size_t>(width) * height, fill);
    if (!::DrawIconEx(canvas.Dc(), 0, 0, icon, width, height, 0, nullptr, DI_NORMAL))
        return std::nullopt;
    return canvas.Snapshot();
}

std::optional<IconImage> IconImage::CaptureScreen(const RECT& area)
{
    const int width = area.right - area.left;
    const int height = area.bottom - area.top;
    if (width > 1024 || height > 1024)
        return std::nullopt;
    DibCanvas canvas(width, height);
    ScreenDc screen;
    if (!canvas.Ok() || !screen.Get())
        return std::nullopt;
    if (!::BitBlt(canvas.Dc(), 0, 0, width, height, screen.Get(), area.left, area.top, SRCCOPY))
        return std::nullopt;
    return canvas.Snapshot();
}
