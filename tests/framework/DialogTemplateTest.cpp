// The update dialog's template as the resource compiler emitted it into this
// executable, read back from the resources and compared with the control table.

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "resource.h"

namespace {

struct ParsedControl {
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    int32_t id = 0;
    std::string className;
    std::string caption;
};

struct ParsedDialog {
    uint32_t exStyle = 0;
    uint32_t style = 0;
    int x = 0, y = 0, cx = 0, cy = 0;
    std::string menu, className, caption;
    int pointSize = 0, weight = 0, italic = 0, charset = 0;
    std::string typeface;
    std::vector<ParsedControl> controls;
};

// Reads a DLGTEMPLATEEX with a bound check on every read.
class TemplateReader {
public:
    TemplateReader(const uint8_t* data, size_t size) : m_data(data), m_size(size) {}

    bool ok() const { return m_ok; }
    size_t offset() const { return m_pos; }

    uint16_t Word() { return static_cast<uint16_t>(Take(2)); }
    uint32_t Dword() { return static_cast<uint32_t>(Take(4)); }
    int Short() { return static_cast<int16_t>(Word()); }
    uint8_t Byte() { return static_cast<uint8_t>(Take(1)); }

    void AlignDword() { m_pos = (m_pos + 3) & ~size_t(3); }

    // A zero-terminated UTF-16 string, kept as narrow text (the template's
    // texts are ASCII; anything else is shown as '?').
    std::string String()
    {
        std::string s;
        for (;;) {
            const uint16_t c = Word();
            if (!m_ok || c == 0)
                return s;
            s += c < 0x80 ? static_cast<char>(c) : '?';
        }
    }

    // sz_Or_Ord: 0 (none), 0xFFFF + ordinal, or a string.
    std::string StringOrOrdinal()
    {
        const uint16_t first = Peek();
        if (first == 0xFFFF) {
            Word();
            return "#" + std::to_string(Word());
        }
        return String();
    }

private:
    uint16_t Peek()
    {
        if (m_pos + 2 > m_size)
            return 0;
        uint16_t v;
        std::memcpy(&v, m_data + m_pos, 2);
        return v;
    }

    uint64_t Take(size_t n)
    {
        if (!m_ok || m_pos + n > m_size) {
            m_ok = false;
            return 0;
        }
        uint64_t v = 0;
        std::memcpy(&v, m_data + m_pos, n); // little-endian on every Windows target
        m_pos += n;
        return v;
    }

    const uint8_t* m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

std::string ClassName(const std::string& raw)
{
    // Predefined classes are stored as ordinals 0x80..0x85.
    static const char* const names[] = { "Button", "Edit", "Static", "ListBox", "ScrollBar", "ComboBox" };
    if (raw.size() > 1 && raw[0] == '#') {
        const int ordinal = std::stoi(raw.substr(1));
        if (ordinal >= 0x80 && ordinal <= 0x85)
            return names[ordinal - 0x80];
    }
    for (const char* name : names) {
        if (::lstrcmpiA(name, raw.c_str()) == 0)
            return name;
    }
    return raw;
}

bool ParseDialog(const uint8_t* data, size_t size, ParsedDialog& out, std::string& error)
{
    TemplateReader r(data, size);
    const uint16_t version = r.Word();
    const uint16_t signature = r.Word();
    if (version != 1 || signature != 0xFFFF) {
        error = "not a DLGTEMPLATEEX";
        return false;
    }
    r.Dword(); // help id
    out.exStyle = r.Dword();
    out.style = r.Dword();
    const int count = r.Word();
    out.x = r.Short();
    out.y = r.Short();
    out.cx = r.Short();
    out.cy = r.Short();
    out.menu = r.StringOrOrdinal();
    out.className = r.StringOrOrdinal();
    out.caption = r.String();
    if (out.style & (DS_SETFONT | DS_SHELLFONT)) {
        out.pointSize = r.Word();
        out.weight = r.Word();
        out.italic = r.Byte();
        out.charset = r.Byte();
        out.typeface = r.String();
    }
    for (int i = 0; i < count && r.ok(); ++i) {
        r.AlignDword();
        ParsedControl c;
        r.Dword(); // help id
        c.exStyle = r.Dword();
        c.style = r.Dword();
        c.x = r.Short();
        c.y = r.Short();
        c.cx = r.Short();
        c.cy = r.Short();
        c.id = static_cast<int32_t>(r.Dword());
        c.className = ClassName(r.StringOrOrdinal());
        c.caption = r.StringOrOrdinal();
        const uint16_t extra = r.Word();
        for (uint16_t b = 0; b < extra; ++b)
            r.Byte();
        out.controls.push_back(c);
    }
    if (!r.ok()) {
        error = "template ends early, at byte " + std::to_string(r.offset()) + " of " + std::to_string(size);
        return false;
    }
    return true;
}

ParsedDialog LoadUpdateDialog()
{
    ParsedDialog dialog;
    HRSRC resource = ::FindResourceA(nullptr, MAKEINTRESOURCEA(IDD_UPDATE_DIALOG), MAKEINTRESOURCEA(5) /* RT_DIALOG */);
    if (resource == nullptr) {
        ADD_FAILURE() << "dialog " << IDD_UPDATE_DIALOG << " is not among the resources";
        return dialog;
    }
    HGLOBAL loaded = ::LoadResource(nullptr, resource);
    const auto* data = static_cast<const uint8_t*>(::LockResource(loaded));
    std::string error;
    if (!ParseDialog(data, ::SizeofResource(nullptr, resource), dialog, error))
        ADD_FAILURE() << error;
    return dialog;
}

struct ControlRow {
    int32_t id;
    uint32_t style;
    const char* className;
    const char* caption;
    int x, y, cx, cy;
};

// The control table, in template (= tab) order.
const ControlRow kControls[] = {
    { IDOK,               0x50010001, "Button",   "Exit",            63,   8,  44,  20 },
    { IDC_GET,            0x48010000, "Button",   "Get",            259,  19,  44,  20 },
    { IDC_SET,            0x50010000, "Button",   "Set",              9,   8,  44,  20 },
    { -1,                 0x48020000, "Static",   "Address",         17,  23,  39,  12 },
    { IDC_ADDRESS,        0x48210002, "ComboBox", "",                61,  20,  68, 171 },
    { IDC_SET_VALUE,      0x48210002, "ComboBox", "",               185,  20,  68, 196 },
    { IDC_GET_ALL,        0x48010000, "Button",   "Get All",        357,  19,  44,  20 },
    { -1,                 0x48020000, "Static",   "SetValue",       137,  23,  40,  12 },
    { -1,                 0x48020000, "Static",   "DataRead",        16,  51,  44,  12 },
    { IDC_DATA_READ,      0x48020000, "Static",   "",                71,  51, 109,  12 },
    { IDC_DUMP_LIST,      0x48A10101, "ListBox",  "",                 7,  81, 446, 201 },
    { IDC_SAVE,           0x48010000, "Button",   "Save",           308,  48,  44,  20 },
    { IDC_LOAD,           0x48010000, "Button",   "Load",           357,  48,  44,  20 },
    { IDC_SET_ALL,        0x48010000, "Button",   "Set All",        405,  19,  44,  20 },
    { IDC_AUTO_BURN,      0x48010003, "Button",   "Auto Burn : ",    11, 297,  46,  16 },
    { IDC_AUTO_BURN_FILE, 0x48020000, "Static",   "",                67, 300, 295,   8 },
    { IDC_RESULT,         0x50020000, "Static",   "",               374, 300,  73,   8 },
    { IDC_WRITE_DELAY,    0x48010003, "Button",   "WriteDely (ms)", 186,  53,  65,  10 },
    { IDC_WRITE_DELAY_MS, 0x48810080, "Edit",     "",               262,  51,  40,  14 },
    { IDC_RECORD,         0x48010003, "Button",   "Record : ",       11, 315,  46,  16 },
    { IDC_RECORD_FILE,    0x48020000, "Static",   "",                67, 318, 295,   8 },
};

TEST(DialogTemplate, FrameCaptionAndFont)
{
    const ParsedDialog d = LoadUpdateDialog();
    EXPECT_EQ(d.style, static_cast<uint32_t>(DS_MODALFRAME | WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_SETFONT))
        << std::hex << "style 0x" << d.style;
    EXPECT_EQ(d.exStyle, static_cast<uint32_t>(WS_EX_APPWINDOW)) << std::hex << "exstyle 0x" << d.exStyle;
    EXPECT_EQ(d.x, 0);
    EXPECT_EQ(d.y, 0);
    EXPECT_EQ(d.cx, 120);
    EXPECT_EQ(d.cy, 36);
    EXPECT_EQ(d.caption, "Update");
    EXPECT_EQ(d.menu, "");
    EXPECT_EQ(d.className, "");
    EXPECT_EQ(d.pointSize, 8);
    EXPECT_EQ(d.typeface, "System");
    EXPECT_EQ(d.italic, 0);
}

TEST(DialogTemplate, ControlsInTemplateOrder)
{
    const ParsedDialog d = LoadUpdateDialog();
    const size_t expected = sizeof kControls / sizeof kControls[0];
    ASSERT_EQ(d.controls.size(), expected);
    for (size_t i = 0; i < expected; ++i) {
        const ControlRow& want = kControls[i];
        const ParsedControl& got = d.controls[i];
        SCOPED_TRACE("row " + std::to_string(i + 1) + " (expected id " + std::to_string(want.id) + ")");
        EXPECT_EQ(got.id, want.id);
        EXPECT_EQ(got.style, want.style) << std::hex << "actual 0x" << got.style << ", expected 0x" << want.style;
        EXPECT_EQ(got.exStyle, 0u);
        EXPECT_EQ(got.className, want.className);
        EXPECT_EQ(got.caption, want.caption);
        EXPECT_EQ(got.x, want.x);
        EXPECT_EQ(got.y, want.y);
        EXPECT_EQ(got.cx, want.cx);
        EXPECT_EQ(got.cy, want.cy);
    }
}

} // namespace
