// CComInit, CWmiQuery and CWmiObject: COM start-up on the calling thread and a small
// client of the management instrumentation service, one query at a time.
#ifndef BRENNLOW_CRASH_WMI_H
#define BRENNLOW_CRASH_WMI_H

#include <windows.h>

#include "base/Lock.h"
#include "base/Str.h"

struct IWbemServices;
struct IWbemClassObject;
struct IWbemObjectSink;

#define COM_APARTMENT_MODEL 0
#define COM_MULTITHREADED_MODEL 1

// How long the identifier waits for the management service, which may hang: the report
// it is sent with must not.
#define WMI_TIME_LIMIT_MS 10000

// Remembers whether this object initialised COM on the current thread.
class CComInit
{
public:
    CComInit();
    ~CComInit();
    CComInit(const CComInit &) = delete;
    CComInit &operator=(const CComInit &) = delete;

    // COM_APARTMENT_MODEL or COM_MULTITHREADED_MODEL
    int Init(int multithreaded);
    void Uninit();

private:
    int m_nInitialised;
};

class CWmiObject : public CListItem
{
public:
    CWmiObject(IWbemClassObject *object, IWbemServices *services);
    ~CWmiObject();

    // text and value may be null; index picks the element of a string array.
    int Get(const wchar_t *name, CStr *text, INT32 *value, UINT32 index);

private:
    IWbemClassObject *m_pObject;
    IWbemServices *m_pServices;
};

class CWmiQuery
{
public:
    CWmiQuery();
    ~CWmiQuery();
    CWmiQuery(const CWmiQuery &) = delete;
    CWmiQuery &operator=(const CWmiQuery &) = delete;

    int Connect(const wchar_t *nameSpace);
    int Query(const char *query);
    CWmiObject *First() const;
    void Close();

private:
    void DropResults();

    CComInit m_Com;
    CLockedList m_Results;
    IWbemServices *m_pServices;
    IWbemObjectSink *m_pSink;
};

// The text of property of the first object that query returns in nameSpace, asked on a
// thread of its own that is abandoned when it has not answered within limit milliseconds
// (the last-error value is then ERROR_TIMEOUT). The three texts must outlive the thread:
// give literals.
int ReadWmiText(const wchar_t *nameSpace, const char *query, const wchar_t *property, CStr &text,
                DWORD limit);

#endif
