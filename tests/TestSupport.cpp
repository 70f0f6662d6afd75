#include "TestSupport.h"

#include <atomic>
#include <filesystem>
#include <fstream>
#include <sstream>

CTempFolder::CTempFolder()
{
    static std::atomic<unsigned> counter{0};
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    std::string prefix = temp + ("brennlow-test-" + std::to_string(GetCurrentProcessId()) + "-");
    do
        m_Path = prefix + std::to_string(counter++);
    while (!CreateDirectoryA(m_Path.c_str(), NULL));
}

bool WriteWholeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    return out.write(bytes.data(), bytes.size()).good();
}

bool ReadWholeFile(const std::string &path, std::string *bytes)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream all;
    all << in.rdbuf();
    *bytes = all.str();
    return in.good();
}

bool PathExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::string> FolderEntries(const std::string &path)
{
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto &entry : std::filesystem::directory_iterator(path, ignored))
        names.push_back(entry.path().filename().string());
    return names;
}

std::string BesideTestProgram(const std::string &name)
{
    char own[MAX_PATH];
    GetModuleFileNameA(NULL, own, sizeof(own));
    std::string path(own);
    return path.substr(0, path.rfind('\\') + 1) + name;
}

void RemoveTree(const std::string &path)
{
    std::error_code ignored;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(path, ignored))
        SetFileAttributesW(entry.path().c_str(), FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove_all(path, ignored);
}

void SetAppDefault(const std::string &key, const char *name, const char *value)
{
    std::string path = "Software\\Wine\\AppDefaults\\" + key;
    HKEY handle = NULL;
    if (!name)
        RegDeleteKeyA(HKEY_CURRENT_USER, path.c_str());
    else if (RegCreateKeyA(HKEY_CURRENT_USER, path.c_str(), &handle) == ERROR_SUCCESS)
    {
        RegSetValueExA(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE *>(value),
                       static_cast<DWORD>(strlen(value) + 1));
        RegCloseKey(handle);
    }
}

void ExpectOwnPrefix(const char *what)
{
    char name[MAX_PATH];
    bool underWine = GetEnvironmentVariableA("WINEPREFIX", name, sizeof(name)) > 0;
    EXPECT_TRUE(!underWine || GetEnvironmentVariableA("BRENNLOW_OWN_PREFIX", name, sizeof(name)))
        << what << " would reach every test of the shared Wine prefix";
}

int CountHandles(const std::function<bool(HANDLE)> &matches)
{
    int count = 0;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4)
    {
        DWORD flags = 0;
        HANDLE handle = reinterpret_cast<HANDLE>(value);
        count += GetHandleInformation(handle, &flags) && matches(handle);
    }
    return count;
}
