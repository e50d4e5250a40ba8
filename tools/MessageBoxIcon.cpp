#include "MessageBoxIcon.h"

const char* MessageBoxIconName(MessageBoxIcon icon)
{
    switch (icon)
    {
    case MessageBoxIcon::None: return "none";
    case MessageBoxIcon::Stop: return "stop";
    case MessageBoxIcon::Question: return "question";
    case MessageBoxIcon::Exclamation: return "exclamation";
    case MessageBoxIcon::Information: return "information";
    case MessageBoxIcon::Unknown: break;
    }
    return "unknown";
}

const char* IconEvidenceName(IconEvidence evidence)
{
    switch (evidence)
    {
    case IconEvidence::NoIcon: return "no icon";
    case IconEvidence::SameHandle: return "same handle";
    case IconEvidence::SameBitmaps: return "same bitmaps";
    case IconEvidence::ScreenPixels: return "screen pixels";
    case IconEvidence::Unrecognised: break;
    }
    return "unrecognised";
}
