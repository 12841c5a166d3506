#include "engine/item_tracks.h"

namespace zef {

using namespace movies;

TrackRecord::~TrackRecord()
{
    std::shared_ptr<Movie> movie = m_movie.lock();
    if (!movie) return;
    for (uint32_t id : m_ids)
        if (Track* t = movie->trackByID(id)) movie->disposeTrack(t);
}

Track* TrackRecord::find(uint32_t id) const
{
    std::shared_ptr<Movie> movie = m_movie.lock();
    return movie && id ? movie->trackByID(id) : nullptr;
}

void TrackRecord::append(Track* track)
{
    if (track) m_ids.push_back(track->id());
}

std::vector<Track*> TrackRecord::tracks() const
{
    std::vector<Track*> out;
    for (uint32_t id : m_ids)
        if (Track* t = find(id)) out.push_back(t);
    return out;
}

void TrackRecord::setSize(int32_t width, int32_t height)
{
    for (Track* t : tracks())
        if (t->media() && t->media()->type() != SoundMediaType)
            t->setDimensions(Fixed(width) << 16, Fixed(height) << 16);
}

void TrackRecord::setEnabled(bool enabled)
{
    for (Track* t : tracks())
        t->setEnabled(enabled);
}

void TrackRecord::setOffset(const EditTime& start)
{
    const int64_t delta = start.ticks() - m_builtStart;
    if (delta == 0) return;
    for (Track* t : tracks())
        t->setOffset(std::max<TimeValue>(0, t->offset() + delta));
    m_builtStart = start.ticks();
}

} // namespace zef
