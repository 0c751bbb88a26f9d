// Runs the real ferret binary.
#include <gtest/gtest.h>

#include "ferret_version.h"
#include "testsupport/run_program.h"

namespace ferret {
namespace {

using testing::RunProgram;

TEST(FerretBinary, VersionAndHelpAnswerFirst) {
    const auto version = RunProgram(FERRET_BINARY, {"--version"});
    EXPECT_EQ(version.exit_code, 0);
    EXPECT_EQ(version.out, std::string("ferret ") + FERRET_VERSION + "\n");

    const auto help = RunProgram(FERRET_BINARY, {"-p", "/tmp", "--help"});
    EXPECT_EQ(help.exit_code, 0);
    for (const char* text : {"-e:search", "-e:replace", "-config FILE", "-rx", "Examples:"}) {
        EXPECT_NE(help.out.find(text), std::string::npos) << text;
    }
    EXPECT_TRUE(help.err.empty());
}

TEST(FerretBinary, SaysClearlyWhatThisBuildCannotDo) {
    const auto bare = RunProgram(FERRET_BINARY, {});
    EXPECT_EQ(bare.exit_code, 2);
    EXPECT_NE(bare.err.find("--help"), std::string::npos);
    const auto run = RunProgram(FERRET_BINARY, {"-p", "/tmp", "-s", "x", "-e:search", "-x"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_FALSE(run.err.empty());
}

}  // namespace
}  // namespace ferret
