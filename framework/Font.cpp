#include "Font.h"

CFont::~CFont()
{
    DeleteObject();
}

BOOL CFont::CreateFontIndirect(const LOGFONTA& logFont)
{
    DeleteObject();
    m_hFont = ::CreateFontIndirectA(&logFont);
    return m_hFont != nullptr ? TRUE : FALSE;
}

void CFont::DeleteObject()
{
    if (m_hFont != nullptr)
        ::DeleteObject(m_hFont);
    m_hFont = nullptr;
}
