// Clips read through the media graph: their opened media (the two readers of the clip) and
// the clip opener's second try that makes them.
#pragma once

#include "engine/direct_show_source.h"
#include "model/media_clip_opener.h"

#include <memory>
#include <mutex>
#include <optional>

namespace zef {

// The opened media of a clip read through the media graph: readerA (display mode, absent
// when the readers were made without display) and readerB (fetches).
class GraphClipMedia : public ClipMedia {
public:
    GraphClipMedia(std::unique_ptr<FDirectShowSource> readerA,
                   std::unique_ptr<FDirectShowSource> readerB);

    bool viaMovieToolbox() const override { return false; }
    void setDisplayClip(const movies::Rect& rect) override;
    std::optional<movies::Rect> displayClip() const override { return m_displayClip; }
    // Fetches the picture shown at source time t from readerB, scaled to the picture.
    bool drawFrame(const EditTime& t, uint8_t* pixels, int32_t width, int32_t height) override;
    bool frameStarts(int64_t from, int64_t to, std::vector<int64_t>& starts) const override;

    FDirectShowSource* readerA() const { return m_readerA.get(); }
    FDirectShowSource& readerB() const { return *m_readerB; }

private:
    std::unique_ptr<FDirectShowSource> m_readerA;
    std::unique_ptr<FDirectShowSource> m_readerB;
    std::optional<movies::Rect> m_displayClip;
    // The last span asked for (builds of one clip ask for the same span again).
    mutable std::mutex m_cacheLock;
    mutable int64_t m_cachedFrom = -1, m_cachedTo = -1;
    mutable std::vector<int64_t> m_cachedStarts;
};

// Makes the readers of a clip. With display, readerA is opened in display mode first (the
// preview shows the clip through it), then readerB; without display (a program that only
// renders) readerB alone. When any reader cannot open the file, none is kept.
class GraphClipReaders : public MediaGraphReaders {
public:
    // registry must outlive the readers and hold the render filter library's classes.
    GraphClipReaders(const graph::FilterClassRegistry& registry, bool withDisplay,
                     FDirectShowSource::Display display = {});

    std::unique_ptr<ClipMedia> open(const std::string& path, GraphMediaInfo& info) override;

private:
    const graph::FilterClassRegistry& m_registry;
    bool m_withDisplay;
    FDirectShowSource::Display m_display;
};

} // namespace zef
