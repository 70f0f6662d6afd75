// CFileIo, owner of one file handle with whole-block transfers, a line reader and a
// mapped view; CStopwatch, a millisecond stopwatch on the multimedia timer.
#ifndef BRENNLOW_BASE_FILEIO_H
#define BRENNLOW_BASE_FILEIO_H

#include "base/Handle.h"

class CStr;

// Open modes
#define FIO_READ 0
#define FIO_CREATE 1
#define FIO_WRITE 2
#define FIO_WRITE_ALWAYS 3
#define FIO_READWRITE_ALWAYS 4
#define FIO_READWRITE 5

#define FIO_LINE_BUFFER 4096

// CreateFolders: whether the path's last component is a file name, not a folder to make.
#define FIO_MAKE_LAST 0
#define FIO_SKIP_LAST 1
// ReadLine: 8-bit or UTF-16 text, and whether quotes group text.
#define FIO_LINE_ANSI 0
#define FIO_LINE_WIDE 1
#define FIO_QUOTES_PLAIN 0
#define FIO_QUOTES_GROUP 1

class CFileIo
{
public:
    CFileIo();
    ~CFileIo();
    CFileIo(const CFileIo &) = delete;
    CFileIo &operator=(const CFileIo &) = delete;

    int Open(const char *path, UINT32 mode, DWORD flags, DWORD shareMode);
    int Close();
    int Read(UINT32 count, void *buffer);
    int Write(UINT32 count, const void *buffer);
    int Flush();
    UINT64 GetSize();
    int Seek(DWORD origin, DWORD distanceLow, LONG distanceHigh);
    int SetEnd();
    void *MapView(DWORD offsetLow, DWORD offsetHigh, DWORD sizeLow, DWORD sizeHigh);
    int ReadLine(CStr &target, WORD wide, WORD quote);
    int CreateFolders(const char *path, int skipLast);
    int Delete(const char *path);

    HANDLE GetHandle() const { return m_hFile.Get(); }

private:
    int FillLineBuffer();

    CHandle m_hFile;
    CHandle m_hMapping;
    CMappedView m_pView;
    UINT32 m_nMode;
    BYTE *m_pLineBuf;
    UINT32 m_nLinePos;
    UINT32 m_nLineLen;
};

class CStopwatch
{
public:
    CStopwatch();

    void Start();
    DWORD Stop();
    UINT64 GetMilliseconds() const;
    UINT64 GetMicroseconds() const;

private:
    UINT64 m_Start;
    UINT64 m_Elapsed;
};

// Milliseconds from one timeGetTime reading to a later one, across the counter's wrap.
DWORD TicksBetween(DWORD start, DWORD now);

#endif
