#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

// A small picture in 32-bit 0x00RRGGBB pixels, top row first, for telling
// icons apart pixel by pixel.
class IconImage
{
public:
    // Pixels beyond width x height are dropped, missing ones are black; the
    // top byte (alpha, or nothing) does not count.
    IconImage(int width, int height, std::vector<uint32_t> pixels);

    // The icon's own bitmaps as GetIconInfo hands them out (colour rows, then
    // mask rows). Empty when this process cannot use the handle: icons of
    // other processes are not shared everywhere (Wine keeps them per process).
    static std::optional<IconImage> FromIconBitmaps(HICON icon);

    // The icon drawn with DrawIconEx at width x height over a solid colour.
    static std::optional<IconImage> Render(HICON icon, int width, int height, COLORREF background);

    // What the screen shows in the given rectangle (screen coordinates).
    static std::optional<IconImage> CaptureScreen(const RECT& area);

    int Width() const { return m_width; }
    int Height() const { return m_height; }
    uint32_t Pixel(int x, int y) const { return m_pixels[static_cast<size_t>(y) * m_width + x]; }

    bool operator==(const IconImage& other) const
    {
        return m_width == other.m_width && m_height == other.m_height && m_pixels == other.m_pixels;
    }
    bool operator!=(const IconImage& other) const { return !(*this == other); }

private:
    int m_width;
    int m_height;
    std::vector<uint32_t> m_pixels;
};
