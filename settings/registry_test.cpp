#include "settings/registry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "testsupport/scoped_env.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

constexpr char kKey[] = "SOFTWARE\\Mallo\\Ferret";

RegistryValue Text(const std::string& text) {
    return RegistryValue(text);
}

// Each test gets its own configuration folder: QSettings caches files by path.
class RegistryTest : public ::testing::Test {
  protected:
    static Registry Key(const std::string& path, const std::string& value_name = "Name") {
        Registry registry;
        registry.SetSectionKey(path);
        registry.SetValueKey(value_name);
        return registry;
    }

    testing::TempDir config_;
    testing::ScopedEnv env_{"XDG_CONFIG_HOME", config_.path()};
};

TEST_F(RegistryTest, FirstStartHasNoKeyAndReadsTheDefault) {
    Registry registry = Key(kKey);
    EXPECT_EQ(registry.ClassKey(), kHKeyCurrentUser);
    EXPECT_FALSE(registry.KeyExists());
    EXPECT_EQ(registry.Value(), Text(""));
    registry.SetDefault(std::string("fallback"));
    EXPECT_EQ(registry.Value(), Text("fallback"));
    std::vector<std::string> names{"stale"};
    EXPECT_FALSE(registry.EnumerateValues(&names).ok());
    EXPECT_TRUE(names.empty());
    EXPECT_TRUE(config_.Names().empty()) << "reading creates nothing";
}

TEST_F(RegistryTest, KeyPathsThatCannotBeOpened) {
    for (const char* path :
         {"", "SOFTWARE\\Mallo", "HARDWARE\\Mallo\\Ferret", "SOFTWARE\\\\Mallo\\Ferret",
          "SOFTWARE\\Mallo\\Ferret\\", "SOFTWARE\\..\\Ferret", "SOFTWARE\\Ma/llo\\F"}) {
        SCOPED_TRACE(path);
        Registry registry = Key(path);
        EXPECT_EQ(registry.CreateKey().description(),
                  std::string("Failed to create registry Key: '") + path);
        EXPECT_FALSE(registry.KeyExists());
        EXPECT_FALSE(registry.SetValue(std::string("x")).ok());
    }
    EXPECT_TRUE(config_.Names().empty());
}

TEST_F(RegistryTest, KeyIsAPrivateFileAndFurtherComponentsAreGroups) {
    ASSERT_TRUE(Key("software\\Mallo\\Ferret").CreateKey().ok());
    EXPECT_TRUE(Key(kKey).KeyExists()) << "the root name ignores case";
    struct stat info {};
    ASSERT_EQ(stat(config_.Path("Mallo").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);

    Registry deeper = Key("SOFTWARE\\Mallo\\Ferret\\Sub\\Deeper");
    ASSERT_TRUE(deeper.CreateKey().ok());
    std::vector<std::string> names;
    ASSERT_TRUE(Key("SOFTWARE\\Mallo\\Ferret\\sub").EnumerateSections(&names).ok());
    EXPECT_EQ(names, std::vector<std::string>{"Deeper"});
    ASSERT_TRUE(deeper.EnumerateValues(&names).ok());
    EXPECT_TRUE(names.empty());
    ASSERT_TRUE(deeper.SetValue(std::string("one")).ok());
    EXPECT_NE(config_.ReadFile("Mallo/Ferret.conf").find("[Sub]"), std::string::npos);
    ASSERT_TRUE(deeper.DeleteValue().ok());
    EXPECT_TRUE(deeper.KeyExists()) << "a key outlives its last value";
    ASSERT_TRUE(deeper.DeleteKey().ok());
    EXPECT_FALSE(deeper.KeyExists());
    EXPECT_TRUE(Key("SOFTWARE\\Mallo\\Ferret\\Sub").KeyExists());
    ASSERT_TRUE(Key(kKey).DeleteKey().ok());
    EXPECT_TRUE(config_.Names("Mallo").empty());
}

TEST_F(RegistryTest, TextsRoundTripAndNamesIgnoreCase) {
    Registry registry = Key(kKey, "Logging");
    for (const std::string text : {"plain", "a, b", "\"quoted\"", "C:\\dir", "x=y;z #h",
                                   "@ByteArray(x)", " spaced ", "Ünïcödé ✓", "[section]"}) {
        ASSERT_TRUE(registry.SetValue(text).ok());
        EXPECT_EQ(registry.Value(), Text(text));
    }
    ASSERT_TRUE(Key(kKey, "LOGGING").SetValue(std::string("True")).ok());
    EXPECT_EQ(Key(kKey, "logging").Value(), Text("True"));
    std::vector<std::string> names;
    ASSERT_TRUE(registry.EnumerateValues(&names).ok());
    EXPECT_EQ(names, std::vector<std::string>{"Logging"});

    config_.WriteFile("Mallo/Other.conf", "[General]\next_list=.txt, .htm\n");
    EXPECT_EQ(Key("SOFTWARE\\Mallo\\Other", "ext_list").Value(), Text(".txt,.htm"));
}

TEST_F(RegistryTest, TextsWithTwoPercentSignsExpandOnReading) {
    setenv("FERRET_TEST_VAR", "/data/x", 1);
    const char* const cases[][2] = {
        {"%FERRET_TEST_VAR%/sub", "/data/x/sub"},
        {"%FERRET_TEST_VAR%%FERRET_TEST_VAR%", "/data/x/data/x"},
        {"%FERRET_NEVER_SET%/sub", "%FERRET_NEVER_SET%/sub"},
        {"%FERRET_NEVER_SET% and %FERRET_TEST_VAR%", "%FERRET_NEVER_SET% and /data/x"},
        {"50% of %FERRET_TEST_VAR%", "50% of /data/x"},
        {"a%%FERRET_TEST_VAR%", "a%/data/x"},
        {"100%", "100%"},
        {"%%", "%%"},
    };
    Registry registry = Key(kKey);
    for (const auto& [stored, read] : cases) {
        ASSERT_TRUE(registry.SetValue(std::string(stored)).ok());
        EXPECT_EQ(registry.Value(), Text(read)) << stored;
        EXPECT_NE(config_.ReadFile("Mallo/Ferret.conf").find(stored), std::string::npos)
            << "stored as typed";
    }
    unsetenv("FERRET_TEST_VAR");
}

TEST_F(RegistryTest, NumbersBytesAndTypeMismatches) {
    Registry registry = Key(kKey);
    registry.SetValueType(kRegNumber);
    ASSERT_TRUE(registry.SetValue(std::int32_t{-42}).ok());
    EXPECT_EQ(registry.Value(), Text("-42"));
    EXPECT_EQ(registry.SetValue(std::string("42")).number(), kRegistryError);

    registry.SetValueType(kRegBinary);
    const QByteArray bytes("\x00\x01\xff%a%", 6);
    ASSERT_TRUE(registry.SetValue(bytes).ok());
    EXPECT_EQ(registry.Value(), RegistryValue(bytes));
    EXPECT_FALSE(registry.SetValue(std::int32_t{1}).ok());

    registry.SetValueType(kRegMultiString);
    EXPECT_FALSE(registry.SetValue(std::string("a")).ok());
    EXPECT_EQ(registry.Value(), RegistryValue(bytes)) << "a failed write changes nothing";
}

TEST_F(RegistryTest, FailuresAndRemoteMachines) {
    Registry registry = Key(kKey, "Gone");
    const Status no_key = registry.DeleteValue();
    EXPECT_EQ(no_key.number(), kRegistryError);
    EXPECT_EQ(no_key.source(), "ferret.cRegistry");
    ASSERT_TRUE(registry.CreateKey().ok());
    EXPECT_EQ(registry.DeleteValue().number(), kRegistryError);
    EXPECT_EQ(Key("SOFTWARE\\Mallo\\Ferret\\No").DeleteKey().number(), kRegistryError);
    registry.SetClassKey(static_cast<std::int32_t>(0x80000002u));
    EXPECT_EQ(registry.SetValue(std::string("abc")).number(), kRegistryError);

    Registry remote = Key(kKey);
    ASSERT_TRUE(remote.SetValue(std::string("local")).ok());
    remote.SetMachine("box");
    EXPECT_FALSE(remote.KeyExists());
    EXPECT_EQ(remote.Value(), Text(""));
    EXPECT_EQ(remote.SetValue(std::string("remote")).number(), kRegistryError);
    remote.SetMachine("");
    EXPECT_EQ(remote.Value(), Text("local"));
}

TEST_F(RegistryTest, WritesAreAtomicAndNeverReplaceADamagedFile) {
    Registry registry = Key(kKey);
    for (int i = 0; i < 20; ++i) {
        registry.SetValueKey("Value" + std::to_string(i));
        ASSERT_TRUE(registry.SetValue(std::string(static_cast<std::size_t>(i) * 50, 'x')).ok());
    }
    EXPECT_EQ(config_.Names("Mallo"), std::vector<std::string>{"Ferret.conf"});

    const std::string damaged = "[General\nReportType=2\nnot a setting line\n";
    config_.WriteFile("Mallo/Ferret.conf", damaged);
    registry.SetValueKey("ReportType");
    for (int attempt = 0; attempt < 2; ++attempt) {  // the second one meets QSettings' cache
        EXPECT_FALSE(registry.KeyExists());
        EXPECT_EQ(registry.Value(), Text(""));
        EXPECT_EQ(registry.SetValue(std::string("1")).number(), kRegistryError);
        EXPECT_FALSE(registry.CreateKey().ok());
        EXPECT_FALSE(registry.DeleteValue().ok());
        EXPECT_FALSE(registry.DeleteKey().ok());
    }
    EXPECT_EQ(config_.ReadFile("Mallo/Ferret.conf"), damaged);

    // A serialized value, never written by this store, is damage too: unpacked, its length asks
    // for gigabytes.
    static const char kSerialized[] = "a=1\nb[Sub/Deeper]=@Variant(\\\0\0\0\0\x31\x38QString)\n";
    const std::string serialized(kSerialized, sizeof kSerialized - 1);
    config_.WriteFile("Mallo/Ferret.conf", serialized);
    EXPECT_EQ(registry.Value(), Text(""));
    EXPECT_EQ(registry.SetValue(std::string("1")).number(), kRegistryError);
    EXPECT_EQ(config_.ReadFile("Mallo/Ferret.conf"), serialized);

    config_.WriteFile("Other", "a file where the folder belongs");
    EXPECT_FALSE(Key("SOFTWARE\\Other\\Tool").SetValue(std::string("v")).ok());
    config_.MakeDir("Third/Tool.conf");
    EXPECT_FALSE(Key("SOFTWARE\\Third\\Tool").SetValue(std::string("v")).ok());
}

}  // namespace
}  // namespace ferret
