// Opening a media file as a movie: one track per audio or video stream of the file, whose
// samples refer to the shared, opened MediaFile (decoded by time when they are drawn or played).
//
// Each video track gets one sample per displayed frame (the frame's media time, duration and key
// frame flag), so a lookup names the exact frame; each sound track gets one sample spanning the
// whole stream (sound is decoded by time, not by packet). Media time scales are the file's track
// time scales; tracks keep the file's enabled flags, are offset by their start in the file's
// time line, have the stream's picture size as shown (video) or volume 256 (sound), layer 0 and
// an identity matrix: where the file's track matrix turns or mirrors the pictures, they are
// drawn so when decoded, and a track matrix would be lost when samples are copied into other
// tracks. Video media get the visual characteristic, sound media the audible one.
//
// Thread safety: openMovieFromFile is reentrant; the result is an ordinary Movie.
#pragma once

#include "platform/movies/media_file.h"
#include "platform/movies/movie.h"
#include "platform/movies/movie_file.h"

#include <memory>
#include <string>

namespace zef::movies {

struct MovieFromFileResult {
    MediaOpenStatus status = MediaOpenStatus::cannotOpen;
    std::unique_ptr<Movie> movie;    // set only with MediaOpenStatus::ok
    std::shared_ptr<MediaFile> file; // the opened file the samples refer to
    std::string detail;              // a short English reason when refused
};

// Opens path and builds its movie at the given movie time scale (600 unless told otherwise).
// notAMovie: a media file the toolbox does not take; cannotOpen: missing, unreadable, corrupt
// or not media. Never throws for bad input.
MovieFromFileResult openMovieFromFile(const std::string& path, TimeScale movieTimeScale = 600);

// Builds the movie of an already opened file (used by openMovieFromFile). paramErr for a null
// file or a bad time scale.
OSErr newMovieFromMediaFile(const std::shared_ptr<MediaFile>& file, TimeScale movieTimeScale,
                            std::unique_ptr<Movie>& out);

// A resolver for openMovieFile that opens each stored media-file path once (later requests for
// the same path share the opened file); paths that do not open give null. The returned function
// holds its own cache and may be copied; it is not thread-safe.
MediaFileResolver mediaFileOpener();

} // namespace zef::movies
