// COwned, the one owner of a system handle of any kind. Its traits name the handle's type,
// the value that means "none" and the function that gives the handle back; the owners of
// every kind below are built from it. An owner moves and never copies; letting it go out
// of scope closes what it holds and keeps the thread's last-error value, so a failure path
// reports its own reason, not that of a cleanup.
#ifndef BRENNLOW_BASE_HANDLE_H
#define BRENNLOW_BASE_HANDLE_H

#include <windows.h>

// Puts the thread's last-error value back when the scope ends.
class CLastErrorKeeper
{
public:
    CLastErrorKeeper() : m_nError(GetLastError()) {}
    ~CLastErrorKeeper() { SetLastError(m_nError); }
    CLastErrorKeeper(const CLastErrorKeeper &) = delete;
    CLastErrorKeeper &operator=(const CLastErrorKeeper &) = delete;

private:
    DWORD m_nError;
};

// Traits: typedef Type; static Type None(); static int IsNone(Type); and int Close(Type),
// 1 on success, else 0 with the reason in the last-error value. Close may depend on the
// traits object (a close function bound at run time); None and IsNone may not.
template <typename Traits> class COwned
{
public:
    typedef typename Traits::Type Type;

    COwned() : m_Handle(Traits::None()) {}
    explicit COwned(Type handle, const Traits &traits = Traits())
        : m_Traits(traits), m_Handle(Taken(handle))
    {
    }
    ~COwned()
    {
        CLastErrorKeeper keep;
        Close();
    }
    COwned(COwned &&other) : m_Traits(other.m_Traits), m_Handle(other.Release()) {}
    COwned &operator=(COwned &&other)
    {
        if (this != &other)
        {
            Reset(other.Release());
            m_Traits = other.m_Traits;
        }
        return *this;
    }
    COwned(const COwned &) = delete;
    COwned &operator=(const COwned &) = delete;

    Type Get() const { return m_Handle; }
    int IsHeld() const { return !Traits::IsNone(m_Handle); }

    // Gives the handle up without closing it.
    Type Release()
    {
        Type handle = m_Handle;
        m_Handle = Traits::None();
        return handle;
    }

    // Closes what is held, keeping the last-error value, and takes handle instead. A
    // creating function's failure value (whichever of null or INVALID_HANDLE_VALUE the
    // function uses) is taken as none.
    void Reset(Type handle)
    {
        if (handle == m_Handle)
            return;
        {
            CLastErrorKeeper keep;
            Close();
        }
        m_Handle = Taken(handle);
    }

    // 1 when nothing was held or the handle was given back; on failure 0 with the reason
    // in the last-error value. Either way nothing is held afterwards.
    int Close()
    {
        if (!IsHeld())
            return 1;
        return m_Traits.Close(Release());
    }

    Traits &GetTraits() { return m_Traits; }

private:
    static Type Taken(Type handle) { return Traits::IsNone(handle) ? Traits::None() : handle; }

    Traits m_Traits;
    Type m_Handle;
};

// Kernel objects: files, mappings, events, threads, processes. Creating functions fail
// with null or with INVALID_HANDLE_VALUE depending on the kind; the owner holds neither.
struct CKernelTraits
{
    typedef HANDLE Type;
    static HANDLE None() { return NULL; }
    static int IsNone(HANDLE handle) { return !handle || handle == INVALID_HANDLE_VALUE; }
    int Close(HANDLE handle) { return CloseHandle(handle) ? 1 : 0; }
};

// A mapped view of a file
struct CViewTraits
{
    typedef void *Type;
    static void *None() { return NULL; }
    static int IsNone(void *view) { return !view; }
    int Close(void *view) { return UnmapViewOfFile(view) ? 1 : 0; }
};

struct CModuleTraits
{
    typedef HMODULE Type;
    static HMODULE None() { return NULL; }
    static int IsNone(HMODULE module) { return !module; }
    int Close(HMODULE module) { return FreeLibrary(module) ? 1 : 0; }
};

// The registry answers with a status instead of the last-error value.
struct CRegKeyTraits
{
    typedef HKEY Type;
    static HKEY None() { return NULL; }
    static int IsNone(HKEY key) { return !key; }
    int Close(HKEY key)
    {
        LONG status = RegCloseKey(key);
        if (status == ERROR_SUCCESS)
            return 1;
        SetLastError(static_cast<DWORD>(status));
        return 0;
    }
};

// Pens, brushes, fonts, bitmaps and regions
struct CGdiObjectTraits
{
    typedef HGDIOBJ Type;
    static HGDIOBJ None() { return NULL; }
    static int IsNone(HGDIOBJ object) { return !object; }
    int Close(HGDIOBJ object) { return DeleteObject(object) ? 1 : 0; }
};

struct CIconTraits
{
    typedef HICON Type;
    static HICON None() { return NULL; }
    static int IsNone(HICON icon) { return !icon; }
    int Close(HICON icon) { return DestroyIcon(icon) ? 1 : 0; }
};

typedef COwned<CKernelTraits> CHandle;
typedef COwned<CViewTraits> CMappedView;
typedef COwned<CModuleTraits> CModule;
typedef COwned<CRegKeyTraits> COwnedKey;
typedef COwned<CGdiObjectTraits> CGdiObject;
typedef COwned<CIconTraits> CIcon;

#endif
