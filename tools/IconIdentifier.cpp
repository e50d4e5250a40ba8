#include "IconIdentifier.h"

#include <cstdlib>

#include "MessageBoxWindow.h"

namespace
{
constexpr UINT kMessageTimeoutMs = 1000;
// Screen colours may be quantised (16-bit displays), so a pixel may be off by
// a little in each channel.
constexpr int kChannelTolerance = 8;
// Share of the reference's opaque pixels the screen must show. The question
// and information icons differ only in their glyph, a few percent of the area.
constexpr double kRequiredShare = 0.98;

bool Near(uint32_t a, uint32_t b)
{
    for (int shift = 0; shift < 24; shift += 8)
    {
        const int ca = static_cast<int>((a >> shift) & 0xFF);
        const int cb = static_cast<int>((b >> shift) & 0xFF);
        if (std::abs(ca - cb) > kChannelTolerance)
            return false;
    }
    return true;
}

// The share of the icon's opaque pixels (those that come out the same over
// black and over white) that the screen shows unchanged; 0 when the icon is
// mostly transparent and so proves nothing.
double OpaqueShareShown(HICON icon, const IconImage& shown)
{
    const auto overBlack = IconImage::Render(icon, shown.Width(), shown.Height(), RGB(0, 0, 0));
    const auto overWhite = IconImage::Render(icon, shown.Width(), shown.Height(), RGB(255, 255, 255));
    if (!overBlack || !overWhite)
        return 0.0;
    long opaque = 0;
    long same = 0;
    for (int y = 0; y < shown.Height(); ++y)
    {
        for (int x = 0; x < shown.Width(); ++x)
        {
            if (overBlack->Pixel(x, y) != overWhite->Pixel(x, y))
                continue;
            ++opaque;
            if (Near(overBlack->Pixel(x, y), shown.Pixel(x, y)))
                ++same;
        }
    }
    const long area = static_cast<long>(shown.Width()) * shown.Height();
    if (opaque == 0 || opaque * 8 < area)
        return 0.0;
    return static_cast<double>(same) / static_cast<double>(opaque);
}

// Whether the screen shows the box itself over the whole area, judged at its
// corners and centre. Another window there (another box of a test running
// alongside, centred like ours) would lend us its icon.
bool Uncovered(HWND messageBox, const RECT& area)
{
    const POINT probes[] = {
        {area.left, area.top},
        {area.right - 1, area.top},
        {area.left, area.bottom - 1},
        {area.right - 1, area.bottom - 1},
        {(area.left + area.right) / 2, (area.top + area.bottom) / 2},
    };
    for (const POINT& probe : probes)
    {
        HWND shown = ::WindowFromPoint(probe);
        if (!shown || ::GetAncestor(shown, GA_ROOT) != messageBox)
            return false;
    }
    return true;
}

HICON IconShownBy(HWND iconControl)
{
    DWORD_PTR icon = 0;
    if (::SendMessageTimeoutA(iconControl, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &icon) && icon)
        return reinterpret_cast<HICON>(icon);
    if (::SendMessageTimeoutA(iconControl, STM_GETIMAGE, IMAGE_ICON, 0, SMTO_ABORTIFHUNG, kMessageTimeoutMs, &icon))
        return reinterpret_cast<HICON>(icon);
    return nullptr;
}
}

IconIdentifier::IconIdentifier()
{
    const struct
    {
        MessageBoxIcon icon;
        LPCTSTR resource;
    } systemIcons[] = {
        {MessageBoxIcon::Stop, IDI_HAND},
        {MessageBoxIcon::Question, IDI_QUESTION},
        {MessageBoxIcon::Exclamation, IDI_EXCLAMATION},
        {MessageBoxIcon::Information, IDI_ASTERISK},
    };
    for (const auto& systemIcon : systemIcons)
    {
        HICON handle = ::LoadIcon(nullptr, systemIcon.resource);
        if (handle)
            m_references.push_back({systemIcon.icon, handle, IconImage::FromIconBitmaps(handle)});
    }
}

std::optional<IconIdentifier::Verdict> IconIdentifier::Identify(HWND messageBox) const
{
    // Windows leaves the icon static out when there is no icon; Wine keeps it
    // with no icon set.
    HWND control = MessageBoxWindow(messageBox).IconControl();
    if (!control || !::IsWindowVisible(control))
        return Verdict{MessageBoxIcon::None, IconEvidence::NoIcon};
    HICON shown = IconShownBy(control);
    if (!shown)
        return Verdict{MessageBoxIcon::None, IconEvidence::NoIcon};

    for (const Reference& reference : m_references)
    {
        if (reference.handle == shown)
            return Verdict{reference.icon, IconEvidence::SameHandle};
    }
    // Where icons live in a shared handle table, the box's icon can be read
    // here even when it is another copy of the same image.
    if (const auto bitmaps = IconImage::FromIconBitmaps(shown))
    {
        for (const Reference& reference : m_references)
        {
            if (reference.bitmaps && *reference.bitmaps == *bitmaps)
                return Verdict{reference.icon, IconEvidence::SameBitmaps};
        }
        return Verdict{MessageBoxIcon::Unknown, IconEvidence::Unrecognised};
    }
    // Wine loads the system icons once per process under handles of its own
    // and refuses GetIconInfo on another process's icon
    // (ERROR_INVALID_CURSOR_HANDLE): what is left is to look at the screen.
    return ByScreenPixels(control);
}

std::optional<IconIdentifier::Verdict> IconIdentifier::ByScreenPixels(HWND iconControl) const
{
    RECT area = {};
    if (!::GetClientRect(iconControl, &area))
        return std::nullopt;
    ::MapWindowPoints(iconControl, nullptr, reinterpret_cast<POINT*>(&area), 2);
    HWND messageBox = ::GetAncestor(iconControl, GA_ROOT);
    if (!Uncovered(messageBox, area))
    {
        // Bring it up for the next look; without activating it, so that
        // the program's focus stays where it was.
        ::SetWindowPos(messageBox, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
        return std::nullopt;
    }
    const auto shown = IconImage::CaptureScreen(area);
    if (!shown || !Uncovered(messageBox, area))
        return std::nullopt;

    const Reference* best = nullptr;
    double bestShare = 0.0;
    for (const Reference& reference : m_references)
    {
        const double share = OpaqueShareShown(reference.handle, *shown);
        if (share > bestShare)
        {
            bestShare = share;
            best = &reference;
        }
    }
    if (!best || bestShare < kRequiredShare)
        return std::nullopt;
    return Verdict{best->icon, IconEvidence::ScreenPixels};
}
