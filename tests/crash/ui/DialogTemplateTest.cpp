#include "crash/ui/DialogTemplate.h"
#include "crash/ui/FontFamily.h"
#include "crash/ui/GdiOwner.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "TestSupport.h"

// Read as the dialog manager reads it: each control on a 4-byte boundary, the last one
// ending where the template's length says.
TEST(DialogTemplateTest, ReportTemplateReadsBackAsStored)
{
    const WORD ids[] = {0xFFFF, 1000, 1001, 1004, 1005, 1008, 1010, 1003, 1006, 1011, 1012, 1013};
    const WORD *words = reinterpret_cast<const WORD *>(GetReportTemplate());
    ASSERT_EQ(0u, reinterpret_cast<UINT_PTR>(words) % 4);
    size_t at = 9; // in words, past style, extended style, count, x, y, cx and cy
    ASSERT_EQ(12, words[4]);
    auto text = [&] {
        std::wstring read;
        while (words[at])
            read += wchar_t(words[at++]);
        return at++, read;
    };
    EXPECT_EQ(L"", text()) << "menu";
    EXPECT_EQ(L"", text()) << "class";
    EXPECT_EQ(L"Dialog", text());
    at++; // point size
    EXPECT_EQ(L"MS Sans Serif", text());
    for (WORD id : ids)
    {
        at = (at + 1) & ~size_t(1);
        EXPECT_EQ(0, words[at + 2] | words[at + 3]) << "extended style of " << id;
        EXPECT_EQ(id, words[at + 8]);
        EXPECT_EQ(0xFFFF, words[at + 9]) << id;
        at += 11;
        text();
        EXPECT_EQ(0, words[at++]) << "creation data of " << id;
    }
    EXPECT_EQ(size_t(REPORT_TEMPLATE_SIZE), at * 2);
}

namespace
{

// The system's message font, set for the lifetime of the object; the setting reaches the
// other programs of the prefix, so it is always put back.
struct CMessageFontScope
{
    NONCLIENTMETRICSA m_Saved = {};
    CMessageFontScope(const char *face, LONG height)
    {
        ExpectOwnPrefix("The message font");
        m_Saved.cbSize = 340;
        SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, 340, &m_Saved, 0);
        NONCLIENTMETRICSA changed = m_Saved;
        lstrcpynA(changed.lfMessageFont.lfFaceName, face, LF_FACESIZE);
        changed.lfMessageFont.lfHeight = height;
        SystemParametersInfoA(SPI_SETNONCLIENTMETRICS, 340, &changed, 0);
    }
    ~CMessageFontScope() { SystemParametersInfoA(SPI_SETNONCLIENTMETRICS, 340, &m_Saved, 0); }
};

const WORD CONTROL_WORDS[] = {3, 0x5001, 0, 0, 7, 9, 50, 14, 1001, 0xFFFF, 0x82, 'a', 'b',
                              0, 0, 0};

// A one-control template with the caption "T" in the standard or the extended form. The
// extended font record holds weight 700, the italic flag and character set 0xEE.
std::vector<WORD> BuildTemplate(bool extended, DWORD style, const wchar_t *face)
{
    std::vector<WORD> words;
    auto dword = [&](DWORD value) { words.insert(words.end(), {LOWORD(value), HIWORD(value)}); };
    auto text = [&](const wchar_t *t) { do words.push_back(*t); while (*t++); };
    if (extended)
    {
        words.insert(words.end(), {1, 0xFFFF});
        dword(0);
        dword(0);
    }
    dword(style);
    if (!extended)
        dword(0);
    words.insert(words.end(), {1, 0, 0, 100, 50, 0, 0});
    text(L"T");
    if (style & DS_SETFONT)
    {
        words.push_back(9);
        if (extended)
            words.insert(words.end(), {700, 0xEE01});
        text(face);
    }
    if (words.size() % 2)
        words.push_back(0);
    words.insert(words.end(), CONTROL_WORDS, CONTROL_WORDS + 16);
    return words;
}

} // namespace

TEST(DialogTemplateTest, AdjustTemplateFontReplacesOnlyOldDialogFonts)
{
    // Wine's own Tahoma: the listed message face that is installed; the substitutes
    // "MS Shell Dlg" and "MS Shell Dlg 2" then name it too. "Segoe UI" stays missing.
    ASSERT_GT(AddFontResourceExA("Z:\\usr\\share\\wine\\fonts\\tahoma.ttf", FR_PRIVATE, 0), 0);
    ASSERT_FALSE(EnumFontFamily(NULL, 0, "Segoe UI", DEFAULT_CHARSET, NULL));
    // A null expected face: the template comes back unchanged.
    const struct
    {
        bool extended; DWORD style; const wchar_t *face; const char *messageFace;
        LONG messageHeight; int shellFont; const wchar_t *expectedFace; WORD expectedPoints;
    } cases[] = {
        {false, DS_SETFONT | WS_POPUP, L"MS Sans Serif", "Tahoma", -16, 0, L"Tahoma", 12},
        {true, DS_SETFONT | WS_POPUP, L"MS Shell Dlg", "Tahoma", -11, 1, L"Tahoma", 8},
        {false, DS_SETFONT, L"System", "Segoe UI", -12, 1, L"MS Shell Dlg 2", 8},
        {true, DS_SETFONT, L"MS Sans Serif", "Segoe UI", -12, 0, L"MS Shell Dlg 2", 8},
        {true, WS_POPUP, L"", "Tahoma", -11, 0, NULL, 0},
        {false, DS_SETFONT, L"MS Shell Dlg 2", "Tahoma", -11, 0, NULL, 0},
        {false, DS_SETFONT, L"ms sans serif", "Tahoma", -11, 0, NULL, 0},
        // A message face such as an East Asian system has.
        {true, DS_SETFONT, L"MS Sans Serif", "MS UI Gothic", -12, 0, NULL, 0},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(std::string(c.messageFace) + (c.extended ? ", extended" : ", standard"));
        CMessageFontScope font(c.messageFace, c.messageHeight);
        std::vector<WORD> words = BuildTemplate(c.extended, c.style, c.face);
        const DLGTEMPLATE *original = reinterpret_cast<const DLGTEMPLATE *>(words.data());
        const DLGTEMPLATE *adjusted =
            AdjustTemplateFont(original, UINT32(words.size() * 2), c.shellFont);
        if (!c.expectedFace)
        {
            EXPECT_EQ(original, adjusted);
            continue;
        }
        ASSERT_NE(original, adjusted);
        const WORD *copy = reinterpret_cast<const WORD *>(adjusted);
        // In words: the point size follows header, empty menu and class and the caption.
        const size_t point = c.extended ? 17 : 13, face = point + (c.extended ? 3 : 1);
        EXPECT_EQ(0, memcmp(copy, words.data(), point * 2)) << "header";
        EXPECT_EQ(c.expectedPoints, copy[point]);
        EXPECT_EQ(0, memcmp(copy + point + 1, words.data() + point + 1, (face - point - 1) * 2))
            << "weight, italic flag and character set";
        EXPECT_EQ(c.expectedFace, std::wstring(reinterpret_cast<const wchar_t *>(copy + face)));
        const size_t controls = (face + wcslen(c.expectedFace) + 2) & ~size_t(1);
        EXPECT_EQ(0, memcmp(copy + controls, CONTROL_WORDS, sizeof(CONTROL_WORDS)));
        FreeAdjustedTemplate(adjusted, original);
    }
}
