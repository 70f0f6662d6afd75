#include "app/Benchmark.h"
#include "base/Str.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <malloc.h>
#include <string>

namespace
{

// A block on a 4096-byte boundary, as the driver hands it to the passes.
class CAlignedBlock
{
public:
    explicit CAlignedBlock(UINT32 size)
        : m_pMemory(static_cast<BYTE *>(_aligned_malloc(size, 4096))), m_Size(size)
    {
        for (UINT32 i = 0; i < size; i++)
            m_pMemory[i] = static_cast<BYTE>(i * 7 + 3);
    }
    ~CAlignedBlock() { _aligned_free(m_pMemory); }

    BYTE *Get() const { return m_pMemory; }
    UINT32 Size() const { return m_Size; }

private:
    BYTE *m_pMemory;
    UINT32 m_Size;
};

struct PassResult
{
    int result;
    UINT32 rate;
    std::string rateText;
    std::string output;
};

PassResult RunPass(CBenchmark &bench, int mode, const std::string &path, CAlignedBlock &block)
{
    CStr rateText;
    rateText = "stale";
    PassResult pass;
    pass.rate = 12345;
    CStdoutCapture capture;
    pass.result = bench.TestPass(mode, path.c_str(), block.Get(), block.Size(), rateText,
                                 pass.rate);
    pass.output = capture.Text();
    pass.rateText = rateText.GetText();
    return pass;
}

// A measured pass gives a rate text ending in "/sec"; one within a tick "[too fast]".
void ExpectMeasured(const PassResult &pass)
{
    EXPECT_EQ(1, pass.result);
    EXPECT_EQ("", pass.output);
    if (pass.rateText == "[too fast]")
    {
        EXPECT_EQ(0u, pass.rate);
    }
    else
    {
        ASSERT_GT(pass.rateText.size(), 4u);
        EXPECT_EQ("/sec", pass.rateText.substr(pass.rateText.size() - 4));
    }
}

} // namespace

// Each pass moves every whole block that fits the nominal size, and at least one; the
// read pass gets back what the write pass wrote. The rate comes from what moved: a large
// block over a tiny nominal size is fast, not next to nothing.
TEST(BenchmarkTest, PassesMoveWholeBlocks)
{
    struct Case
    {
        UINT64 fileSize;
        UINT32 blockSize;
        UINT64 transferred;
        UINT64 fileOnDisk;
    } cases[] = {
        {4 << 20, 64 * 1024, 4 << 20, 4 << 20},
        {64 * 1024, 256 * 1024, 256 * 1024, 256 * 1024}, // block larger than the file
        {100 * 1024, 64 * 1024, 64 * 1024, 100 * 1024},  // the tail is not transferred
        {1, 32 << 20, 32 << 20, 32 << 20},
    };
    for (const Case &c : cases)
    {
        CTempFolder folder;
        std::string path = folder.File("test.bin");
        CAlignedBlock block(c.blockSize);
        CBenchmark bench;
        bench.m_FileSize = c.fileSize;
        PassResult write = RunPass(bench, 1, path, block);
        ExpectMeasured(write);
        EXPECT_EQ(c.transferred, bench.m_Position) << c.fileSize << "/" << c.blockSize;
        if (c.blockSize >= (32u << 20) && write.rateText != "[too fast]")
        {
            EXPECT_GT(write.rate, 0u) << write.rateText;
        }
        std::string bytes;
        ASSERT_TRUE(ReadWholeFile(path, &bytes));
        EXPECT_EQ(c.fileOnDisk, bytes.size());

        memset(block.Get(), 0, block.Size());
        ExpectMeasured(RunPass(bench, 0, path, block));
        EXPECT_EQ(c.transferred, bench.m_Position);
        EXPECT_EQ(0, memcmp(bytes.data(), block.Get(), block.Size()));
    }
}

TEST(BenchmarkTest, OpenFailuresPrintTheSystemText)
{
    CTempFolder folder;
    struct Case
    {
        int mode;
        std::string path;
        DWORD code;
    } cases[] = {
        {0, folder.File("missing.bin"), ERROR_FILE_NOT_FOUND},
        {1, folder.File("no-such-folder\\test.bin"), ERROR_PATH_NOT_FOUND},
    };
    for (const Case &c : cases)
    {
        CAlignedBlock block(4096);
        CBenchmark bench;
        bench.m_FileSize = 4096;
        PassResult pass = RunPass(bench, c.mode, c.path, block);
        EXPECT_EQ(0, pass.result);
        EXPECT_EQ(0u, pass.rate);
        EXPECT_EQ("", pass.rateText);
        std::string text = ErrorText(c.code, nullptr);
        ASSERT_FALSE(text.empty());
        EXPECT_EQ("Can't open test file " + c.path + ".\nError " + std::to_string(c.code) +
                      " - " + text + ".\n",
                  pass.output);
    }
}

TEST(BenchmarkTest, ReadFailurePrintsPositionAndSizes)
{
    CTempFolder folder;
    std::string path = folder.File("short.bin");
    ASSERT_TRUE(WriteWholeFile(path, std::string(8192, 'x')));
    CAlignedBlock block(4096);
    CBenchmark bench;
    bench.m_FileSize = 16384; // the file holds only two of the four blocks
    PassResult pass = RunPass(bench, 0, path, block);
    EXPECT_EQ(0, pass.result);
    EXPECT_EQ("", pass.rateText);
    // A short read at the end of the file sets no error code of its own.
    std::string expectedTail =
        " - BlockSize: 0x1000 - FilePosition 0x2000 - FileSize 0x4000.\n";
    ASSERT_GT(pass.output.size(), expectedTail.size());
    EXPECT_EQ(0u, pass.output.find("Can't read full test file " + path + "\nWin32Error: "));
    EXPECT_EQ(expectedTail, pass.output.substr(pass.output.size() - expectedTail.size()));
}
