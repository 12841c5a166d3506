#include "tools/demo/demo_command.h"

#include <gtest/gtest.h>

using namespace zef::demo;

TEST(DemoCommand, OptionsAndTheirErrors)
{
    DemoCommand cmd;
    std::string error;
    ASSERT_TRUE(parseDemoCommand({"demo/demo.zef"}, cmd, &error)) << error;
    EXPECT_EQ(cmd.output, "demo/demo.zef");
    EXPECT_EQ(cmd.options.width, 640);
    EXPECT_EQ(cmd.options.height, 480);
    EXPECT_FALSE(cmd.options.reference);
    EXPECT_TRUE(cmd.mediaDir.empty());

    ASSERT_TRUE(parseDemoCommand({"--size", "320x240", "--reference", "--media", "m", "X.ZEF"}, cmd,
                                 &error))
        << error;
    EXPECT_EQ(cmd.options.width, 320);
    EXPECT_EQ(cmd.options.height, 240);
    EXPECT_TRUE(cmd.options.reference);
    EXPECT_EQ(cmd.mediaDir, "m");
    EXPECT_EQ(cmd.output, "X.ZEF");

    ASSERT_TRUE(
        parseDemoCommand({"--dv-tape", "NTSC", "--dv-sink", "/tmp/p", "t.zef"}, cmd, &error))
        << error;
    EXPECT_EQ(cmd.options.dvTape, "NTSC");
    EXPECT_EQ(cmd.options.dvSink, "/tmp/p");

    const std::vector<std::vector<std::string>> bad = {
        {},
        {"a.zef", "b.zef"},
        {"demo.mov"},
        {".zef"},
        {"--size"},
        {"--size", "320", "a.zef"},
        {"--size", "321x240", "a.zef"},
        {"--size", "8x8", "a.zef"},
        {"--size", "8192x4096", "a.zef"},
        {"--size", "-320x240", "a.zef"},
        {"--size", "320x240x2", "a.zef"},
        {"--size", "99999999999x2", "a.zef"},
        {"--media", "", "a.zef"},
        {"--verbose", "a.zef"},
        {"--dv-tape", "SECAM", "a.zef"},
        {"--dv-tape", "PAL", "--dv-sink", "", "a.zef"},
        {"--dv-sink", "tape.dv", "a.zef"},
    };
    for (const auto& args : bad) {
        DemoCommand untouched;
        untouched.output = "kept";
        error.clear();
        EXPECT_FALSE(parseDemoCommand(args, untouched, &error))
            << (args.empty() ? "(nothing)" : args.back());
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(untouched.output, "kept") << "a failed parse leaves the command alone";
    }
}

TEST(DemoCommand, SizeText)
{
    int32_t w = 0, h = 0;
    EXPECT_TRUE(parseSize("1920x1080", w, h));
    EXPECT_EQ(w, 1920);
    EXPECT_EQ(h, 1080);
    for (const char* s : {"", "x", "1920x", "x1080", "1920X1080", " 1920x1080", "1920x1080 ",
                          "+1920x1080", "19.2x10", "123456x2"})
        EXPECT_FALSE(parseSize(s, w, h)) << "'" << s << "'";
    EXPECT_EQ(w, 1920) << "unchanged after a failure";
}
