#include "platform/movies/atom_container.h"
#include "platform/movies/big_endian.h"
#include "platform/movies/region.h"

#include <gtest/gtest.h>

using namespace zef::movies;

namespace {

std::vector<uint8_t> bytesOf(const Handle& h) { return {h.bytes().begin(), h.bytes().end()}; }

// One 20-byte atom header followed by nothing.
void appendHeader(std::vector<uint8_t>& out, uint32_t size, FourCC type, int32_t id,
                  uint16_t children)
{
    appendBE32(out, size);
    appendBE32(out, type);
    appendBE32(out, uint32_t(id));
    appendBE16(out, 0);
    appendBE16(out, children);
    appendBE32(out, 0);
}

std::vector<uint8_t> fourBytes(FourCC v)
{
    std::vector<uint8_t> b(4);
    putBE32(b.data(), v);
    return b;
}

} // namespace

TEST(RegionTest, UnionIntersectionAndCanonicalForm)
{
    const Region a(Rect{0, 0, 10, 10});
    const Region b(Rect{5, 5, 15, 15});
    const Region u = a.united(b);
    EXPECT_EQ(u.bounds(), (Rect{0, 0, 15, 15}));
    EXPECT_EQ(u.area(), 100 + 100 - 25);
    EXPECT_TRUE(u.contains(12, 12));
    EXPECT_FALSE(u.contains(12, 2)) << "the notch outside both rectangles";
    EXPECT_EQ(a.intersected(b), Region(Rect{5, 5, 10, 10}));
    EXPECT_TRUE(a.intersected(Region(Rect{20, 20, 30, 30})).isEmpty());

    // Two halves make the same region as the whole: the form is canonical.
    const Region halves = Region(Rect{0, 0, 5, 10}).united(Region(Rect{5, 0, 10, 10}));
    EXPECT_EQ(halves, a);
    EXPECT_TRUE(halves.isRectangular());
    EXPECT_TRUE(u.contains(Rect{0, 0, 10, 10}));
    EXPECT_FALSE(u.contains(Rect{0, 0, 15, 15}));

    const Region hole = Region(Rect{0, 0, 30, 30}).subtracted(Region(Rect{10, 10, 20, 20}));
    EXPECT_EQ(hole.area(), 900 - 100);
    EXPECT_FALSE(hole.contains(15, 15));
    EXPECT_TRUE(Region(Rect{3, 3, 3, 9}).isEmpty());
    EXPECT_EQ(Region().bounds(), Rect{});
}

TEST(RegionTest, PackedRectangularRecord)
{
    const std::vector<uint8_t> packed = packRectRegion(Rect{10, 20, 330, 260});
    EXPECT_EQ(packed, (std::vector<uint8_t>{0, 10, 0, 20, 0, 10, 1, 4, 1, 74}));
    EXPECT_EQ(unpackRectRegion(packed), Region(Rect{10, 20, 330, 260}));
    EXPECT_FALSE(unpackRectRegion(std::span(packed).first(9)));
    std::vector<uint8_t> complex = packed;
    complex[1] = 28; // a region with scan lines: not handled here
    EXPECT_FALSE(unpackRectRegion(complex));
}

TEST(AtomContainerLayout, EffectDescriptionBytes)
{
    AtomContainer c;
    ASSERT_EQ(
        c.insertChild(kParentAtomIsContainer, fourcc("what"), 1, 0, fourBytes(fourcc("dslv"))),
        noErr);
    ASSERT_EQ(
        c.insertChild(kParentAtomIsContainer, fourcc("src "), 1, 0, fourBytes(fourcc("srcA"))),
        noErr);
    ASSERT_EQ(
        c.insertChild(kParentAtomIsContainer, fourcc("src "), 2, 0, fourBytes(fourcc("srcB"))),
        noErr);

    std::vector<uint8_t> expected(12, 0); // 10 reserved bytes and the lock count
    appendHeader(expected, 20 + 3 * 24, fourcc("sean"), 1, 3);
    for (auto [type, id, data] : {std::tuple{"what", 1, "dslv"}, std::tuple{"src ", 1, "srcA"},
                                  std::tuple{"src ", 2, "srcB"}}) {
        appendHeader(expected, 24, fourcc(*reinterpret_cast<const char(*)[5]>(type)), id, 0);
        expected.insert(expected.end(), data, data + 4);
    }
    EXPECT_EQ(bytesOf(c.flatten()), expected);
    EXPECT_EQ(c.flattenedSize(), 104u);

    AtomContainer back;
    ASSERT_EQ(AtomContainer::parse(expected, back), noErr);
    EXPECT_EQ(back, c);
    EXPECT_EQ(bytesOf(back.flatten()), expected);
}

TEST(AtomContainerLayout, NestedInputMapEntryAndEmptyContainer)
{
    AtomContainer empty;
    std::vector<uint8_t> expectedEmpty(12, 0);
    appendHeader(expectedEmpty, 20, fourcc("sean"), 1, 0);
    EXPECT_EQ(bytesOf(empty.flatten()), expectedEmpty);

    AtomContainer c;
    QTAtom in = 0;
    ASSERT_EQ(c.insertChild(kParentAtomIsContainer, 0x696E, 2, 0, {}, &in), noErr);
    ASSERT_EQ(c.insertChild(in, 0x7479, 1, 0, fourBytes(fourcc("vide"))), noErr);
    ASSERT_EQ(c.insertChild(in, fourcc("dtst"), 1, 0, fourBytes(fourcc("srcA"))), noErr);
    const std::vector<uint8_t> b = bytesOf(c.flatten());
    ASSERT_EQ(b.size(), 12u + 20 + 20 + 24 + 24);
    EXPECT_EQ(getBE32(&b[12]), 88u);     // root size
    EXPECT_EQ(getBE16(&b[12 + 14]), 1);  // root child count
    EXPECT_EQ(getBE32(&b[32]), 68u);     // 'in' size
    EXPECT_EQ(getBE32(&b[36]), 0x696Eu); // 'in' type
    EXPECT_EQ(getBE32(&b[40]), 2u);      // its ID = the reference index
    EXPECT_EQ(getBE16(&b[46]), 2);       // two children
    EXPECT_EQ(getBE32(&b[52]), 24u);     // 'ty' leaf
    EXPECT_EQ(getBE32(&b[56]), 0x7479u);
    EXPECT_EQ(getBE32(&b[72]), fourcc("vide"));
    EXPECT_EQ(getBE32(&b[80]), fourcc("dtst"));
    EXPECT_EQ(getBE32(&b[96]), fourcc("srcA"));
}

TEST(AtomContainerOps, IndexesIdsAndLeafRules)
{
    AtomContainer c;
    const FourCC t = fourcc("name");
    QTAtom a = 0, b = 0, x = 0;
    ASSERT_EQ(c.insertChild(0, t, 0, 0, {}, &a), noErr); // id picked: 1
    ASSERT_EQ(c.insertChild(0, fourcc("othr"), 7, 0), noErr);
    ASSERT_EQ(c.insertChild(0, t, 0, 1, {}, &b), noErr); // before the first 'name': id 2
    QTAtomID id = 0;
    EXPECT_EQ(c.findChildByIndex(0, t, 1, &id), b);
    EXPECT_EQ(id, 2);
    EXPECT_EQ(c.findChildByIndex(0, t, 2, &id), a);
    EXPECT_EQ(id, 1);
    int16_t index = 0;
    EXPECT_EQ(c.findChildByID(0, t, 1, &index), a);
    EXPECT_EQ(index, 2);
    EXPECT_EQ(c.countChildrenOfType(0, t), 2);
    EXPECT_EQ(c.countChildrenOfType(0, 0), 3);
    EXPECT_EQ(c.nextChildType(0, 0), t);
    EXPECT_EQ(c.nextChildType(0, t), fourcc("othr"));
    EXPECT_EQ(c.nextChildType(0, fourcc("othr")), 0u);

    EXPECT_EQ(c.insertChild(0, t, 1, 0), duplicateAtomTypeAndIDErr);
    EXPECT_EQ(c.insertChild(0, t, 9, 4), atomIndexInvalidErr);
    EXPECT_EQ(c.insertChild(0, 0, 9, 0), invalidAtomTypeErr);
    EXPECT_EQ(c.setAtomID(a, 2), duplicateAtomTypeAndIDErr);

    const uint8_t data[] = {1, 2, 3};
    ASSERT_EQ(c.setAtomData(a, data), noErr);
    EXPECT_EQ(c.insertChild(a, t, 1, 0), cannotBeLeafAtomErr);
    ASSERT_EQ(c.insertChild(b, t, 1, 0, {}, &x), noErr);
    EXPECT_EQ(c.setAtomData(b, data), notLeafAtomErr);
    std::vector<uint8_t> got;
    EXPECT_EQ(c.getAtomData(b, got), notLeafAtomErr);
    ASSERT_EQ(c.getAtomData(a, got), noErr);
    EXPECT_EQ(got, std::vector<uint8_t>(data, data + 3));

    // Removing b takes x with it; both references go stale, others stay valid.
    ASSERT_EQ(c.removeAtom(b), noErr);
    EXPECT_FALSE(c.isValid(b));
    EXPECT_FALSE(c.isValid(x));
    EXPECT_EQ(c.setAtomData(x, data), invalidAtomErr);
    QTAtom reused = 0;
    ASSERT_EQ(c.insertChild(0, fourcc("new "), 1, 0, {}, &reused), noErr);
    EXPECT_NE(reused, b) << "a recycled slot gets a new reference";
    EXPECT_FALSE(c.isValid(b));
    EXPECT_TRUE(c.isValid(a));
    EXPECT_EQ(c.removeAtom(kParentAtomIsContainer), invalidAtomErr);
    EXPECT_EQ(c.atomCount(), 3u);
}

TEST(AtomContainerOps, CopyBetweenContainersAndOverwrite)
{
    AtomContainer settings;
    QTAtom vide = 0;
    ASSERT_EQ(settings.findOrInsert(0, fourcc("vide"), 1, &vide), noErr);
    const uint8_t rate[] = {0, 25};
    ASSERT_EQ(settings.setLeaf(vide, fourcc("vsvr"), 1, rate), noErr);
    const uint8_t rate2[] = {0, 30};
    QTAtom leaf = 0;
    ASSERT_EQ(settings.setLeaf(vide, fourcc("vsvr"), 1, rate2, &leaf), noErr);
    EXPECT_EQ(settings.countChildrenOfType(vide, fourcc("vsvr")), 1) << "overwritten, not added";
    uint16_t v = 0;
    ASSERT_EQ(settings.getAtomUInt16BE(leaf, &v), noErr);
    EXPECT_EQ(v, 30);
    EXPECT_EQ(settings.findPath(0, {{fourcc("vide"), 1}, {fourcc("vsvr"), 1}}), leaf);
    EXPECT_EQ(settings.findPath(0, {{fourcc("vide"), 2}}), 0u);

    AtomContainer other;
    QTAtom copied = 0;
    ASSERT_EQ(other.copySubtree(settings, vide, 0, 0, &copied), noErr);
    EXPECT_EQ(other, settings);
    EXPECT_EQ(other.copySubtree(settings, vide, 0, 0), duplicateAtomTypeAndIDErr);

    AtomContainer single;
    ASSERT_EQ(settings.copyAtom(vide, single), noErr);
    EXPECT_EQ(single, settings);

    AtomContainer merged;
    ASSERT_EQ(merged.insertChild(0, fourcc("brdc"), 1, 0), noErr);
    ASSERT_EQ(merged.insertChildren(merged.findChildByID(0, fourcc("brdc"), 1), settings), noErr);
    EXPECT_NE(merged.findPath(0, {{fourcc("brdc"), 1}, {fourcc("vide"), 1}, {fourcc("vsvr"), 1}}),
              0u);
    // Copying an atom into its own subtree is refused instead of recursing forever.
    QTAtom brdc = merged.findChildByID(0, fourcc("brdc"), 1);
    QTAtom inner = merged.findChildByID(brdc, fourcc("vide"), 1);
    AtomContainer before = merged;
    EXPECT_EQ(merged.copySubtree(merged, brdc, inner, 0), noErr)
        << "copying from itself works on a snapshot";
    EXPECT_NE(merged, before);
}

TEST(AtomContainerParse, MalformedDataIsRefused)
{
    AtomContainer good;
    QTAtom p = 0;
    ASSERT_EQ(good.insertChild(0, fourcc("prnt"), 1, 0, {}, &p), noErr);
    ASSERT_EQ(good.insertChild(p, fourcc("leaf"), 1, 0, fourBytes(42)), noErr);
    ASSERT_EQ(good.insertChild(p, fourcc("leaf"), 2, 0, fourBytes(43)), noErr);
    const std::vector<uint8_t> valid = bytesOf(good.flatten());
    AtomContainer out;
    ASSERT_EQ(AtomContainer::parse(valid, out), noErr);

    // Every shorter prefix is refused.
    for (size_t n = 0; n < valid.size(); ++n) {
        EXPECT_EQ(AtomContainer::parse(std::span(valid.data(), n), out), invalidAtomContainerErr)
            << n;
    }
    // Trailing bytes after the root are refused too.
    std::vector<uint8_t> longer = valid;
    longer.push_back(0);
    EXPECT_EQ(AtomContainer::parse(longer, out), invalidAtomContainerErr);

    auto patched = [&](size_t at, uint32_t v, bool sixteen) {
        std::vector<uint8_t> b = valid;
        sixteen ? putBE16(&b[at], uint16_t(v)) : putBE32(&b[at], v);
        return b;
    };
    const size_t prnt = 32, leaf1 = 52;
    EXPECT_EQ(AtomContainer::parse(patched(prnt + 14, 3, true), out), invalidAtomContainerErr)
        << "more children counted than present";
    EXPECT_EQ(AtomContainer::parse(patched(prnt + 14, 1, true), out), invalidAtomContainerErr)
        << "fewer children counted than present";
    EXPECT_EQ(AtomContainer::parse(patched(leaf1, 19, false), out), invalidAtomContainerErr)
        << "an atom smaller than its header";
    EXPECT_EQ(AtomContainer::parse(patched(leaf1, 0xFFFFFFF0u, false), out),
              invalidAtomContainerErr)
        << "an atom larger than its parent";
    EXPECT_EQ(AtomContainer::parse(patched(12 + 14, 0, true), out), invalidAtomContainerErr)
        << "a root holding data";

    // Nesting beyond the depth limit.
    const int depth = AtomContainer::kMaxDepth + 2;
    std::vector<uint8_t> deep(12, 0);
    for (int k = 0; k < depth; ++k) {
        const uint32_t size = uint32_t(20 * (depth - k));
        appendHeader(deep, size, k == 0 ? fourcc("sean") : fourcc("deep"), 1,
                     k + 1 < depth ? 1 : 0);
    }
    EXPECT_EQ(AtomContainer::parse(deep, out), invalidAtomContainerErr);
    EXPECT_EQ(out, good) << "a refused parse leaves the target alone";
    EXPECT_EQ(AtomContainer::fromHandle(Handle(), out), invalidAtomContainerErr);

    // Any single corrupted byte either parses or is refused; nothing else happens.
    for (size_t at = 0; at < valid.size(); ++at) {
        std::vector<uint8_t> b = valid;
        b[at] ^= 0xA5;
        AtomContainer any;
        const OSErr err = AtomContainer::parse(b, any);
        EXPECT_TRUE(err == noErr || err == invalidAtomContainerErr);
    }
}
