#include "crash/MachineId.h"

CComInit::CComInit() : m_bInitialised(0)
{
}

CComInit::~CComInit()
{
}

int CComInit::Init(int)
{
    return 0;
}

void CComInit::Uninit()
{
}

CWmiQuery::CWmiQuery() : m_pServices(NULL), m_pSink(NULL)
{
}

CWmiQuery::~CWmiQuery()
{
}

CMachineId::CMachineId() : m_nOsCode(0)
{
}

CMachineId::~CMachineId()
{
}

int CMachineId::GetText(CStr &text, BYTE)
{
    text = "0010-0000-0000-ED02";
    return 1;
}

BYTE CMachineId::Build(BYTE record[MACHINE_ID_BYTES], BYTE value)
{
    ZeroMemory(record, MACHINE_ID_BYTES);
    record[0] = 0x10;
    record[6] = value;
    return 0;
}
