#include "base/Str.h"
#include "base/VersionInfo.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>

// The resource-only test modules lie beside the test program.
static std::string ModulePath(const char *name)
{
    char own[MAX_PATH];
    GetModuleFileNameA(NULL, own, sizeof(own));
    std::string path(own);
    return path.substr(0, path.rfind('\\') + 1) + name + ".dll";
}

TEST(VersionInfoTest, FileVersionBecomesNumberAndBannerText)
{
    const struct
    {
        const char *module; // null: the test program, which has no version resource
        const char *fileVersion;
        UINT32 number;
        const char *text;
    } cases[] = {
        {"VerUs25", "2.5", 0x0205, "Name [2.05]"},
        {"VerUs1123", "1.123", 0x017B, "Name [1.123]"},
        {"VerUs1011", "1.0.1.1", 0x0100, "Name [1.00]"},
        {"VerUsCommas", "3, 1, 0, 0", 0x0301, "Name [3.01]"},
        {"VerUs300", "300.7", 0x2C07, "Name [300.07]"},
        {"VerUsAnsi", "untouched", 0x0101, "Name [1.01]"},
        {"VerBoth", "1.02", 0x0102, "Name [1.02]"},
        {NULL, "untouched", 0x0101, "Name [1.01]"},
    };
    for (const auto &c : cases)
    {
        HMODULE module = c.module ? LoadLibraryA(ModulePath(c.module).c_str()) : NULL;
        ASSERT_TRUE(!c.module || module) << c.module;
        CVersionInfo info;
        UINT32 number = 0;
        CStr whole;
        whole = "untouched";
        info.GetVersionNumber(module, &number, &whole);
        char buffer[VERSION_TEXT_BUFFER];
        EXPECT_EQ(buffer, info.GetVersionText("Name", module, buffer));
        EXPECT_EQ(c.number, number) << c.text;
        EXPECT_STREQ(c.fileVersion, whole.GetText());
        EXPECT_STREQ(c.text, buffer);
        if (module)
            FreeLibrary(module);
    }
}

TEST(VersionInfoTest, GermanTableIsReadBeforeTheUsOne)
{
    const struct
    {
        const char *module, *key;
        int found;
        const char *value;
    } cases[] = {
        {"VerBoth", "Table", 1, "040704B0"},
        {"VerBothNoGermanVersion", "FileVersion", 1, "4.2"},
        {"VerBothNoGermanVersion", "Table", 1, "040704B0"},
        {"VerUs25", "Table", 1, "040904B0"},
        {"VerUsAnsi", "Table", 0, "kept"},
        {"VerUs25", "SpecialBuild", 0, "kept"},
        {"NoSuchModule", "FileVersion", 0, "kept"},
    };
    for (const auto &c : cases)
    {
        CStr value;
        value = "kept";
        EXPECT_EQ(c.found, CVersionInfo().GetVersionString(value, c.key, ModulePath(c.module).c_str()))
            << c.module << " " << c.key;
        EXPECT_STREQ(c.value, value.GetText()) << c.module << " " << c.key;
    }
}

static std::wstring Wide(const std::string &text)
{
    return std::wstring(text.begin(), text.end());
}

TEST(VersionInfoTest, ModulePathLongerThanTheBufferIsFailure)
{
    // Only the \\?\ form reaches a folder this deep; the A functions cannot remove it.
    CTempFolder temp;
    std::wstring folder = L"\\\\?\\" + Wide(temp.Path());
    for (wchar_t letter : {L'a', L'b', L'c', L'd'})
    {
        folder += L"\\" + std::wstring(70, letter);
        ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
    }
    std::wstring copy = folder + L"\\VerUs25.dll";
    ASSERT_TRUE(CopyFileW(Wide(ModulePath("VerUs25")).c_str(), copy.c_str(), FALSE));
    HMODULE module = LoadLibraryW(copy.c_str());
    ASSERT_TRUE(module);

    CVersionInfo info;
    char path[VERSION_PATH_BUFFER];
    EXPECT_EQ(0, info.GetModulePath(module, path));
    EXPECT_EQ(static_cast<DWORD>(ERROR_INSUFFICIENT_BUFFER), GetLastError());
    EXPECT_STREQ("", path);
    UINT32 number = 0;
    info.GetVersionNumber(module, &number);
    EXPECT_EQ(0x0101u, number);

    FreeLibrary(module);
    DeleteFileW(copy.c_str());
    for (int level = 0; level < 4; level++, folder.resize(folder.rfind(L'\\')))
        RemoveDirectoryW(folder.c_str());
}

TEST(VersionInfoTest, VersionTextIsCutToTheCallersBuffer)
{
    char buffer[12];
    memset(buffer, 'x', sizeof(buffer));
    CVersionInfo info;
    EXPECT_EQ(buffer, info.GetVersionText("LongName", NULL, buffer, 8));
    EXPECT_STREQ("LongNam", buffer);
    EXPECT_EQ('x', buffer[8]);
    EXPECT_STREQ("Own [1.01]", info.GetVersionText("Own", NULL));
}
