#include "Font.h"

CFont::~CFont()
{
    DeleteObject();
}

CFont::CFont(CFont&& other) noexcept : m_hFont(other.m_hFont)
{
    other.m_hFont = nullptr;
}

CFont& CFont::operator=(CFont&& other) noexcept
{
    if (this != &other) {
        DeleteObject();
        m_hFont = other.m_hFont;
        other.m_hFont = nullptr;
    }
    return *this;
}

BOOL CFont::CreateFontIndirect(const LOGFONTA& logFont)
{
    DeleteObject();
    m_hFont = ::CreateFontIndirectA(&logFont);
    return m_hFont != nullptr ? TRUE : FALSE;
}

BOOL CFont::CreateScaled(const LOGFONTA& logFont, UINT toDpi, UINT fromDpi)
{
    if (fromDpi == 0)
        return FALSE;
    LOGFONTA scaled = logFont;
    // MulDiv rounds half away from zero, so a negative (character) height
    // scales as its size would.
    scaled.lfHeight = ::MulDiv(logFont.lfHeight, static_cast<int>(toDpi), static_cast<int>(fromDpi));
    scaled.lfWidth = ::MulDiv(logFont.lfWidth, static_cast<int>(toDpi), static_cast<int>(fromDpi));
    return CreateFontIndirect(scaled);
}

void CFont::DeleteObject()
{
    if (m_hFont != nullptr)
        ::DeleteObject(m_hFont);
    m_hFont = nullptr;
}
