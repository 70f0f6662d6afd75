// CBenchmark: the timed write and read passes over the test file, and the driver
// that runs them.
#ifndef BRENNLOW_APP_BENCHMARK_H
#define BRENNLOW_APP_BENCHMARK_H

#include "base/FileIo.h"

class CCmdLine;
class CStr;

class CBenchmark
{
public:
    CBenchmark();

    // The whole benchmark as the command line asks for it: options (help when they do not
    // parse), both passes, the result line, the log line and the removal of the test file.
    void Run();

    int TestPass(int mode, const char *path, void *buffer, UINT32 blockSize, CStr &rateText,
                 UINT32 &megabytesPerSecond);

private:
    int RunPasses(CCmdLine &options, CFileIo &auxiliary, CStr &testPath, void *&allocation,
                  CStr &logLine);
    int PreSize();
    int TransferBlocks(int write, const char *path, void *buffer, UINT32 blockSize);
    void SetRate(CStr &rateText, UINT32 &megabytesPerSecond);

    CFileIo m_File;

public:
    UINT64 m_FileSize; // nominal size, set by the driver before the first pass
    UINT64 m_Position; // bytes transferred so far in the current pass

private:
    CStopwatch m_Stopwatch;
};

// Whole megabytes per second for bytes moved in the elapsed microseconds, with the rate as
// text ("117.7 MByte/sec"); 0 and "[too fast]" for 10 microseconds or less.
UINT32 ComputeRate(UINT64 bytes, UINT64 microseconds, CStr &rateText);

#endif
