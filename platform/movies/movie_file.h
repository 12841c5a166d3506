// Movie files of our own: a movie whose added sample data goes to a file on disk (the render
// movie is built into one), saved with its structure and reopened by this code.
//
// Layout (little-endian):
//   header, 40 bytes:
//     0  magic "ZEFMOVIE" (8 bytes)
//     8  uint32 format version (1)
//    12  uint32 header size (40)
//    16  int64  offset of the structure table (0 = not saved yet)
//    24  int64  size of the table in bytes
//    32  uint32 CRC-32 of the table bytes
//    36  uint32 reserved (0)
//   sample data: the bytes of samples, appended as they are added;
//   structure table: a sequence of sections, each uint32 tag + int32 length + payload:
//     'MVHD' time scale, active flag, play hints, movie matrix, clip region, display clip
//            region, volume,
//     'PATH' the media file paths that FileStream samples refer to,
//     'MDIA' one per media (type, time scale, graphics mode, op colour, input map as a
//            flattened atom container, text properties, sample descriptions, samples),
//     'TRAK' one per track (id, layer, enabled, volume, size, matrix, clip region, own media,
//            references by type, edit list with media indexes).
//   Sections of unknown tags are skipped. Saving again appends a new table at the end and
//   points the header at it; sample data stays where it was written.
// Clip regions of more than 256 rectangles are not stored (paramErr).
// Samples held in memory, or in another movie file, are copied into the file when the movie is
// saved. Samples of media files are stored by path, stream and time; reopening resolves the
// path through a caller-given function (the sample keeps its path when that fails).
// Reading checks everything before use: magic, version, table bounds and CRC, every count
// against the bytes left, every index and data range; a file that fails any check is refused
// with noMovieFound (not our file) or invalidMovie (damaged), never trusted.
#pragma once

#include "platform/movies/errors.h"
#include "platform/movies/movie.h"
#include "platform/storage/stream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

namespace zef::movies {

// The data file of a file movie. Shared by the movie, its media and their samples, so the
// file stays open while anything refers to its data. Reads and appends are serialised by a
// mutex, so samples may be read from several threads.
class MovieStorage {
public:
    static constexpr size_t kHeaderSize = 40;
    static constexpr uint32_t kFormatVersion = 1;
    static constexpr int64_t kMaxTableSize = 256 << 20;

    ~MovieStorage();
    MovieStorage(const MovieStorage&) = delete;
    MovieStorage& operator=(const MovieStorage&) = delete;

    // Creates the file (replacing one that exists, unless exclusive: then dupFNErr when the
    // path exists, also as a symbolic link) with an empty header.
    static OSErr create(const std::string& path, std::shared_ptr<MovieStorage>& out,
                        bool exclusive = false);

    const std::string& path() const { return m_path; }
    // Appends bytes at the end of the file; offset receives where they start.
    OSErr append(std::span<const uint8_t> bytes, int64_t* offset);
    OSErr read(int64_t offset, int64_t size, std::vector<uint8_t>& out);
    OSErr flush();
    int64_t end() const { return m_end; }

private:
    friend class MovieFileReader;
    friend OSErr writeMovieTable(const Movie&, MovieStorage&);
    MovieStorage() = default;
    OSErr writeHeader(int64_t tableOffset, int64_t tableSize, uint32_t crc);

    std::string m_path;
    std::mutex m_mutex;
    storage::FileStream m_file;
    int64_t m_end = 0;
    bool m_writable = false;
};

using MediaFileResolver = std::function<std::shared_ptr<MediaFile>(const std::string& path)>;

// Creates a movie file at path (replacing an existing file) and an empty movie of the given
// time scale whose media write their samples into it. With exclusive the file must not exist
// yet (dupFNErr otherwise), so a link planted at the path is never followed.
OSErr createMovieFile(const std::string& path, TimeScale timeScale, std::unique_ptr<Movie>& out,
                      bool exclusive = false);
// Writes the movie's structure into its own movie file (paramErr for a movie without one).
OSErr updateMovieFile(Movie& movie);
// Writes a self-contained movie file at path holding the movie's structure and the data of
// its memory and movie-file samples. Saving a file movie onto its own path updates it.
OSErr saveMovieToFile(const Movie& movie, const std::string& path);
// Opens a movie file written by this code. New samples added to the movie go to that file.
// Without a resolver, media-file paths are opened with mediaFileOpener (movie_from_file.h).
OSErr openMovieFile(const std::string& path, std::unique_ptr<Movie>& out,
                    const MediaFileResolver& resolver = {});

// CRC-32 (the zip/PNG polynomial), as stored in the header.
uint32_t crc32(std::span<const uint8_t> bytes, uint32_t crc = 0);

} // namespace zef::movies
