#include "base/Str.h"
#include "base/VersionInfo.h"
#include "TestSupport.h"

static std::string ModulePath(const std::string &name) { return BesideTestProgram(name + ".dll"); }

// The file version as number, banner text and string value; a string value that is not
// found leaves the target as it was.
TEST(VersionInfoTest, FileVersionBecomesNumberAndBannerText)
{
    const struct { const char *module; UINT32 number; const char *text, *value; } cases[] = {
        {"VerUs25", 0x0205, "Name [2.05]", "2.5"}, {"VerUs1011", 0x0100, "Name [1.00]", "1.0.1.1"},
        {"VerUsCommas", 0x0301, "Name [3.01]", "3, 1, 0, 0"},
        {"VerUs300", 0x2C07, "Name [300.07]", "300.7"},
        // The German table is read first, though the module holds it second; a key it
        // lacks is looked up in the US table. A table of another code page is not read.
        {"VerBoth", 0x0102, "Name [1.02]", "1.02"},
        {"VerBothNoGermanVersion", 0x0402, "Name [4.02]", "4.2"},
        {"VerUs1252", 0x0101, "Name [1.01]", "kept"},
    };
    for (const auto &c : cases)
    {
        HMODULE module = LoadLibraryA(ModulePath(c.module).c_str());
        ASSERT_TRUE(module) << c.module;
        CVersionInfo info;
        UINT32 number = 0;
        info.GetVersionNumber(module, &number);
        EXPECT_EQ(c.number, number) << c.module;
        EXPECT_STREQ(c.text, info.GetVersionText("Name", module));
        char cut[12] = "xxxxxxxxxxx"; // a caller's buffer of 8 bytes
        EXPECT_EQ(std::string(c.text, 7), info.GetVersionText("Name", module, cut, 8));
        EXPECT_EQ('x', cut[8]);
        CStr value;
        value = "kept";
        EXPECT_EQ(c.value != std::string("kept"),
                  info.GetVersionString(value, "FileVersion", ModulePath(c.module).c_str()));
        EXPECT_STREQ(c.value, value.GetText()) << c.module;
        FreeLibrary(module);
    }
}

TEST(VersionInfoTest, ModulePathLongerThanTheBufferIsFailure)
{
    // Only the \\?\ form reaches a folder this deep; the A functions cannot remove it.
    CTempFolder temp;
    std::wstring folder = L"\\\\?\\" + std::wstring(temp.Path().begin(), temp.Path().end()) +
                          L"\\" + std::wstring(250, L'a');
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), NULL));
    std::string source = ModulePath("VerUs25");
    std::wstring copy = folder + L"\\VerUs25.dll";
    ASSERT_TRUE(CopyFileW(std::wstring(source.begin(), source.end()).c_str(), copy.c_str(), FALSE));
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
    RemoveDirectoryW(folder.c_str());
}
