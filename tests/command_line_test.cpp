#include "app/command_line.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

DisplayMode modeFor(std::vector<const char*> args) {
    args.insert(args.begin(), "queltravine");
    return displayModeFor(commandLineTail(static_cast<int>(args.size()), args.data()));
}

TEST(CommandLine, TailIsTheArgumentsJoinedBySingleSpaces) {
    const char* argv[] = {"queltravine", "-w", "extra", "", "x"};
    EXPECT_EQ(commandLineTail(5, argv), "-w extra  x");
    EXPECT_EQ(commandLineTail(1, argv), "");
}

TEST(CommandLine, DashWFirstSelectsWindowed) {
    EXPECT_EQ(modeFor({"-w"}), DisplayMode::windowed);
    EXPECT_EQ(modeFor({"-wide"}), DisplayMode::windowed);
    EXPECT_EQ(modeFor({"-w", "anything"}), DisplayMode::windowed);
}

TEST(CommandLine, EverythingElseSelectsFullscreen) {
    EXPECT_EQ(modeFor({}), DisplayMode::fullscreen);
    EXPECT_EQ(modeFor({"-W"}), DisplayMode::fullscreen);
    EXPECT_EQ(modeFor({"-x", "-w"}), DisplayMode::fullscreen);
    EXPECT_EQ(modeFor({"-"}), DisplayMode::fullscreen);
    EXPECT_EQ(modeFor({"-", "w"}), DisplayMode::fullscreen);  // "- w"
    EXPECT_EQ(modeFor({"", "-w"}), DisplayMode::fullscreen);  // " -w"
    EXPECT_EQ(modeFor({"w"}), DisplayMode::fullscreen);
}

}  // namespace
