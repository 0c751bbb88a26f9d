#include "app/editor_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ferret {
namespace {

using Words = std::vector<std::string>;

const EditorPlace kPlace = {"/home/me/notes.txt", 12, 7};

TEST(EditorCommandTest, PlaceholdersAreReplacedInsideEachWord) {
    EXPECT_EQ(EditorArguments("code -g %f:%l:%c", kPlace),
              (Words{"code", "-g", "/home/me/notes.txt:12:7"}));
    EXPECT_EQ(EditorArguments("kate -l %l -c %c %f", kPlace),
              (Words{"kate", "-l", "12", "-c", "7", "/home/me/notes.txt"}));
    EXPECT_EQ(EditorArguments("ed --line=%l --column=%c -- %f", kPlace),
              (Words{"ed", "--line=12", "--column=7", "--", "/home/me/notes.txt"}));
    // A placeholder may come more than once.
    EXPECT_EQ(EditorArguments("ed %l%l %f", kPlace), (Words{"ed", "1212", "/home/me/notes.txt"}));
}

TEST(EditorCommandTest, DoubledPercentIsOnePercentAndOtherPercentsStay) {
    EXPECT_EQ(EditorArguments("ed --progress=100%% %%f %f", kPlace),
              (Words{"ed", "--progress=100%", "%f", "/home/me/notes.txt"}));
    EXPECT_EQ(EditorArguments("ed %x 50% %f %", kPlace),
              (Words{"ed", "%x", "50%", "/home/me/notes.txt", "%"}));
}

// The command is split once, before the place goes in: what a path holds is never split again,
// quoted or read by a shell.
TEST(EditorCommandTest, APathStaysOneLiteralArgument) {
    for (const std::string path :
         {"/tmp/my notes.txt", "/tmp/it's \"quoted\".txt", "/tmp/$(touch pwned).txt",
          "/tmp/a; rm -rf ~.txt", "/tmp/`id` | cat > x & %l.txt", "/tmp/tab\there\nline.txt"}) {
        SCOPED_TRACE(path);
        const EditorPlace place = {path, 3, 1};
        EXPECT_EQ(EditorArguments("gedit +%l:%c %f", place), (Words{"gedit", "+3:1", path}));
        EXPECT_EQ(EditorArguments("code -g %f:%l:%c", place), (Words{"code", "-g", path + ":3:1"}));
        // Quotes around the placeholder only group the command's own words.
        EXPECT_EQ(EditorArguments("ed \"%f\"", place), (Words{"ed", path}));
    }
    // Bytes that are not UTF-8 go in unchanged.
    const std::string latin1 = "/tmp/caf\xe9.txt";
    EXPECT_EQ(EditorArguments("ed %f", {latin1, 1, 1}), (Words{"ed", latin1}));
}

TEST(EditorCommandTest, TheCommandIsSplitAsAShellSplitsWordsWithoutExpanding) {
    // Three quotes are a quote.
    EXPECT_EQ(
        EditorArguments("  \"/opt/My Editor/ed\"   --title \"a \"\"\"b\"\"\"\"  $HOME ~ %f ",
                        kPlace),
        (Words{"/opt/My Editor/ed", "--title", "a \"b\"", "$HOME", "~", "/home/me/notes.txt"}));
    EXPECT_TRUE(EditorArguments("", kPlace).empty());
    EXPECT_TRUE(EditorArguments("   ", kPlace).empty());
}

TEST(EditorCommandTest, ACommandWithoutTheFileGetsItLast) {
    EXPECT_EQ(EditorArguments("mousepad", kPlace), (Words{"mousepad", "/home/me/notes.txt"}));
    EXPECT_EQ(EditorArguments("ed --line %l", kPlace),
              (Words{"ed", "--line", "12", "/home/me/notes.txt"}));
}

TEST(EditorCommandTest, PlacesBelowOneAreOne) {
    EXPECT_EQ(EditorArguments("ed %l %c %f", {"/f", 0, 0}), (Words{"ed", "1", "1", "/f"}));
    EXPECT_EQ(EditorArguments("ed %l %c %f", {"/f", -4, 1234567890123}),
              (Words{"ed", "1", "1234567890123", "/f"}));
}

// The desktop's default text editor, by its program's base name, with or without a path.
TEST(EditorCommandTest, KnownEditorsGetTheirLineSyntax) {
    const struct {
        std::string program;
        std::string command;
    } cases[] = {
        {"code", "code -g %f:%l:%c"},
        {"/usr/share/code/code", "/usr/share/code/code -g %f:%l:%c"},
        {"codium", "codium -g %f:%l:%c"},
        {"kate", "kate -l %l -c %c %f"},
        {"/usr/bin/gedit", "/usr/bin/gedit +%l:%c %f"},
        {"gnome-text-editor", "gnome-text-editor +%l:%c %f"},
        {"emacs", "emacs +%l:%c %f"},
    };
    for (const auto& known : cases) {
        SCOPED_TRACE(known.program);
        const AppCommand app = {known.program, known.program + " --new-window %U"};
        EXPECT_EQ(DefaultEditorCommand(app, true), known.command);
        EXPECT_EQ(DefaultEditorCommand(app, false), known.command);
    }
    EXPECT_EQ(EditorArguments(DefaultEditorCommand(AppCommand{"kate", "kate -b %U"}, true), kPlace),
              (Words{"kate", "-l", "12", "-c", "7", "/home/me/notes.txt"}));
}

TEST(EditorCommandTest, TerminalEditorsRunInATerminal) {
    for (const std::string program : {"vim", "/usr/bin/nvim", "vi"}) {
        SCOPED_TRACE(program);
        const AppCommand app = {program, program + " %F"};
        EXPECT_EQ(DefaultEditorCommand(app, true), "x-terminal-emulator -e " + program + " +%l %f");
        // Without a terminal program the desktop opens the file as it opens it on a click.
        EXPECT_EQ(DefaultEditorCommand(app, false), "xdg-open %f");
    }
    EXPECT_EQ(EditorArguments(DefaultEditorCommand(AppCommand{"vim", "vim %F"}, true), kPlace),
              (Words{"x-terminal-emulator", "-e", "vim", "+12", "/home/me/notes.txt"}));
}

// Another editor opens the file the way its desktop entry does, without a line.
TEST(EditorCommandTest, AnUnknownEditorGetsTheFileOnly) {
    EXPECT_EQ(DefaultEditorCommand(AppCommand{"mousepad", "mousepad %U"}, true), "mousepad %f");
    EXPECT_EQ(DefaultEditorCommand(AppCommand{"/opt/ed/ed", ""}, true), "/opt/ed/ed %f");
    // The entry's other codes go; its quoting is the entry's own.
    EXPECT_EQ(
        DefaultEditorCommand(
            AppCommand{"xed", "xed --icon %i --name=%c \"--title=My \\\"Text\\\"\" %F"}, true),
        "xed --icon --name= \"--title=My \"\"\"Text\"\"\"\" %f");
    EXPECT_EQ(
        EditorArguments(DefaultEditorCommand(
                            AppCommand{"xed", "xed %i \"--title=My \\\"Text\\\"\" -- %F"}, true),
                        kPlace),
        (Words{"xed", "--title=My \"Text\"", "--", "/home/me/notes.txt"}));
    // An entry that names no file gets it last; a literal "%" stays one.
    EXPECT_EQ(DefaultEditorCommand(AppCommand{"ed", "ed --zoom=50%%"}, true), "ed --zoom=50%% %f");
    // A Flatpak application is started by flatpak, which hands the file on.
    const AppCommand flatpak = {
        "/usr/bin/flatpak",
        "/usr/bin/flatpak run --branch=stable --arch=x86_64 --command=mousepad "
        "--file-forwarding org.xfce.mousepad @@u %U @@"};
    EXPECT_EQ(
        EditorArguments(DefaultEditorCommand(flatpak, true), kPlace),
        (Words{"/usr/bin/flatpak", "run", "--branch=stable", "--arch=x86_64", "--command=mousepad",
               "--file-forwarding", "org.xfce.mousepad", "@@u", "/home/me/notes.txt", "@@"}));
}

TEST(EditorCommandTest, WithoutADefaultApplicationTheDesktopOpensTheFile) {
    EXPECT_EQ(DefaultEditorCommand(std::nullopt, true), "xdg-open %f");
    EXPECT_EQ(DefaultEditorCommand(AppCommand{}, false), "xdg-open %f");
    EXPECT_EQ(EditorArguments("xdg-open %f", kPlace), (Words{"xdg-open", "/home/me/notes.txt"}));
}

// A program's path is a word of the command: blanks, quotes and "%" in it stay as they are.
TEST(EditorCommandTest, AProgramPathStaysOneWord) {
    for (const std::string program :
         {"/opt/My Editor/code", "/opt/100%f/code", "/opt/\"q\"/code", "/opt/tab\t/code"}) {
        SCOPED_TRACE(program);
        EXPECT_EQ(EditorArguments(DefaultEditorCommand(AppCommand{program, ""}, true), kPlace),
                  (Words{program, "-g", "/home/me/notes.txt:12:7"}));
        EXPECT_EQ(EditorArguments(QuotedCommandWord(program), kPlace),
                  (Words{program, "/home/me/notes.txt"}));
    }
    EXPECT_EQ(QuotedCommandWord("/usr/bin/gedit"), "/usr/bin/gedit");
}

}  // namespace
}  // namespace ferret
