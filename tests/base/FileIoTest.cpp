#include "base/FileIo.h"
#include "base/Str.h"

#include "TestSupport.h"

TEST(FileIoTest, OpenClosesThePreviousFileAndRejectsBadModes)
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

    EXPECT_EQ(0, other.Open(folder.File("never.bin").c_str(), 6, 0, 3));
    EXPECT_FALSE(PathExists(folder.File("never.bin")));
    EXPECT_EQ(0, other.Seek(FILE_BEGIN, 0, 0));
}

TEST(FileIoTest, ReadLineSplitsLines)
{
    std::string longLine(FIO_LINE_BUFFER + 100, 'q');
    const wchar_t wide[] = L"ab\r\ncd";
    const struct { std::string text; WORD wide, quote; std::vector<std::string> lines; } cases[] = {
        {"a\r\nb", 0, 0, {"a", "b"}}, {"a\nb\n", 0, 0, {"a", "b"}},
        {"\n\nx\n", 0, 0, {"", "", "x"}}, {"", 0, 0, {}},
        {"v=\"1\r\n2\"\r\nnext", 0, '"', {"v=\"1\r\n2\"", "next"}},
        {"v=\"1\r\n2\"\r\nnext", 0, 0, {"v=\"1", "2\"", "next"}},
        {"short\n" + longLine + "\nend", 0, 0, {"short", longLine, "end"}}, // across refills
        {std::string(reinterpret_cast<const char *>(wide), sizeof(wide) - 2), 1, 0, {"ab", "cd"}},
    };
    for (const auto &c : cases)
    {
        CTempFolder folder;
        std::string path = folder.File("lines.txt");
        ASSERT_TRUE(WriteWholeFile(path, c.text));
        CFileIo file;
        ASSERT_EQ(1, file.Open(path.c_str(), FIO_READ, 0, 3));
        CStr line;
        std::vector<std::string> lines;
        while (file.ReadLine(line, c.wide, c.quote))
            lines.push_back(line.GetText());
        EXPECT_EQ(c.lines, lines) << c.text.substr(0, 20);
    }
}

TEST(FileIoTest, CreateFoldersAndDelete)
{
    CTempFolder folder;
    std::string file = folder.Path() + "\\x\\y\\f.bin";
    CFileIo io;
    EXPECT_EQ(1, io.CreateFolders(file.c_str(), FIO_SKIP_LAST));
    EXPECT_FALSE(PathExists(file));
    EXPECT_EQ(1, io.CreateFolders("C:\\", FIO_MAKE_LAST));

    // Folders that exist already keep their attributes (a shell folder its system bit).
    std::string sub = folder.Path() + "\\x";
    const DWORD kept = FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_DIRECTORY;
    SetFileAttributesA(sub.c_str(), kept);
    EXPECT_EQ(1, io.CreateFolders(file.c_str(), FIO_MAKE_LAST)); // the last one too this time
    EXPECT_TRUE(GetFileAttributesA(file.c_str()) & FILE_ATTRIBUTE_DIRECTORY);
    EXPECT_EQ(kept, GetFileAttributesA(sub.c_str()) & kept);
    SetFileAttributesA(sub.c_str(), FILE_ATTRIBUTE_DIRECTORY);

    std::string readOnly = folder.File("ro.bin");
    ASSERT_TRUE(WriteWholeFile(readOnly, "x"));
    SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(1, io.Delete(readOnly.c_str()));
    EXPECT_FALSE(PathExists(readOnly));
    EXPECT_EQ(0, io.Delete(readOnly.c_str()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_FILE_NOT_FOUND), GetLastError());
}

TEST(FileIoTest, MapViewShowsTheFileAndFailureClosesIt)
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

    std::string empty = folder.File("empty.bin");
    ASSERT_TRUE(WriteWholeFile(empty, ""));
    ASSERT_EQ(1, file.Open(empty.c_str(), FIO_READ, 0, 3));
    EXPECT_EQ(nullptr, file.MapView(0, 0, 0, 0)); // an empty file cannot be mapped
    EXPECT_EQ(nullptr, file.GetHandle());
}

TEST(StopwatchTest, MeasuresAcrossTheCounterWrap)
{
    EXPECT_EQ(0x200u, TicksBetween(0xFFFFFF00u, 0x100u));
}
