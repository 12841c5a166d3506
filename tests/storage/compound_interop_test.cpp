// Compound files against tools we did not write: gsf (libgsf) and Python's olefile read what we
// write, and we read what gsf writes (and a version 4 file from an independent writer).
#include "cfb_test_util.h"

#include <cstring>
#include <sstream>

using namespace cfbtest;

namespace {

// A folder tree with streams of every size class: empty, mini stream, exactly the cutoff,
// regular sectors, and one of 8 MiB so that the FAT needs more than 109 sectors (DIFAT).
void makeSourceTree(const fs::path& root, bool withHuge)
{
    fs::create_directories(root / "Nested" / "Deeper");
    fs::create_directories(root / "EmptyStorage");
    writeFile(root / "Header", randomBytes(377, 1));
    writeFile(root / "empty", {});
    writeFile(root / "cutoff", randomBytes(4096, 2));
    writeFile(root / "Nested" / "medium", randomBytes(70000, 3));
    writeFile(root / "Nested" / "tiny", randomBytes(5, 4));
    writeFile(root / "Nested" / "Deeper" / "justbelow", randomBytes(4095, 5));
    for (int i = 0; i < 12; ++i)
        writeFile(root / ("item" + std::to_string(i)),
                  randomBytes(size_t(i) * 611, uint32_t(10 + i)));
    if (withHuge) writeFile(root / "Nested" / "huge", randomBytes(8 << 20, 6));
}

std::string gsfList(const fs::path& file)
{
    std::string out;
    EXPECT_EQ(run("gsf list " + quote(file.string()), &out), 0);
    return out;
}

} // namespace

TEST(CompoundInterop, GsfListsAndCatsWhatWeWrite)
{
    if (!haveGsf()) GTEST_SKIP() << "gsf (libgsf-bin) is not installed";
    TempDir tmp;
    makeSourceTree(tmp / "src", true);
    const auto file = tmp / "ours.zef";
    {
        auto cf = CompoundFile::create(file.string());
        ASSERT_TRUE(cf);
        mirrorFolder(tmp / "src", cf.value->root());
        ASSERT_EQ(cf.value->close(), CfbError::Ok);
    }
    const std::string listing = gsfList(file);
    const Tree expected = folderTree(tmp / "src");
    for (const auto& [path, content] : expected) {
        // "gsf list" prints a kind letter, a date when there is one, the size and the path.
        std::string size = content ? std::to_string(content->size()) : "0";
        bool found = false;
        std::istringstream lines(listing);
        for (std::string line; std::getline(lines, line);) {
            std::istringstream words(line);
            std::vector<std::string> w;
            for (std::string x; words >> x;)
                w.push_back(x);
            // gsf shows an empty storage with the letter of a stream.
            bool emptyStorage = !content && fs::is_empty(tmp / "src" / path);
            if (w.size() >= 3 && w.back() == path && w[w.size() - 2] == size &&
                (w[0] == (content ? "f" : "d") || emptyStorage))
                found = true;
        }
        EXPECT_TRUE(found) << path << " missing from:\n" << listing;
        if (!content) continue;
        std::string cat;
        ASSERT_EQ(run("gsf cat " + quote(file.string()) + " " + quote(path), &cat), 0) << path;
        EXPECT_TRUE(cat.size() == content->size() &&
                    std::equal(cat.begin(), cat.end(), content->begin(),
                               [](char a, uint8_t b) { return uint8_t(a) == b; }))
            << path;
    }
}

TEST(CompoundInterop, OlefileReadsWhatWeWrite)
{
    const std::string py = pythonWithOlefile();
    if (py.empty()) GTEST_SKIP() << "Python's olefile is not installed";
    TempDir tmp;
    makeSourceTree(tmp / "src", true);
    const auto file = tmp / "ours.zef";
    {
        auto cf = CompoundFile::create(file.string());
        ASSERT_TRUE(cf);
        mirrorFolder(tmp / "src", cf.value->root());
        ASSERT_EQ(cf.value->commit(), CfbError::Ok);
        // Change the file in place (remove, shrink, grow) and check again.
        Storage root = cf.value->root();
        ASSERT_EQ(root.remove("item3"), CfbError::Ok);
        fs::remove(tmp / "src" / "item3");
        auto s = root.openStream("Header");
        ASSERT_EQ(s.value->setSize(10), CfbError::Ok);
        ASSERT_TRUE(s.value->seek(10));
        writeAll(*s.value, randomBytes(9000, 99));
        auto h = randomBytes(377, 1);
        h.resize(10);
        auto more = randomBytes(9000, 99);
        h.insert(h.end(), more.begin(), more.end());
        writeFile(tmp / "src" / "Header", h);
        ASSERT_EQ(cf.value->close(), CfbError::Ok);
    }
    std::string out;
    int status = run(py + " " + quote(toolScript()) + " check " + quote(file.string()) + " " +
                         quote((tmp / "src").string()) + " 2>&1",
                     &out);
    EXPECT_EQ(status, 0) << out;
    EXPECT_EQ(out, "OK\n");
}

TEST(CompoundInterop, WeReadWhatGsfWrites)
{
    if (!haveGsf()) GTEST_SKIP() << "gsf (libgsf-bin) is not installed";
    TempDir tmp;
    makeSourceTree(tmp / "src", true);
    const auto file = tmp / "gsf.ole";
    // createole takes the entries of the top level; folders are added with their contents.
    std::string args;
    for (const auto& e : fs::directory_iterator(tmp / "src"))
        args += " " + quote(e.path().string());
    std::string out;
    ASSERT_EQ(run("gsf createole " + quote(file.string()) + args + " 2>&1", &out), 0) << out;
    // The 8 MiB stream makes gsf write DIFAT sectors too.
    auto raw = readFile(file);
    ASSERT_GT(raw.size(), 512u);
    EXPECT_GT(uint32_t(raw[44] | raw[45] << 8), 109u);

    auto cf = CompoundFile::open(file.string(), CompoundFile::Mode::Read);
    ASSERT_TRUE(cf) << errorMessage(cf.error);
    Tree got = compoundTree(cf.value->root());
    Tree expected = folderTree(tmp / "src");
    EXPECT_EQ(got.size(), expected.size());
    for (const auto& [path, content] : expected) {
        ASSERT_TRUE(got.count(path)) << path;
        EXPECT_EQ(got[path], content) << path;
    }

    // Opened for writing, a gsf file is rewritten by us and still reads the same in gsf.
    cf.value.reset();
    {
        auto rw = CompoundFile::open(file.string(), CompoundFile::Mode::ReadWrite);
        ASSERT_TRUE(rw) << errorMessage(rw.error);
        auto s = rw.value->root().createStream("added");
        writeAll(*s.value, randomBytes(1234, 42));
        ASSERT_EQ(rw.value->close(), CfbError::Ok);
    }
    std::string cat;
    ASSERT_EQ(run("gsf cat " + quote(file.string()) + " Nested/huge", &cat), 0);
    auto huge = randomBytes(8 << 20, 6);
    EXPECT_TRUE(cat.size() == huge.size() &&
                std::memcmp(cat.data(), huge.data(), huge.size()) == 0);
    ASSERT_EQ(run("gsf cat " + quote(file.string()) + " added", &cat), 0);
    EXPECT_EQ(cat.size(), 1234u);
}

TEST(CompoundInterop, WeReadVersion4FilesWith4096ByteSectors)
{
    const std::string py = pythonWithOlefile();
    if (py.empty()) GTEST_SKIP() << "Python's olefile is not installed";
    TempDir tmp;
    makeSourceTree(tmp / "src", false);
    writeFile(tmp / "src" / "Nested" / "large", randomBytes(300000, 7));
    const auto file = tmp / "v4.cfb";
    std::string out;
    // The helper writes the file and checks it with olefile before we read it.
    ASSERT_EQ(run(py + " " + quote(toolScript()) + " make-v4 " + quote(file.string()) + " " +
                      quote((tmp / "src").string()) + " 2>&1",
                  &out),
              0)
        << out;
    auto raw = readFile(file);
    ASSERT_EQ(raw[26], 4);
    auto cf = CompoundFile::open(file.string(), CompoundFile::Mode::Read);
    ASSERT_TRUE(cf) << errorMessage(cf.error);
    Tree got = compoundTree(cf.value->root());
    EXPECT_EQ(got, folderTree(tmp / "src"));
    // Saved again it becomes a version 3 file with the same contents.
    MemoryStream v3;
    ASSERT_EQ(cf.value->saveTo(v3), CfbError::Ok);
    EXPECT_EQ(v3.bytes()[26], 3);
    auto again = CompoundFile::openMemory(v3.takeBytes());
    ASSERT_TRUE(again) << errorMessage(again.error);
    EXPECT_EQ(compoundTree(again.value->root()), got);
}
