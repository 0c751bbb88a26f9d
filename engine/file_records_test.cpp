#include "engine/file_records.h"

#include <gtest/gtest.h>

namespace ferret {
namespace {

TEST(ResultRecords, KeysAreFullPathsIgnoringCase) {
    FileRecords files;
    FileRecord* a = files.Add("A.txt", "/data/Docs/", "1 KB", 2.5, "ignored key");
    FileRecord* b = files.Add("b.txt", "/data/Docs", "2 KB", 3.5);  // "/" added for the key
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(files.Count(), 2);
    EXPECT_EQ(files.Item("/data/Docs/A.txt"), a);
    EXPECT_EQ(files.Item("/DATA/docs/a.TXT"), a);
    EXPECT_EQ(files.Item("/data/Docs/b.txt"), b);
    EXPECT_EQ(files.Item("ignored key"), nullptr);
    EXPECT_EQ(files.Item(1), a);
    EXPECT_EQ(files.Item(2), b);
    EXPECT_EQ(files.Item(0), nullptr);
    EXPECT_EQ(files.Item(3), nullptr);
}

TEST(ResultRecords, UnicodeCaseAndNamesDifferingOnlyInCase) {
    FileRecords files;
    FileRecord* upper = files.Add("ÉTÉ.txt", "/m/", "", 0);
    EXPECT_EQ(files.Item("/m/été.TXT"), upper);
    // Linux keeps both spellings: both are listed, the exact one is found first.
    FileRecord* lower = files.Add("été.txt", "/m/", "", 0);
    ASSERT_NE(lower, nullptr);
    EXPECT_EQ(files.Count(), 2);
    EXPECT_EQ(files.Item("/m/été.txt"), lower);
    EXPECT_EQ(files.Item("/m/ÉTÉ.txt"), upper);
    EXPECT_EQ(files.Item("/m/Été.txt"), upper);  // neither exact: the earliest
    // An exact repeat is refused.
    EXPECT_EQ(files.Add("été.txt", "/m", "", 0), nullptr);
    EXPECT_EQ(files.Count(), 2);
}

TEST(ResultRecords, IterationKeepsTheOrderOfAdding) {
    FileRecords files;
    for (const char* name : {"c", "a", "b"}) {
        files.Add(name, "/r/", "", 0);
    }
    std::string order;
    for (FileRecord& file : files) {
        order += file.Filename();
    }
    EXPECT_EQ(order, "cab");
}

}  // namespace
}  // namespace ferret
