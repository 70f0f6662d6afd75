// Helpers shared by the test programs (scratch folders, whole-file access, capture of
// what code under test prints), with the test framework and the library parts they use.
#ifndef BRENNLOW_TESTS_TESTSUPPORT_H
#define BRENNLOW_TESTS_TESTSUPPORT_H

#include <windows.h>
#include <gtest/gtest.h>
#include <functional>
#include <string>
#include <vector>

bool WriteWholeFile(const std::string &path, const std::string &bytes);
bool ReadWholeFile(const std::string &path, std::string *bytes);
bool PathExists(const std::string &path);
void RemoveTree(const std::string &path);
// The names of what a folder holds.
std::vector<std::string> FolderEntries(const std::string &path);
// The path of name in the test program's folder.
std::string BesideTestProgram(const std::string &name);

// A fresh folder under the temporary folder, removed with all it holds.
class CTempFolder
{
public:
    CTempFolder();
    ~CTempFolder() { RemoveTree(m_Path); }
    CTempFolder(const CTempFolder &) = delete;
    CTempFolder &operator=(const CTempFolder &) = delete;

    const std::string &Path() const { return m_Path; }
    std::string File(const std::string &name) const { return m_Path + "\\" + name; }

private:
    std::string m_Path;
};

// Collects standard output from construction until Text(), called exactly once.
struct CStdoutCapture
{
    CStdoutCapture() { testing::internal::CaptureStdout(); }
    std::string Text() { return testing::internal::GetCapturedStdout(); }
};

// Sets a text value of Wine's settings for the programs of key ("x.exe", or a key below it
// such as "x.exe\\DllOverrides"), read when one starts; a null name removes the key.
void SetAppDefault(const std::string &key, const char *name, const char *value);

// Fails a test that changes its Wine prefix's settings (what names them) unless the prefix
// is its own (BRENNLOW_OWN_PREFIX, tests/CMakeLists.txt).
void ExpectOwnPrefix(const char *what);

// Counts the open handles of this process that match, probing the handle values one by one.
int CountHandles(const std::function<bool(HANDLE)> &matches);

#endif
