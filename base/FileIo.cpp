#include "base/FileIo.h"

#include "base/Str.h"

#include <malloc.h>
#include <mmsystem.h>

// Piece size of the retry after the system ran out of resources for one large request.
#define FIO_RETRY_PIECE 1048576u

static const struct
{
    DWORD access;
    DWORD disposition;
} g_OpenModes[] = {
    {GENERIC_READ, OPEN_EXISTING},                 // FIO_READ
    {GENERIC_WRITE, CREATE_ALWAYS},                // FIO_CREATE
    {GENERIC_WRITE, OPEN_EXISTING},                // FIO_WRITE
    {GENERIC_WRITE, OPEN_ALWAYS},                  // FIO_WRITE_ALWAYS
    {GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS},   // FIO_READWRITE_ALWAYS
    {GENERIC_READ | GENERIC_WRITE, OPEN_EXISTING}, // FIO_READWRITE
};

CFileIo::CFileIo()
    : m_nMode(0), m_pLineBuf(NULL), m_nLinePos(0), m_nLineLen(0)
{
}

CFileIo::~CFileIo()
{
    Close();
    free(m_pLineBuf);
}

int CFileIo::Open(const char *path, UINT32 mode, DWORD flags, DWORD shareMode)
{
    Close();
    m_nLinePos = 0;
    m_nLineLen = 0;
    m_nMode = mode;
    if (mode >= sizeof(g_OpenModes) / sizeof(g_OpenModes[0]))
        return 0;
    m_hFile.Reset(CreateFileA(path, g_OpenModes[mode].access, shareMode, NULL,
                              g_OpenModes[mode].disposition, flags, NULL));
    return m_hFile.IsHeld();
}

int CFileIo::Close()
{
    int released = m_pView.IsHeld() || m_hMapping.IsHeld() || m_hFile.IsHeld();
    CLastErrorKeeper keep;
    m_pView.Close();
    m_hMapping.Close();
    m_hFile.Close();
    return released;
}

// Directions of a transfer
enum { TRANSFER_READ = 0, TRANSFER_WRITE = 1 };

// A request that succeeded but moved less than asked leaves the last-error value of some
// earlier call; name the likely reason instead, so that a report of it makes sense.
static int MovedAll(DWORD moved, DWORD asked, int write)
{
    if (moved == asked)
        return 1;
    SetLastError(write ? ERROR_DISK_FULL : ERROR_HANDLE_EOF);
    return 0;
}

// Moves exactly count bytes in one request, so that a benchmark times one request per
// block. Only when the system lacks the resources for a request that large does it
// fall back to pieces of 1 MiB.
static int TransferBlock(HANDLE file, UINT32 count, BYTE *buffer, int write)
{
    DWORD moved = 0;
    BOOL ok = write ? WriteFile(file, buffer, count, &moved, NULL)
                    : ReadFile(file, buffer, count, &moved, NULL);
    if (ok)
        return MovedAll(moved, count, write);
    if (GetLastError() != ERROR_NO_SYSTEM_RESOURCES)
        return 0;
    while (count > 0)
    {
        DWORD piece = count < FIO_RETRY_PIECE ? count : FIO_RETRY_PIECE;
        ok = write ? WriteFile(file, buffer, piece, &moved, NULL)
                   : ReadFile(file, buffer, piece, &moved, NULL);
        if (!ok || !MovedAll(moved, piece, write))
            return 0;
        count -= piece;
        buffer += FIO_RETRY_PIECE;
    }
    return 1;
}

int CFileIo::Read(UINT32 count, void *buffer)
{
    return TransferBlock(m_hFile.Get(), count, static_cast<BYTE *>(buffer), TRANSFER_READ);
}

int CFileIo::Write(UINT32 count, const void *buffer)
{
    return TransferBlock(m_hFile.Get(), count, static_cast<BYTE *>(const_cast<void *>(buffer)),
                         TRANSFER_WRITE);
}

int CFileIo::Flush()
{
    return FlushFileBuffers(m_hFile.Get()) != 0;
}

UINT64 CFileIo::GetSize()
{
    DWORD high = 0;
    DWORD low = GetFileSize(m_hFile.Get(), &high);
    return (static_cast<UINT64>(high) << 32) | low;
}

int CFileIo::Seek(DWORD origin, DWORD distanceLow, LONG distanceHigh)
{
    if (!m_hFile.IsHeld())
        return 0;
    SetLastError(NO_ERROR);
    DWORD low =
        SetFilePointer(m_hFile.Get(), static_cast<LONG>(distanceLow), &distanceHigh, origin);
    return !(low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR);
}

int CFileIo::SetEnd()
{
    return SetEndOfFile(m_hFile.Get()) != 0;
}

void *CFileIo::MapView(DWORD offsetLow, DWORD offsetHigh, DWORD sizeLow, DWORD sizeHigh)
{
    DWORD protection = m_nMode == FIO_READ ? PAGE_READONLY : PAGE_READWRITE;
    DWORD access = m_nMode == FIO_READ ? FILE_MAP_READ : FILE_MAP_ALL_ACCESS;
    if (!m_hMapping.IsHeld())
    {
        m_hMapping.Reset(CreateFileMappingA(m_hFile.Get(), NULL, protection | SEC_COMMIT,
                                            sizeHigh, sizeLow, NULL));
        if (!m_hMapping.IsHeld())
        {
            Close();
            return NULL;
        }
    }
    m_pView.Reset(MapViewOfFile(m_hMapping.Get(), access, offsetHigh, offsetLow, sizeLow));
    if (!m_pView.IsHeld())
        Close();
    return m_pView.Get();
}

int CFileIo::FillLineBuffer()
{
    DWORD count = 0;
    if (!ReadFile(m_hFile.Get(), m_pLineBuf, FIO_LINE_BUFFER, &count, NULL))
        return 0;
    m_nLineLen = count;
    return 1;
}

// A byte of an 8-bit file is text in the ANSI code page already; taken as a UTF-16 unit
// and converted, every byte that is no Latin-1 character there would turn into "?".
static int AppendUnit(CStr &target, WORD unit, WORD wide)
{
    if (wide)
        return target.AppendChar(unit);
    const char byte[2] = {static_cast<char>(unit), 0};
    return target.Append(byte);
}

int CFileIo::ReadLine(CStr &target, WORD wide, WORD quote)
{
    if (!m_pLineBuf)
    {
        m_pLineBuf = static_cast<BYTE *>(malloc(FIO_LINE_BUFFER));
        if (!m_pLineBuf)
            return 0;
    }
    target = "";
    int quoted = 0;
    for (;;)
    {
        if (m_nLinePos == 0 && !FillLineBuffer())
            return 0;
        if (m_nLineLen == 0)
            return target.GetLength() != 0;
        WORD ch = m_pLineBuf[m_nLinePos];
        if (wide && m_nLinePos + 1 < m_nLineLen)
            ch = *reinterpret_cast<const WORD *>(m_pLineBuf + m_nLinePos);
        if (quote && ch == quote) // 0 means none: a NUL byte must not join the lines
            quoted = !quoted;
        int ended = ch == '\n' && !quoted;
        if (!ended && (ch != '\r' || quoted))
            AppendUnit(target, ch, wide);
        m_nLinePos += wide ? 2 : 1;
        if (m_nLinePos >= m_nLineLen)
            m_nLinePos = 0;
        if (ended)
            return 1;
    }
}

int CFileIo::CreateFolders(const char *path, int skipLast)
{
    CStr work;
    work = path;
    UINT32 length = work.GetLength();
    int start = 0;
    if (work.Find(":\\") == 1)
        start = 2;
    else if (work.CompareN("\\\\", 2) == 0)
        start = 1;

    int result = 0;
    for (int first = 1;; first = 0)
    {
        work = path;
        int slash = work.Find('\\', start + 1);
        if (slash >= 0)
        {
            start = slash;
            work.Truncate(slash);
        }
        else if (skipLast == 1)
            return result;
        else if (first && length == static_cast<UINT32>(start) + 1)
            return 1;

        if (CreateDirectoryA(work.GetText(), NULL))
        {
            // Only a folder made here: on one that was there already the system attribute
            // may be what makes it a shell folder.
            DWORD attributes = GetFileAttributesA(work.GetText());
            SetFileAttributesA(work.GetText(),
                               (attributes & FILE_ATTRIBUTE_HIDDEN) | FILE_ATTRIBUTE_ARCHIVE);
            result = 1;
        }
        else
            result = GetLastError() == ERROR_ALREADY_EXISTS;
        if (slash < 0)
            return result;
    }
}

int CFileIo::Delete(const char *path)
{
    SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
    return DeleteFileA(path) != 0;
}

CStopwatch::CStopwatch() : m_Start(0), m_Elapsed(0)
{
}

void CStopwatch::Start()
{
    m_Start = timeGetTime();
}

DWORD CStopwatch::Stop()
{
    m_Elapsed = TicksBetween(static_cast<DWORD>(m_Start), timeGetTime());
    return static_cast<DWORD>(m_Elapsed);
}

UINT64 CStopwatch::GetMilliseconds() const
{
    return m_Elapsed;
}

UINT64 CStopwatch::GetMicroseconds() const
{
    return m_Elapsed * 1000;
}

DWORD TicksBetween(DWORD start, DWORD now)
{
    // The tick count wraps after 49.7 days; unsigned 32-bit arithmetic spans the wrap.
    return now - start;
}
