#include "crash/ui/DialogTemplate.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

namespace
{

// Reads a standard template back the way the dialog manager does.
class CTemplateReader
{
public:
    CTemplateReader(const void *bytes, size_t size)
        : m_Bytes(static_cast<const BYTE *>(bytes)), m_Size(size), m_At(0)
    {
    }
    WORD Word()
    {
        WORD value = 0;
        if (m_At + 2 <= m_Size)
            memcpy(&value, m_Bytes + m_At, 2);
        m_At += 2;
        return value;
    }
    DWORD Dword()
    {
        DWORD low = Word();
        return low | (static_cast<DWORD>(Word()) << 16);
    }
    std::wstring Text()
    {
        std::wstring text;
        for (WORD unit = Word(); unit; unit = Word())
            text += static_cast<wchar_t>(unit);
        return text;
    }
    // An ordinal field as "#<number>", a string field as itself.
    std::wstring Field()
    {
        if (m_At + 2 <= m_Size && m_Bytes[m_At] == 0xFF && m_Bytes[m_At + 1] == 0xFF)
        {
            Word();
            return L"#" + std::to_wstring(Word());
        }
        return Text();
    }
    void AlignToDword() { m_At = (m_At + 3) & ~size_t(3); }
    size_t Offset() const { return m_At; }

private:
    const BYTE *m_Bytes;
    size_t m_Size;
    size_t m_At;
};

struct CExpectedControl
{
    DWORD style;
    WORD id;
    const wchar_t *windowClass;
    short x, y, cx, cy;
    const wchar_t *text;
};

} // namespace

TEST(DialogTemplateTest, ReportTemplateReadsBackAsStored)
{
    const CExpectedControl expected[] = {
        {0x50000006, 0xFFFF, L"#130", 0, 0, 429, 167, L""},
        {0x50010001, 1000, L"#128", 241, 177, 100, 14, L"Send Problem Report"},
        {0x50010000, 1001, L"#128", 351, 177, 60, 14, L"Don't Send"},
        {0x50810080, 1004, L"#129", 40, 86, 370, 14, L""},
        {0x50810080, 1005, L"#129", 40, 119, 370, 14, L""},
        {0x50020000, 1008, L"#130", 40, 144, 370, 18, L"Static"},
        {0x50020000, 1010, L"#130", 40, 35, 370, 26, L"Static"},
        {0x50000003, 1003, L"#130", 10, 10, 20, 20, L""},
        {0x50020200, 1006, L"#130", 40, 12, 370, 14, L"Static"},
        {0x50020000, 1011, L"#130", 40, 74, 370, 8, L"Static"},
        {0x50020000, 1012, L"#130", 40, 107, 370, 8, L"Static"},
        {0x50000010, 1013, L"#130", 0, 166, 429, 1, L""},
    };
    const DLGTEMPLATE *stored = GetReportTemplate();
    ASSERT_EQ(0u, reinterpret_cast<UINT_PTR>(stored) % 4);
    CTemplateReader reader(stored, REPORT_TEMPLATE_PADDED_SIZE);
    EXPECT_EQ(0x80C808C0u, reader.Dword());
    EXPECT_EQ(0u, reader.Dword());
    ASSERT_EQ(12, reader.Word());
    const WORD frame[] = {0, 0, 428, 201};
    for (WORD value : frame)
        EXPECT_EQ(value, reader.Word());
    EXPECT_EQ(L"", reader.Field());
    EXPECT_EQ(L"", reader.Field());
    EXPECT_EQ(L"Dialog", reader.Text());
    EXPECT_EQ(8, reader.Word());
    EXPECT_EQ(L"MS Sans Serif", reader.Text());
    for (const CExpectedControl &control : expected)
    {
        reader.AlignToDword();
        EXPECT_EQ(control.style, reader.Dword()) << control.id;
        EXPECT_EQ(0u, reader.Dword()) << control.id;
        const short rect[] = {control.x, control.y, control.cx, control.cy};
        for (short value : rect)
            EXPECT_EQ(value, static_cast<short>(reader.Word())) << control.id;
        EXPECT_EQ(control.id, reader.Word());
        EXPECT_EQ(control.windowClass, reader.Field()) << control.id;
        EXPECT_EQ(control.text, reader.Field()) << control.id;
        EXPECT_EQ(0, reader.Word()) << "creation data of " << control.id;
    }
    EXPECT_EQ(size_t(REPORT_TEMPLATE_SIZE), reader.Offset());
}

namespace
{

// Sets the system's message font for the lifetime of the object (the setting reaches
// other programs of the prefix, so it is always put back).
class CMessageFontScope
{
public:
    CMessageFontScope(const char *face, LONG height)
    {
        m_Saved.cbSize = 340;
        m_Valid = SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, 340, &m_Saved, 0);
        NONCLIENTMETRICSA changed = m_Saved;
        lstrcpynA(changed.lfMessageFont.lfFaceName, face, LF_FACESIZE);
        changed.lfMessageFont.lfHeight = height;
        SystemParametersInfoA(SPI_SETNONCLIENTMETRICS, 340, &changed, 0);
    }
    ~CMessageFontScope()
    {
        if (m_Valid)
            SystemParametersInfoA(SPI_SETNONCLIENTMETRICS, 340, &m_Saved, 0);
    }

private:
    NONCLIENTMETRICSA m_Saved;
    BOOL m_Valid;
};

void AppendWord(std::vector<BYTE> &bytes, WORD value)
{
    bytes.push_back(static_cast<BYTE>(value));
    bytes.push_back(static_cast<BYTE>(value >> 8));
}

void AppendDword(std::vector<BYTE> &bytes, DWORD value)
{
    AppendWord(bytes, LOWORD(value));
    AppendWord(bytes, HIWORD(value));
}

void AppendText(std::vector<BYTE> &bytes, const wchar_t *text)
{
    for (; *text; text++)
        AppendWord(bytes, *text);
    AppendWord(bytes, 0);
}

void PadToDword(std::vector<BYTE> &bytes)
{
    while (bytes.size() % 4)
        bytes.push_back(0);
}

const BYTE CONTROL_BYTES[] = {0x03, 0x00, 0x01, 0x50, 0, 0, 0, 0, 7, 0, 9, 0, 50, 0, 14, 0,
                              0xE9, 0x03, 0xFF, 0xFF, 0x82, 0x00, 'a', 0, 'b', 0, 0, 0, 0, 0};

// A one-control template in the standard or extended form; font fields only with
// DS_SETFONT. The extended font record holds weight 700, italic and character set 0xEE.
std::vector<BYTE> BuildTemplate(bool extended, DWORD style, const wchar_t *face, WORD points)
{
    std::vector<BYTE> bytes;
    if (extended)
    {
        AppendWord(bytes, 1);
        AppendWord(bytes, 0xFFFF);
        AppendDword(bytes, 0);
        AppendDword(bytes, 0);
    }
    AppendDword(bytes, style);
    if (!extended)
        AppendDword(bytes, 0);
    AppendWord(bytes, 1);
    for (WORD value : {0, 0, 100, 50})
        AppendWord(bytes, value);
    AppendWord(bytes, 0);
    AppendWord(bytes, 0);
    AppendText(bytes, L"T");
    if (style & DS_SETFONT)
    {
        AppendWord(bytes, points);
        if (extended)
        {
            AppendWord(bytes, 700);
            bytes.push_back(1);
            bytes.push_back(0xEE);
        }
        AppendText(bytes, face);
    }
    PadToDword(bytes);
    bytes.insert(bytes.end(), CONTROL_BYTES, CONTROL_BYTES + sizeof(CONTROL_BYTES));
    PadToDword(bytes);
    return bytes;
}

std::wstring TextAt(const BYTE *bytes, size_t offset)
{
    return reinterpret_cast<const wchar_t *>(bytes + offset);
}

// Wine's own Tahoma, made available to this process: the listed message face that is
// installed, which the substitutes "MS Shell Dlg" and "MS Shell Dlg 2" then also name.
bool LoadPrivateTahoma()
{
    static const bool loaded =
        AddFontResourceExA("Z:\\usr\\share\\wine\\fonts\\tahoma.ttf", FR_PRIVATE, 0) > 0;
    return loaded;
}

} // namespace

TEST(DialogTemplateTest, AdjustTemplateFontReplacesOnlyOldDialogFonts)
{
    ASSERT_TRUE(LoadPrivateTahoma());
    ASSERT_FALSE(EnumFontFamily(NULL, 0, "Segoe UI", DEFAULT_CHARSET, NULL));
    struct Case
    {
        bool extended;
        DWORD style;
        const wchar_t *face;
        const char *messageFace;
        LONG messageHeight;
        int shellFont;
        const wchar_t *expectedFace; // null: the template comes back unchanged
        WORD expectedPoints;
    } cases[] = {
        {false, DS_SETFONT | WS_POPUP, L"MS Sans Serif", "Tahoma", -16, 0, L"Tahoma", 12},
        {true, DS_SETFONT | WS_POPUP, L"MS Shell Dlg", "Tahoma", -11, 1, L"Tahoma", 8},
        // "Segoe UI" is not installed: the shell font, with and without the switch.
        {false, DS_SETFONT, L"System", "Segoe UI", -12, 1, L"MS Shell Dlg 2", 8},
        {true, DS_SETFONT, L"MS Sans Serif", "Segoe UI", -12, 0, L"MS Shell Dlg 2", 8},
        {false, WS_POPUP, L"", "Tahoma", -11, 0, NULL, 0},
        {true, WS_POPUP, L"", "Tahoma", -11, 0, NULL, 0},
        {false, DS_SETFONT, L"Tahoma", "Tahoma", -11, 0, NULL, 0},
        {false, DS_SETFONT, L"MS Shell Dlg 2", "Tahoma", -11, 0, NULL, 0},
        {false, DS_SETFONT, L"ms sans serif", "Tahoma", -11, 0, NULL, 0},
        // A message face such as an East Asian system has.
        {true, DS_SETFONT, L"MS Sans Serif", "MS UI Gothic", -12, 0, NULL, 0},
    };
    for (const Case &c : cases)
    {
        SCOPED_TRACE(std::string(c.messageFace) + (c.extended ? " extended" : " standard"));
        CMessageFontScope font(c.messageFace, c.messageHeight);
        std::vector<BYTE> bytes = BuildTemplate(c.extended, c.style, c.face, 9);
        const DLGTEMPLATE *original = reinterpret_cast<const DLGTEMPLATE *>(bytes.data());
        const DLGTEMPLATE *adjusted =
            AdjustTemplateFont(original, static_cast<UINT32>(bytes.size()), c.shellFont);
        if (!c.expectedFace)
        {
            EXPECT_EQ(original, adjusted);
            continue;
        }
        ASSERT_NE(original, adjusted);
        const BYTE *copy = reinterpret_cast<const BYTE *>(adjusted);
        // Header, empty menu and class, caption "T".
        const size_t pointOffset = c.extended ? 34 : 26;
        const size_t faceOffset = pointOffset + (c.extended ? 6 : 2);
        EXPECT_EQ(0, memcmp(copy, bytes.data(), pointOffset)) << "header";
        WORD points;
        memcpy(&points, copy + pointOffset, 2);
        EXPECT_EQ(c.expectedPoints, points);
        if (c.extended)
        {
            EXPECT_EQ(0, memcmp(copy + pointOffset + 2, bytes.data() + pointOffset + 2, 4))
                << "weight, italic flag and character set";
        }
        EXPECT_EQ(c.expectedFace, TextAt(copy, faceOffset));
        size_t controls = (faceOffset + 2 * (wcslen(c.expectedFace) + 1) + 3) & ~size_t(3);
        EXPECT_EQ(0, memcmp(copy + controls, CONTROL_BYTES, sizeof(CONTROL_BYTES)));
        FreeAdjustedTemplate(adjusted, original);
    }
}

namespace
{

struct CFaceCount
{
    int calls;
    int stopAfter;
};

int CALLBACK CountFaces(const LOGFONTA *, const TEXTMETRICA *, DWORD, LPARAM user)
{
    CFaceCount *count = reinterpret_cast<CFaceCount *>(user);
    return ++count->calls < count->stopAfter;
}

} // namespace

TEST(DialogTemplateTest, EnumFontFamilyFindsFacesAndStopsWhenTheCallbackSays)
{
    EXPECT_TRUE(EnumFontFamily(NULL, 0, "Liberation Sans", DEFAULT_CHARSET, NULL));
    EXPECT_FALSE(EnumFontFamily(NULL, 0, "No Such Face", DEFAULT_CHARSET, NULL));
    EXPECT_FALSE(EnumFontFamily(NULL, 0, "Liberation Sans Liberation Sans Liberation Sans",
                                DEFAULT_CHARSET, NULL));
    CFaceCount count = {0, 2};
    EXPECT_EQ(0, EnumFontFamily(CountFaces, reinterpret_cast<LPARAM>(&count), "Liberation Sans",
                                DEFAULT_CHARSET, NULL));
    EXPECT_EQ(2, count.calls);
}
