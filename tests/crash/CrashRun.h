// A copy of a program of the build tree run in a folder of its own, and the reading of
// the report it leaves; shared by the crash path and the crash dialog tests.
#ifndef BRENNLOW_TESTS_CRASH_CRASHRUN_H
#define BRENNLOW_TESTS_CRASH_CRASHRUN_H

#include <windows.h>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "ChildCommand.h"
#include "TestSupport.h"

#define PROCESS_WAIT_MS 300000


inline std::string HexWord(ULONG64 value)
{
    char text[24];
    snprintf(text, sizeof(text), "0x%0*llX", int(2 * sizeof(void *)),
             static_cast<unsigned long long>(value & SIZE_MAX));
    return text;
}


// A copy of a program of the build tree, run in a folder of its own.
struct CRun
{
    CTempFolder folder;
    std::string base; // path of the copy without ".exe"
    PROCESS_INFORMATION info = {};
    std::vector<HANDLE> held; // closed when the run ends
    bool ended = false;
    double seconds = 0; // from start to end
    DWORD exitCode = 0;
    std::string text = "<missing>", dump;

    // program: the path from the test program's folder, without ".exe"; prepare runs before
    // the start; name: the copy's, if not the program's.
    CRun(const std::string &program, const std::string &arguments,
         const std::function<void(CRun &)> &prepare = nullptr, std::string name = "")
    {
        std::string source = BesideTestProgram(program + ".exe");
        if (name.empty())
            name = program.substr(program.find_last_of('\\') + 1);
        base = folder.File(name);
        STARTUPINFOA startup = {};
        startup.cb = sizeof(startup);
        bool copied = CopyFileA(source.c_str(), (base + ".exe").c_str(), FALSE);
        if (copied && prepare)
            prepare(*this);
        std::string commandLine = "\"" + base + ".exe\" " + arguments;
        if (!copied ||
            !CreateProcessA(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL,
                            folder.Path().c_str(), &startup, &info))
            info.hProcess = NULL;
    }
    ~CRun()
    {
        TerminateProcess(info.hProcess, 1);
        held.insert(held.end(), {info.hProcess, info.hThread});
        for (HANDLE handle : held)
            CloseHandle(handle);
    }
    // Waits for the end and reads the report files.
    bool Ended()
    {
        ended = WaitForSingleObject(info.hProcess, PROCESS_WAIT_MS) == WAIT_OBJECT_0;
        GetExitCodeProcess(info.hProcess, &exitCode);
        ULARGE_INTEGER times[4]; // creation, exit, kernel and user time
        FILETIME *t = reinterpret_cast<FILETIME *>(times);
        if (GetProcessTimes(info.hProcess, &t[0], &t[1], &t[2], &t[3]))
            seconds = (times[1].QuadPart - times[0].QuadPart) / 1e7;
        if (PathExists(base + "_Debug.txt"))
            ReadWholeFile(base + "_Debug.txt", &text);
        ReadWholeFile(base + "_Debug.dmp", &dump);
        return ended;
    }
};


inline std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

// The first line from start on that matches pattern, or -1.
inline int FindLine(const std::vector<std::string> &lines, const std::string &pattern,
                    size_t start = 0)
{
    for (size_t i = start; i < lines.size(); i++)
        if (std::regex_match(lines[i], std::regex(pattern)))
            return static_cast<int>(i);
    return -1;
}


// The filter's verdict as the child program wrote it to file ("" when it did not).
inline std::string Verdict(const CRun &run, const char *file = "verdict.txt")
{
    std::string text;
    ReadWholeFile(run.folder.File(file), &text);
    return text;
}


// Points the temporary folder meanwhile to a folder of its own, or to sub inside it.
struct CTempOverride
{
    CTempFolder folder;
    char saved[MAX_PATH] = "";
    DWORD had = GetEnvironmentVariableA("TMP", saved, sizeof(saved));
    std::string path;
    explicit CTempOverride(const std::string &sub = "")
        : path(sub.empty() ? folder.Path() : folder.File(sub))
    {
        CreateDirectoryA(path.c_str(), NULL);
        SetEnvironmentVariableA("TMP", path.c_str());
    }
    ~CTempOverride() { SetEnvironmentVariableA("TMP", had ? saved : NULL); }
};

#endif
