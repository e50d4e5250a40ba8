#pragma once

#include <windows.h>

#include <optional>
#include <vector>

#include "IconImage.h"
#include "MessageBoxIcon.h"

// Tells which of the system's message box icons a box in another process shows.
class IconIdentifier
{
public:
    struct Verdict
    {
        MessageBoxIcon icon;
        IconEvidence evidence;
    };

    IconIdentifier();

    // Empty while the box shows an icon that cannot be told yet: the screen
    // path needs the icon painted (which may lag the box becoming visible)
    // and not covered by another window.
    std::optional<Verdict> Identify(HWND messageBox) const;

private:
    struct Reference
    {
        MessageBoxIcon icon;
        HICON handle;                       // shared system icon: never destroyed
        std::optional<IconImage> bitmaps;
    };

    std::optional<Verdict> ByScreenPixels(HWND iconControl) const;

    std::vector<Reference> m_references;
};
