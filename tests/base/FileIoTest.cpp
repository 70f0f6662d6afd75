#include "base/FileIo.h"
#include "base/Str.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

TEST(FileIoTest, OpenClosesThePreviousFile)
{
    CTempFolder folder;
    std::string first = folder.File("first.bin");
    std::string second = folder.File("second.bin");
    CFileIo file;
    ASSERT_EQ(1, file.Open(first.c_str(), FIO_CREATE, 0, 0)); // no sharing
    ASSERT_EQ(1, file.Open(second.c_str(), FIO_CREATE, 0, 0));

    // Only a closed file can be opened again without sharing.
    CFileIo other;
    EXPECT_EQ(1, other.Open(first.c_str(), FIO_READWRITE, 0, 0));
    EXPECT_EQ(0, other.Open(second.c_str(), FIO_READWRITE, 0, 0));
    EXPECT_EQ(nullptr, other.GetHandle());
}

TEST(FileIoTest, InvalidModeTouchesNothing)
{
    CTempFolder folder;
    std::string path = folder.File("never.bin");
    CFileIo file;
    EXPECT_EQ(0, file.Open(path.c_str(), 6, 0, 3));
    EXPECT_FALSE(PathExists(path));
    EXPECT_EQ(0, file.Close());
    EXPECT_EQ(0, file.Seek(FILE_BEGIN, 0, 0));
}

TEST(FileIoTest, ReadsWholeBlocksOnly)
{
    CTempFolder folder;
    std::string path = folder.File("ten.bin");
    ASSERT_TRUE(WriteWholeFile(path, "0123456789"));
    CFileIo file;
    ASSERT_EQ(1, file.Open(path.c_str(), FIO_READ, 0, 3));
    EXPECT_EQ(10u, file.GetSize());
    char buffer[16] = {};
    EXPECT_EQ(1, file.Read(4, buffer));
    EXPECT_EQ("0123", std::string(buffer, 4));
    EXPECT_EQ(0, file.Read(16, buffer)); // only six left
    EXPECT_EQ(0, file.Write(1, buffer)); // opened for reading only
}

TEST(FileIoTest, SeekAndSetEndSizeTheFile)
{
    CTempFolder folder;
    std::string path = folder.File("sized.bin");
    CFileIo file;
    ASSERT_EQ(1, file.Open(path.c_str(), FIO_CREATE, 0, 3));
    ASSERT_EQ(1, file.Seek(FILE_BEGIN, 5000, 0));
    ASSERT_EQ(1, file.SetEnd());
    EXPECT_EQ(5000u, file.GetSize());
    ASSERT_EQ(1, file.Seek(FILE_BEGIN, 0, 0));
    ASSERT_EQ(1, file.Write(3, "abc"));
    ASSERT_EQ(1, file.Flush());
    file.Close();

    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(path, &bytes));
    EXPECT_EQ(5000u, bytes.size());
    EXPECT_EQ("abc", bytes.substr(0, 3));
}

TEST(FileIoTest, ReadLineSplitsLines)
{
    struct Case
    {
        const char *content;
        WORD quote;
        std::vector<std::string> lines;
    } cases[] = {
        {"a\r\nb", 0, {"a", "b"}},
        {"a\nb\n", 0, {"a", "b"}},
        {"\n\nx\n", 0, {"", "", "x"}},
        {"", 0, {}},
        {"v=\"1\r\n2\"\r\nnext", '"', {"v=\"1\r\n2\"", "next"}},
        {"v=\"1\r\n2\"\r\nnext", 0, {"v=\"1", "2\"", "next"}},
    };
    for (const Case &c : cases)
    {
        CTempFolder folder;
        std::string path = folder.File("lines.txt");
        ASSERT_TRUE(WriteWholeFile(path, c.content));
        CFileIo file;
        ASSERT_EQ(1, file.Open(path.c_str(), FIO_READ, 0, 3));
        CStr line;
        std::vector<std::string> lines;
        while (file.ReadLine(line, 0, c.quote))
            lines.push_back(line.GetText());
        EXPECT_EQ(c.lines, lines) << c.content;
    }
}

TEST(FileIoTest, ReadLineAcrossBufferRefills)
{
    CTempFolder folder;
    std::string path = folder.File("long.txt");
    std::string longLine(FIO_LINE_BUFFER + 100, 'q');
    ASSERT_TRUE(WriteWholeFile(path, "short\n" + longLine + "\nend"));
    CFileIo file;
    ASSERT_EQ(1, file.Open(path.c_str(), FIO_READ, 0, 3));
    CStr line;
    ASSERT_EQ(1, file.ReadLine(line, 0, 0));
    EXPECT_STREQ("short", line.GetText());
    ASSERT_EQ(1, file.ReadLine(line, 0, 0));
    EXPECT_EQ(longLine.size(), line.GetLength());
    ASSERT_EQ(1, file.ReadLine(line, 0, 0));
    EXPECT_STREQ("end", line.GetText());
    EXPECT_EQ(0, file.ReadLine(line, 0, 0));
}

TEST(FileIoTest, ReadLineOfWideText)
{
    CTempFolder folder;
    std::string path = folder.File("wide.txt");
    const wchar_t text[] = L"ab\r\ncd";
    ASSERT_TRUE(WriteWholeFile(path, std::string(reinterpret_cast<const char *>(text),
                                                  sizeof(text) - sizeof(wchar_t))));
    CFileIo file;
    ASSERT_EQ(1, file.Open(path.c_str(), FIO_READ, 0, 3));
    CStr line;
    ASSERT_EQ(1, file.ReadLine(line, 1, 0));
    EXPECT_STREQ("ab", line.GetText());
    ASSERT_EQ(1, file.ReadLine(line, 1, 0));
    EXPECT_STREQ("cd", line.GetText());
}

TEST(FileIoTest, CreateFoldersMakesEveryLevel)
{
    CTempFolder folder;
    std::string file = folder.Path() + "\\x\\y\\f.bin";
    CFileIo io;
    EXPECT_EQ(1, io.CreateFolders(file.c_str(), 1));
    EXPECT_TRUE(PathExists(folder.Path() + "\\x\\y"));
    EXPECT_FALSE(PathExists(file));

    EXPECT_EQ(1, io.CreateFolders(file.c_str(), 0)); // again, and the last one too
    EXPECT_TRUE(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_DIRECTORY);

    EXPECT_EQ(1, io.CreateFolders("C:\\", 0));
}

TEST(FileIoTest, CreateFoldersClearsReadOnly)
{
    CTempFolder folder;
    std::string sub = folder.Path() + "\\ro";
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    SetFileAttributesA(sub.c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY);
    CFileIo io;
    EXPECT_EQ(1, io.CreateFolders((sub + "\\f.bin").c_str(), 1));
    EXPECT_FALSE(GetFileAttributesA(sub.c_str()) & FILE_ATTRIBUTE_READONLY);
}

TEST(FileIoTest, DeleteRemovesReadOnlyFiles)
{
    CTempFolder folder;
    std::string path = folder.File("ro.bin");
    ASSERT_TRUE(WriteWholeFile(path, "x"));
    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY);
    CFileIo io;
    EXPECT_EQ(1, io.Delete(path.c_str()));
    EXPECT_FALSE(PathExists(path));
    EXPECT_EQ(0, io.Delete(path.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST(FileIoTest, MapViewShowsTheFile)
{
    CTempFolder folder;
    std::string path = folder.File("mapped.bin");
    ASSERT_TRUE(WriteWholeFile(path, "mapped bytes"));
    CFileIo file;
    ASSERT_EQ(1, file.Open(path.c_str(), FIO_READ, 0, 3));
    const char *view = static_cast<const char *>(file.MapView(0, 0, 0, 0));
    ASSERT_NE(nullptr, view);
    EXPECT_EQ("mapped bytes", std::string(view, 12));
    EXPECT_NE(nullptr, file.MapView(0, 0, 0, 0)); // a second view replaces the first
    EXPECT_EQ(1, file.Close());
}

TEST(FileIoTest, MapViewFailureClosesTheFile)
{
    CTempFolder folder;
    std::string path = folder.File("empty.bin");
    ASSERT_TRUE(WriteWholeFile(path, ""));
    CFileIo file;
    ASSERT_EQ(1, file.Open(path.c_str(), FIO_READ, 0, 3));
    EXPECT_EQ(nullptr, file.MapView(0, 0, 0, 0)); // an empty file cannot be mapped
    EXPECT_EQ(nullptr, file.GetHandle());
}

TEST(StopwatchTest, ElapsedSpansTheCounterWrap)
{
    EXPECT_EQ(0x200u, TicksBetween(0xFFFFFF00u, 0x100u));
    EXPECT_EQ(5u, TicksBetween(10u, 15u));
    EXPECT_EQ(0u, TicksBetween(7u, 7u));
}

TEST(StopwatchTest, MeasuresAnInterval)
{
    CStopwatch watch;
    watch.Start();
    Sleep(30);
    DWORD elapsed = watch.Stop();
    EXPECT_GE(elapsed, 20u);
    EXPECT_LT(elapsed, 5000u);
    EXPECT_EQ(elapsed, watch.GetMilliseconds());
    EXPECT_EQ(elapsed * 1000ULL, watch.GetMicroseconds());
}
