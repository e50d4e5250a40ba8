// The framework's message box: caption, default icon, buttons and answer.

#include <gtest/gtest.h>

#include <algorithm>

#include "MessageBoxWatcher.h"
#include "Framework.h"

namespace {

struct BoxRow {
    UINT type;
    UINT icon;                // expected on screen
    std::vector<int> buttons; // expected, in any order
    int answer;               // pressed, and returned
};

TEST(AfxMessageBox, IconDefaultsButtonsAndAnswer)
{
    const BoxRow rows[] = {
        /*  1 */ { MB_OK, MB_ICONEXCLAMATION, { IDOK }, IDOK },
        /*  2 */ { MB_OKCANCEL, MB_ICONEXCLAMATION, { IDOK, IDCANCEL }, IDCANCEL },
        /*  3 */ { MB_YESNO, MB_ICONEXCLAMATION, { IDYES, IDNO }, IDNO },
        /*  4 */ { MB_YESNOCANCEL, MB_ICONEXCLAMATION, { IDYES, IDNO, IDCANCEL }, IDYES },
        /*  5 */ { MB_RETRYCANCEL, 0, { IDRETRY, IDCANCEL }, IDRETRY },
        /*  6 */ { MB_ABORTRETRYIGNORE, 0, { IDABORT, IDRETRY, IDIGNORE }, IDIGNORE },
        /*  7 */ { MB_OK | MB_ICONHAND, MB_ICONHAND, { IDOK }, IDOK },
        /*  8 */ { MB_OK | MB_ICONINFORMATION, MB_ICONINFORMATION, { IDOK }, IDOK },
        /*  9 */ { MB_YESNO | MB_ICONQUESTION, MB_ICONQUESTION, { IDYES, IDNO }, IDYES },
        /* 10 */ { MB_RETRYCANCEL | MB_ICONEXCLAMATION, MB_ICONEXCLAMATION, { IDRETRY, IDCANCEL }, IDCANCEL },
    };
    MessageBoxWatcher watcher;
    int n = 0;
    for (const BoxRow& r : rows) {
        SCOPED_TRACE("row " + std::to_string(++n));
        watcher.Clear();
        watcher.SetAnswer(r.answer);
        EXPECT_EQ(AfxMessageBox("First line,\n second line.", r.type), r.answer);
        ASSERT_EQ(watcher.Boxes().size(), 1u);
        const MessageBoxRecord& box = watcher.Boxes()[0];
        EXPECT_EQ(box.icon, r.icon) << MessageBoxWatcher::IconName(box.icon) << ", expected "
                                    << MessageBoxWatcher::IconName(r.icon);
        std::vector<int> buttons = box.buttons;
        std::vector<int> expected = r.buttons;
        std::sort(buttons.begin(), buttons.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(buttons, expected);
        EXPECT_EQ(box.text, "First line,\n second line.");
    }
}

// The application object has no name, and there is no title string: the
// caption is the executable's base name.
TEST(AfxMessageBox, CaptionIsTheApplicationTitle)
{
    MessageBoxWatcher watcher;
    AfxMessageBox("unnamed");
    {
        CWinApp named("Named Title");
        AfxMessageBox("named");
    }
    AfxMessageBox("unnamed again");
    ASSERT_EQ(watcher.Boxes().size(), 3u);
    EXPECT_EQ(watcher.Boxes()[0].caption, "framework_tests");
    EXPECT_EQ(watcher.Boxes()[1].caption, "Named Title");
    EXPECT_EQ(watcher.Boxes()[2].caption, "framework_tests");
    EXPECT_EQ(AfxGetModuleBaseName(), "framework_tests");
}

TEST(AfxFormatString2, Rows)
{
    const struct {
        const char* format;
        const char* s1;
        const char* s2;
        const char* expected;
    } rows[] = {
        /* 1 */ { "Please enter an integer between %1 and %2.", "1", "20", "Please enter an integer between 1 and 20." },
        /* 2 */ { "%2 before %1", "one", "two", "two before one" },
        /* 3 */ { "%1%1%2%2", "a", "b", "aabb" },
        /* 4 */ { "100% of %3 and %", "x", "y", "100% of %3 and %" },
        /* 5 */ { "[%1][%2]", nullptr, "", "[][]" },
        /* 6 */ { "%1", "%2", "no", "%2" }, // inserted text is not scanned again
        /* 7 */ { "", "a", "b", "" },
    };
    int n = 0;
    for (const auto& r : rows)
        EXPECT_EQ(AfxFormatString2(r.format, r.s1, r.s2), r.expected) << "row " << ++n;
}

// The watcher itself: a chain of posted messages set off by its callback runs
// to its end while the box is still open, and a box is read only once.
struct ChainState {
    int remaining = 0;
    int handledWithBoxOpen = 0;
    HWND box = nullptr;
};

LRESULT CALLBACK ChainProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    auto* state = reinterpret_cast<ChainState*>(::GetWindowLongPtrA(hWnd, GWLP_USERDATA));
    if (message == WM_APP && state != nullptr) {
        if (::IsWindow(state->box) && ::IsWindowVisible(state->box))
            ++state->handledWithBoxOpen;
        if (--state->remaining > 0)
            ::PostMessageA(hWnd, WM_APP, 0, 0);
        return 0;
    }
    return ::DefWindowProcA(hWnd, message, wParam, lParam);
}

TEST(MessageBoxWatcher, PostedChainsRunBeforeDismissal)
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &ChainProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = "FrameworkTestsChain";
    ::RegisterClassA(&wc);
    HWND target = ::CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(target, nullptr);
    ChainState state;
    ::SetWindowLongPtrA(target, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&state));

    MessageBoxWatcher watcher;
    int shown = 0;
    watcher.SetOnShow([&](const MessageBoxRecord& box) {
        ++shown;
        state.box = ::FindWindowA("#32770", box.caption.c_str());
        state.remaining = 50;
        ::PostMessageA(target, WM_APP, 0, 0);
    });
    AfxMessageBox("chain");
    ::DestroyWindow(target);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(state.remaining, 0);
    EXPECT_EQ(state.handledWithBoxOpen, 50);
}

} // namespace
