// Compound files: round trips through our own writer and reader, the storage and stream API,
// and the error codes of misuse.
#include "cfb_test_util.h"

#include <algorithm>
#include <chrono>
#include <fcntl.h>
#include <fstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace cfbtest;

namespace {

std::unique_ptr<CompoundFile> createOrDie(const fs::path& path)
{
    auto r = CompoundFile::create(path.string());
    EXPECT_TRUE(r) << errorMessage(r.error);
    return std::move(r.value);
}

std::unique_ptr<CompoundFile> openOrDie(const fs::path& path, CompoundFile::Mode mode)
{
    auto r = CompoundFile::open(path.string(), mode);
    EXPECT_TRUE(r) << errorMessage(r.error);
    return std::move(r.value);
}

uint32_t u32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b[at]) | uint32_t(b[at + 1]) << 8 | uint32_t(b[at + 2]) << 16 |
           uint32_t(b[at + 3]) << 24;
}

// Checks, from the raw bytes of a small version 3 file, that every storage's children form a
// binary search tree in the format's order (ASCII names here) with valid red-black colours.
// Returns the number of directory entries reached.
size_t checkSiblingTrees(const std::vector<uint8_t>& f)
{
    const uint32_t fatCount = u32(f, 44);
    std::vector<uint32_t> fat;
    for (uint32_t i = 0; i < fatCount && i < 109; ++i)
        for (uint32_t k = 0; k < 128; ++k)
            fat.push_back(u32(f, (u32(f, 76 + 4 * i) + 1) * 512 + 4 * k));
    std::vector<size_t> entry; // byte offset of each directory entry
    for (uint32_t s = u32(f, 48); s != 0xFFFFFFFE; s = fat.at(s))
        for (int k = 0; k < 4; ++k)
            entry.push_back((s + 1) * 512 + 128 * k);
    auto name = [&](uint32_t id) {
        std::string n;
        for (size_t i = 0; i + 2 < f[entry[id] + 64]; i += 2)
            n += char(f[entry[id] + i]);
        return n;
    };
    auto less = [](const std::string& a, const std::string& b) {
        if (a.size() != b.size()) return a.size() < b.size();
        for (size_t i = 0; i < a.size(); ++i)
            if (std::toupper(a[i]) != std::toupper(b[i]))
                return std::toupper(a[i]) < std::toupper(b[i]);
        return false;
    };
    size_t reached = 1;
    // Returns the black height, or -1 on a violation.
    std::function<int(uint32_t, const std::string*, const std::string*, bool)> check =
        [&](uint32_t id, const std::string* lo, const std::string* hi, bool parentRed) -> int {
        if (id == 0xFFFFFFFF) return 1;
        ++reached;
        const size_t e = entry.at(id);
        const bool red = f[e + 67] == 0;
        const std::string n = name(id);
        if ((lo && !less(*lo, n)) || (hi && !less(n, *hi)) || (red && parentRed)) return -1;
        int l = check(u32(f, e + 68), lo, &n, red);
        int r = check(u32(f, e + 72), &n, hi, red);
        if (l < 0 || r < 0 || l != r) return -1;
        if (f[e + 66] == 1) { // a storage: its own children
            uint32_t child = u32(f, e + 76);
            if (child != 0xFFFFFFFF &&
                (f[entry.at(child) + 67] == 0 || check(child, nullptr, nullptr, false) < 0))
                return -1;
        }
        return l + (red ? 0 : 1);
    };
    uint32_t top = u32(f, entry[0] + 76);
    if (top != 0xFFFFFFFF) {
        EXPECT_EQ(f[entry.at(top) + 67], 1) << "the root of a sibling tree must be black";
        EXPECT_GT(check(top, nullptr, nullptr, false), 0) << "sibling tree is not a red-black tree";
    }
    return reached;
}

} // namespace

TEST(CompoundRoundTrip, StreamsOfEverySizeClassReadBackExactly)
{
    TempDir tmp;
    const std::vector<size_t> sizes = {0, 1, 63, 64, 65, 4095, 4096, 4097, 100000};
    {
        auto cf = createOrDie(tmp / "sizes.zef");
        ASSERT_TRUE(cf);
        Storage root = cf->root();
        for (size_t i = 0; i < sizes.size(); ++i) {
            auto s = root.createStream("s" + std::to_string(sizes[i]));
            ASSERT_TRUE(s);
            writeAll(*s.value, randomBytes(sizes[i], uint32_t(i)), 1000);
            EXPECT_EQ(s.value->size(), int64_t(sizes[i]));
        }
        EXPECT_TRUE(cf->modified());
        ASSERT_EQ(cf->commit(), CfbError::Ok);
        EXPECT_FALSE(cf->modified());
    }
    auto cf = openOrDie(tmp / "sizes.zef", CompoundFile::Mode::Read);
    ASSERT_TRUE(cf);
    EXPECT_TRUE(cf->readOnly());
    Storage root = cf->root();
    ASSERT_EQ(root.entries().size(), sizes.size());
    for (size_t i = 0; i < sizes.size(); ++i) {
        auto s = root.openStream("S" + std::to_string(sizes[i])); // names ignore case
        ASSERT_TRUE(s) << sizes[i];
        EXPECT_EQ(readAll(*s.value), randomBytes(sizes[i], uint32_t(i))) << sizes[i];
    }
    // Reading at an arbitrary position.
    auto s = root.openStream("s100000");
    ASSERT_TRUE(s.value->seek(70001));
    uint8_t b[3];
    ASSERT_EQ(s.value->read(b, 3), 3u);
    auto expected = randomBytes(100000, 8);
    EXPECT_TRUE(std::equal(b, b + 3, expected.begin() + 70001));
    EXPECT_EQ(s.value->tell(), 70004);
}

TEST(CompoundRoundTrip, ManySiblingsFormValidRedBlackTrees)
{
    TempDir tmp;
    std::vector<std::string> names;
    for (int i = 0; i < 300; ++i) {
        std::string n = "n" + std::to_string(i * 7919 % 1000);
        if (i % 3 == 0) n += "_Long";
        if (i % 5 == 0) n = "X" + n;
        names.push_back(n);
    }
    {
        auto cf = createOrDie(tmp / "many.zef");
        Storage root = cf->root();
        auto sub = root.createStorage("Sub");
        ASSERT_TRUE(sub);
        for (size_t i = 0; i < names.size(); ++i) {
            auto s = (i % 2 ? sub.value : root).createStream(names[i]);
            ASSERT_TRUE(s) << names[i] << ": " << errorMessage(s.error);
            writeAll(*s.value, randomBytes(i * 13, uint32_t(i)));
        }
        ASSERT_EQ(cf->close(), CfbError::Ok);
    }
    EXPECT_EQ(checkSiblingTrees(readFile(tmp / "many.zef")), names.size() + 2);
    for (size_t count : {1, 2, 3, 4, 5, 6, 7, 8, 15, 16, 17}) {
        auto cf = createOrDie(tmp / "n.zef");
        for (size_t i = 0; i < count; ++i)
            cf->root().createStream("e" + std::to_string(i));
        ASSERT_EQ(cf->close(), CfbError::Ok);
        EXPECT_EQ(checkSiblingTrees(readFile(tmp / "n.zef")), count + 1) << count;
    }
    auto cf = openOrDie(tmp / "many.zef", CompoundFile::Mode::Read);
    auto sub = cf->root().openStorage("sub");
    ASSERT_TRUE(sub);
    for (size_t i = 0; i < names.size(); ++i) {
        auto s = (i % 2 ? sub.value : cf->root()).openStream(names[i]);
        ASSERT_TRUE(s) << names[i];
        EXPECT_EQ(readAll(*s.value), randomBytes(i * 13, uint32_t(i)));
    }
    // Entries come in the format's order: shorter names first.
    auto list = cf->root().entries();
    for (size_t i = 1; i < list.size(); ++i)
        EXPECT_LE(list[i - 1].name.size(), list[i].name.size());
}

TEST(CompoundRoundTrip, NestedStoragesEnumerateRemoveAndRename)
{
    TempDir tmp;
    {
        auto cf = createOrDie(tmp / "nested.zef");
        Storage st = cf->root();
        for (int depth = 0; depth < 6; ++depth) {
            auto s = st.createStream("data");
            writeAll(*s.value, randomBytes(size_t(depth) * 3000, uint32_t(depth)));
            auto sub = st.createStorage("level" + std::to_string(depth + 1));
            ASSERT_TRUE(sub);
            st = sub.value;
        }
        auto doomed = cf->root().createStorage("doomed");
        auto inDoomed = doomed.value.createStream("x");
        writeAll(*inDoomed.value, randomBytes(5000, 1));
        ASSERT_EQ(cf->root().remove("DOOMED"), CfbError::Ok);
        EXPECT_FALSE(doomed.value.valid());
        EXPECT_FALSE(inDoomed.value->valid());
        EXPECT_EQ(inDoomed.value->write("a", 1), 0u);
        EXPECT_EQ(doomed.value.createStream("y").error, CfbError::Removed);
        ASSERT_EQ(cf->root().rename("level1", "First"), CfbError::Ok);
        EXPECT_EQ(cf->root().rename("data", "first"), CfbError::AlreadyExists);
        EXPECT_EQ(cf->root().rename("nothing", "other"), CfbError::NotFound);
        // Nesting stops at 255 levels below the root.
        Storage deep = cf->root().createStorage("deep").value;
        int levels = 1;
        for (;; ++levels) {
            auto next = deep.createStorage("d");
            if (!next) {
                EXPECT_EQ(next.error, CfbError::TooLarge);
                break;
            }
            deep = next.value;
        }
        EXPECT_EQ(levels, 255);
    }
    auto cf = openOrDie(tmp / "nested.zef", CompoundFile::Mode::Read);
    Tree t = compoundTree(cf->root());
    EXPECT_EQ(t.count("doomed"), 0u);
    ASSERT_TRUE(t.count("First/level2/level3/level4/level5/level6"));
    EXPECT_EQ(*t["First/level2/level3/data"], randomBytes(9000, 3));
    EXPECT_EQ(*t["First/level2/level3/level4/level5/data"], randomBytes(15000, 5));
    EXPECT_EQ(t.size(), 12u + 255u);
}

TEST(CompoundRoundTrip, RewriteShorterLongerAndInPlace)
{
    TempDir tmp;
    const auto path = tmp / "rewrite.zef";
    {
        auto cf = createOrDie(path);
        writeAll(*cf->root().createStream("big").value, randomBytes(10000, 1));
        writeAll(*cf->root().createStream("small").value, randomBytes(100, 2));
        writeAll(*cf->root().createStream("large").value, randomBytes(3 << 20, 3));
    }
    {
        auto cf = openOrDie(path, CompoundFile::Mode::ReadWrite);
        ASSERT_TRUE(cf);
        // big → small: moves from regular sectors into the mini stream.
        auto big = cf->root().createStream("big", /*replace=*/true);
        ASSERT_TRUE(big);
        EXPECT_EQ(big.value->size(), 0);
        writeAll(*big.value, randomBytes(100, 4));
        // small → big.
        auto small = cf->root().openStream("small");
        ASSERT_TRUE(small.value->seek(100));
        writeAll(*small.value, randomBytes(20000, 5));
        // A patch in the middle of a large stream keeps the rest.
        auto large = cf->root().openStream("large");
        ASSERT_TRUE(large.value->seek(2'000'000));
        ASSERT_EQ(large.value->write("PATCH", 5), 5u);
        ASSERT_EQ(cf->commit(), CfbError::Ok);
        // Handles keep working after the commit, now reading from the new file.
        auto expectedLarge = randomBytes(3 << 20, 3);
        std::copy_n("PATCH", 5, expectedLarge.begin() + 2'000'000);
        EXPECT_EQ(readAll(*large.value), expectedLarge);
        EXPECT_EQ(large.value->setSize(1000), CfbError::Ok);
        EXPECT_EQ(large.value->setSize(5000), CfbError::Ok); // the regrown tail is zeros
    }
    auto cf = openOrDie(path, CompoundFile::Mode::Read);
    Tree t = compoundTree(cf->root());
    EXPECT_EQ(*t["big"], randomBytes(100, 4));
    auto small = randomBytes(100, 2);
    auto tail = randomBytes(20000, 5);
    small.insert(small.end(), tail.begin(), tail.end());
    EXPECT_EQ(*t["small"], small);
    auto large = randomBytes(1000, 3);
    large.resize(5000, 0);
    EXPECT_EQ(*t["large"], large);
}

TEST(CompoundRoundTrip, LargeStreamNeedsDifatAndSavesToMemoryIdentically)
{
    TempDir tmp;
    const auto path = tmp / "large.zef";
    const auto bytes = randomBytes(20 << 20, 77); // 20 MiB: more than 109 FAT sectors
    {
        auto cf = createOrDie(path);
        auto s = cf->root().createStream("Movie");
        writeAll(*s.value, bytes, 1 << 20);
        ASSERT_EQ(cf->commit(), CfbError::Ok);
        MemoryStream copy;
        ASSERT_EQ(cf->saveTo(copy), CfbError::Ok);
        EXPECT_EQ(copy.bytes(), readFile(path));
    }
    const auto raw = readFile(path);
    EXPECT_GT(u32(raw, 44), 109u) << "FAT sectors";
    EXPECT_GE(u32(raw, 72), 1u) << "DIFAT sectors";
    auto cf = openOrDie(path, CompoundFile::Mode::Read);
    auto s = cf->root().openStream("movie");
    ASSERT_TRUE(s);
    EXPECT_EQ(readAll(*s.value), bytes);
}

TEST(CompoundStreamSemantics, SeekPastEndWritesZerosAndLimitsHold)
{
    TempDir tmp;
    auto cf = createOrDie(tmp / "seek.zef");
    auto s = cf->root().createStream("s");
    ASSERT_TRUE(s.value->seek(5000));
    ASSERT_EQ(s.value->write("ab", 2), 2u);
    EXPECT_EQ(s.value->size(), 5002);
    std::vector<uint8_t> expected(5002, 0);
    expected[5000] = 'a';
    expected[5001] = 'b';
    EXPECT_EQ(readAll(*s.value), expected);
    EXPECT_FALSE(s.value->seek(-1));
    EXPECT_FALSE(s.value->seek(CompoundStream::maxSize + 1));
    ASSERT_TRUE(s.value->seek(CompoundStream::maxSize - 1));
    EXPECT_EQ(s.value->write("xyz", 3), 1u) << "a stream stops at 2 GiB";
    EXPECT_EQ(s.value->setSize(CompoundStream::maxSize + 1), CfbError::TooLarge);
    EXPECT_EQ(s.value->setSize(10), CfbError::Ok);
    EXPECT_EQ(s.value->size(), 10);
}

TEST(CompoundApi, NamesFollowTheFormatsRules)
{
    TempDir tmp;
    auto cf = createOrDie(tmp / "names.zef");
    Storage root = cf->root();
    EXPECT_TRUE(root.createStream(std::string(31, 'a')));
    EXPECT_EQ(root.createStream(std::string(32, 'b')).error, CfbError::NameTooLong);
    EXPECT_EQ(root.createStream("").error, CfbError::InvalidName);
    for (const char* bad : {"a/b", "a\\b", "a:b", "a!b", "\xff\xfe"})
        EXPECT_EQ(root.createStream(bad).error, CfbError::InvalidName) << bad;
    ASSERT_TRUE(root.createStream("Header"));
    EXPECT_EQ(root.createStream("HEADER").error, CfbError::AlreadyExists);
    EXPECT_EQ(root.createStorage("header").error, CfbError::AlreadyExists);
    EXPECT_EQ(root.createStream("header", true).error, CfbError::Ok);
    // Non-ASCII names survive and compare ignoring case too.
    ASSERT_TRUE(root.createStorage("été Съёмка"));
    EXPECT_TRUE(root.openStorage("ÉTÉ СЪЁМКА"));
    // 31 UTF-16 units: 15 characters outside the basic plane take 30, plus one.
    std::string astral;
    for (int i = 0; i < 15; ++i)
        astral += "\xF0\x9F\x8E\xAC";
    EXPECT_TRUE(root.createStream(astral + "x"));
    EXPECT_EQ(root.createStream(astral + "xy").error, CfbError::NameTooLong);
    ASSERT_EQ(cf->close(), CfbError::Ok);

    auto back = openOrDie(tmp / "names.zef", CompoundFile::Mode::Read);
    EXPECT_TRUE(back->root().stat("été Съёмка"));
    EXPECT_TRUE(back->root().stat(astral + "x"));
    EXPECT_EQ(back->root().stat("été Съёмка")->type, EntryInfo::Type::Storage);
}

TEST(CompoundApi, ErrorsOfMisuseAndOfTheFileSystem)
{
    TempDir tmp;
    EXPECT_EQ(CompoundFile::open((tmp / "missing.zef").string(), CompoundFile::Mode::Read).error,
              CfbError::FileNotFound);
    EXPECT_EQ(CompoundFile::create((tmp / "no/such/dir.zef").string()).error,
              CfbError::FileNotFound);
    EXPECT_EQ(CompoundFile::open(tmp.path().string(), CompoundFile::Mode::Read).error,
              CfbError::NotCompoundFile);
    writeFile(tmp / "text.zef", std::vector<uint8_t>(600, 'x'));
    EXPECT_EQ(CompoundFile::open((tmp / "text.zef").string(), CompoundFile::Mode::Read).error,
              CfbError::NotCompoundFile);

    {
        auto cf = createOrDie(tmp / "f.zef");
        auto st = cf->root().createStorage("st");
        writeAll(*cf->root().createStream("s").value, randomBytes(10, 1));
        EXPECT_EQ(cf->root().openStream("st").error, CfbError::WrongType);
        EXPECT_EQ(cf->root().openStorage("s").error, CfbError::WrongType);
        EXPECT_EQ(cf->root().openStream("none").error, CfbError::NotFound);
        EXPECT_EQ(cf->root().remove("none"), CfbError::NotFound);
        ASSERT_EQ(cf->commit(), CfbError::Ok);
        // A second writer or reader is refused while this one holds the file.
        EXPECT_EQ(CompoundFile::open((tmp / "f.zef").string(), CompoundFile::Mode::ReadWrite).error,
                  CfbError::Locked);
        EXPECT_EQ(CompoundFile::open((tmp / "f.zef").string(), CompoundFile::Mode::Read).error,
                  CfbError::Locked);
        EXPECT_EQ(CompoundFile::create((tmp / "f.zef").string()).error, CfbError::Locked);
        // The destructor commits what is pending.
        writeAll(*cf->root().createStream("later").value, randomBytes(20, 2));
    }
    {
        auto a = openOrDie(tmp / "f.zef", CompoundFile::Mode::Read);
        auto b = openOrDie(tmp / "f.zef", CompoundFile::Mode::Read); // readers share
        ASSERT_TRUE(a && b);
        auto s = a->root().openStream("s");
        ASSERT_TRUE(s);
        EXPECT_EQ(readAll(*s.value), randomBytes(10, 1));
        EXPECT_EQ(readAll(*b->root().openStream("later").value), randomBytes(20, 2));
        EXPECT_EQ(s.value->write("x", 1), 0u);
        EXPECT_EQ(s.value->setSize(0), CfbError::ReadOnly);
        EXPECT_EQ(a->root().createStream("t").error, CfbError::ReadOnly);
        EXPECT_EQ(a->root().remove("s"), CfbError::ReadOnly);
        EXPECT_EQ(a->commit(), CfbError::ReadOnly);
        // Closing invalidates handles; they fail instead of crashing.
        Storage st = a->root();
        a.reset();
        EXPECT_FALSE(s.value->valid());
        EXPECT_EQ(s.value->size(), -1);
        uint8_t c;
        EXPECT_EQ(s.value->read(&c, 1), 0u);
        EXPECT_TRUE(st.entries().empty());
        EXPECT_EQ(st.openStream("s").error, CfbError::Removed);
    }
    // create replaces whatever file was there, but only once the new file is complete.
    auto cf = createOrDie(tmp / "text.zef");
    EXPECT_TRUE(cf->root().entries().empty());
    EXPECT_EQ(readFile(tmp / "text.zef"), std::vector<uint8_t>(600, 'x'));
    cf.reset();
    EXPECT_TRUE(openOrDie(tmp / "text.zef", CompoundFile::Mode::Read));
    auto replaced = createOrDie(tmp / "f.zef");
    writeAll(*replaced->root().createStream("new").value, randomBytes(10, 5));
    {
        auto old = openOrDie(tmp / "f.zef", CompoundFile::Mode::Read);
        EXPECT_TRUE(old->root().stat("s")) << "the old file stays until the commit";
    }
    ASSERT_EQ(replaced->commit(), CfbError::Ok);
    replaced.reset();
    auto now = openOrDie(tmp / "f.zef", CompoundFile::Mode::Read);
    EXPECT_FALSE(now->root().stat("s"));
    EXPECT_TRUE(now->root().stat("new"));
    EXPECT_EQ(errorMessage(CfbError::NotCompoundFile), std::string("not a compound file"));
}

TEST(CompoundApi, PermissionsAndFolderFallback)
{
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not apply to the superuser";
    TempDir tmp;
    const auto dir = tmp / "ro";
    fs::create_directories(dir);
    {
        auto cf = createOrDie(dir / "p.zef");
        writeAll(*cf->root().createStream("s").value, randomBytes(9000, 1));
    }
    ::chmod((dir / "p.zef").c_str(), 0000);
    EXPECT_EQ(CompoundFile::open((dir / "p.zef").string(), CompoundFile::Mode::Read).error,
              CfbError::AccessDenied);
    ::chmod((dir / "p.zef").c_str(), 0644);
    // A folder we may not write to: the file is rewritten in place.
    ::chmod(dir.c_str(), 0555);
    {
        auto cf = openOrDie(dir / "p.zef", CompoundFile::Mode::ReadWrite);
        auto s = cf->root().openStream("s");
        ASSERT_TRUE(s.value->seek(9000));
        writeAll(*s.value, randomBytes(100, 2));
        EXPECT_EQ(cf->commit(), CfbError::Ok);
        EXPECT_EQ(CompoundFile::create((dir / "new.zef").string()).error, CfbError::AccessDenied);
    }
    ::chmod(dir.c_str(), 0755);
    auto cf = openOrDie(dir / "p.zef", CompoundFile::Mode::Read);
    auto expected = randomBytes(9000, 1);
    auto tail = randomBytes(100, 2);
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(readAll(*cf->root().openStream("s").value), expected);
}

TEST(CompoundApi, ASaveClearsWhatAnUnfinishedSaveLeft)
{
    TempDir tmp;
    const auto path = tmp / "left.zef";
    {
        auto cf = createOrDie(path);
        writeAll(*cf->root().createStream("s").value, randomBytes(100, 1));
    }
    auto leftover = [&](const std::string& name, std::chrono::minutes age) {
        const fs::path p = tmp / name;
        std::ofstream(p) << "half a project";
        fs::last_write_time(p, fs::file_time_type::clock::now() - age);
        return p;
    };
    const fs::path killed = leftover(".left.zef.0badc0de.tmp", std::chrono::minutes(60));
    const fs::path writing = leftover(".left.zef.12345678.tmp", std::chrono::minutes(0));
    const fs::path locked = leftover(".left.zef.feedf00d.tmp", std::chrono::minutes(60));
    const fs::path other = leftover(".other.zef.0badc0de.tmp", std::chrono::minutes(60));
    const int held = ::open(locked.c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0); // another program still writing it

    {
        auto cf = openOrDie(path, CompoundFile::Mode::ReadWrite);
        writeAll(*cf->root().createStream("t").value, randomBytes(10, 2));
        ASSERT_EQ(cf->commit(), CfbError::Ok);
    }
    ::close(held);
    EXPECT_FALSE(fs::exists(killed));
    EXPECT_TRUE(fs::exists(writing));
    EXPECT_TRUE(fs::exists(locked));
    EXPECT_TRUE(fs::exists(other));
    EXPECT_TRUE(compoundTree(openOrDie(path, CompoundFile::Mode::Read)->root())["t"]);
}
