// Atom containers: trees of typed atoms, as used for effect descriptions, input maps, tween
// samples and export settings.
//
// Every atom has a four-char type, a 32-bit ID (unique among its siblings of that type when
// made here) and a 1-based index among its siblings of that type (their order). An atom holds
// either children or leaf data (possibly empty), never both.
//
// Flattened layout (all big-endian), byte-compatible with stored settings and descriptions:
//   container header, 12 bytes: 10 reserved bytes (0), 16-bit lock count (0);
//   then one root atom (type 'sean', ID 1); each atom is a 20-byte header
//     size (32, header included), type (32), atom ID (32), reserved (16, 0),
//     child count (16), reserved (32, 0)
//   followed by its children (child count > 0) or by its leaf data (child count 0).
// Parsing refuses, with invalidAtomContainerErr, data whose sizes do not nest exactly, whose
// child counts disagree with the bytes, that is deeper than kMaxDepth, or that is larger than
// kMaxFlattenedSize; nothing in the data is trusted before it is checked.
//
// Atoms are named by QTAtom references. Unlike offsets they stay valid while other atoms are
// inserted or removed; a reference to a removed atom is detected (invalidAtomErr) and never
// reaches another atom. The value 0 (kParentAtomIsContainer) names the root as a parent.
// Nothing needs locking. Containers are values (deep copies); not thread-safe.
#pragma once

#include "platform/movies/errors.h"
#include "platform/movies/fourcc.h"
#include "platform/movies/handle.h"

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

namespace zef::movies {

using QTAtomType = FourCC;
using QTAtomID = int32_t;
using QTAtom = uint64_t;

constexpr QTAtom kParentAtomIsContainer = 0;

class AtomContainer {
public:
    static constexpr size_t kContainerHeaderSize = 12;
    static constexpr size_t kAtomHeaderSize = 20;
    static constexpr QTAtomType kRootType = fourcc("sean");
    static constexpr int kMaxDepth = 64;                   // root = depth 0
    static constexpr size_t kMaxFlattenedSize = 64u << 20; // 64 MB
    static constexpr size_t kMaxLeafSize = 16u << 20;      // one atom's data

    AtomContainer();

    // Inserts a new atom under parent. id 0 picks an unused ID (one above the largest of that
    // type). index 0 appends after all children; 1..n+1 (n = children of that type) places it
    // before the index-th sibling of that type (n+1 = after all children). Errors:
    // invalidAtomErr (parent), invalidAtomTypeErr (type 0), atomIndexInvalidErr,
    // duplicateAtomTypeAndIDErr, cannotBeLeafAtomErr (parent holds data), paramErr (too deep
    // or too large).
    OSErr insertChild(QTAtom parent, QTAtomType type, QTAtomID id, int16_t index,
                      std::span<const uint8_t> data = {}, QTAtom* newAtom = nullptr);
    OSErr insertChild(QTAtom parent, QTAtomType type, QTAtomID id, int16_t index, const void* data,
                      size_t size, QTAtom* newAtom = nullptr);

    // The index-th (1-based) child of that type, or 0 when there is none.
    QTAtom findChildByIndex(QTAtom parent, QTAtomType type, int16_t index,
                            QTAtomID* id = nullptr) const;
    // The child of that type and ID (the first, should stored data repeat one), or 0.
    QTAtom findChildByID(QTAtom parent, QTAtomType type, QTAtomID id,
                         int16_t* index = nullptr) const;
    // Children of that type; type 0 counts all children. 0 for an invalid parent.
    int16_t countChildrenOfType(QTAtom parent, QTAtomType type) const;
    // The first child type after currentType in order of first appearance (0 starts), or 0.
    QTAtomType nextChildType(QTAtom parent, QTAtomType currentType) const;
    // Follows a path of (type, id) steps from parent; 0 when a step is missing.
    struct PathStep {
        QTAtomType type;
        QTAtomID id;
    };
    QTAtom findPath(QTAtom parent, std::initializer_list<PathStep> path) const;

    bool isValid(QTAtom atom) const;
    OSErr getTypeAndID(QTAtom atom, QTAtomType* type, QTAtomID* id) const;
    OSErr setAtomID(QTAtom atom, QTAtomID id); // duplicateAtomTypeAndIDErr on a clash

    // Leaf data. setAtomData fails with notLeafAtomErr on an atom with children.
    OSErr setAtomData(QTAtom atom, std::span<const uint8_t> data);
    OSErr getAtomData(QTAtom atom, std::vector<uint8_t>& out) const;
    // A view of the data, valid until the container next changes; empty for a bad atom.
    std::span<const uint8_t> atomData(QTAtom atom) const;
    // Reads a big-endian 32/16-bit value from leaf data of at least that size.
    OSErr getAtomUInt32BE(QTAtom atom, uint32_t* value) const;
    OSErr getAtomUInt16BE(QTAtom atom, uint16_t* value) const;

    // Overwrites the data of the child (type, id) of parent, inserting it when missing.
    OSErr setLeaf(QTAtom parent, QTAtomType type, QTAtomID id, std::span<const uint8_t> data,
                  QTAtom* atom = nullptr);
    // The child (type, id) of parent, inserted (without data) when missing.
    OSErr findOrInsert(QTAtom parent, QTAtomType type, QTAtomID id, QTAtom* atom);

    // Removes an atom with its subtree. The root cannot be removed (invalidAtomErr).
    OSErr removeAtom(QTAtom atom);
    // Removes the children of that type (0 = all) with their subtrees.
    OSErr removeChildren(QTAtom parent, QTAtomType type);

    // Copies the atom atomInSource of source, with its subtree, under parent of this
    // container (index as insertChild; IDs kept; a clash gives duplicateAtomTypeAndIDErr).
    // source may be this container (the copy is taken from a snapshot, so an atom may even be
    // copied into its own subtree).
    OSErr copySubtree(const AtomContainer& source, QTAtom atomInSource, QTAtom parent,
                      int16_t index, QTAtom* newAtom = nullptr);
    // Copies every child of source's root under parent, in order.
    OSErr insertChildren(QTAtom parent, const AtomContainer& source);
    // A new container whose root holds a copy of the atom and its subtree.
    OSErr copyAtom(QTAtom atom, AtomContainer& out) const;

    // Total number of atoms besides the root.
    size_t atomCount() const;

    // The flattened bytes; a null Handle when they would exceed kMaxFlattenedSize.
    Handle flatten() const;
    size_t flattenedSize() const;
    // Parses flattened bytes into out (out is left unchanged on failure).
    static OSErr parse(std::span<const uint8_t> bytes, AtomContainer& out);
    static OSErr fromHandle(const Handle& h, AtomContainer& out);

    friend bool operator==(const AtomContainer& a, const AtomContainer& b);

private:
    struct Node {
        QTAtomType type = 0;
        QTAtomID id = 0;
        uint32_t parent = 0;
        uint32_t generation = 0;
        bool alive = false;
        std::vector<uint32_t> children;
        std::vector<uint8_t> data;
    };

    static QTAtom makeRef(uint32_t slot, uint32_t gen) { return (QTAtom(gen) << 32) | slot; }
    // The slot of a valid reference (0 = root), or -1.
    int64_t slotOf(QTAtom atom) const;
    uint32_t allocNode();
    void freeSubtree(uint32_t slot);
    int depthOf(uint32_t slot) const;
    int subtreeHeight(uint32_t slot) const;
    size_t subtreeSize(uint32_t slot) const;
    OSErr placeChild(uint32_t parent, QTAtomType type, QTAtomID id, int16_t index,
                     uint32_t* position);
    uint32_t cloneFrom(const AtomContainer& src, uint32_t srcSlot, uint32_t parent);
    void writeAtom(uint32_t slot, std::vector<uint8_t>& out) const;
    OSErr parseAtom(std::span<const uint8_t> bytes, size_t pos, size_t end, uint32_t slot,
                    int depth);

    std::vector<Node> m_nodes; // slot 0 is the root
    std::vector<uint32_t> m_free;
};

} // namespace zef::movies
