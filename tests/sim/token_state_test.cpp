// The token's state file: what is written is read back whole, a damaged file is
// refused rather than half read, and saving replaces the file atomically.
#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "sim_support.h"
#include "../support/temp_dir.h"

namespace {

using namespace simtest;

using testsupport::TempDir;

vtoken::State Populated() {
    vtoken::TokenOptions o;
    o.containerSizes = {64, 0, 16};
    o.keySlots = 3;
    vtoken::State s = FreshState(o);
    s.ref5.triesLeft = 7;
    s.stamps = 0xFFFFFFFE;
    s.keys[0].state = vtoken::KeyState::Ready;
    s.keys[2].state = vtoken::KeyState::Pending;
    for (int i = 0; i < 24; ++i) s.keys[0].d[i] = s.keys[2].d[i] = static_cast<uint8_t>(i + 1);
    for (int i = 0; i < 48; ++i) s.keys[0].pub[i] = s.keys[2].pub[i] = static_cast<uint8_t>(0xF0 - i);
    s.files[0x0201][63] = 0x5A;
    return s;
}

TEST(TokenState, RoundTripKeepsEverything) {
    vtoken::State s = Populated(), back;
    std::string error;
    ASSERT_TRUE(vtoken::Parse(vtoken::Serialize(s), back, error)) << error;
    EXPECT_EQ(vtoken::Serialize(back), vtoken::Serialize(s));
    EXPECT_EQ(back.serial, s.serial);
    EXPECT_EQ(back.ref5.triesLeft, 7);
    EXPECT_EQ(back.stamps, 0xFFFFFFFEu);
    ASSERT_EQ(back.keys.size(), 3u);
    EXPECT_EQ(back.keys[1].state, vtoken::KeyState::Empty);
    EXPECT_EQ(back.keys[2].state, vtoken::KeyState::Pending);
    EXPECT_EQ(back.keys[2].pub, s.keys[2].pub);
    EXPECT_EQ(back.files, s.files);
    EXPECT_FALSE(back.files.count(0x0202)) << "a container of size 0 does not exist";
}

TEST(TokenState, DamagedFilesAreRefused) {
    const std::string good = vtoken::Serialize(Populated());
    auto replace = [&](const std::string &from, const std::string &to) {
        std::string s = good;
        auto at = s.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        return s.replace(at, from.size(), to);
    };
    const std::string cases[] = {
        "",
        "nki-vtoken-state 2\n",
        good.substr(0, good.size() / 2) + "zz\n",            // cut in the middle of a line
        replace("ref5 = 3132333435363738 7 10", "ref5 = 3132333435363738 11 10"),  // more attempts than allowed
        replace("ref5 = 3132333435363738 7 10", "ref5 = 31323334 7 10"),
        replace("stamps = 4294967294", "stamps = 4294967296"),
        replace("key2 = empty", "key2 = ready 00"),
        replace("key2 = empty", "key4 = empty"),                 // slots with a gap
        replace("key2 = empty\n", ""),
        replace("file 0004 = ", "file 0009 = "),                 // the key file is not a transparent file
        replace("file 0004 = ", "file 0005 = "),                 // a file twice
        replace("file 0004 = 01", "file 0004 = 0G"),
        replace("serial = ", "colour = "),
    };
    for (const std::string &text : cases) {
        vtoken::State s;
        std::string error;
        EXPECT_FALSE(vtoken::Parse(text, s, error)) << text.substr(0, 200);
    }
}

TEST(TokenState, FileCutAtAnyLineIsRefused) {
    // A file cut at a line boundary reads as complete lines; without its end line
    // it would load with key slots, containers or reference data missing.
    const std::string good = vtoken::Serialize(Populated());
    vtoken::State s;
    std::string error;
    ASSERT_TRUE(vtoken::Parse(good, s, error)) << error;
    for (std::size_t at = good.find('\n'); at + 1 < good.size(); at = good.find('\n', at + 1))
        EXPECT_FALSE(vtoken::Parse(good.substr(0, at + 1), s, error)) << "cut after byte " << at + 1;
    // A complete file that lacks a section the token cannot do without.
    for (const char *line : {"stamps = ", "file 0004 = ", "file 0005 = "}) {
        std::string text = good;
        const auto from = text.find(line);
        ASSERT_NE(from, std::string::npos);
        text.erase(from, text.find('\n', from) + 1 - from);
        EXPECT_FALSE(vtoken::Parse(text, s, error)) << line;
    }
    EXPECT_FALSE(vtoken::Parse(good + "stamps = 1\n", s, error)) << "text after the end line";
}

TEST(TokenState, LoadingRemovesTemporariesOfAKilledSave) {
    // A save killed before its rename leaves PATH.XXXXXX with the PINs and keys.
    TempDir dir;
    const std::string path = dir.path() + "/token.state";
    std::string error;
    ASSERT_TRUE(vtoken::SaveStateFile(path, Populated(), error)) << error;
    for (const char *name : {"token.state.a1B2c3", "token.state.ZZZZZZ", "token.state.bak", "token.state.a1B2c",
                             "other.state.a1B2c3", "token.statex.a1B2c3"})
        std::ofstream(dir.path() + "/" + name) << "ref5 = 3132333435363738 10 10\n";
    vtoken::State loaded;
    ASSERT_EQ(vtoken::LoadStateFile(path, loaded, error), 1) << error;
    std::vector<std::string> left = dir.Entries();
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, (std::vector<std::string>{"other.state.a1B2c3", "token.state", "token.state.a1B2c",
                                                       "token.state.bak", "token.statex.a1B2c3"}));
}

TEST(TokenState, SaveReplacesTheFileAtomically) {
    TempDir dir;
    const std::string path = dir.path() + "/token.state";
    vtoken::State loaded;
    std::string error;
    EXPECT_EQ(vtoken::LoadStateFile(path, loaded, error), 0) << "no file yet";

    vtoken::State s = Populated();
    ASSERT_TRUE(vtoken::SaveStateFile(path, s, error)) << error;
    s.stamps = 5;
    ASSERT_TRUE(vtoken::SaveStateFile(path, s, error)) << error;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"token.state"}) << "no temporary file is left";
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u) << "it holds private keys";
    ASSERT_EQ(vtoken::LoadStateFile(path, loaded, error), 1) << error;
    EXPECT_EQ(vtoken::Serialize(loaded), vtoken::Serialize(s));

    std::ofstream(path, std::ios::app) << "garbage\n";
    EXPECT_EQ(vtoken::LoadStateFile(path, loaded, error), -1);
    EXPECT_NE(error.find("line"), std::string::npos) << error;
    EXPECT_FALSE(vtoken::SaveStateFile(dir.path() + "/missing/token.state", s, error));
}

TEST(TokenState, FreshTokenOptionsAreChecked) {
    struct Case {
        std::string pin;
        std::vector<uint32_t> sizes;
        int slots;
        bool ok;
    } cases[] = {
        {"1", {1}, 1, true},          {"12345678", {65535, 0}, 255, true}, {"", {1}, 2, false},
        {"123456789", {1}, 2, false}, {"1234", {65536}, 2, false},         {"1234", {}, 2, false},
        {"1234", {1}, 0, false},      {"1234", {1}, 256, false},
    };
    for (const Case &c : cases) {
        vtoken::TokenOptions o;
        o.pin = c.pin;
        o.containerSizes = c.sizes;
        o.keySlots = c.slots;
        vtoken::State s;
        std::string error;
        EXPECT_EQ(vtoken::MakeState(o, s, error), c.ok) << c.pin << " " << c.slots;
    }
    vtoken::State a = FreshState(), b = FreshState();
    EXPECT_NE(a.serial, b.serial) << "fresh tokens differ";
}

}  // namespace
