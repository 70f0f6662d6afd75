#include "TestSupport.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>

#include <atomic>
#include <fstream>
#include <sstream>

CTempFolder::CTempFolder()
{
    static std::atomic<unsigned> counter{0};
    char temp[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    for (;;)
    {
        std::ostringstream name;
        name << temp << "brennlow-test-" << GetCurrentProcessId() << "-" << counter++;
        if (CreateDirectoryA(name.str().c_str(), NULL))
        {
            m_Path = name.str();
            return;
        }
    }
}

CTempFolder::~CTempFolder()
{
    RemoveTree(m_Path);
}

bool WriteWholeFile(const std::string &path, const std::string &bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), bytes.size());
    return out.good();
}

bool ReadWholeFile(const std::string &path, std::string *bytes)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    std::ostringstream all;
    all << in.rdbuf();
    *bytes = all.str();
    return true;
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
    if (search == INVALID_HANDLE_VALUE)
        return entries;
    do
    {
        std::string name = found.cFileName;
        if (name != "." && name != "..")
            entries.push_back(found);
    } while (FindNextFileA(search, &found));
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

CStdoutCapture::CStdoutCapture() : m_SavedFd(-1)
{
    char temp[MAX_PATH];
    char file[MAX_PATH];
    GetTempPathA(sizeof(temp), temp);
    GetTempFileNameA(temp, "out", 0, file);
    m_File = file;
    fflush(stdout);
    m_SavedFd = _dup(_fileno(stdout));
    int fd = _open(file, _O_WRONLY | _O_TRUNC | _O_BINARY);
    _dup2(fd, _fileno(stdout));
    _close(fd);
}

CStdoutCapture::~CStdoutCapture()
{
    Restore();
    DeleteFileA(m_File.c_str());
}

void CStdoutCapture::Restore()
{
    if (m_SavedFd < 0)
        return;
    fflush(stdout);
    _dup2(m_SavedFd, _fileno(stdout));
    _close(m_SavedFd);
    m_SavedFd = -1;
}

std::string CStdoutCapture::Text()
{
    Restore();
    std::string text;
    ReadWholeFile(m_File, &text);
    return text;
}

int CountHandles(const std::function<bool(HANDLE)> &matches)
{
    int count = 0;
    for (ULONG_PTR value = 4; value < 0x4000; value += 4)
    {
        HANDLE handle = reinterpret_cast<HANDLE>(value);
        DWORD flags = 0;
        if (GetHandleInformation(handle, &flags) && matches(handle))
            ++count;
    }
    return count;
}
