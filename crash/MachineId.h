// CMachineId, the anonymous machine identifier sent with a problem report: eight bytes
// reduced from facts of the installation, printed as four groups of four hex digits.
#ifndef BRENNLOW_CRASH_MACHINEID_H
#define BRENNLOW_CRASH_MACHINEID_H

#include <windows.h>

#include "base/DynLib.h"
#include "base/Lock.h"
#include "base/Str.h"
#include "crash/Wmi.h"

#define MACHINE_ID_BYTES 8
#define MACHINE_ID_TEXT "%04X-%04X-%04X-%04X"

// The byte reductions behind the identifier, each usable alone.
BYTE SumBytes(const void *data, size_t count);
BYTE XorBytes(const void *data, size_t count);
// Exclusive-or of the complements of the record's first seven bytes.
BYTE MachineIdCheckByte(const BYTE record[MACHINE_ID_BYTES]);
// (minor << 4) | (major & 0xF) from a "major.minor" text; 0 when it does not parse.
int VersionByteFromText(const char *text, BYTE *value);
// The record as four little-endian 16-bit numbers.
int FormatMachineId(CStr &text, const BYTE record[MACHINE_ID_BYTES]);

class CMachineId
{
public:
    CMachineId();
    ~CMachineId();
    CMachineId(const CMachineId &) = delete;
    CMachineId &operator=(const CMachineId &) = delete;

    // Builds the record with the caller's value and writes its text.
    int GetText(CStr &text, BYTE value);
    // Fills the record; returns its check byte.
    BYTE Build(BYTE record[MACHINE_ID_BYTES], BYTE value);

private:
    int IsNt() const { return (m_nOsCode & 0x1) != 0; }
    BYTE GetVersionByte();
    BYTE GetVolumeByte();
    BYTE GetProductIdByte();
    BYTE GetNetworkByte();
    BYTE GetDiskByte();
    int ReadText(const char *path, const char *name, CStr &text, REGSAM view);
    int ReadAddressBytes(const char *path, const char *name, BYTE address[6]);
    int ReadWmiAddress(CStr &text);
    int SumDiskEnum(BYTE *sum);
    int SumScsiIdentifiers(BYTE *sum);

    UINT64 m_nOsCode;
    CRegKey m_Key;
};

#endif
