// The control wrappers on real controls.

#include <gtest/gtest.h>

#include <string>

#include "Framework.h"

namespace {

TEST(Controls, ListAndComboEntries)
{
    // Real controls on a plain window: no dialog needed for the wrappers.
    HWND parent = ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 100, 100, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    CComboBox combo;
    CListBox list;
    combo.Attach(::CreateWindowExA(0, "ComboBox", "", WS_CHILD | CBS_DROPDOWN | WS_VSCROLL, 0, 0, 50, 100, parent,
                                   nullptr, nullptr, nullptr));
    list.Attach(::CreateWindowExA(0, "ListBox", "", WS_CHILD | WS_VSCROLL, 0, 0, 50, 100, parent, nullptr, nullptr,
                                  nullptr));
    // Longer than any picker entry. Not much longer: under the manifest's
    // Common Controls 6, Wine's combo box crashes in CB_GETLBTEXT on an
    // entry of 600 characters (255 go through); Windows takes either.
    const std::string longText(255, 'q');
    const char* const texts[] = { "  5 : 0x05", "", longText.c_str(), "  0 : 0x00" };
    int index = 0;
    for (const char* text : texts) {
        // Unsorted: each entry goes to the end.
        EXPECT_EQ(combo.AddString(text), index);
        EXPECT_EQ(list.AddString(text), index);
        ++index;
    }
    EXPECT_EQ(combo.GetCount(), 4);
    EXPECT_EQ(list.GetCount(), 4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(combo.GetLBText(i), texts[i]) << i;
        EXPECT_EQ(list.GetText(i), texts[i]) << i;
    }
    for (int outside : { -1, 4, 1000 }) {
        EXPECT_EQ(combo.GetLBText(outside), "") << outside;
        EXPECT_EQ(list.GetText(outside), "") << outside;
    }
    combo.ResetContent();
    list.ResetContent();
    EXPECT_EQ(combo.GetCount(), 0);
    EXPECT_EQ(list.GetCount(), 0);
    ::DestroyWindow(parent);
}

} // namespace
