#include "app/Benchmark.h"

#include "base/CmdLine.h"
#include "base/DateTime.h"
#include "base/Random.h"
#include "base/Str.h"

#include <stdio.h>
#include <stdlib.h>

// Unbuffered, with the sequential-scan hint: the passes measure the device, not the cache.
#define PASS_OPEN_FLAGS (FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN)
// Test file and log alike: others may look at them while the benchmark runs.
#define SHARE_READ_WRITE (FILE_SHARE_READ | FILE_SHARE_WRITE)

// The block starts on the next 4096-byte boundary inside one allocation this much larger.
#define BLOCK_ALIGNMENT 4096
// Larger blocks would make the 32-bit allocation size wrap around to a few bytes.
#define MAX_BLOCK_BYTES (0xFFFFFFFFu - BLOCK_ALIGNMENT)
#define MAX_BLOCK_KILOBYTES (MAX_BLOCK_BYTES / 1024)

#define LOG_FILE_NAME "BrennlowCmd.txt"

CBenchmark::CBenchmark() : m_FileSize(0), m_Position(0)
{
}

static void DeclareOptions(CCmdLine &options)
{
    options.AddText("d", OPT_TEXT, "C:\\", "Drive for testing");
    options.AddNumber("s", OPT_DEC, 1000, "File size in MB");
    options.AddNumber("b", OPT_DEC, 1024, "Block size in kB");
    options.AddNumber("l", OPT_DEC, 1, "Create log file");
}

// The date and time of the run, taken once, in the user's own format.
static void StartLogLine(CStr &logLine)
{
    CDateTime stamp;
    CStr scratch;
    stamp.SetNow(NULL, 0);
    FormatDate(scratch, DATE_LONGDATE, stamp.GetTime(), 0);
    logLine = scratch;
    FormatTime(scratch, 0, stamp.GetTime(), 0);
    logLine.Append(" ");
    logLine.Append(scratch);
}

// Appends without reporting anything: a log that cannot be written is no reason to fail.
static void AppendToLog(CFileIo &file, const CStr &logLine)
{
    if (!file.Open(LOG_FILE_NAME, FIO_WRITE_ALWAYS, 0, SHARE_READ_WRITE))
        return;
    file.Seek(FILE_END, 0, 0);
    file.Write(logLine.GetLength(), logLine.GetText());
    file.Close();
}

// Bytes per block for the block option in kB; 0 for a value that gives no block that fits
// the 32-bit allocation size. Checked before the conversion, which would cut the value.
static UINT32 BlockBytes(INT64 kilobytes)
{
    if (kilobytes <= 0 || kilobytes > MAX_BLOCK_KILOBYTES)
        return 0;
    return static_cast<UINT32>(kilobytes) << 10;
}

// Removes the test file and then its folder, which stays when it holds anything else.
static void RemoveTestFile(CFileIo &file, CStr &testPath)
{
    if (testPath.GetLength() == 0)
        return;
    file.Delete(testPath.GetText());
    if (testPath.CutAtLast('\\'))
        RemoveDirectoryA(testPath.GetText());
}

void CBenchmark::Run()
{
    CStr testPath;
    CStr logLine;
    CFileIo auxiliary;
    CCmdLine options;
    void *allocation = NULL;

    DeclareOptions(options);
    if (!options.Parse())
    {
        CStr report;
        options.GetHelp(report);
        printf("%s", report.GetText());
    }
    else
    {
        StartLogLine(logLine);
        // A run that stopped early still logs its time, as a line of its own.
        if (!RunPasses(options, auxiliary, testPath, allocation, logLine))
            logLine.Append("\r\n");
        if (options.GetNumber("l") == 1)
            AppendToLog(auxiliary, logLine);
    }

    RemoveTestFile(auxiliary, testPath);
    free(allocation);
}

// Both passes over a fresh test file; 1 when both completed and the results are in the
// log line. testPath and allocation are left for the caller to clean up.
int CBenchmark::RunPasses(CCmdLine &options, CFileIo &auxiliary, CStr &testPath,
                          void *&allocation, CStr &logLine)
{
    m_FileSize = static_cast<UINT64>(options.GetNumber("s")) * 1048576u;
    if (m_FileSize == 0)
        return 0;
    UINT32 blockSize = BlockBytes(options.GetNumber("b"));
    if (blockSize == 0)
        return 0;
    allocation = malloc(blockSize + BLOCK_ALIGNMENT);
    if (!allocation)
        return 0;
    BYTE *block = reinterpret_cast<BYTE *>(
        (reinterpret_cast<UINT_PTR>(allocation) & ~static_cast<UINT_PTR>(BLOCK_ALIGNMENT - 1)) +
        BLOCK_ALIGNMENT);
    // Before any timing; without the system generator the block keeps what it holds.
    CRandom random;
    random.FillBlock(block, blockSize);

    const char *drive = options.GetText("d");
    Format(testPath, "%s\\BrennlowTest\\BrennlowTest.bin", drive ? drive : "");
    auxiliary.CreateFolders(testPath.GetText(), FIO_SKIP_LAST);
    auxiliary.Delete(testPath.GetText());

    CStr writeRate;
    CStr readRate;
    UINT32 writeResult = 0;
    UINT32 readResult = 0;
    printf("Performing write test.\n");
    m_Position = 0;
    if (!TestPass(1, testPath.GetText(), block, blockSize, writeRate, writeResult))
        return 0;
    printf("Performing read test.\n");
    m_Position = 0;
    if (!TestPass(0, testPath.GetText(), block, blockSize, readRate, readResult))
        return 0;

    CStr report;
    Format(report, "\tread:\t%s\t%u\twrite:\t%s\t%u%s", readRate.GetText(),
           readResult, writeRate.GetText(), writeResult, "\r\n");
    logLine.Append(report);
    printf("read: %u write: %u\n", readResult, writeResult);
    return 1;
}

int CBenchmark::TestPass(int mode, const char *path, void *buffer, UINT32 blockSize,
                         CStr &rateText, UINT32 &megabytesPerSecond)
{
    int write = mode == 1;
    megabytesPerSecond = 0;
    int result = 0;
    if (!m_File.Open(path, write ? FIO_CREATE : FIO_READ, PASS_OPEN_FLAGS, SHARE_READ_WRITE))
    {
        DWORD code = GetLastError();
        const char *text = ErrorText(code, NULL);
        printf("Can't open test file %s.\nError %u - %s.\n", path, (unsigned)code,
               text ? text : "");
    }
    else if (!write || PreSize())
        result = TransferBlocks(write, path, buffer, blockSize);

    // Closing is timed too: the last unbuffered writes may complete only then.
    m_File.Close();
    if (result)
        SetRate(rateText, megabytesPerSecond);
    else
        rateText = "";
    return result;
}

// Gives the file its final size before timing, so that no timed write extends it.
int CBenchmark::PreSize()
{
    unsigned long long megabytes = m_FileSize >> 20;
    if (!m_File.Seek(FILE_BEGIN, static_cast<DWORD>(m_FileSize),
                     static_cast<LONG>(m_FileSize >> 32)))
    {
        printf("Can't seek to new file end at %I64u MBytes.\n", megabytes);
        return 0;
    }
    if (!m_File.SetEnd())
        printf("Can't set new file end at %I64u MBytes.\n", megabytes);
    if (!m_File.Seek(FILE_BEGIN, 0, 0))
    {
        printf("Can't seek to file start.");
        return 0;
    }
    return 1;
}

// The timed part: every whole block that fits the nominal size (at least one), and
// for the write pass the flush.
int CBenchmark::TransferBlocks(int write, const char *path, void *buffer, UINT32 blockSize)
{
    m_Position = 0;
    m_Stopwatch.Start();
    do
    {
        int moved = write ? m_File.Write(blockSize, buffer) : m_File.Read(blockSize, buffer);
        if (!moved)
        {
            DWORD code = GetLastError();
            CStr text;
            ErrorText(code, text.GetBuffer());
            text.UpdateLength();
            printf(write ? "Can't write full test file %s\nWin32Error: %u - %s - BlockSize: 0x%X"
                           " - FilePosition 0x%I64X - FileSize 0x%I64X.\n"
                         : "Can't read full test file %s\nWin32Error: %u - %s - BlockSize: 0x%X"
                           " - FilePosition 0x%I64X - FileSize 0x%I64X.\n",
                   path, (unsigned)code, text.GetText(),
                   (unsigned)blockSize, (unsigned long long)m_Position,
                   (unsigned long long)m_FileSize);
            return 0;
        }
        m_Position += blockSize;
    } while (m_Position + blockSize <= m_FileSize);

    if (write && !m_File.Flush())
    {
        printf("Can't flush Filebuffers.\n");
        return 0;
    }
    return 1;
}

// The rate counts the bytes that really moved: a block larger than the file moves
// more than the nominal size, and a tail shorter than a block moves less.
void CBenchmark::SetRate(CStr &rateText, UINT32 &megabytesPerSecond)
{
    m_Stopwatch.Stop();
    megabytesPerSecond = ComputeRate(m_Position, m_Stopwatch.GetMicroseconds(), rateText);
}

UINT32 ComputeRate(UINT64 bytes, UINT64 microseconds, CStr &rateText)
{
    if (microseconds <= 10)
    {
        rateText = "[too fast]";
        return 0;
    }
    double bytesPerSecond =
        static_cast<double>(bytes) * 1000.0 * 1000.0 / static_cast<double>(microseconds);
    char size[FORMAT_SIZE_BUFFER];
    FormatSize(static_cast<UINT64>(static_cast<float>(bytesPerSecond)), size, FSZ_LONG_UNIT);
    // Without memory for the text it stays empty.
    Format(rateText, "%s/sec", size);
    return static_cast<UINT32>(bytesPerSecond / 1048576.0);
}
