#include "platform/movies/movie_from_file.h"

#include <map>

namespace zef::movies {

namespace {

// A track time in the movie's scale, rounded to nearest.
TimeValue toMovieTime(int64_t value, int32_t fromScale, TimeScale movieScale)
{
    if (fromScale <= 0) return 0;
    return TimeValue((__int128(value) * movieScale + fromScale / 2) / fromScale);
}

OSErr addVideoTrack(Movie& movie, const std::shared_ptr<MediaFile>& file, const TrackInfo& info)
{
    if (info.samples.empty() || info.width <= 0 || info.height <= 0) return noErr;
    Track* track = movie.newTrack(Fixed(info.width) << 16, Fixed(info.height) << 16, 0);
    if (OSErr err = movie.newTrackMedia(track, VideoMediaType, info.timeScale)) return err;
    Media& media = *track->media();
    const Handle description = info.imageDescription.toHandle();
    media.beginEdits();
    for (const VideoSample& s : info.samples) {
        if (OSErr err = media.addFileSample(file, file->path(), info.streamIndex, s.time,
                                            std::max<int64_t>(1, s.duration), description, s.sync))
            return err;
    }
    media.endEdits();
    const TimeValue offset = toMovieTime(info.offset, info.timeScale, movie.timeScale());
    if (OSErr err = track->insertMedia(offset, 0, media.duration())) return err;
    track->setEnabled(info.enabled);
    return noErr;
}

OSErr addSoundTrack(Movie& movie, const std::shared_ptr<MediaFile>& file, const TrackInfo& info)
{
    if (info.duration <= 0 || info.timeScale <= 0) return noErr;
    Track* track = movie.newTrack(0, 0, 256);
    if (OSErr err = movie.newTrackMedia(track, SoundMediaType, info.timeScale)) return err;
    Media& media = *track->media();
    if (OSErr err = media.addFileSample(file, file->path(), info.streamIndex, 0, info.duration,
                                        info.soundDescription.toHandle(), true))
        return err;
    const TimeValue offset = toMovieTime(info.offset, info.timeScale, movie.timeScale());
    if (OSErr err = track->insertMedia(offset, 0, media.duration())) return err;
    track->setEnabled(info.enabled);
    return noErr;
}

} // namespace

OSErr newMovieFromMediaFile(const std::shared_ptr<MediaFile>& file, TimeScale movieTimeScale,
                            std::unique_ptr<Movie>& out)
{
    if (!file || movieTimeScale <= 0 || movieTimeScale > Media::kMaxTimeScale) return paramErr;
    auto movie = std::make_unique<Movie>(movieTimeScale);
    for (const TrackInfo& info : file->tracks()) {
        OSErr err = noErr;
        if (info.mediaType == kVideoMediaType)
            err = addVideoTrack(*movie, file, info);
        else if (info.mediaType == kSoundMediaType)
            err = addSoundTrack(*movie, file, info);
        if (err) return err;
    }
    if (movie->trackCount() == 0) return invalidMovie;
    out = std::move(movie);
    return noErr;
}

MovieFromFileResult openMovieFromFile(const std::string& path, TimeScale movieTimeScale)
{
    MovieFromFileResult result;
    MediaOpenResult opened = MediaFile::open(path);
    result.status = opened.status;
    result.detail = opened.detail;
    if (opened.status != MediaOpenStatus::ok) return result;
    if (OSErr err = newMovieFromMediaFile(opened.file, movieTimeScale, result.movie)) {
        result.status = MediaOpenStatus::cannotOpen;
        result.detail = "no track could be built (error " + std::to_string(err) + ")";
        result.movie.reset();
        return result;
    }
    result.file = std::move(opened.file);
    return result;
}

MediaFileResolver mediaFileOpener()
{
    auto cache = std::make_shared<std::map<std::string, std::shared_ptr<MediaFile>>>();
    return [cache](const std::string& path) -> std::shared_ptr<MediaFile> {
        auto it = cache->find(path);
        if (it != cache->end()) return it->second;
        MediaOpenResult r = MediaFile::open(path);
        std::shared_ptr<MediaFile> file = r.status == MediaOpenStatus::ok ? r.file : nullptr;
        cache->emplace(path, file);
        return file;
    };
}

} // namespace zef::movies
