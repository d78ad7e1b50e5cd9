#include <gtest/gtest.h>

#include <set>

#include "search/DefaultFocalComparator.h"

namespace vornik {
namespace {

FocalKey Key(std::int64_t visited, double f, double sum, std::int64_t id = 0) {
    FocalKey key;
    key.id = id;
    key.num_visited = visited;
    key.f = f;
    key.sum_cost = sum;
    key.open_agents = id * 3;
    return key;
}

TEST(FocalComparatorTest, NameIsTheClassName) {
    EXPECT_EQ(DefaultFocalComparator().GetName(), "DefaultFocalComparator");
}

TEST(FocalComparatorTest, OrdersByVisitedThenFThenCostSum) {
    const DefaultFocalComparator cmp;
    struct Case {
        const char* name;
        FocalKey first;
        FocalKey second;
    };
    const Case cases[] = {
        {"more visited beats smaller f", Key(5, 10.0, 0.0), Key(4, 1.0, 0.0)},
        {"smaller f at equal visited", Key(5, 9.0, 7.0), Key(5, 10.0, 1.0)},
        {"smaller sum at equal visited and f", Key(5, 10.0, 3.0), Key(5, 10.0, 4.0)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_TRUE(cmp.Compare(c.first, c.second));
        EXPECT_FALSE(cmp.Compare(c.second, c.first));
    }
}

TEST(FocalComparatorTest, KeysEqualInTheThreeFieldsAreEquivalent) {
    const DefaultFocalComparator cmp;
    const FocalKey a = Key(5, 10.0, 3.0, 1);
    const FocalKey b = Key(5, 10.0, 3.0, 2);
    EXPECT_FALSE(cmp.Compare(a, b));
    EXPECT_FALSE(cmp.Compare(b, a));
    // An ordered set on this order keeps only the first of equivalent keys.
    auto less = [&cmp](const FocalKey& x, const FocalKey& y) { return cmp.Compare(x, y); };
    std::set<FocalKey, decltype(less)> focal(less);
    EXPECT_TRUE(focal.insert(a).second);
    EXPECT_FALSE(focal.insert(b).second);
    EXPECT_EQ(focal.begin()->id, 1);
}

}  // namespace
}  // namespace vornik
