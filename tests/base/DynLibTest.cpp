#include "base/DynLib.h"
#include "base/Str.h"
#include "TestSupport.h"

#include <gtest/gtest.h>
#include <string>

// A system library that nothing else in the test program loads.
static const char *const kUnusedLibrary = "msimg32.dll";

TEST(DynLibTest, MissingLibraryFailsAndKeepsErrorMode)
{
    UINT outerMode = SetErrorMode(SEM_NOGPFAULTERRORBOX);
    CDynLib lib;
    EXPECT_EQ(0, lib.Load("brennlow_no_such_library.dll"));
    EXPECT_EQ(static_cast<UINT>(SEM_NOGPFAULTERRORBOX), SetErrorMode(outerMode));
    EXPECT_EQ(nullptr, lib.GetProc("GetTickCount"));
    EXPECT_EQ(nullptr, lib.GetProc("DllMain"));
}

TEST(DynLibTest, ResolvesRealExportsOnly)
{
    CDynLib lib;
    ASSERT_EQ(1, lib.Load("kernel32.dll"));
    EXPECT_EQ(reinterpret_cast<void *>(GetProcAddress(GetModuleHandleA("kernel32.dll"), "GetTickCount")),
              lib.GetProc("GetTickCount"));
    EXPECT_EQ(nullptr, lib.GetProc("BrennlowNoSuchExport"));
}

TEST(DynLibTest, SecondLoadAndFreeReleaseTheLibrary)
{
    ASSERT_EQ(nullptr, GetModuleHandleA(kUnusedLibrary));
    CDynLib lib;
    ASSERT_EQ(1, lib.Load(kUnusedLibrary));
    EXPECT_NE(nullptr, GetModuleHandleA(kUnusedLibrary));
    ASSERT_EQ(1, lib.Load("kernel32.dll"));
    EXPECT_EQ(nullptr, GetModuleHandleA(kUnusedLibrary));

    ASSERT_EQ(1, lib.Load(kUnusedLibrary));
    EXPECT_EQ(1, lib.Free());
    EXPECT_EQ(nullptr, GetModuleHandleA(kUnusedLibrary));
    EXPECT_EQ(nullptr, lib.GetProc("GetTickCount"));
}

// A scratch key under HKEY_CURRENT_USER, deleted with its values afterwards.
class RegKeyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        m_Path = "Software\\BrennlowTests\\" + std::to_string(GetCurrentProcessId());
        ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, m_Path.c_str(), 0, NULL, 0,
                                                 KEY_ALL_ACCESS, NULL, &m_hKey, NULL));
    }
    void TearDown() override
    {
        RegCloseKey(m_hKey);
        RegDeleteKeyA(HKEY_CURRENT_USER, m_Path.c_str());
        RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\BrennlowTests");
    }
    void SetValue(const char *name, DWORD type, const void *data, size_t size)
    {
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(m_hKey, name, 0, type, static_cast<const BYTE *>(data),
                                                static_cast<DWORD>(size)));
    }

    std::string m_Path;
    HKEY m_hKey = NULL;
};

TEST_F(RegKeyTest, ReadsEachKindOfValue)
{
    DWORD number = 0x12345678;
    SetValue("number", REG_DWORD, &number, sizeof(number));
    SetValue("text", REG_SZ, "brennlow", 9);
    SetValue("raw", REG_BINARY, "\x01\x00\x02\xff\x03", 5);
    std::string longText(1000, 'x');
    longText[999] = 'y';
    SetValue("long", REG_SZ, longText.c_str(), longText.size() + 1);
    SetValue("unterminated", REG_BINARY, "abc", 3);

    CRegKey key;
    ASSERT_EQ(1, key.Open(HKEY_CURRENT_USER, m_Path.c_str(), 0));
    DWORD readNumber = 0;
    EXPECT_EQ(1, key.ReadDword("number", &readNumber));
    EXPECT_EQ(number, readNumber);

    CStr text;
    EXPECT_EQ(1, key.ReadString("text", text));
    EXPECT_STREQ("brennlow", text.GetText());
    EXPECT_EQ(8u, text.GetLength());
    // Longer than the text's capacity: read by the second query.
    EXPECT_EQ(1, key.ReadString("long", text));
    EXPECT_EQ(longText, text.GetText());
    EXPECT_EQ(1000u, text.GetLength());
    // Data stored without a terminator keeps its last byte.
    EXPECT_EQ(1, key.ReadString("unterminated", text));
    EXPECT_STREQ("abc", text.GetText());

    BYTE raw[16] = {};
    DWORD size = sizeof(raw);
    EXPECT_EQ(1, key.ReadBinary("raw", raw, &size));
    EXPECT_EQ(std::string("\x01\x00\x02\xff\x03", 5), std::string(reinterpret_cast<char *>(raw), size));

    EXPECT_EQ(0, key.ReadDword("missing", &readNumber));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST_F(RegKeyTest, ReadStringValueFallsBackToDefault)
{
    SetValue("text", REG_SZ, "present", 8);
    std::string missingKey = m_Path + "\\missing";
    const struct
    {
        const char *path;
        const char *name;
        const char *defaultText;
        int result;
        const char *expected;
    } cases[] = {
        {m_Path.c_str(), "text", "fallback", 1, "present"},
        {m_Path.c_str(), "missing", "fallback", 0, "fallback"},
        {m_Path.c_str(), "missing", NULL, 0, ""},
        {missingKey.c_str(), "text", "fallback", 0, "fallback"},
        {missingKey.c_str(), "text", NULL, 0, ""},
    };
    for (const auto &c : cases)
    {
        CStr text;
        text = "stale";
        EXPECT_EQ(c.result, CRegKey::ReadStringValue(HKEY_CURRENT_USER, c.path, c.name, text,
                                                     c.defaultText, 0))
            << c.path << " " << c.name;
        EXPECT_STREQ(c.expected, text.GetText()) << c.path << " " << c.name;
    }
}

TEST_F(RegKeyTest, ViewFlagsOpenTheKeyInANativeProcess)
{
#ifdef _WIN64
    EXPECT_EQ(0, IsWow64(NULL));
#endif
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY})
    {
        CRegKey key;
        EXPECT_EQ(1, key.Open(HKEY_CURRENT_USER, m_Path.c_str(), view)) << view;
    }
}

TEST_F(RegKeyTest, OpenReplacesTheKeyHeld)
{
    auto keyHandles = [] {
        return CountHandles([](HANDLE handle) {
            return RegQueryInfoKeyA(static_cast<HKEY>(handle), NULL, NULL, NULL, NULL, NULL, NULL,
                                    NULL, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
        });
    };
    CRegKey key;
    int before = keyHandles();
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(1, key.Open(HKEY_CURRENT_USER, m_Path.c_str(), 0));
    EXPECT_EQ(before + 1, keyHandles());
    EXPECT_EQ(0, key.Open(HKEY_CURRENT_USER, (m_Path + "\\missing").c_str(), 0));
    EXPECT_EQ(nullptr, key.GetKey());
    EXPECT_EQ(before, keyHandles());
}
