#include "base/Lock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

class CNamedItem : public CListItem
{
public:
    explicit CNamedItem(char name) : m_Name(name) {}
    char m_Name;
};

std::string Names(const CLockedList &list)
{
    std::string names;
    for (CListItem *item = list.GetFirst(); item; item = list.GetNext(item))
        names += static_cast<CNamedItem *>(item)->m_Name;
    return names;
}

} // namespace

TEST(LockTest, DeletedLockIgnoresEnterAndLeaveAndInitialisesOnce)
{
    CLock lock;
    lock.Init(); // must not re-create the section that exists
    lock.Enter();
    lock.Leave();
    lock.Delete();
    lock.Delete();
    EXPECT_EQ(0, lock.IsInitialised());
    lock.Enter();
    lock.Leave();
    lock.Init();
    EXPECT_EQ(1, lock.IsInitialised());
}

TEST(LockedListTest, KeepsInsertionOrderAndJoinsNeighboursOnRemoval)
{
    const struct
    {
        const char *initial;
        char removed;
        int result;
        const char *left;
    } cases[] = {
        {"abc", 'a', 1, "bc"}, {"abc", 'b', 1, "ac"},  {"abc", 'c', 1, "ab"},
        {"a", 'a', 1, ""},     {"abc", 'x', 0, "abc"}, {"", 'x', 0, ""},
    };
    for (const auto &c : cases)
    {
        SCOPED_TRACE(std::string(c.initial) + " without " + c.removed);
        std::vector<CNamedItem> items(c.initial, c.initial + strlen(c.initial));
        CNamedItem absent('x');
        CLockedList list;
        for (CNamedItem &item : items)
            list.AddTail(&item);
        EXPECT_EQ(c.initial, Names(list));
        CNamedItem *removed = &absent;
        for (CNamedItem &item : items)
            removed = item.m_Name == c.removed ? &item : removed;
        EXPECT_EQ(c.result, list.Remove(removed));
        EXPECT_EQ(c.left, Names(list));
        // Removing the rest from the back relies on the back links the removal left.
        for (std::string left = c.left; !left.empty();)
        {
            for (CNamedItem &item : items)
                removed = item.m_Name == left.back() ? &item : removed;
            EXPECT_EQ(1, list.Remove(removed));
            left.pop_back();
            EXPECT_EQ(left, Names(list));
        }
        EXPECT_EQ(nullptr, list.GetFirst());
        list.AddTail(&absent);
        EXPECT_EQ("x", Names(list));
    }
}

namespace
{

const int kThreads = 4;
const int kAppendsPerThread = 100000;

// A plain record: the link first, so record and link share one address.
struct SRecord
{
    CListLink link;
    int thread;
    int index;
};

struct SAppender
{
    CLockedList *list;
    volatile LONG *arrived;
    SRecord *records;
};

DWORD WINAPI AppendAll(void *parameter)
{
    SAppender *appender = static_cast<SAppender *>(parameter);
    // Start together, so that the appends really overlap.
    InterlockedIncrement(appender->arrived);
    while (*appender->arrived < kThreads)
        SwitchToThread();
    for (int i = 0; i < kAppendsPerThread; i++)
        appender->list->AddTailLink(&appender->records[i].link);
    return 0;
}

} // namespace

TEST(LockedListTest, ConcurrentAppendsKeepEveryRecordOnce)
{
    CLockedList list;
    std::vector<SRecord> records(kThreads * kAppendsPerThread);
    for (size_t i = 0; i < records.size(); i++)
        records[i] = {{}, static_cast<int>(i / kAppendsPerThread),
                      static_cast<int>(i % kAppendsPerThread)};
    volatile LONG arrived = 0;
    SAppender appenders[kThreads];
    HANDLE threads[kThreads];
    for (int t = 0; t < kThreads; t++)
    {
        appenders[t] = {&list, &arrived, &records[t * kAppendsPerThread]};
        threads[t] = CreateThread(NULL, 0, AppendAll, &appenders[t], 0, NULL);
        ASSERT_NE(nullptr, threads[t]);
    }
    WaitForMultipleObjects(kThreads, threads, TRUE, INFINITE);
    for (HANDLE thread : threads)
        CloseHandle(thread);

    // Each thread's records appear once each, in the order that thread appended them,
    // and every back link matches the forward walk.
    std::vector<int> nextIndex(kThreads, 0);
    size_t count = 0;
    CListLink *previous = NULL;
    for (CListLink *link = list.GetFirstLink(); link && count <= records.size(); link = link->next)
    {
        SRecord *record = reinterpret_cast<SRecord *>(link);
        ASSERT_EQ(previous, link->prev);
        ASSERT_EQ(nextIndex[record->thread]++, record->index);
        previous = link;
        count++;
    }
    EXPECT_EQ(records.size(), count);
}
