#include "model/compound_io.h"
#include "model/template_list.h"
#include "scripted_ui.h"

#include <gtest/gtest.h>

using namespace zef;
using zef::test::ScriptedUserInterface;

namespace {
CProjectTemplate makeTemplate(const std::string& name, int width, bool builtIn = false)
{
    CProjectTemplate t(builtIn, name);
    t.width = width;
    t.height = width * 3 / 4;
    return t;
}
} // namespace

TEST(TemplateRecord, StoredLayoutAndRoundTrip)
{
    CProjectTemplate t(false, "Web");
    t.frameRate = 1964113; // 29.97
    t.exportSettings = movies::Handle("\x00\x00\x00\x0C", 4);
    t.broadcastText[0] = "server";
    t.broadcastText[9] = "last";
    t.cropEnabled = true;
    storage::MemoryStream ms;
    storage::StreamWriter w(ms);
    t.write(w);
    const auto& b = ms.bytes();
    // name: 16-bit length including the terminator, then the text.
    ASSERT_GE(b.size(), 13u);
    EXPECT_EQ(b[0], 4);
    EXPECT_EQ(b[1], 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&b[2]), 3), "Web");
    EXPECT_EQ(b[6], 0x40); // width 320, little-endian
    EXPECT_EQ(b[7], 0x01);

    ms.rewind();
    storage::StreamReader r(ms);
    CProjectTemplate back;
    ASSERT_TRUE(back.read(r));
    EXPECT_EQ(ms.tell(), ms.size());
    EXPECT_TRUE(sameSettings(t, back));
    EXPECT_EQ(back.name, "Web");
    EXPECT_EQ(back.broadcastText[9], "last");
    EXPECT_EQ(back.exportSettings, t.exportSettings);
}

TEST(TemplateRecord, SameSettingsIgnoresNameFileAndOrigin)
{
    CProjectTemplate a(true, "A"), b(false, "B");
    b.outputFile = "x.mov";
    EXPECT_TRUE(sameSettings(a, b));
    b.exportSettings = movies::Handle(size_t(0));
    EXPECT_FALSE(sameSettings(a, b)) << "presence of export settings counts";
    b.exportSettings.reset();
    b.broadcastText[3] = "x";
    EXPECT_FALSE(sameSettings(a, b));
}

TEST(TemplateNames, BumpName)
{
    CProjectTemplate t;
    for (auto [from, to] :
         std::vector<std::pair<std::string, std::string>>{{"AB", "AB001"},
                                                          {"X999", "X1000"},
                                                          {"Web Movie", "Web Movie001"},
                                                          {"Web Movie001", "Web Movie002"},
                                                          {"12", "12001"},
                                                          {"123", "124"}}) {
        t.name = from;
        bumpName(t);
        EXPECT_EQ(t.name, to) << from;
    }
}

TEST(TemplateListTest, AddToListFollowsTheClashRules)
{
    TemplateList list;
    list.append(makeTemplate("VHS Quality, 30 fps movie", 320, true));
    list.append(makeTemplate("Mine", 640));
    ScriptedUserInterface ui;

    // Same settings as a built-in, another name: nothing is added.
    EXPECT_EQ(list.addToList(makeTemplate("Other name", 320), ui), 0);
    EXPECT_EQ(list.size(), 2u);
    EXPECT_TRUE(ui.asked.empty());

    // A user template's name with other settings: Cancel leaves the list alone.
    ui.answers = {Answer::Cancel};
    EXPECT_EQ(list.addToList(makeTemplate("Mine", 800), ui), -1);
    EXPECT_EQ(list.size(), 2u);
    ASSERT_EQ(ui.asked.size(), 1u);
    EXPECT_EQ(ui.asked[0].title, "Warning");
    EXPECT_EQ(ui.asked[0].text, templateExistsQuestion("Mine"));
    EXPECT_EQ(ui.asked[0].buttons, Buttons::YesNoCancel);

    // No adds it under a numbered name.
    ui.answers = {Answer::No};
    EXPECT_EQ(list.addToList(makeTemplate("Mine", 800), ui), 2);
    EXPECT_EQ(list.at(2).name, "Mine001");
    EXPECT_EQ(list.at(1).width, 640);

    // Yes replaces the user template.
    ui.answers = {Answer::Yes};
    int at = list.addToList(makeTemplate("Mine", 1024), ui);
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list.at(size_t(at)).width, 1024);
    EXPECT_EQ(list.findByName("mine")->width, 1024) << "lookup by name ignores case";

    // A built-in's name is bumped without a question.
    size_t questions = ui.asked.size();
    list.addToList(makeTemplate("VHS Quality, 30 fps movie", 720), ui);
    EXPECT_EQ(ui.asked.size(), questions);
    EXPECT_NE(list.findByName("VHS Quality, 30 fps movie001"), nullptr);
}

TEST(TemplateListTest, CancelKeepsTheUserTemplateWithTheSameSettings)
{
    TemplateList list;
    list.append(makeTemplate("Mine", 640));
    list.append(makeTemplate("Wide", 800));
    ScriptedUserInterface ui;
    ui.answers = {Answer::Cancel};
    // "Wide" has the same settings and would make way; the name clash with "Mine" is cancelled.
    EXPECT_EQ(list.addToList(makeTemplate("Mine", 800), ui), -1);
    ASSERT_EQ(list.size(), 2u);
    EXPECT_EQ(list.at(1).name, "Wide");
    EXPECT_EQ(list.at(1).width, 800);
}

TEST(TemplateListTest, AfterNoEveryFurtherClashIsRenamed)
{
    TemplateList list;
    list.append(makeTemplate("T", 100));
    list.append(makeTemplate("T001", 200));
    ScriptedUserInterface ui;
    ui.answers = {Answer::No};
    list.addToList(makeTemplate("T", 300), ui);
    EXPECT_EQ(ui.asked.size(), 1u);
    EXPECT_EQ(list.at(2).name, "T002");
}

TEST(TemplateListTest, SortKeepsBuiltInsFirst)
{
    TemplateList list;
    list.append(makeTemplate("b", 1, true));
    list.append(makeTemplate("a", 2, true));
    list.append(makeTemplate("D", 3));
    list.append(makeTemplate("C", 4));
    list.sortList();
    EXPECT_EQ(list.at(0).name, "a");
    EXPECT_EQ(list.at(1).name, "b");
    EXPECT_EQ(list.at(2).name, "C");
    EXPECT_EQ(list.builtInCount(), 2u);
}

TEST(TemplateListTest, StreamKeepsUserOrBuiltInGroup)
{
    TemplateList list;
    list.append(makeTemplate("sys", 1, true));
    storage::MemoryStream ms;
    storage::StreamWriter w(ms);
    list.writeStream(w, false);
    EXPECT_EQ(ms.bytes(), std::vector<uint8_t>({2, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0}))
        << "no user templates: count 0";

    list.append(makeTemplate("user", 2));
    ms.clear();
    list.writeStream(w, false);
    ms.rewind();
    TemplateList back;
    storage::StreamReader r(ms);
    ASSERT_TRUE(back.readStream(r, false));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back.at(0).name, "user");

    storage::MemoryStream bad(std::vector<uint8_t>{3, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0});
    storage::StreamReader rb(bad);
    EXPECT_FALSE(back.readStream(rb, false)) << "magic must be 2";
}

#include <cstdlib>
#include <filesystem>

namespace {
std::string tempDir(const char* name)
{
    const char* base = std::getenv("ZEF_TEST_TMP");
    std::filesystem::path p = std::filesystem::path(base ? base : "/tmp") / name;
    std::filesystem::create_directories(p);
    return p.string();
}
} // namespace

TEST(TemplateFiles, UserFileRoundTripAndBadMagic)
{
    std::string dir = tempDir("templates");
    TemplateList list;
    list.append(makeTemplate("sys", 1, true));
    list.append(makeTemplate("mine", 2));
    ASSERT_TRUE(list.saveFile(dir, "User", false));

    TemplateList back;
    ASSERT_TRUE(back.loadFile(dir, "User", false));
    ASSERT_EQ(back.size(), 1u);
    EXPECT_EQ(back.at(0).name, "mine");
    EXPECT_FALSE(back.at(0).builtIn);

    EXPECT_FALSE(back.loadFile(dir, "Missing", true));
    EXPECT_EQ(back.size(), 1u);

    // A file whose magic is not 2 loads nothing.
    ASSERT_EQ(writeCompoundStreamAtomically(dir + "/Bad.tmpl", "Header",
                                            {3, 0, 0, 0, 9, 0, 0, 0, 0, 0, 0, 0}),
              0);
    EXPECT_FALSE(back.loadFile(dir, "Bad", false));
    EXPECT_EQ(back.size(), 1u);
}

TEST(TemplateFiles, ShippedSystemFileStartsWithTheDefaultTemplate)
{
    TemplateList list;
    ASSERT_TRUE(list.loadFile(ZEF_DATA_DIR, "System", true));
    ASSERT_GT(list.size(), 3u);
    EXPECT_EQ(list.defaultTemplate()->name, "VHS Quality, 30 fps movie");
    EXPECT_TRUE(list.at(0).builtIn);
    EXPECT_NE(list.findByName("vhs quality, 30 FPS movie"), nullptr);
}
