// The tracks built for one item in the preview movie (its entry in the item's composition
// state). Destroying the record disposes the tracks, unless the movie is gone already.
#pragma once

#include "model/project_links.h"
#include "platform/movies/movie.h"

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace zef {

class TrackRecord : public CompositionState {
public:
    explicit TrackRecord(std::weak_ptr<movies::Movie> movie) : m_movie(std::move(movie)) {}
    ~TrackRecord() override;

    void setSize(int32_t width, int32_t height) override;
    void setEnabled(bool enabled) override;
    // Moves every built track so that the item's tracks start at start (keeping their
    // distances).
    void setOffset(const EditTime& start) override;

    void append(movies::Track* track);
    // The tracks in build order (disposed tracks are left out).
    std::vector<movies::Track*> tracks() const;
    size_t size() const { return m_ids.size(); }

    movies::Track* lastTrack() const { return find(m_last); }
    void setLastTrack(movies::Track* t) { m_last = t ? t->id() : 0; }
    movies::Track* transitionTrack() const { return find(m_transition); }
    void setTransitionTrack(movies::Track* t) { m_transition = t ? t->id() : 0; }
    movies::Track* soundTrack() const { return find(m_sound); }
    void setSoundTrack(movies::Track* t) { m_sound = t ? t->id() : 0; }
    // The timeline start the tracks were built for.
    void setBuiltStart(int64_t ticks) { m_builtStart = ticks; }
    // For a clip whose samples carry timeline times (read through the media graph): the
    // timeline span [start, end) they were made for. Moving such tracks does not change the
    // times they carry, so the builder makes them again when the span is no longer right.
    void setStampedSpan(int64_t start, int64_t end) { m_stamped = {start, end}; }
    const std::optional<std::pair<int64_t, int64_t>>& stampedSpan() const { return m_stamped; }

private:
    movies::Track* find(uint32_t id) const;

    std::weak_ptr<movies::Movie> m_movie;
    std::vector<uint32_t> m_ids;
    uint32_t m_last = 0, m_transition = 0, m_sound = 0;
    int64_t m_builtStart = 0;
    std::optional<std::pair<int64_t, int64_t>> m_stamped;
};

} // namespace zef
