#include "base/Lock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace
{
class CItem : public CListItem {};

// Items named by their place in items: a, b, c...
std::string Names(const CLockedList &list, const std::vector<CItem> &items)
{
    std::string names;
    for (CListItem *item = list.GetFirst(); item; item = list.GetNext(item))
        names += static_cast<char>('a' + (static_cast<CItem *>(item) - items.data()));
    return names;
}
} // namespace

TEST(LockedListTest, KeepsInsertionOrderAndJoinsNeighboursOnRemoval)
{
    // The list, the item removed (x is never in the list) and what is left.
    const char *const cases[][3] = {{"abc", "a", "bc"}, {"abc", "b", "ac"}, {"abc", "c", "ab"},
                                    {"a", "a", ""}, {"abc", "x", "abc"}};
    for (const auto &c : cases)
    {
        SCOPED_TRACE(std::string(c[0]) + " without " + c[1]);
        std::vector<CItem> items('x' - 'a' + 1);
        CLockedList list;
        for (const char *name = c[0]; *name; name++)
            list.AddTail(&items[*name - 'a']);
        EXPECT_EQ(c[0], Names(list, items));
        EXPECT_EQ(*c[1] == 'x' ? 0 : 1, list.Remove(&items[*c[1] - 'a']));
        EXPECT_EQ(c[2], Names(list, items));
        // Removing the rest from the back relies on the back links the removal left.
        for (std::string left = c[2]; !left.empty(); left.pop_back())
            EXPECT_EQ(1, list.Remove(&items[left.back() - 'a']));
        EXPECT_EQ(nullptr, list.GetFirst());
        list.AddTail(&items.back());
        EXPECT_EQ("x", Names(list, items));
    }
}

TEST(LockedListTest, ConcurrentAppendsKeepEveryItemOnce)
{
    const int threads = 4, appends = 100000;
    std::vector<CItem> items(threads * appends);
    CLockedList list;
    std::atomic<int> arrived(0);
    std::vector<std::thread> appenders;
    for (int t = 0; t < threads; t++)
        appenders.emplace_back([&, t] {
            // Start together, so that the appends really overlap.
            for (arrived++; arrived < threads;)
                std::this_thread::yield();
            for (int i = t * appends; i < (t + 1) * appends; i++)
                list.AddTail(&items[i]);
        });
    for (std::thread &appender : appenders)
        appender.join();
    // Each thread's items appear once each, in the order that thread appended them.
    std::vector<int> next(threads, 0);
    for (CListItem *item = list.GetFirst(); item; item = list.GetNext(item))
    {
        int index = static_cast<int>(static_cast<CItem *>(item) - items.data());
        ASSERT_EQ(next[index / appends]++, index % appends);
    }
    EXPECT_EQ(std::vector<int>(threads, appends), next);
}
