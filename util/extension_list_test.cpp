#include "util/extension_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ferret {
namespace {

using Strings = std::vector<std::string>;

Strings CustomPart(const ExtensionList& list) {
    return Strings(list.Entries().begin() + kDefaultExtensionCount, list.Entries().end());
}

TEST(ExtensionList, StoredTextRoundTrips) {
    EXPECT_TRUE(SplitCustomExtensions("").empty());
    EXPECT_EQ(SplitCustomExtensions(".log"), Strings{".log"});
    EXPECT_EQ(SplitCustomExtensions(".log,.sh"), (Strings{".log", ".sh"}));
    const ExtensionList list = ExtensionList::FromStored(".log,.sh");
    ASSERT_EQ(list.Count(), kDefaultExtensionCount + 2);
    EXPECT_EQ(Strings(list.Entries().begin(), list.Entries().begin() + kDefaultExtensionCount),
              DefaultExtensions());
    EXPECT_EQ(CustomPart(list), (Strings{".log", ".sh"}));
    EXPECT_EQ(list.StoredText(), ".log,.sh");
    EXPECT_EQ(ExtensionList::FromStored("").Entries(), DefaultExtensions());
    // What was stored comes back as it was, even where Add would have refused it.
    EXPECT_EQ(ExtensionList::FromStored(".xml,.LOG,.log").StoredText(), ".xml,.LOG,.log");
}

TEST(ExtensionList, AddPutsTheDotInFrontAndSkipsEqualEntries) {
    const struct {
        const char* typed;
        bool added;
        const char* stored_after;
    } steps[] = {
        {"xml", false, ""},           // ".xml" is a default
        {".XML", false, ""},          // letter case does not matter
        {"json", true, ".json"},      // the dot goes in front
        {".JSON", false, ".json"},    // present in other letter case
        {".as", true, ".json,.as"},   // ".asp" is only longer, not equal
        {"", false, ".json,.as"},     // nothing typed
        {"   ", false, ".json,.as"},  // blanks only
        {"tar.gz", true, ".json,.as,.tar.gz"},
    };
    ExtensionList list;
    for (const auto& step : steps) {
        EXPECT_EQ(list.Add(step.typed), step.added) << step.typed;
        EXPECT_EQ(list.StoredText(), step.stored_after) << step.typed;
    }
    EXPECT_TRUE(list.Contains(".Tar.GZ"));
    EXPECT_FALSE(list.Contains(".tar"));
}

TEST(ExtensionList, OnlyCustomEntriesCanBeDeleted) {
    ExtensionList list = ExtensionList::FromStored(".a,.b,.c");
    for (const int position : {-1, 0, kDefaultExtensionCount - 1, list.Count()}) {
        EXPECT_FALSE(list.IsDeletable(position)) << position;
        EXPECT_FALSE(list.Delete(position)) << position;
    }
    EXPECT_EQ(list.Count(), kDefaultExtensionCount + 3);
    EXPECT_TRUE(list.Delete(kDefaultExtensionCount + 1));
    EXPECT_EQ(list.StoredText(), ".a,.c");
    EXPECT_TRUE(list.Delete(kDefaultExtensionCount));
    EXPECT_TRUE(list.Delete(kDefaultExtensionCount));
    EXPECT_EQ(list.StoredText(), "");
    EXPECT_FALSE(list.IsDeletable(kDefaultExtensionCount));
}

TEST(ExtensionList, ResetDropsTheCustomPart) {
    ExtensionList list = ExtensionList::FromStored(".log,.sh");
    list.ResetToDefaults();
    EXPECT_EQ(list.Entries(), DefaultExtensions());
    EXPECT_EQ(list.StoredText(), "");
    // A custom entry added after the reset is again position 21.
    EXPECT_TRUE(list.Add("log"));
    EXPECT_EQ(list.Entries()[kDefaultExtensionCount], ".log");
}

}  // namespace
TEST(ExtensionList, ApprovedListIsTheUsersThenTheBuiltInOne) {
    EXPECT_EQ(ApprovedExtensionList(".log,.sh"), std::string(".log,.sh,") + kBuiltInExtensions);
    EXPECT_EQ(ApprovedExtensionList(""), kBuiltInExtensions);
}

}  // namespace ferret
