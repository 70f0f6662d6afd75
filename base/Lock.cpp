#include "base/Lock.h"

#include <malloc.h>

CLock::CLock() : m_nInitialised(0)
{
    Init();
}

CLock::~CLock()
{
    Delete();
}

void CLock::Init()
{
    if (m_nInitialised)
        return;
    m_nInitialised = 1;
    InitializeCriticalSection(&m_Section);
}

void CLock::Delete()
{
    if (!m_nInitialised)
        return;
    m_nInitialised = 0;
    DeleteCriticalSection(&m_Section);
}

void CLock::Enter()
{
    if (m_nInitialised)
        EnterCriticalSection(&m_Section);
}

void CLock::Leave()
{
    if (m_nInitialised)
        LeaveCriticalSection(&m_Section);
}

CListItem::CListItem()
{
    next = NULL;
    prev = NULL;
}

CListItem::~CListItem()
{
}

void *CListItem::operator new(size_t size) noexcept
{
    void *block = malloc(size);
    if (!block)
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return block;
}

void CListItem::operator delete(void *block)
{
    free(block);
}

CLockedList::CLockedList() : m_pFirst(NULL), m_pLast(NULL)
{
    Init();
}

CLockedList::~CLockedList()
{
    Term();
}

void CLockedList::Init()
{
    m_Lock.Init();
    m_pFirst = NULL;
    m_pLast = NULL;
}

void CLockedList::Term()
{
    m_Lock.Delete();
}

void CLockedList::Lock()
{
    m_Lock.Enter();
}

void CLockedList::Unlock()
{
    m_Lock.Leave();
}

void CLockedList::AddTailLink(CListLink *link)
{
    if (!link)
        return;
    Lock();
    link->next = NULL;
    link->prev = m_pLast;
    if (m_pLast)
        m_pLast->next = link;
    else
        m_pFirst = link;
    m_pLast = link;
    Unlock();
}

int CLockedList::RemoveLink(CListLink *link)
{
    Lock();
    CListLink *at = m_pFirst;
    while (at && at != link)
        at = at->next;
    if (at)
    {
        if (at->prev)
            at->prev->next = at->next;
        else
            m_pFirst = at->next;
        if (at->next)
            at->next->prev = at->prev;
        else
            m_pLast = at->prev;
    }
    Unlock();
    return at != NULL;
}

CListLink *CLockedList::GetFirstLink() const
{
    return m_pFirst;
}

CListItem *CLockedList::ItemOf(CListLink *link)
{
    return link ? static_cast<CListItem *>(link) : NULL;
}

void CLockedList::AddTail(CListItem *item)
{
    if (item)
        AddTailLink(item);
}

int CLockedList::Remove(CListItem *item)
{
    return item ? RemoveLink(item) : 0;
}

CListItem *CLockedList::GetFirst() const
{
    return ItemOf(m_pFirst);
}

CListItem *CLockedList::GetNext(const CListItem *item) const
{
    return item ? ItemOf(item->next) : NULL;
}
