// CLock, a critical section that knows whether it exists; CLockedList, an intrusive
// doubly linked list whose appends and removals are serialised by a CLock.
#ifndef BRENNLOW_BASE_LOCK_H
#define BRENNLOW_BASE_LOCK_H

#include <windows.h>
#include <stddef.h>

class CLock
{
public:
    CLock();
    ~CLock();
    CLock(const CLock &) = delete;
    CLock &operator=(const CLock &) = delete;

    void Init();
    void Delete();
    void Enter();
    void Leave();
    int IsInitialised() const { return m_nInitialised; }

private:
    CRITICAL_SECTION m_Section;
    UINT32 m_nInitialised;
};

// The link of a list entry. A plain record puts it as its first field, so that the
// record and its link share one address.
struct CListLink
{
    CListLink *next; // link of the following entry, null at the end
    CListLink *prev; // link of the preceding entry, null at the start
};

// Base of list entries that their owner destroys through the virtual destructor. The
// link lies right behind the virtual table pointer; only the list reaches it.
class CListItem : private CListLink
{
    friend class CLockedList;

public:
    CListItem();
    virtual ~CListItem();
    CListItem(const CListItem &) = delete;
    CListItem &operator=(const CListItem &) = delete;

    // Items come from the C runtime heap; a failed allocation makes new give null
    // instead of throwing.
    static void *operator new(size_t size) noexcept;
    static void operator delete(void *block);
};

// The list owns none of its entries: it never allocates or destroys one. Appending
// and removing take the lock; reading the links does not, so a caller that walks
// while another thread may change the list takes Lock itself.
class CLockedList
{
public:
    CLockedList();
    ~CLockedList();
    CLockedList(const CLockedList &) = delete;
    CLockedList &operator=(const CLockedList &) = delete;

    void Init();
    void Term();
    void Lock();
    void Unlock();

    // Plain records whose first field is the link
    void AddTailLink(CListLink *link);
    int RemoveLink(CListLink *link);
    CListLink *GetFirstLink() const;

    // CListItem entries
    void AddTail(CListItem *item);
    int Remove(CListItem *item);
    CListItem *GetFirst() const;
    CListItem *GetNext(const CListItem *item) const;

private:
    static CListItem *ItemOf(CListLink *link);

    CLock m_Lock;
    CListLink *m_pFirst;
    CListLink *m_pLast;
};

#endif
