#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <iterator>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "CommandLine.h"
#include "EnvironmentBlock.h"
#include "MessageBoxReport.h"
#include "UiDriver.h"
#include "UniqueHandle.h"

// Failures print names, not bytes.
void PrintTo(RunOutcome outcome, std::ostream* out)
{
    const char* names[] = {"Exited", "TimedOut", "StartFailed"};
    *out << names[static_cast<int>(outcome)];
}

void PrintTo(MessageBoxIcon icon, std::ostream* out)
{
    *out << MessageBoxIconName(icon);
}

namespace
{
// The build hands us its own paths. Under Wine those are Unix paths, which
// Wine shows as drive Z:.
std::string WindowsPath(const std::string& path)
{
    std::string converted = !path.empty() && path[0] == '/' ? "Z:" + path : path;
    for (char& c : converted)
    {
        if (c == '/')
            c = '\\';
    }
    return converted;
}

const std::string kSample = WindowsPath(SAMPLE_BOXES_PATH);
const std::string kDriver = WindowsPath(UI_DRIVER_PATH);
constexpr DWORD kGenerousTimeoutMs = 30000;

std::string TempFolder()
{
    char folder[MAX_PATH] = {};
    const DWORD length = ::GetTempPathA(MAX_PATH, folder);
    std::string path(folder, length);
    if (path.size() > 3 && path.back() == '\\')
        path.pop_back();
    return path;
}

UiRunOptions SampleRun(const std::string& mode)
{
    UiRunOptions options;
    options.commandLine = QuoteArgument(kSample) + " " + mode;
    options.timeoutMs = kGenerousTimeoutMs;
    return options;
}

// What a box showed; whether it was pressed comes after it is reported.
bool SameContent(const SeenMessageBox& a, const SeenMessageBox& b)
{
    return a.caption == b.caption && a.text == b.text && a.icon == b.icon;
}

// --- Driving the sample through the library -------------------------------

TEST(UiDriverRun, ReadsEveryBoxInOrderAndPressesOk)
{
    UiRunOptions options = SampleRun("boxes");
    options.environment = {{"SAMPLE_VALUE", "two words"}};
    options.workingDirectory = TempFolder();
    std::vector<SeenMessageBox> reported;
    options.onMessageBox = [&](const SeenMessageBox& box) { reported.push_back(box); };

    const UiRunResult result = UiDriver(options).Run();

    const struct
    {
        const char* caption;
        MessageBoxIcon icon;
        std::string text;
    } expected[] = {
        {"Sample stop", MessageBoxIcon::Stop, "First line\nSecond \"quoted\" line"},
        {"Sample question", MessageBoxIcon::Question, "SAMPLE_VALUE=two words\r\nfolder=" + options.workingDirectory},
        {"Sample exclamation", MessageBoxIcon::Exclamation, "Tab\there, back\\slash"},
        {"Sample information", MessageBoxIcon::Information, "one\ntwo\nthree"},
        {"Sample plain", MessageBoxIcon::None, "No icon"},
    };
    ASSERT_EQ(RunOutcome::Exited, result.outcome);
    EXPECT_EQ(42u, result.exitCode) << "101..105: that box was not answered with OK";
    ASSERT_EQ(std::size(expected), result.messageBoxes.size());
    for (size_t i = 0; i < std::size(expected); ++i)
    {
        const SeenMessageBox& box = result.messageBoxes[i];
        EXPECT_EQ(expected[i].caption, box.caption) << "box " << i;
        EXPECT_EQ(expected[i].text, box.text) << "box " << i;
        EXPECT_STREQ(MessageBoxIconName(expected[i].icon), MessageBoxIconName(box.icon))
            << "box " << i << " told by " << IconEvidenceName(box.iconEvidence);
        EXPECT_TRUE(box.pressed) << "box " << i;
        std::printf("box %zu icon told by %s\n", i, IconEvidenceName(box.iconEvidence));
    }
    ASSERT_EQ(result.messageBoxes.size(), reported.size()) << "the callback reports each box once";
    for (size_t i = 0; i < reported.size(); ++i)
        EXPECT_TRUE(SameContent(result.messageBoxes[i], reported[i])) << "box " << i << ": " << FormatMessageBoxLine(reported[i]);
    EXPECT_TRUE(result.otherWindows.empty()) << result.otherWindows.front();
}

TEST(UiDriverRun, LeavesAnOrdinaryDialogAlone)
{
    const UiRunResult result = UiDriver(SampleRun("dialog")).Run();

    ASSERT_EQ(RunOutcome::Exited, result.outcome);
    EXPECT_EQ(static_cast<DWORD>(IDCANCEL), result.exitCode) << "1: the driver pressed OK on the dialog";
    ASSERT_EQ(1u, result.messageBoxes.size());
    EXPECT_EQ("Sample after dialog", result.messageBoxes[0].caption);
    EXPECT_EQ("Dialog returned 2", result.messageBoxes[0].text);
    EXPECT_EQ(std::vector<std::string>{"Sample settings"}, result.otherWindows);
    // Its one static text, once, though the window was scanned many times.
    EXPECT_EQ(std::vector<std::string>{"Name:"}, result.otherWindowTexts);
}

TEST(UiDriverRun, PressDelayHoldsEachBox)
{
    // The sample exits with the time its box stayed up, in tens of ms.
    const struct
    {
        DWORD delayMs;
        DWORD minHeld;
        DWORD maxHeld;
    } rows[] = {
        {0, 0, 60},
        {800, 80, 255},
    };
    for (size_t row = 0; row < std::size(rows); ++row)
    {
        UiRunOptions options = SampleRun("timed");
        options.pressDelayMs = rows[row].delayMs;
        const UiRunResult result = UiDriver(options).Run();
        ASSERT_EQ(RunOutcome::Exited, result.outcome) << "row " << row;
        EXPECT_GE(result.exitCode, rows[row].minHeld) << "row " << row;
        EXPECT_LE(result.exitCode, rows[row].maxHeld) << "row " << row;
    }
}

// An always-on-top window of ours that shows the question icon, as another
// program's box would if it sat over the box under test.
class QuestionCover
{
public:
    explicit QuestionCover(const RECT& area)
    {
        WNDCLASSA windowClass = {};
        windowClass.lpfnWndProc = Paint;
        windowClass.hInstance = ::GetModuleHandleA(nullptr);
        windowClass.lpszClassName = "UiDriverTestCover";
        ::RegisterClassA(&windowClass);
        m_window = ::CreateWindowExA(WS_EX_TOPMOST | WS_EX_TOOLWINDOW | WS_EX_NOACTIVATE, windowClass.lpszClassName,
                                     "Question cover", WS_POPUP | WS_VISIBLE, area.left, area.top,
                                     area.right - area.left, area.bottom - area.top, nullptr, nullptr,
                                     windowClass.hInstance, nullptr);
        ::UpdateWindow(m_window);
    }
    ~QuestionCover()
    {
        if (m_window)
            ::DestroyWindow(m_window);
    }
    QuestionCover(const QuestionCover&) = delete;
    QuestionCover& operator=(const QuestionCover&) = delete;
    explicit operator bool() const { return m_window != nullptr; }

private:
    static LRESULT CALLBACK Paint(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (message != WM_PAINT)
            return ::DefWindowProcA(window, message, wParam, lParam);
        PAINTSTRUCT paint;
        HDC dc = ::BeginPaint(window, &paint);
        RECT area;
        ::GetClientRect(window, &area);
        ::FillRect(dc, &area, ::GetSysColorBrush(COLOR_BTNFACE));
        ::DrawIconEx(dc, 0, 0, ::LoadIcon(nullptr, IDI_QUESTION), area.right, area.bottom, 0, nullptr, DI_NORMAL);
        ::EndPaint(window, &paint);
        return 0;
    }

    HWND m_window = nullptr;
};

// Runs the driver on another thread while this one keeps our windows painted.
UiRunResult RunWhilePumping(const UiRunOptions& options)
{
    UiRunResult result;
    std::atomic<bool> done(false);
    std::thread driver([&] {
        result = UiDriver(options).Run();
        done = true;
    });
    while (!done)
    {
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG message;
        while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageA(&message);
    }
    driver.join();
    return result;
}

TEST(UiDriverRun, DoesNotReadAnIconThroughAWindowOverIt)
{
    // Where the box puts its icon, learnt from a first run while it is up.
    RECT iconArea = {};
    UiRunOptions options = SampleRun("single");
    options.onMessageBox = [&](const SeenMessageBox&) {
        HWND box = ::FindWindowA("#32770", "Sample single");
        for (HWND child = ::GetWindow(box, GW_CHILD); child; child = ::GetWindow(child, GW_HWNDNEXT))
        {
            if ((::GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                ::GetWindowRect(child, &iconArea);
        }
    };
    const UiRunResult uncovered = UiDriver(options).Run();
    ASSERT_EQ(1u, uncovered.messageBoxes.size());
    ASSERT_EQ(MessageBoxIcon::Stop, uncovered.messageBoxes[0].icon);
    ASSERT_FALSE(::IsRectEmpty(&iconArea));

    // The same box again, now under a window that shows another icon. What
    // the screen shows there is not the box's to read: on Windows it is the
    // cover's question icon. (Wine stacks its X windows in the order they
    // map, so its screen may still show the box, against its own z-order.)
    QuestionCover cover(iconArea);
    ASSERT_TRUE(cover);
    options.onMessageBox = nullptr;
    const UiRunResult covered = RunWhilePumping(options);

    ASSERT_EQ(RunOutcome::Exited, covered.outcome);
    EXPECT_EQ(0u, covered.exitCode);
    ASSERT_EQ(1u, covered.messageBoxes.size());
    EXPECT_EQ(MessageBoxIcon::Unknown, covered.messageBoxes[0].icon)
        << "told by " << IconEvidenceName(covered.messageBoxes[0].iconEvidence);
    EXPECT_TRUE(covered.messageBoxes[0].pressed);
}

TEST(UiDriverRun, TimeoutKillsAProgramWhoseBoxStaysUp)
{
    const struct
    {
        const char* mode;
        bool pressOk;
        const char* caption;
        MessageBoxIcon icon;
    } rows[] = {
        {"yesno", true, "Sample yes/no", MessageBoxIcon::Question},   // no OK button to press
        {"single", false, "Sample single", MessageBoxIcon::Stop},     // told not to press
    };
    for (size_t row = 0; row < std::size(rows); ++row)
    {
        UiRunOptions options = SampleRun(rows[row].mode);
        options.pressOk = rows[row].pressOk;
        options.timeoutMs = 1500;
        const DWORD started = ::GetTickCount();
        const UiRunResult result = UiDriver(options).Run();
        const DWORD tookMs = ::GetTickCount() - started;

        EXPECT_EQ(RunOutcome::TimedOut, result.outcome) << "row " << row << ": exit code " << result.exitCode;
        EXPECT_GE(tookMs, 1500u) << "row " << row;
        EXPECT_LT(tookMs, 10000u) << "row " << row;
        ASSERT_EQ(1u, result.messageBoxes.size()) << "row " << row << ": the box stayed up and counts once";
        EXPECT_EQ(rows[row].caption, result.messageBoxes[0].caption) << "row " << row;
        EXPECT_EQ(rows[row].icon, result.messageBoxes[0].icon) << "row " << row;
        EXPECT_FALSE(result.messageBoxes[0].pressed) << "row " << row;
        EXPECT_EQ(nullptr, ::FindWindowA("#32770", rows[row].caption)) << "row " << row << ": the program was left running";
    }
}

TEST(UiDriverRun, ReportsAProgramThatCannotStart)
{
    UiRunOptions options;
    options.commandLine = "Z:\\no\\such\\folder\\NoSuchProgram.exe";
    bool called = false;
    options.onMessageBox = [&](const SeenMessageBox&) { called = true; };

    const UiRunResult result = UiDriver(options).Run();

    EXPECT_EQ(RunOutcome::StartFailed, result.outcome);
    EXPECT_TRUE(result.startError == ERROR_FILE_NOT_FOUND || result.startError == ERROR_PATH_NOT_FOUND)
        << "error " << result.startError;
    EXPECT_FALSE(called);
}

// --- The pieces the command line goes through ----------------------------

std::string Narrow(const wchar_t* text)
{
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string narrow(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        ::WideCharToMultiByte(CP_ACP, 0, text, -1, &narrow[0], size, nullptr, nullptr);
    return narrow;
}

TEST(CommandLine, EveryArgumentComesBackUnchanged)
{
    const std::vector<std::string> arguments = {
        "plain", "two words", "", "say \"hi\"", "trailing\\", "C:\\Program Files\\dir\\",
        "back\\\\\"quote", "tab\there", "a\\b\\c", "\"",
    };
    const std::string line = JoinCommandLine(std::vector<std::string>{"prog.exe"}) + " " +
                             [&] {
                                 std::string rest;
                                 for (const std::string& argument : arguments)
                                     rest += (rest.empty() ? "" : " ") + QuoteArgument(argument);
                                 return rest;
                             }();
    std::wstring wide(line.begin(), line.end());
    int count = 0;
    LPWSTR* parsed = ::CommandLineToArgvW(wide.c_str(), &count);
    ASSERT_NE(nullptr, parsed);
    ASSERT_EQ(static_cast<int>(arguments.size()) + 1, count) << line;
    for (size_t i = 0; i < arguments.size(); ++i)
        EXPECT_EQ(arguments[i], Narrow(parsed[i + 1])) << "row " << i << " quoted as " << QuoteArgument(arguments[i]);
    ::LocalFree(parsed);
}

TEST(EnvironmentBlock, SetReplacesWithoutRegardToCaseOrAddsInSortedPlace)
{
    const std::string base("=C:=C:\\work\0Path=C:\\bin\0TEMP=C:\\t\0\0", 35);
    const struct
    {
        const char* name;
        const char* value;
        std::string expected;
    } rows[] = {
        {"PATH", "X", std::string("=C:=C:\\work\0Path=X\0TEMP=C:\\t\0\0", 30)},
        {"beta", "1", std::string("=C:=C:\\work\0beta=1\0Path=C:\\bin\0TEMP=C:\\t\0\0", 42)},
        {"Zed", "", std::string("=C:=C:\\work\0Path=C:\\bin\0TEMP=C:\\t\0Zed=\0\0", 40)},
        {"TEMPO", "a=b", std::string("=C:=C:\\work\0Path=C:\\bin\0TEMP=C:\\t\0TEMPO=a=b\0\0", 45)},
        {"=C:", "C:\\", std::string("=C:=C:\\\0Path=C:\\bin\0TEMP=C:\\t\0\0", 31)},
    };
    for (size_t row = 0; row < std::size(rows); ++row)
    {
        EnvironmentBlock block(base.c_str());
        block.Set(rows[row].name, rows[row].value);
        EXPECT_EQ(rows[row].expected, block.Block()) << "row " << row;
    }
    EXPECT_EQ(std::string("\0\0", 2), EnvironmentBlock("").Block()) << "an empty block keeps both NULs";
}

TEST(MessageBoxReport, OneLinePerBox)
{
    const struct
    {
        const char* caption;
        MessageBoxIcon icon;
        const char* text;
        const char* expected;
    } rows[] = {
        {"TabletUpdate", MessageBoxIcon::Information, "Done.",
         "MessageBox caption=\"TabletUpdate\" icon=information text=\"Done.\""},
        {"A \"b\"", MessageBoxIcon::Stop, "one\r\ntwo\nthree\r", 
         "MessageBox caption=\"A \\\"b\\\"\" icon=stop text=\"one\\ntwo\\nthree\\r\""},
        {"", MessageBoxIcon::None, "C:\\dir\\file.ini\ttab\x01",
         "MessageBox caption=\"\" icon=none text=\"C:\\dir\\file.ini\\ttab\\x01\""},
        {"q", MessageBoxIcon::Question, "", "MessageBox caption=\"q\" icon=question text=\"\""},
        {"e", MessageBoxIcon::Exclamation, "", "MessageBox caption=\"e\" icon=exclamation text=\"\""},
    };
    for (size_t row = 0; row < std::size(rows); ++row)
    {
        SeenMessageBox box;
        box.caption = rows[row].caption;
        box.icon = rows[row].icon;
        box.text = rows[row].text;
        EXPECT_EQ(rows[row].expected, FormatMessageBoxLine(box)) << "row " << row;
    }
}

// --- UiDriver.exe as the demo and the end-to-end tests run it -------------

struct Captured
{
    DWORD exitCode = 0;
    std::string out;
    std::string err;
};

std::string ReadAll(HANDLE pipe)
{
    std::string text;
    char chunk[4096];
    DWORD read = 0;
    while (::ReadFile(pipe, chunk, sizeof(chunk), &read, nullptr) && read > 0)
        text.append(chunk, read);
    // Console text mode writes CR LF; the lines are what we compare.
    std::string lines;
    for (char c : text)
    {
        if (c != '\r')
            lines += c;
    }
    return lines;
}

Captured RunDriver(const std::string& arguments)
{
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE outRead = nullptr, outWrite = nullptr, errRead = nullptr, errWrite = nullptr;
    // Large pipes: stderr is read only after stdout ends.
    EXPECT_TRUE(::CreatePipe(&outRead, &outWrite, &inherit, 1 << 16));
    EXPECT_TRUE(::CreatePipe(&errRead, &errWrite, &inherit, 1 << 16));
    UniqueHandle outReader(outRead), outWriter(outWrite), errReader(errRead), errWriter(errWrite);
    ::SetHandleInformation(outRead, HANDLE_FLAG_INHERIT, 0);
    ::SetHandleInformation(errRead, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = outWrite;
    startup.hStdError = errWrite;
    std::string line = QuoteArgument(kDriver) + (arguments.empty() ? "" : " " + arguments);
    PROCESS_INFORMATION started = {};
    Captured captured;
    if (!::CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &started))
    {
        ADD_FAILURE() << "cannot start " << line << ": error " << ::GetLastError();
        return captured;
    }
    UniqueHandle process(started.hProcess), thread(started.hThread);
    outWriter.Reset();
    errWriter.Reset();
    captured.out = ReadAll(outRead);
    captured.err = ReadAll(errRead);
    ::WaitForSingleObject(process.Get(), INFINITE);
    ::GetExitCodeProcess(process.Get(), &captured.exitCode);
    return captured;
}

TEST(UiDriverExe, ReportsBoxesExitCodesAndMisuse)
{
    const std::string sample = QuoteArgument(kSample);
    const std::string folder = TempFolder();
    const struct
    {
        std::string arguments;
        DWORD exitCode;
        std::string out;
        const char* errContains;
    } rows[] = {
        {"--env SAMPLE_VALUE=\"from the command line\" --cwd " + QuoteArgument(folder) + " --press-delay-ms 10 -- " +
             sample + " boxes",
         0,
         "MessageBox caption=\"Sample stop\" icon=stop text=\"First line\\nSecond \\\"quoted\\\" line\"\n"
         "MessageBox caption=\"Sample question\" icon=question text=\"SAMPLE_VALUE=from the command line\\nfolder=" +
             folder + "\"\n"
             "MessageBox caption=\"Sample exclamation\" icon=exclamation text=\"Tab\\there, back\\slash\"\n"
             "MessageBox caption=\"Sample information\" icon=information text=\"one\\ntwo\\nthree\"\n"
             "MessageBox caption=\"Sample plain\" icon=none text=\"No icon\"\n"
             "Exit code 42\n",
         ""},
        {"-- " + sample + " dialog", 0,
         "MessageBox caption=\"Sample after dialog\" icon=information text=\"Dialog returned 2\"\nExit code 2\n",
         "Window caption=\"Sample settings\""},
        {"--timeout-ms 1500 -- " + sample + " sleep", 124, "Timeout after 1500 ms\n", ""},
        {"-- Z:\\no\\such\\NoSuchProgram.exe", 3, "", "cannot start Z:\\no\\such\\NoSuchProgram.exe: error 2"},
        {"", 2, "", "usage:"},
        {"--timeout-ms 100", 2, "", "usage:"},
        {"--", 2, "", "missing program"},
        {"--timeout-ms -- " + sample, 2, "", "missing value"},
        {"--timeout-ms 12x -- " + sample, 2, "", "--timeout-ms needs a number"},
        {"--timeout-ms 9999999999 -- " + sample, 2, "", "--timeout-ms needs a number"},
        {"--press-delay-ms -5 -- " + sample, 2, "", "--press-delay-ms needs a number"},
        {"--env NOEQUALS -- " + sample, 2, "", "--env needs NAME=VALUE"},
        {"--env =x -- " + sample, 2, "", "--env needs NAME=VALUE"},
        {"--bogus 1 -- " + sample, 2, "", "unknown option"},
    };
    for (size_t row = 0; row < std::size(rows); ++row)
    {
        const Captured captured = RunDriver(rows[row].arguments);
        EXPECT_EQ(rows[row].exitCode, captured.exitCode) << "row " << row << "\n" << captured.err;
        EXPECT_EQ(rows[row].out, captured.out) << "row " << row;
        EXPECT_NE(std::string::npos, captured.err.find(rows[row].errContains))
            << "row " << row << ": stderr was\n" << captured.err;
    }
}
}
