#include "app/editor_launcher.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testsupport/stand_in_editor.h"
#include "testsupport/temp_dir.h"

namespace ferret {
namespace {

using Words = std::vector<std::string>;

// The editor really starts, without a shell between: each argument arrives as it was made,
// whatever the file's name holds.
TEST(EditorLauncherTest, TheEditorGetsThePlaceAsLiteralArguments) {
    const testing::StandInEditor editor;
    const std::string command = QuotedCommandWord(editor.Script()) + " " +
                                QuotedCommandWord(editor.Record()) + " -g %f:%l:%c +%l %f";
    const testing::TempDir files;
    for (const std::string name : {"plain.txt", "my notes.txt", "it's \"quoted\".txt",
                                   "$(echo gone).txt", "a; ls x.txt", "`id` & %l > y.txt"}) {
        SCOPED_TRACE(name);
        const std::string path = files.Path(name);
        EXPECT_EQ(StartEditor(command, {path, 4, 2}), "");
        EXPECT_EQ(editor.Arguments(), (Words{"-g", path + ":4:2", "+4", path}));
    }
}

TEST(EditorLauncherTest, WhatCannotStartIsTold) {
    const std::string missing = StartEditor("/nonexistent/editor +%l %f", {"/tmp/a.txt", 1, 1});
    EXPECT_NE(missing.find("\"/nonexistent/editor\" could not be started"), std::string::npos)
        << missing;
    EXPECT_EQ(StartEditor("  ", {"/tmp/a.txt", 1, 1}), "The editor command names no program");
    // A name that is not UTF-8 would reach the editor changed: the editor is not started.
    const testing::StandInEditor editor;
    const std::string latin1 = "/tmp/caf\xe9.txt";
    const std::string refused = StartEditor(
        QuotedCommandWord(editor.Script()) + " " + QuotedCommandWord(editor.Record()), {latin1});
    EXPECT_NE(refused.find("is not valid UTF-8"), std::string::npos) << refused;
    EXPECT_TRUE(editor.Arguments(0.5).empty());
}

TEST(EditorLauncherTest, TheSettingComesBeforeTheDesktopsEditor) {
    AppSettings settings;
    settings.editor_command = "kate -l %l %f";
    EXPECT_EQ(EditorCommand(settings), "kate -l %l %f");
    // Blanks only are no command: the desktop's editor, or the desktop itself, opens the file.
    settings.editor_command = "  ";
    const std::string fallback = EditorCommand(settings);
    EXPECT_NE(fallback.find("%f"), std::string::npos) << fallback;
    EXPECT_EQ(fallback, EditorCommand(AppSettings()));
}

}  // namespace
}  // namespace ferret
