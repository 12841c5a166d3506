#include "platform/movies/atom_container.h"

#include "platform/movies/big_endian.h"

#include <algorithm>
#include <cstring>

namespace zef::movies {

AtomContainer::AtomContainer()
{
    Node root;
    root.type = kRootType;
    root.id = 1;
    root.alive = true;
    m_nodes.push_back(std::move(root));
}

int64_t AtomContainer::slotOf(QTAtom atom) const
{
    const uint64_t slot = atom & 0xFFFFFFFFu;
    const uint32_t gen = uint32_t(atom >> 32);
    if (slot >= m_nodes.size()) return -1;
    const Node& n = m_nodes[slot];
    if (!n.alive || n.generation != gen) return -1;
    return int64_t(slot);
}

bool AtomContainer::isValid(QTAtom atom) const { return slotOf(atom) >= 0; }

uint32_t AtomContainer::allocNode()
{
    if (!m_free.empty()) {
        const uint32_t slot = m_free.back();
        m_free.pop_back();
        Node& n = m_nodes[slot];
        n.alive = true;
        n.children.clear();
        n.data.clear();
        return slot;
    }
    Node n;
    n.alive = true;
    n.generation = 1;
    m_nodes.push_back(std::move(n));
    return uint32_t(m_nodes.size() - 1);
}

void AtomContainer::freeSubtree(uint32_t slot)
{
    std::vector<uint32_t> stack{slot};
    while (!stack.empty()) {
        const uint32_t s = stack.back();
        stack.pop_back();
        Node& n = m_nodes[s];
        stack.insert(stack.end(), n.children.begin(), n.children.end());
        n.children.clear();
        n.children.shrink_to_fit();
        n.data.clear();
        n.data.shrink_to_fit();
        n.alive = false;
        ++n.generation;
        if (n.generation == 0) n.generation = 1;
        m_free.push_back(s);
    }
}

int AtomContainer::depthOf(uint32_t slot) const
{
    int depth = 0;
    while (slot != 0) {
        slot = m_nodes[slot].parent;
        ++depth;
    }
    return depth;
}

int AtomContainer::subtreeHeight(uint32_t slot) const
{
    int h = 0;
    for (uint32_t c : m_nodes[slot].children)
        h = std::max(h, 1 + subtreeHeight(c));
    return h;
}

size_t AtomContainer::subtreeSize(uint32_t slot) const
{
    const Node& n = m_nodes[slot];
    size_t s = kAtomHeaderSize + n.data.size();
    for (uint32_t c : n.children)
        s += subtreeSize(c);
    return s;
}

OSErr AtomContainer::placeChild(uint32_t parent, QTAtomType type, QTAtomID id, int16_t index,
                                uint32_t* position)
{
    if (type == 0) return invalidAtomTypeErr;
    const Node& p = m_nodes[parent];
    if (!p.data.empty()) return cannotBeLeafAtomErr;
    if (index < 0) return atomIndexInvalidErr;
    int count = 0;
    size_t pos = p.children.size();
    for (size_t k = 0; k < p.children.size(); ++k) {
        const Node& c = m_nodes[p.children[k]];
        if (c.type != type) continue;
        ++count;
        if (count == index) pos = k;
        if (id != 0 && c.id == id) return duplicateAtomTypeAndIDErr;
    }
    if (index > count + 1) return atomIndexInvalidErr;
    if (count >= INT16_MAX) return paramErr;
    *position = uint32_t(pos);
    return noErr;
}

OSErr AtomContainer::insertChild(QTAtom parent, QTAtomType type, QTAtomID id, int16_t index,
                                 std::span<const uint8_t> data, QTAtom* newAtom)
{
    const int64_t ps = slotOf(parent);
    if (ps < 0) return invalidAtomErr;
    if (data.size() > kMaxLeafSize) return paramErr;
    if (depthOf(uint32_t(ps)) + 1 > kMaxDepth) return paramErr;
    uint32_t pos = 0;
    if (OSErr err = placeChild(uint32_t(ps), type, id, index, &pos)) return err;
    if (id == 0) {
        QTAtomID maxId = 0;
        for (uint32_t c : m_nodes[ps].children) {
            if (m_nodes[c].type == type) maxId = std::max(maxId, m_nodes[c].id);
        }
        if (maxId == INT32_MAX) return paramErr;
        id = maxId + 1;
    }
    const uint32_t slot = allocNode();
    Node& n = m_nodes[slot];
    n.type = type;
    n.id = id;
    n.parent = uint32_t(ps);
    n.data.assign(data.begin(), data.end());
    auto& siblings = m_nodes[ps].children;
    siblings.insert(siblings.begin() + pos, slot);
    if (newAtom) *newAtom = makeRef(slot, n.generation);
    return noErr;
}

OSErr AtomContainer::insertChild(QTAtom parent, QTAtomType type, QTAtomID id, int16_t index,
                                 const void* data, size_t size, QTAtom* newAtom)
{
    return insertChild(parent, type, id, index,
                       std::span<const uint8_t>(static_cast<const uint8_t*>(data), size), newAtom);
}

QTAtom AtomContainer::findChildByIndex(QTAtom parent, QTAtomType type, int16_t index,
                                       QTAtomID* id) const
{
    const int64_t ps = slotOf(parent);
    if (ps < 0 || index < 1) return 0;
    int count = 0;
    for (uint32_t c : m_nodes[ps].children) {
        const Node& n = m_nodes[c];
        if (type != 0 && n.type != type) continue;
        if (++count == index) {
            if (id) *id = n.id;
            return makeRef(c, n.generation);
        }
    }
    return 0;
}

QTAtom AtomContainer::findChildByID(QTAtom parent, QTAtomType type, QTAtomID id,
                                    int16_t* index) const
{
    const int64_t ps = slotOf(parent);
    if (ps < 0) return 0;
    int16_t count = 0;
    for (uint32_t c : m_nodes[ps].children) {
        const Node& n = m_nodes[c];
        if (n.type != type) continue;
        ++count;
        if (n.id == id) {
            if (index) *index = count;
            return makeRef(c, n.generation);
        }
    }
    return 0;
}

int16_t AtomContainer::countChildrenOfType(QTAtom parent, QTAtomType type) const
{
    const int64_t ps = slotOf(parent);
    if (ps < 0) return 0;
    int count = 0;
    for (uint32_t c : m_nodes[ps].children) {
        if (type == 0 || m_nodes[c].type == type) ++count;
    }
    return int16_t(std::min(count, int(INT16_MAX)));
}

QTAtomType AtomContainer::nextChildType(QTAtom parent, QTAtomType currentType) const
{
    const int64_t ps = slotOf(parent);
    if (ps < 0) return 0;
    std::vector<QTAtomType> order;
    for (uint32_t c : m_nodes[ps].children) {
        if (std::find(order.begin(), order.end(), m_nodes[c].type) == order.end())
            order.push_back(m_nodes[c].type);
    }
    if (currentType == 0) return order.empty() ? 0 : order.front();
    auto it = std::find(order.begin(), order.end(), currentType);
    if (it == order.end() || ++it == order.end()) return 0;
    return *it;
}

QTAtom AtomContainer::findPath(QTAtom parent, std::initializer_list<PathStep> path) const
{
    QTAtom at = parent;
    if (!isValid(at)) return 0;
    for (const PathStep& step : path) {
        at = findChildByID(at, step.type, step.id);
        if (at == 0) return 0;
    }
    return at;
}

OSErr AtomContainer::getTypeAndID(QTAtom atom, QTAtomType* type, QTAtomID* id) const
{
    const int64_t s = slotOf(atom);
    if (s < 0) return invalidAtomErr;
    if (type) *type = m_nodes[s].type;
    if (id) *id = m_nodes[s].id;
    return noErr;
}

OSErr AtomContainer::setAtomID(QTAtom atom, QTAtomID id)
{
    const int64_t s = slotOf(atom);
    if (s <= 0) return invalidAtomErr;
    const Node& n = m_nodes[s];
    for (uint32_t c : m_nodes[n.parent].children) {
        if (int64_t(c) != s && m_nodes[c].type == n.type && m_nodes[c].id == id)
            return duplicateAtomTypeAndIDErr;
    }
    m_nodes[s].id = id;
    return noErr;
}

OSErr AtomContainer::setAtomData(QTAtom atom, std::span<const uint8_t> data)
{
    const int64_t s = slotOf(atom);
    if (s <= 0) return invalidAtomErr;
    if (!m_nodes[s].children.empty()) return notLeafAtomErr;
    if (data.size() > kMaxLeafSize) return paramErr;
    m_nodes[s].data.assign(data.begin(), data.end());
    return noErr;
}

OSErr AtomContainer::getAtomData(QTAtom atom, std::vector<uint8_t>& out) const
{
    const int64_t s = slotOf(atom);
    if (s < 0) return invalidAtomErr;
    if (!m_nodes[s].children.empty()) return notLeafAtomErr;
    out = m_nodes[s].data;
    return noErr;
}

std::span<const uint8_t> AtomContainer::atomData(QTAtom atom) const
{
    const int64_t s = slotOf(atom);
    if (s < 0) return {};
    return m_nodes[s].data;
}

OSErr AtomContainer::getAtomUInt32BE(QTAtom atom, uint32_t* value) const
{
    const int64_t s = slotOf(atom);
    if (s < 0) return invalidAtomErr;
    if (!m_nodes[s].children.empty()) return notLeafAtomErr;
    if (m_nodes[s].data.size() < 4) return paramErr;
    *value = getBE32(m_nodes[s].data.data());
    return noErr;
}

OSErr AtomContainer::getAtomUInt16BE(QTAtom atom, uint16_t* value) const
{
    const int64_t s = slotOf(atom);
    if (s < 0) return invalidAtomErr;
    if (!m_nodes[s].children.empty()) return notLeafAtomErr;
    if (m_nodes[s].data.size() < 2) return paramErr;
    *value = getBE16(m_nodes[s].data.data());
    return noErr;
}

OSErr AtomContainer::setLeaf(QTAtom parent, QTAtomType type, QTAtomID id,
                             std::span<const uint8_t> data, QTAtom* atom)
{
    if (!isValid(parent)) return invalidAtomErr;
    QTAtom found = findChildByID(parent, type, id);
    if (found == 0) return insertChild(parent, type, id, 0, data, atom);
    if (OSErr err = setAtomData(found, data)) return err;
    if (atom) *atom = found;
    return noErr;
}

OSErr AtomContainer::findOrInsert(QTAtom parent, QTAtomType type, QTAtomID id, QTAtom* atom)
{
    if (!isValid(parent)) return invalidAtomErr;
    QTAtom found = findChildByID(parent, type, id);
    if (found == 0) return insertChild(parent, type, id, 0, {}, atom);
    if (atom) *atom = found;
    return noErr;
}

OSErr AtomContainer::removeAtom(QTAtom atom)
{
    const int64_t s = slotOf(atom);
    if (s <= 0) return invalidAtomErr;
    auto& siblings = m_nodes[m_nodes[s].parent].children;
    siblings.erase(std::find(siblings.begin(), siblings.end(), uint32_t(s)));
    freeSubtree(uint32_t(s));
    return noErr;
}

OSErr AtomContainer::removeChildren(QTAtom parent, QTAtomType type)
{
    const int64_t ps = slotOf(parent);
    if (ps < 0) return invalidAtomErr;
    std::vector<uint32_t> keep;
    std::vector<uint32_t> drop;
    for (uint32_t c : m_nodes[ps].children) {
        (type == 0 || m_nodes[c].type == type ? drop : keep).push_back(c);
    }
    m_nodes[ps].children = std::move(keep);
    for (uint32_t c : drop)
        freeSubtree(c);
    return noErr;
}

uint32_t AtomContainer::cloneFrom(const AtomContainer& src, uint32_t srcSlot, uint32_t parent)
{
    const uint32_t slot = allocNode();
    {
        const Node& from = src.m_nodes[srcSlot];
        Node& n = m_nodes[slot];
        n.type = from.type;
        n.id = from.id;
        n.parent = parent;
        n.data = from.data;
    }
    const std::vector<uint32_t> kids = src.m_nodes[srcSlot].children;
    for (uint32_t c : kids) {
        const uint32_t child = cloneFrom(src, c, slot);
        m_nodes[slot].children.push_back(child);
    }
    return slot;
}

OSErr AtomContainer::copySubtree(const AtomContainer& source, QTAtom atomInSource, QTAtom parent,
                                 int16_t index, QTAtom* newAtom)
{
    if (&source == this) {
        const AtomContainer copy(*this);
        return copySubtree(copy, atomInSource, parent, index, newAtom);
    }
    const int64_t ss = source.slotOf(atomInSource);
    const int64_t ps = slotOf(parent);
    if (ss <= 0 || ps < 0) return invalidAtomErr;
    if (depthOf(uint32_t(ps)) + 1 + source.subtreeHeight(uint32_t(ss)) > kMaxDepth) return paramErr;
    const Node& from = source.m_nodes[ss];
    uint32_t pos = 0;
    if (OSErr err = placeChild(uint32_t(ps), from.type, from.id, index, &pos)) return err;
    const uint32_t slot = cloneFrom(source, uint32_t(ss), uint32_t(ps));
    auto& siblings = m_nodes[ps].children;
    siblings.insert(siblings.begin() + pos, slot);
    if (newAtom) *newAtom = makeRef(slot, m_nodes[slot].generation);
    return noErr;
}

OSErr AtomContainer::insertChildren(QTAtom parent, const AtomContainer& source)
{
    if (&source == this) {
        const AtomContainer copy(*this);
        return insertChildren(parent, copy);
    }
    if (!isValid(parent)) return invalidAtomErr;
    const AtomContainer backup(*this);
    for (uint32_t c : source.m_nodes[0].children) {
        if (OSErr err = copySubtree(source, makeRef(c, source.m_nodes[c].generation), parent, 0)) {
            *this = backup; // all or nothing
            return err;
        }
    }
    return noErr;
}

OSErr AtomContainer::copyAtom(QTAtom atom, AtomContainer& out) const
{
    if (slotOf(atom) <= 0) return invalidAtomErr;
    AtomContainer result;
    if (OSErr err = result.copySubtree(*this, atom, kParentAtomIsContainer, 0)) return err;
    out = std::move(result);
    return noErr;
}

size_t AtomContainer::atomCount() const
{
    size_t alive = 0;
    for (const Node& n : m_nodes)
        alive += n.alive ? 1 : 0;
    return alive - 1;
}

size_t AtomContainer::flattenedSize() const { return kContainerHeaderSize + subtreeSize(0); }

void AtomContainer::writeAtom(uint32_t slot, std::vector<uint8_t>& out) const
{
    const Node& n = m_nodes[slot];
    appendBE32(out, uint32_t(subtreeSize(slot)));
    appendBE32(out, n.type);
    appendBE32(out, uint32_t(n.id));
    appendBE16(out, 0);
    appendBE16(out, uint16_t(n.children.size()));
    appendBE32(out, 0);
    if (n.children.empty()) {
        out.insert(out.end(), n.data.begin(), n.data.end());
    } else {
        for (uint32_t c : n.children)
            writeAtom(c, out);
    }
}

Handle AtomContainer::flatten() const
{
    const size_t total = flattenedSize();
    if (total > kMaxFlattenedSize) return Handle();
    std::vector<uint8_t> out;
    out.reserve(total);
    out.resize(kContainerHeaderSize, 0);
    writeAtom(0, out);
    return Handle(out.data(), out.size());
}

OSErr AtomContainer::parseAtom(std::span<const uint8_t> bytes, size_t pos, size_t end,
                               uint32_t slot, int depth)
{
    // The caller has checked that [pos, pos + 20) lies inside [.., end).
    const uint8_t* h = bytes.data() + pos;
    const size_t size = getBE32(h);
    const uint16_t childCount = getBE16(h + 14);
    if (size < kAtomHeaderSize || size > end - pos) return invalidAtomContainerErr;
    {
        Node& n = m_nodes[slot];
        n.type = getBE32(h + 4);
        n.id = QTAtomID(getBE32(h + 8));
    }
    const size_t atomEnd = pos + size;
    if (childCount == 0) {
        m_nodes[slot].data.assign(bytes.begin() + pos + kAtomHeaderSize, bytes.begin() + atomEnd);
        return noErr;
    }
    if (depth + 1 > kMaxDepth) return invalidAtomContainerErr;
    size_t at = pos + kAtomHeaderSize;
    for (uint16_t k = 0; k < childCount; ++k) {
        if (atomEnd - at < kAtomHeaderSize) return invalidAtomContainerErr;
        const uint32_t child = allocNode();
        m_nodes[child].parent = slot;
        m_nodes[slot].children.push_back(child);
        if (OSErr err = parseAtom(bytes, at, atomEnd, child, depth + 1)) return err;
        at += getBE32(bytes.data() + at);
    }
    if (at != atomEnd) return invalidAtomContainerErr; // bytes left over after the children
    return noErr;
}

OSErr AtomContainer::parse(std::span<const uint8_t> bytes, AtomContainer& out)
{
    if (bytes.size() > kMaxFlattenedSize) return invalidAtomContainerErr;
    if (bytes.size() < kContainerHeaderSize + kAtomHeaderSize) return invalidAtomContainerErr;
    const uint8_t* root = bytes.data() + kContainerHeaderSize;
    if (getBE32(root) != bytes.size() - kContainerHeaderSize) return invalidAtomContainerErr;
    if (getBE16(root + 14) == 0 && getBE32(root) != kAtomHeaderSize)
        return invalidAtomContainerErr; // a root holding data instead of children
    AtomContainer result;
    if (OSErr err = result.parseAtom(bytes, kContainerHeaderSize, bytes.size(), 0, 0)) return err;
    out = std::move(result);
    return noErr;
}

OSErr AtomContainer::fromHandle(const Handle& h, AtomContainer& out)
{
    if (h.isNull()) return invalidAtomContainerErr;
    return parse(h.bytes(), out);
}

bool operator==(const AtomContainer& a, const AtomContainer& b)
{
    return a.flatten() == b.flatten();
}

} // namespace zef::movies
