#include "TestSupport.h"

#include <atomic>
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

std::vector<WIN32_FIND_DATAA> FolderEntries(const std::string &path)
{
    std::vector<WIN32_FIND_DATAA> entries;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((path + "\\*").c_str(), &found);
    for (BOOL more = search != INVALID_HANDLE_VALUE; more; more = FindNextFileA(search, &found))
        if (strcmp(found.cFileName, ".") && strcmp(found.cFileName, ".."))
            entries.push_back(found);
    if (search != INVALID_HANDLE_VALUE)
        FindClose(search);
    return entries;
}

void RemoveTree(const std::string &path)
{
    for (const WIN32_FIND_DATAA &entry : FolderEntries(path))
    {
        std::string child = path + "\\" + entry.cFileName;
        SetFileAttributesA(child.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
            RemoveTree(child);
        else
            DeleteFileA(child.c_str());
    }
    RemoveDirectoryA(path.c_str());
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
