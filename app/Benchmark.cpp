#include "app/Benchmark.h"

#include "base/Str.h"

#include <stdio.h>

// Unbuffered, with the sequential-scan hint: the passes measure the device, not the cache.
#define PASS_OPEN_FLAGS (FILE_FLAG_NO_BUFFERING | FILE_FLAG_SEQUENTIAL_SCAN)
#define PASS_SHARE_MODE (FILE_SHARE_READ | FILE_SHARE_WRITE)

CBenchmark::CBenchmark() : m_FileSize(0), m_Position(0)
{
}

int CBenchmark::TestPass(int mode, const char *path, void *buffer, UINT32 blockSize,
                         CStr &rateText, UINT32 &megabytesPerSecond)
{
    int write = mode == 1;
    megabytesPerSecond = 0;
    int result = 0;
    if (!m_File.Open(path, write ? FIO_CREATE : FIO_READ, PASS_OPEN_FLAGS, PASS_SHARE_MODE))
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
    UINT64 elapsed = m_Stopwatch.GetMicroseconds();
    if (elapsed <= 10)
    {
        rateText = "[too fast]";
        return;
    }
    double bytesPerSecond = static_cast<double>(m_Position) * 1000.0 * 1000.0 /
                            static_cast<double>(elapsed);
    megabytesPerSecond = static_cast<UINT32>(bytesPerSecond / 1048576.0);
    if (rateText.GetCapacity() < FORMAT_SIZE_BUFFER)
        rateText.SetCapacity(FORMAT_SIZE_BUFFER);
    FormatSize(static_cast<UINT64>(static_cast<float>(bytesPerSecond)), rateText.GetBuffer(), 0);
    rateText.UpdateLength();
    rateText.Append("/sec");
}
