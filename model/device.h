// A track of the project: its items in timeline order, its placement keyframes and its
// enabled flag.
#pragma once

#include "model/edit_time.h"
#include "platform/movies/matrix.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace zef::storage {
class StreamReader;
class StreamWriter;
} // namespace zef::storage

namespace zef {

class FProject;
class ZEFItem;

struct MatrixKeyframe {
    EditTime time;
    movies::MatrixRecord matrix;
};

// The placement at t on the way from keyframe (t0, m0) to keyframe (t1, m1): each entry is
// m0 + ((m1 - m0) * f) >> 16 with f = (t - t0) * 65536 / (t1 - t0); m0 when t1 <= t0.
movies::MatrixRecord interpolateKeyframes(int64_t t0, const movies::MatrixRecord& m0, int64_t t1,
                                          const movies::MatrixRecord& m1, int64_t t);

// Item kinds in the track record.
enum ItemKind : int32_t { kKindSource = 0, kKindEffect = 1, kKindTitler = 2 };

class FDevice {
public:
    FDevice(FProject* project, int32_t index);
    virtual ~FDevice();
    FDevice(const FDevice&) = delete;
    FDevice& operator=(const FDevice&) = delete;

    // The track record: items with their kinds, keyframes, enabled.
    virtual void save(storage::StreamWriter& out) const;
    // Clears the track and its keyframes, then reads the record, adding each item to the
    // project. An item whose media gives up (ZEFException) is dropped and reading goes on.
    // Leaves the reader failed on malformed data.
    virtual void load(storage::StreamReader& in, int32_t version);

    int32_t index() const { return m_index; }
    size_t size() const { return m_items.size(); }
    bool empty() const { return m_items.empty(); }
    ZEFItem* at(size_t i) const { return i < m_items.size() ? m_items[i].get() : nullptr; }
    ZEFItem* last() const { return m_items.empty() ? nullptr : m_items.back().get(); }
    // The item's index when it lies on this track, else -1 (constant time).
    int32_t indexOf(const ZEFItem* item) const;

    // Takes ownership; pos is clamped to the end. Returns the index.
    size_t insert(size_t pos, std::unique_ptr<ZEFItem> item);
    // Takes the item out; null for an index outside the track.
    std::unique_ptr<ZEFItem> take(size_t pos);

    std::vector<MatrixKeyframe>& keyframes() { return m_keyframes; }
    const std::vector<MatrixKeyframe>& keyframes() const { return m_keyframes; }
    bool enabled() const { return m_enabled != 0; }
    void setEnabled(bool on) { m_enabled = on ? 1 : 0; }

    static int32_t kindOf(const ZEFItem& item);

private:
    void renumberFrom(size_t pos);

    FProject* m_project;
    int32_t m_index;
    std::vector<std::unique_ptr<ZEFItem>> m_items;
    std::vector<MatrixKeyframe> m_keyframes;
    int32_t m_enabled = 1;
};

} // namespace zef
