#pragma once

// The icon of a message box, named after the MB_ICON* style that shows it.
enum class MessageBoxIcon
{
    None,
    Stop,          // MB_ICONHAND / MB_ICONSTOP / MB_ICONERROR
    Question,      // MB_ICONQUESTION
    Exclamation,   // MB_ICONEXCLAMATION / MB_ICONWARNING
    Information,   // MB_ICONASTERISK / MB_ICONINFORMATION
    Unknown,       // an icon, but none of the system's four (MB_USERICON)
};

// How the icon was told: by the icon handle the box holds, by that icon's
// bitmaps, or by the pixels the box shows on the screen.
enum class IconEvidence
{
    NoIcon,
    SameHandle,
    SameBitmaps,
    ScreenPixels,
    Unrecognised,
};

const char* MessageBoxIconName(MessageBoxIcon icon);
const char* IconEvidenceName(IconEvidence evidence);
