// The configuration check: what a table will do on the phone, said before
// it gets there. Its model is compared with runs of the real program in
// scenario_test.cpp (ScenarioCheck).
#include <gtest/gtest.h>

#include "config/config_check.h"
#include "config/config_text.h"

namespace {

using config::Finding;
using config::Table;
using Lines = std::vector<std::string>;

const std::string kFile = "my.klavor";

std::vector<Finding> Findings(const std::string& text) {
    config::Origin origin;
    std::string error;
    std::optional<Table> table = config::ParseConfigText(text, kFile, &error, &origin);
    EXPECT_TRUE(table) << error;
    return table ? config::CheckTable(*table, origin) : std::vector<Finding>{};
}

Lines Check(const std::string& text) {
    Lines out;
    for (const Finding& f : Findings(text)) out.push_back(f.text);
    return out;
}

TEST(ConfigCheck, SendsThatComeBackRoundAreErrors) {
    // The runaway found by hand: one press of either, keys until exit.
    std::vector<Finding> loop = Findings("Calendar capture single 0xC2\nContacts capture single 0xC1\n");
    ASSERT_EQ(loop.size(), 1u);
    EXPECT_TRUE(loop[0].error);
    EXPECT_TRUE(config::HasError(loop));
    EXPECT_EQ(loop[0].text,
              "my.klavor:1: error: Calendar single sends App2, a press of Contacts (line 2); Contacts single "
              "sends App1, a press of Calendar (line 1) again: from one press Klavor would send actions on its "
              "own forever, one every tick, until it exits");
    // Three buttons, one waiting out its quiet period: told once, from the
    // earliest line, though a press of any of the three starts it.
    EXPECT_EQ(Check("Green capture single App1 double Win+App2\nContacts capture single TTalk\n"
                    "Calendar capture single App2\n"),
              Lines{"my.klavor:1: error: Green single sends App1, a press of Calendar (line 3); Calendar single "
                    "sends App2, a press of Contacts (line 2); Contacts single sends TTalk, a press of Green "
                    "(line 1) again: from one press Klavor would send actions on its own forever, 3 actions every "
                    "8 ticks, until it exits"});
    // Win+ is caught too, and the Win key itself is a press of a button on
    // LWin: here two presses of Green in one action, a double press.
    EXPECT_EQ(Check("Calendar capture single Win+LWin\nGreen capture key LWin single A double App1\n"),
              Lines{"my.klavor:1: error: Calendar single sends Win+LWin, a double press of Green (line 2); Green "
                    "double sends App1, a press of Calendar (line 1) again: from one press Klavor would send "
                    "actions on its own forever, one every tick, until it exits"});
    // Sends that come back to a button at another press index end there.
    EXPECT_EQ(Check("Calendar capture single A double App2\nContacts capture single App1\n"),
              (Lines{"my.klavor:1: warning: Calendar double sends App2, a press of Contacts (line 2); Contacts "
                     "single sends App1, a press of Calendar (line 1); Calendar single then sends A",
                     "my.klavor:2: warning: Contacts single sends App1, a press of Calendar (line 1); Calendar "
                     "single then sends A"}));
}

TEST(ConfigCheck, SendsThatPressAnotherButtonAndEndAreWarnings) {
    EXPECT_EQ(Check("Calendar capture single App2\nContacts capture single A\n"),
              Lines{"my.klavor:1: warning: Calendar single sends App2, a press of Contacts (line 2); Contacts single "
                    "then sends A"});
    EXPECT_EQ(Check("Calendar capture single Win+A\nGreen capture key THome single B\n"),
              Lines{"my.klavor:1: warning: Calendar single sends Win+A, a press of Green (line 2); Green single then "
                    "sends B"});
    // Win+A reaches Green, then A reaches Red: the later press drops the
    // earlier, so Red's sequence is the one that fires.
    EXPECT_EQ(Check("Calendar capture single Win+A\nGreen capture key LWin single B\nRed capture key A single C\n"),
              Lines{"my.klavor:1: warning: Calendar single sends Win+A, a press of Red (line 3); Red single then "
                    "sends C"});
}

TEST(ConfigCheck, WhatNeverPressesAButton) {
    // A button's own key: it has let go of its hot keys while it sends.
    EXPECT_EQ(Check("Calendar capture single App1 double Win+App1\n"), Lines{});
    // A key that a free or left button has, and a button that a later free
    // slot on its key takes away.
    EXPECT_EQ(Check("Calendar capture single App2 double App3\nContacts free\nCamera leave\n"), Lines{});
    EXPECT_EQ(Check("Calendar capture single App2\nContacts capture single App1\nRecord free key App2\n"),
              Lines{"my.klavor:2: warning: Contacts and Record (line 3) are both on key App2: Record, later in the "
                    "table, frees its hot keys at every sweep, so presses of Contacts never reach Klavor"});
    // The built-in tables, and every button captured with the built-in actions.
    EXPECT_EQ(Check(""), Lines{});
    EXPECT_EQ(Check("Calendar capture\nContacts capture\nCamera capture\nRecord capture\nGreen capture\nRed capture"),
              Lines{});
}

TEST(ConfigCheck, TwoSlotsOnOneKey) {
    EXPECT_EQ(Check("Camera capture key App3 single App2\nRecord capture key App3 single A\n"
                    "Contacts capture single B\n"),
              Lines{"my.klavor:1: warning: Camera and Record (line 2) are both on key App3: Record, later in the "
                    "table, takes its hot keys from Camera at every sweep, so presses of Camera go to Record"});
    EXPECT_EQ(Check("Camera capture key App3\nRecord free key App3\nRed free key App3\nGreen leave key App3\n"),
              (Lines{"my.klavor:1: warning: Camera and Red (line 3) are both on key App3: Red, later in the table, "
                     "frees its hot keys at every sweep, so presses of Camera never reach Klavor",
                     "my.klavor:2: warning: Record and Red (line 3) are both on key App3: Red, later in the table, "
                     "takes the key at every sweep, so the line for Record does nothing"}));
    // Table order counts, not line order.
    EXPECT_EQ(Check("Record capture key App3\nCamera free key App3\n"),
              Lines{"my.klavor:2: warning: Camera and Record (line 1) are both on key App3: Record, later in the "
                    "table, takes the key at every sweep, so the line for Camera does nothing"});
}

TEST(ConfigCheck, WordsTheProgramReadsDifferentlyAndCodeZero) {
    EXPECT_EQ(Check("Camera mode 3 single F1\nRecord mode 65535 presses 9\nGreen free presses 5\n"
                    "Red capture single A double FAKE triple Win+0x00 4x 0x1200 presses 3\n"
                    "Volume Up leave\nVolume Dn free\n"),
              (Lines{"my.klavor:1: warning: Camera: mode 3 is not leave, free or capture; the program leaves the "
                     "button alone",
                     "my.klavor:2: warning: Record: mode 65535 is not leave, free or capture; the program leaves the "
                     "button alone",
                     "my.klavor:2: warning: Record: presses 9 acts as presses 4 (5x is the most the program counts)",
                     "my.klavor:3: warning: Green: presses 5 acts as presses 4 (5x is the most the program counts)",
                     "my.klavor:4: warning: Red double and 4x send code 0 (\"FAKE\"), which nothing receives"}));
    EXPECT_EQ(Check("Camera capture presses 4\n"),
              Lines{"my.klavor:1: warning: Camera 4x and 5x send code 0 (\"FAKE\"), which nothing receives"});
    EXPECT_EQ(Check("Camera capture single FAKE presses 0\n"),
              Lines{"my.klavor:1: warning: Camera single sends code 0 (\"FAKE\"), which nothing receives"});
}

TEST(ConfigCheck, WithoutLinesSlotsAreNamedAndTheValueLineUsed) {
    Table t = config::DefaultTable();
    t[0] = {MODE_CAPTURE, 0xC1, 0, {0xC2, 0, 0, 0, 0}};
    t[1] = {MODE_CAPTURE, 0xC2, 0, {0xC1, 0, 0, 0, 0}};
    config::Origin image;
    image.file = "x.bin";
    std::vector<Finding> found = config::CheckTable(t, image);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].text.rfind("x.bin: error: Calendar (slot 0) single sends App2, a press of Contacts (slot 1); "
                                  "Contacts single sends App1, a press of Calendar (slot 0) again",
                                  0),
              0u)
        << found[0].text;
    config::Origin hex;
    hex.file = "s.scenario";
    hex.line = 3;
    found = config::CheckTable(t, hex);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].line, 3);
    EXPECT_EQ(found[0].text.rfind("s.scenario:3: error: Calendar (slot 0) single sends", 0), 0u) << found[0].text;
}

TEST(ConfigCheck, RoadsOfPresses) {
    Table t = config::DefaultTable();
    t[0] = {MODE_CAPTURE, 0xC1, 2, {0xC2, 0x41, 0xC2, 0, 0}};
    t[1] = {MODE_CAPTURE, 0xC2, 0, {0xC1, 0, 0, 0, 0}};
    config::PressRoad road = config::FollowPress(t, {0, 2});
    EXPECT_EQ(road.presses, (std::vector<config::Press>{{0, 2}, {1, 0}, {0, 0}}));
    EXPECT_EQ(road.loopsTo, 1);
    road = config::FollowPress(t, {0, 1});
    EXPECT_EQ(road.presses, (std::vector<config::Press>{{0, 1}}));
    EXPECT_EQ(road.loopsTo, -1);
    EXPECT_EQ(config::TicksToFire(t, {0, 0}), 6);
    EXPECT_EQ(config::TicksToFire(t, {0, 2}), 1);
    EXPECT_EQ(config::TicksToFire(t, {1, 0}), 1);
    EXPECT_TRUE(config::Pressable(t, 0));
    EXPECT_FALSE(config::Pressable(t, 2));
}

}  // namespace
