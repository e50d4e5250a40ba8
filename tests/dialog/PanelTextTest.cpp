// The dump's text, checked without windows.

#include "PanelText.h"

#include <gtest/gtest.h>

TEST(PanelText, DumpLines)
{
    struct Row {
        unsigned address;
        BYTE bytes[8];
        const char* line;
    } rows[] = {
        {0x28, {0x30, 0x41, 0x5A, 0x61, 0x7A, 0x7B, 0x1F, 0x80},
         "28 : 30(048)  41(065)  5A(090)  61(097)  -  7A(122)  7B(123)  1F(031)  80(128)    0 A Z a z . . ."},
        // 0x20 shows as a blank: six blanks before the first '.'.
        {0x78, {0x20, 0x00, 0xFF, 0x7F, 0x21, 0x09, 0xAB, 0x7A},
         "78 : 20(032)  00(000)  FF(255)  7F(127)  -  21(033)  09(009)  AB(171)  7A(122)      . . . ! . . z"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(row.line, PanelText::DumpLine(row.address, row.bytes));
}
