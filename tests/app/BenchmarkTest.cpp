#include "app/Benchmark.h"
#include "base/Str.h"

#include "TestSupport.h"

#include <malloc.h>
#include <memory>

namespace
{

struct PassResult { int result; UINT32 rate; std::string rateText, output; };

// One pass over path with a block on a 4096-byte boundary, as the driver hands it over.
PassResult RunPass(CBenchmark &bench, int mode, const std::string &path, BYTE *block,
                   UINT32 blockSize)
{
    CStr rateText;
    rateText = "stale";
    PassResult pass;
    pass.rate = 12345;
    CStdoutCapture capture;
    pass.result = bench.TestPass(mode, path.c_str(), block, blockSize, rateText, pass.rate);
    pass.output = capture.Text();
    pass.rateText = rateText.GetText();
    return pass;
}

std::unique_ptr<BYTE, void (*)(void *)> AlignedBlock(UINT32 size)
{
    std::unique_ptr<BYTE, void (*)(void *)> block(
        static_cast<BYTE *>(_aligned_malloc(size, 4096)), _aligned_free);
    for (UINT32 i = 0; i < size; i++)
        block.get()[i] = static_cast<BYTE>(i * 7 + 3);
    return block;
}

} // namespace

TEST(BenchmarkTest, RateFromBytesMovedAndMicroseconds)
{
    const struct { UINT64 bytes, microseconds; UINT32 perSecond; const char *text; } cases[] = {
        {1048576, 1000000, 1, "1024.0 kByte/sec"}, {123456789, 1000000, 117, "117.7 MByte/sec"},
        {104847114, 1000000, 99, "100.0 MByte/sec"}, // 99.99: truncated, not rounded
        {1048576, 11, 90909, "88.8 GByte/sec"}, {1048576, 10, 0, "[too fast]"},
        {0, 0, 0, "[too fast]"},
    };
    for (const auto &c : cases)
    {
        CStr text;
        text = "stale";
        EXPECT_EQ(c.perSecond, ComputeRate(c.bytes, c.microseconds, text)) << c.bytes;
        EXPECT_STREQ(c.text, text.GetText()) << c.bytes << " in " << c.microseconds;
    }
}

// Each pass moves every whole block that fits the nominal size, and at least one; the read
// pass gets back what the write pass wrote. The rate comes from what moved.
TEST(BenchmarkTest, PassesMoveWholeBlocks)
{
    const struct { UINT64 fileSize; UINT32 blockSize; UINT64 transferred, fileOnDisk; } cases[] = {
        {4 << 20, 64 * 1024, 4 << 20, 4 << 20},
        {64 * 1024, 256 * 1024, 256 * 1024, 256 * 1024}, // block larger than the file
        {100 * 1024, 64 * 1024, 64 * 1024, 100 * 1024},  // the tail is not transferred
        {1, 32 << 20, 32 << 20, 32 << 20},
    };
    for (const auto &c : cases)
    {
        CTempFolder folder;
        std::string path = folder.File("test.bin");
        auto block = AlignedBlock(c.blockSize);
        CBenchmark bench;
        bench.m_FileSize = c.fileSize;
        for (int mode : {1, 0})
        {
            PassResult pass = RunPass(bench, mode, path, block.get(), c.blockSize);
            EXPECT_EQ(1, pass.result);
            EXPECT_EQ("", pass.output);
            EXPECT_NE("", pass.rateText);
            EXPECT_TRUE(c.fileSize != 1 || pass.rateText == "[too fast]" || pass.rate > 0)
                << pass.rateText;
            EXPECT_EQ(c.transferred, bench.m_Position) << c.fileSize << "/" << c.blockSize;
            std::string bytes;
            ASSERT_TRUE(ReadWholeFile(path, &bytes));
            EXPECT_EQ(c.fileOnDisk, bytes.size());
            EXPECT_EQ(0, memcmp(bytes.data(), block.get(), c.blockSize));
            memset(block.get(), 0, c.blockSize); // for the read pass to fill again
        }
    }
}

// A read that meets the end of the file names that as its reason, not an earlier error.
TEST(BenchmarkTest, ShortReadPrintsItsReasonPositionAndSizes)
{
    CTempFolder folder;
    std::string path = folder.File("short.bin");
    ASSERT_TRUE(WriteWholeFile(path, std::string(8192, 'x')));
    auto block = AlignedBlock(4096);
    CBenchmark bench;
    bench.m_FileSize = 16384; // the file holds only two of the four blocks
    SetLastError(ERROR_ACCESS_DENIED);
    PassResult pass = RunPass(bench, 0, path, block.get(), 4096);
    EXPECT_EQ(0, pass.result);
    EXPECT_EQ(0u, pass.rate);
    EXPECT_EQ("", pass.rateText);
    EXPECT_EQ("Can't read full test file " + path + "\nWin32Error: 38 - " +
                  ErrorText(ERROR_HANDLE_EOF, nullptr) +
                  " - BlockSize: 0x1000 - FilePosition 0x2000 - FileSize 0x4000.\n",
              pass.output);
}
