// Damaged compound files: each defect gives an error code, never a crash, a hang or a huge
// allocation. The defects are made by patching a small valid file at known places.
#include "cfb_test_util.h"

#include <cstring>

using namespace cfbtest;

namespace {

uint32_t get32(const std::vector<uint8_t>& b, size_t at)
{
    return uint32_t(b.at(at)) | uint32_t(b.at(at + 1)) << 8 | uint32_t(b.at(at + 2)) << 16 |
           uint32_t(b.at(at + 3)) << 24;
}
void set32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.at(at + size_t(i)) = uint8_t(v >> (8 * i));
}

// A valid file: streams "big" (5000 bytes, regular sectors), "small" (100 bytes, mini stream)
// and storage "st" holding stream "inner" (300 bytes).
class CorruptFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto cf = CompoundFile::create((tmp / "base.zef").string());
        ASSERT_TRUE(cf);
        Storage root = cf.value->root();
        writeAll(*root.createStream("big").value, randomBytes(5000, 1));
        writeAll(*root.createStream("small").value, randomBytes(100, 2));
        writeAll(*root.createStorage("st").value.createStream("inner").value, randomBytes(300, 3));
        ASSERT_EQ(cf.value->close(), CfbError::Ok);
        base = readFile(tmp / "base.zef");
        ASSERT_EQ(open(base), CfbError::Ok);
    }

    static size_t sectorOffset(uint32_t sector) { return (size_t(sector) + 1) * 512; }
    // Byte offset of the directory entry of that name (our writer keeps the directory in one run).
    size_t entry(const std::vector<uint8_t>& b, const std::string& name) const
    {
        size_t dir = sectorOffset(get32(b, 48));
        for (size_t at = dir; at + 128 <= b.size(); at += 128) {
            std::string n;
            for (size_t i = 0; i + 2 < b[at + 64]; i += 2)
                n += char(b[at + i]);
            if (n == name) return at;
        }
        ADD_FAILURE() << "no entry " << name;
        return 0;
    }
    size_t fatEntry(const std::vector<uint8_t>& b, uint32_t sector) const
    {
        return sectorOffset(get32(b, 76 + 4 * (sector / 128))) + 4 * (sector % 128);
    }
    size_t miniFatEntry(const std::vector<uint8_t>& b, uint32_t mini) const
    {
        return sectorOffset(get32(b, 60)) + 4 * mini;
    }

    // Opens from memory and from a file; both must agree. When the structure opens, every
    // stream is read in full as well.
    CfbError open(const std::vector<uint8_t>& bytes)
    {
        auto mem = CompoundFile::openMemory(bytes);
        writeFile(tmp / "case.zef", bytes);
        auto file = CompoundFile::open((tmp / "case.zef").string(), CompoundFile::Mode::Read);
        EXPECT_EQ(mem.error, file.error);
        if (mem) compoundTree(mem.value->root());
        return mem.error;
    }

    TempDir tmp;
    std::vector<uint8_t> base;
};

} // namespace

TEST_F(CorruptFile, HeaderDefects)
{
    EXPECT_EQ(open({}), CfbError::NotCompoundFile);
    EXPECT_EQ(open(std::vector<uint8_t>(base.begin(), base.begin() + 7)),
              CfbError::NotCompoundFile);
    EXPECT_EQ(open(std::vector<uint8_t>(base.begin(), base.begin() + 100)), CfbError::Corrupt)
        << "truncated header";
    auto b = base;
    b[0] ^= 0xFF;
    EXPECT_EQ(open(b), CfbError::NotCompoundFile) << "bad magic";
    b = base;
    b[28] = 0xFF; // byte order
    EXPECT_EQ(open(b), CfbError::Corrupt);
    b = base;
    b[26] = 4; // version 4 needs 4096-byte sectors
    EXPECT_EQ(open(b), CfbError::Corrupt);
    b = base;
    b[26] = 5;
    EXPECT_EQ(open(b), CfbError::Unsupported);
    b = base;
    set32(b, 56, 1 << 20); // mini stream cutoff
    EXPECT_EQ(open(b), CfbError::Corrupt);
    b = base;
    set32(b, 44, 0xFFFFFFFF); // FAT sector count far beyond the file
    EXPECT_EQ(open(b), CfbError::Corrupt);
    b = base;
    set32(b, 76, 0x00FFFFFF); // FAT sector number out of range
    EXPECT_EQ(open(b), CfbError::Corrupt);
    b = base;
    set32(b, 48, 0x00FFFFFF); // directory start out of range
    EXPECT_EQ(open(b), CfbError::Corrupt);
}

TEST_F(CorruptFile, ChainDefects)
{
    const uint32_t big = get32(base, entry(base, "big") + 116);
    auto b = base;
    set32(b, fatEntry(b, big + 2), big); // loop back to the start
    EXPECT_EQ(open(b), CfbError::Corrupt) << "FAT loop";
    b = base;
    set32(b, fatEntry(b, big), big); // a sector pointing to itself
    EXPECT_EQ(open(b), CfbError::Corrupt);
    b = base;
    set32(b, fatEntry(b, big + 3), 0x00ABCDEF);
    EXPECT_EQ(open(b), CfbError::Corrupt) << "sector index out of range";
    b = base;
    set32(b, fatEntry(b, big + 3), 0xFFFFFFFF);
    EXPECT_EQ(open(b), CfbError::Corrupt) << "free sector inside a chain";
    b = base;
    set32(b, entry(b, "big") + 116, 0x7FFFFFF0);
    EXPECT_EQ(open(b), CfbError::Corrupt) << "start sector out of range";
    b = base;
    set32(b, entry(b, "big") + 116, 0); // a FAT sector used as data
    EXPECT_EQ(open(b), CfbError::Corrupt);
    b = base;
    set32(b, fatEntry(b, big + 4), 0xFFFFFFFE); // chain shorter than the size
    EXPECT_EQ(open(b), CfbError::Corrupt);

    const uint32_t small = get32(base, entry(base, "small") + 116);
    b = base;
    set32(b, miniFatEntry(b, small), small);
    EXPECT_EQ(open(b), CfbError::Corrupt) << "mini FAT loop";
    b = base;
    set32(b, entry(b, "inner") + 116, small); // two streams on the same mini sectors
    EXPECT_EQ(open(b), CfbError::Corrupt);
    b = base;
    set32(b, entry(b, "small") + 116, 5000);
    EXPECT_EQ(open(b), CfbError::Corrupt) << "mini sector beyond the mini stream";

    // DIFAT: claim more FAT sectors than the header lists, with a DIFAT chain that loops.
    b = base;
    set32(b, 44, 110);
    set32(b, 68, big);
    set32(b, 72, 1);
    for (uint32_t i = 0; i < 128; ++i)
        set32(b, sectorOffset(big) + 4 * i, big);
    EXPECT_EQ(open(b), CfbError::Corrupt) << "DIFAT loop";
}

TEST_F(CorruptFile, DirectoryDefects)
{
    const size_t root = entry(base, "Root Entry");
    const uint32_t top = get32(base, root + 76);
    auto b = base;
    set32(b, root + 76 + 0, top);
    set32(b, entry(b, "small") + 68, top); // a sibling pointing back up the tree
    set32(b, entry(b, "small") + 72, top);
    set32(b, entry(b, "st") + 68, top);
    EXPECT_EQ(open(b), CfbError::Corrupt) << "directory cycle";
    b = base;
    set32(b, entry(b, "st") + 76, 0); // a storage whose child is the root
    EXPECT_EQ(open(b), CfbError::Corrupt);
    b = base;
    set32(b, entry(b, "st") + 76, 0x01000000);
    EXPECT_EQ(open(b), CfbError::Corrupt) << "entry number out of range";
    b = base;
    b[entry(b, "big") + 66] = 7;
    EXPECT_EQ(open(b), CfbError::Corrupt) << "unknown entry type";
    b = base;
    b[root + 66] = 1;
    EXPECT_EQ(open(b), CfbError::Corrupt) << "first entry is not the root";
    b = base;
    b[entry(b, "big") + 64] = 200;
    EXPECT_EQ(open(b), CfbError::Corrupt) << "name length";
    b = base;
    set32(b, entry(b, "small") + 76, get32(b, entry(b, "st") + 76));
    EXPECT_EQ(open(b), CfbError::Corrupt) << "a stream with children";
    b = base;
    const size_t small = entry(b, "small");
    std::memcpy(&b[small], u"BIG", 8); // "BIG" beside "big"
    b[small + 64] = 8;
    EXPECT_EQ(open(b), CfbError::Corrupt) << "two siblings with the same name";
}

TEST_F(CorruptFile, SizeDefectsAndTruncation)
{
    auto b = base;
    set32(b, entry(b, "big") + 120, 0x7FFFFFFF);
    EXPECT_EQ(open(b), CfbError::Corrupt) << "size far beyond the chain";
    b = base;
    set32(b, entry(b, "Root Entry") + 120, 0xFFFFFF00);
    EXPECT_EQ(open(b), CfbError::Corrupt) << "huge mini stream";
    // Version 3 readers ignore the high half of a size that old writers left undefined.
    b = base;
    set32(b, entry(b, "small") + 124, 0xDEADBEEF);
    EXPECT_EQ(open(b), CfbError::Ok);
    // The last sector may be short (some writers do not pad it), but not the data in it: the
    // file ends with the last sector of "big", 392 bytes of data and 120 of padding.
    b.assign(base.begin(), base.end() - 100);
    EXPECT_EQ(open(b), CfbError::Ok);
    for (size_t cut : {base.size() - 200, base.size() - 600, size_t(2048), size_t(513)}) {
        b.assign(base.begin(), base.begin() + ptrdiff_t(cut));
        EXPECT_EQ(open(b), CfbError::Corrupt) << "truncated to " << cut;
    }
}

// Random damage to a few files made here: whatever happens, nothing crashes or hangs and the
// result is either a readable file or an error. (The fuzzer does this at length.)
TEST_F(CorruptFile, RandomDamageNeverCrashes)
{
    std::vector<std::vector<uint8_t>> seeds = {base};
    {
        auto cf = CompoundFile::create((tmp / "seed2.zef").string());
        Storage st = cf.value->root();
        for (int i = 0; i < 3; ++i)
            st = st.createStorage("s" + std::to_string(i)).value;
        for (int i = 0; i < 9; ++i)
            writeAll(*st.createStream("x" + std::to_string(i)).value,
                     randomBytes(size_t(i) * 700, 9));
        cf.value->close();
        seeds.push_back(readFile(tmp / "seed2.zef"));
    }
    std::mt19937 rng(1234);
    int opened = 0;
    for (int round = 0; round < 3000; ++round) {
        auto b = seeds[size_t(round) % seeds.size()];
        int flips = 1 + int(rng() % 6);
        for (int k = 0; k < flips; ++k) {
            // Mostly the structure (header, FAT, directory), sometimes anywhere.
            size_t at = rng() % 4 ? rng() % std::min<size_t>(b.size(), 3072) : rng() % b.size();
            b[at] = rng() % 3 ? uint8_t(rng()) : 0xFF;
        }
        auto r = CompoundFile::openMemory(std::move(b));
        if (r) {
            ++opened;
            compoundTree(r.value->root());
            MemoryStream again;
            ASSERT_EQ(r.value->saveTo(again), CfbError::Ok);
            auto back = CompoundFile::openMemory(again.takeBytes());
            ASSERT_TRUE(back) << "what we read must be writable and readable again";
            EXPECT_EQ(compoundTree(back.value->root()), compoundTree(r.value->root()));
        }
    }
    EXPECT_GT(opened, 0);
}
