#include "base/DynLib.h"
#include "base/Str.h"
#include "TestSupport.h"

TEST(DynLibTest, LoadsResolvesAndFreesOneLibraryAtATime)
{
    UINT outerMode = SetErrorMode(SEM_NOGPFAULTERRORBOX);
    CDynLib lib;
    EXPECT_EQ(0, lib.Load("brennlow_no_such_library.dll"));
    EXPECT_EQ(static_cast<UINT>(SEM_NOGPFAULTERRORBOX), SetErrorMode(outerMode));
    EXPECT_EQ(nullptr, lib.GetProc("GetTickCount"));
    // A system library that nothing else in the test program loads.
    const char *unused = "msimg32.dll";
    ASSERT_EQ(nullptr, GetModuleHandleA(unused));
    ASSERT_EQ(1, lib.Load(unused));
    EXPECT_NE(nullptr, GetModuleHandleA(unused));
    ASSERT_EQ(1, lib.Load("kernel32.dll"));
    EXPECT_EQ(nullptr, GetModuleHandleA(unused));
    EXPECT_NE(nullptr, lib.GetProc("GetTickCount"));
    EXPECT_EQ(nullptr, lib.GetProc("BrennlowNoSuchExport"));
}

TEST(RegKeyTest, OpensAndReadsEachKindOfValueOrFallsBackToTheDefault)
{
    // A scratch key under HKEY_CURRENT_USER, deleted with its values at the end.
    const std::string path = "Software\\BrennlowTests\\" + std::to_string(GetCurrentProcessId());
    HKEY scratch = NULL;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, NULL, 0,
                                             KEY_ALL_ACCESS, NULL, &scratch, NULL));
    const std::string longText = std::string(999, 'x') + "y";
    const struct { const char *name; DWORD type; std::string data; } values[] = {
        {"number", REG_DWORD, std::string("\x78\x56\x34\x12", 4)},
        {"raw", REG_BINARY, std::string("\x01\x00\x02\xff\x03", 5)},
        {"text", REG_SZ, std::string("brennlow", 9)}, {"long", REG_SZ, longText + '\0'},
        {"unterminated", REG_BINARY, "abc"}};
    for (const auto &v : values)
        ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(scratch, v.name, 0, v.type,
                                                reinterpret_cast<const BYTE *>(v.data.data()),
                                                static_cast<DWORD>(v.data.size())));
    auto keyHandles = [] {
        return CountHandles([](HANDLE handle) {
            return RegQueryInfoKeyA(static_cast<HKEY>(handle), NULL, NULL, NULL, NULL, NULL, NULL,
                                    NULL, NULL, NULL, NULL, NULL) == ERROR_SUCCESS;
        });
    };
    int before = keyHandles();
    CRegKey key;
    // The view flags must not keep the key shut in a process that runs natively.
    for (REGSAM view : {KEY_WOW64_64KEY, KEY_WOW64_32KEY, 0, 0, 0})
        EXPECT_EQ(1, key.Open(HKEY_CURRENT_USER, path.c_str(), view)) << view;
    EXPECT_EQ(before + 1, keyHandles()); // each Open replaced the key held

    DWORD readNumber = 0;
    EXPECT_EQ(1, key.ReadDword("number", &readNumber));
    EXPECT_EQ(0x12345678u, readNumber);
    char raw[16] = {};
    DWORD size = sizeof(raw);
    EXPECT_EQ(1, key.ReadBinary("raw", raw, &size));
    EXPECT_EQ(values[1].data, std::string(raw, size));
    // A text longer than the target's capacity is read by a second query; data stored
    // without a terminator keeps its last byte and gains a terminator.
    CStr text;
    const std::pair<const char *, std::string> strings[] = {
        {"text", "brennlow"}, {"long", longText}, {"unterminated", "abc"}};
    for (const auto &value : strings)
    {
        EXPECT_EQ(1, key.ReadString(value.first, text));
        EXPECT_EQ(value.second, std::string(text.GetText(), text.GetLength()));
    }
    EXPECT_EQ(0, key.ReadDword("missing", &readNumber));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
    EXPECT_EQ(0, key.Open(HKEY_CURRENT_USER, (path + "\\missing").c_str(), 0));
    EXPECT_EQ(nullptr, key.GetKey());
    EXPECT_EQ(before, keyHandles());

    // The result and the text as one.
    auto readOrDefault = [&](const std::string &keyPath, const char *name, const char *byDefault) {
        text = "stale";
        return std::to_string(CRegKey::ReadStringValue(HKEY_CURRENT_USER, keyPath.c_str(), name,
                                                       text, byDefault, 0)) + text.GetText();
    };
    EXPECT_EQ("1brennlow", readOrDefault(path, "text", "fallback"));
    EXPECT_EQ("0fallback", readOrDefault(path, "missing", "fallback"));
    EXPECT_EQ("0", readOrDefault(path + "\\missing", "text", NULL));

    RegCloseKey(scratch);
    RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
    RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\BrennlowTests");
}
