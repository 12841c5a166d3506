#include "platform/movies/movie_file.h"
#include "platform/movies/movie_from_file.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <sys/stat.h>

namespace zef::movies {

using storage::MemoryStream;
using storage::StreamReader;
using storage::StreamWriter;

namespace {

constexpr char kMagic[8] = {'Z', 'E', 'F', 'M', 'O', 'V', 'I', 'E'};
constexpr uint32_t kTagMovie = fourcc("MVHD");
constexpr uint32_t kTagPaths = fourcc("PATH");
constexpr uint32_t kTagMedia = fourcc("MDIA");
constexpr uint32_t kTagTrack = fourcc("TRAK");
constexpr int32_t kKindStorage = 1;
constexpr int32_t kKindFile = 2;
// Regions are rebuilt by union, which costs more with every rectangle: stored regions are
// limited to what clip regions need.
constexpr int32_t kMaxRegionRects = 256;

void writeMatrix(StreamWriter& w, const MatrixRecord& m)
{
    for (const auto& row : m.m) {
        for (int32_t v : row)
            w.int32(v);
    }
}

bool writeRegion(StreamWriter& w, const std::optional<Region>& r)
{
    if (r && r->rects().size() > size_t(kMaxRegionRects)) return false;
    w.flag(r.has_value());
    if (!r) return true;
    w.int32(int32_t(r->rects().size()));
    for (const Rect& x : r->rects()) {
        w.int32(x.left);
        w.int32(x.top);
        w.int32(x.right);
        w.int32(x.bottom);
    }
    return true;
}

void writeSection(StreamWriter& w, uint32_t tag, MemoryStream& payload)
{
    w.uint32(tag);
    w.blob(payload.bytes());
}

// Reads a count and checks that count records of at least minBytes each fit in what is left.
bool readCount(StreamReader& r, int32_t& n, int64_t minBytes)
{
    n = r.int32();
    if (!r.ok() || n < 0) return false;
    const int64_t left = r.stream().size() - r.stream().tell();
    if (int64_t(n) * minBytes > left) {
        r.fail();
        return false;
    }
    return true;
}

MatrixRecord readMatrix(StreamReader& r)
{
    MatrixRecord m;
    for (auto& row : m.m) {
        for (int32_t& v : row)
            v = r.int32();
    }
    return m;
}

bool readRegion(StreamReader& r, std::optional<Region>& out)
{
    out.reset();
    if (!r.flag()) return r.ok();
    int32_t n = 0;
    if (!readCount(r, n, 16) || n > kMaxRegionRects) return false;
    Region reg;
    for (int32_t k = 0; k < n; ++k) {
        Rect x;
        x.left = r.int32();
        x.top = r.int32();
        x.right = r.int32();
        x.bottom = r.int32();
        reg = reg.united(Region(x));
    }
    out = std::move(reg);
    return r.ok();
}

} // namespace

uint32_t crc32(std::span<const uint8_t> bytes, uint32_t crc)
{
    static const std::array<uint32_t, 256> table = [] {
        std::array<uint32_t, 256> t{};
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[i] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (uint8_t b : bytes)
        crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

// ---- MovieStorage ----

MovieStorage::~MovieStorage() { m_file.close(); }

OSErr MovieStorage::create(const std::string& path, std::shared_ptr<MovieStorage>& out,
                           bool exclusive)
{
    std::shared_ptr<MovieStorage> s(new MovieStorage());
    const int rc = s->m_file.open(path, exclusive ? storage::FileStream::Mode::CreateNew
                                                  : storage::FileStream::Mode::Create);
    if (rc == EEXIST) return dupFNErr;
    if (rc != 0) return fnfErr;
    s->m_path = path;
    s->m_writable = true;
    s->m_end = kHeaderSize;
    if (OSErr err = s->writeHeader(0, 0, 0)) return err;
    if (OSErr err = s->flush()) return err;
    out = std::move(s);
    return noErr;
}

OSErr MovieStorage::writeHeader(int64_t tableOffset, int64_t tableSize, uint32_t crc)
{
    std::lock_guard lock(m_mutex);
    if (!m_writable) return ioErr;
    MemoryStream ms;
    StreamWriter w(ms);
    w.bytes(kMagic, sizeof kMagic);
    w.uint32(kFormatVersion);
    w.uint32(kHeaderSize);
    w.int64(tableOffset);
    w.int64(tableSize);
    w.uint32(crc);
    w.uint32(0);
    if (!m_file.seek(0) || m_file.write(ms.bytes().data(), ms.bytes().size()) != kHeaderSize)
        return ioErr;
    return noErr;
}

OSErr MovieStorage::append(std::span<const uint8_t> bytes, int64_t* offset)
{
    std::lock_guard lock(m_mutex);
    if (!m_writable) return ioErr;
    if (!m_file.seek(m_end)) return ioErr;
    if (!bytes.empty() && m_file.write(bytes.data(), bytes.size()) != bytes.size()) {
        m_file.seek(m_end); // what was written past m_end is overwritten by the next append
        return ioErr;
    }
    if (offset) *offset = m_end;
    m_end += int64_t(bytes.size());
    return noErr;
}

OSErr MovieStorage::read(int64_t offset, int64_t size, std::vector<uint8_t>& out)
{
    std::lock_guard lock(m_mutex);
    if (offset < 0 || size < 0 || offset > m_end || size > m_end - offset) return badDataRefIndex;
    std::vector<uint8_t> buf(static_cast<size_t>(size));
    if (!m_file.seek(offset)) return ioErr;
    if (size > 0 && m_file.read(buf.data(), buf.size()) != buf.size()) return eofErr;
    out = std::move(buf);
    return noErr;
}

OSErr MovieStorage::flush()
{
    std::lock_guard lock(m_mutex);
    if (!m_writable) return noErr;
    return m_file.sync() == 0 ? noErr : ioErr;
}

// ---- Writing ----

OSErr writeMovieTable(const Movie& movie, MovieStorage& dst)
{
    // Every media the tracks use, numbered in order of first use.
    std::vector<const Media*> medias;
    std::map<const Media*, int32_t> mediaIndex;
    auto note = [&](const Media* m) {
        if (m && !mediaIndex.count(m)) {
            mediaIndex[m] = int32_t(medias.size());
            medias.push_back(m);
        }
    };
    for (const auto& t : movie.tracks()) {
        note(t->media().get());
        for (const Edit& e : t->edits())
            note(e.media.get());
    }

    std::vector<std::string> paths;
    std::map<std::string, int32_t> pathIndex;

    MemoryStream table;
    StreamWriter w(table);
    {
        MemoryStream p;
        StreamWriter s(p);
        s.int32(movie.timeScale());
        s.flag(movie.isActive());
        s.uint32(movie.playHints());
        writeMatrix(s, movie.matrix());
        if (!writeRegion(s, movie.clipRegion())) return paramErr;
        if (!writeRegion(s, movie.displayClipRegion())) return paramErr;
        s.int16(movie.volume());
        writeSection(w, kTagMovie, p);
    }

    std::vector<MemoryStream> mediaSections(medias.size());
    for (size_t mi = 0; mi < medias.size(); ++mi) {
        const Media& m = *medias[mi];
        StreamWriter s(mediaSections[mi]);
        s.uint32(m.type());
        s.int32(m.timeScale());
        s.int32(m.graphicsMode());
        s.int16(int16_t(m.opColor().red));
        s.int16(int16_t(m.opColor().green));
        s.int16(int16_t(m.opColor().blue));
        if (m.hasInputMap()) {
            const Handle h = m.inputMap().flatten();
            if (h.isNull()) return memFullErr;
            s.blob(h.bytes());
        } else {
            s.int32(0);
        }
        s.int32(int32_t(m.textProperties().size()));
        for (const auto& [type, value] : m.textProperties()) {
            s.uint32(type);
            s.int32(int32_t(value.size()));
            s.bytes(value.data(), value.size());
        }
        s.int32(m.sampleDescriptionCount());
        for (int32_t d = 1; d <= m.sampleDescriptionCount(); ++d) {
            const Handle h = m.sampleDescription(d);
            s.int32(int32_t(h.size()));
            s.bytes(h.data(), h.size());
        }
        s.int64(m.sampleCount());
        for (int64_t k = 0; k < m.sampleCount(); ++k) {
            const Sample& smp = *m.sample(k);
            s.int32(smp.descriptionIndex);
            s.int64(smp.duration);
            s.flag(smp.sync);
            if (smp.data.kind == SampleData::Kind::FileStream) {
                auto [it, added] = pathIndex.emplace(smp.data.filePath, int32_t(paths.size()));
                if (added) paths.push_back(smp.data.filePath);
                s.int32(kKindFile);
                s.int32(it->second);
                s.int32(smp.data.stream);
                s.int64(smp.data.fileTime);
                continue;
            }
            int64_t offset = smp.data.offset;
            if (smp.data.kind != SampleData::Kind::Storage || smp.data.storage.get() != &dst) {
                std::vector<uint8_t> bytes;
                if (OSErr err = m.getSampleData(k, bytes)) return err;
                if (OSErr err = dst.append(bytes, &offset)) return err;
            }
            s.int32(kKindStorage);
            s.int64(offset);
            s.int64(smp.data.size);
        }
        if (!s.ok()) return memFullErr;
    }
    {
        MemoryStream p;
        StreamWriter s(p);
        s.int32(int32_t(paths.size()));
        for (const std::string& path : paths)
            s.string(path);
        writeSection(w, kTagPaths, p);
    }
    for (MemoryStream& ms : mediaSections)
        writeSection(w, kTagMedia, ms);

    for (const auto& t : movie.tracks()) {
        MemoryStream p;
        StreamWriter s(p);
        s.uint32(t->id());
        s.int16(t->layer());
        s.flag(t->enabled());
        s.int16(t->volume());
        s.int32(t->width());
        s.int32(t->height());
        writeMatrix(s, t->matrix());
        if (!writeRegion(s, t->clipRegion())) return paramErr;
        s.int32(t->media() ? mediaIndex[t->media().get()] : -1);
        s.int32(int32_t(t->references().size()));
        for (const auto& [type, ids] : t->references()) {
            s.uint32(type);
            s.int32(int32_t(ids.size()));
            for (uint32_t id : ids)
                s.uint32(id);
        }
        s.int32(int32_t(t->edits().size()));
        for (const Edit& e : t->edits()) {
            s.int64(e.duration);
            s.int32(e.media ? mediaIndex[e.media.get()] : -1);
            s.int64(e.mediaTime);
            s.int64(e.mediaDuration);
        }
        writeSection(w, kTagTrack, p);
    }
    if (!w.ok()) return memFullErr;

    const std::vector<uint8_t>& bytes = table.bytes();
    if (int64_t(bytes.size()) > MovieStorage::kMaxTableSize) return memFullErr;
    int64_t tableOffset = 0;
    if (OSErr err = dst.append(bytes, &tableOffset)) return err;
    if (OSErr err = dst.writeHeader(tableOffset, int64_t(bytes.size()), crc32(bytes))) return err;
    return dst.flush();
}

OSErr createMovieFile(const std::string& path, TimeScale timeScale, std::unique_ptr<Movie>& out,
                      bool exclusive)
{
    if (timeScale <= 0 || timeScale > Media::kMaxTimeScale) return paramErr;
    std::shared_ptr<MovieStorage> storage;
    if (OSErr err = MovieStorage::create(path, storage, exclusive)) return err;
    auto movie = std::make_unique<Movie>(timeScale);
    movie->setStorage(std::move(storage));
    out = std::move(movie);
    return noErr;
}

OSErr updateMovieFile(Movie& movie)
{
    if (!movie.storage()) return movie.report(paramErr);
    return movie.report(writeMovieTable(movie, *movie.storage()));
}

OSErr saveMovieToFile(const Movie& movie, const std::string& path)
{
    if (movie.storage()) {
        std::error_code ec;
        if (std::filesystem::equivalent(movie.storage()->path(), path, ec))
            return movie.report(writeMovieTable(movie, *movie.storage()));
    }
    std::shared_ptr<MovieStorage> storage;
    if (OSErr err = MovieStorage::create(path, storage)) return movie.report(err);
    return movie.report(writeMovieTable(movie, *storage));
}

// ---- Reading ----

class MovieFileReader {
public:
    static OSErr open(const std::string& path, std::unique_ptr<Movie>& out,
                      const MediaFileResolver& resolver);

private:
    struct Context {
        std::shared_ptr<MovieStorage> storage;
        int64_t dataEnd = 0;
        std::vector<std::string> paths;
        std::vector<std::shared_ptr<MediaFile>> files;
        std::vector<std::shared_ptr<Media>> medias;
        const MediaFileResolver* resolver = nullptr;
    };
    static bool readMedia(StreamReader& r, Context& ctx);
    static bool readTrack(StreamReader& r, Context& ctx, Movie& movie);
};

bool MovieFileReader::readMedia(StreamReader& r, Context& ctx)
{
    const OSType type = r.uint32();
    const TimeScale scale = r.int32();
    if (!r.ok() || type == 0 || scale <= 0 || scale > Media::kMaxTimeScale) return false;
    auto m = std::make_shared<Media>(type, scale);
    m->setStorage(ctx.storage);
    const int32_t mode = r.int32();
    RGBColor c;
    c.red = uint16_t(r.int16());
    c.green = uint16_t(r.int16());
    c.blue = uint16_t(r.int16());
    m->setGraphicsMode(mode, c);
    const std::vector<uint8_t> map = r.blob();
    if (!r.ok()) return false;
    if (!map.empty()) {
        AtomContainer ac;
        if (AtomContainer::parse(map, ac) != noErr) return false;
        m->setInputMap(ac);
    }
    int32_t n = 0;
    if (!readCount(r, n, 8)) return false;
    for (int32_t k = 0; k < n; ++k) {
        const OSType prop = r.uint32();
        const std::vector<uint8_t> value = r.blob();
        if (!r.ok()) return false;
        m->setTextProperty(prop, value);
    }
    if (!readCount(r, n, 4)) return false;
    for (int32_t k = 0; k < n; ++k) {
        const std::vector<uint8_t> d = r.blob();
        if (!r.ok()) return false;
        m->appendSampleDescription(Handle(d.data(), d.size()));
    }
    const int64_t count = r.int64();
    const int64_t left = r.stream().size() - r.stream().tell();
    if (!r.ok() || count < 0 || count > left / 36) return false;
    for (int64_t k = 0; k < count; ++k) {
        Sample s;
        s.descriptionIndex = r.int32();
        s.duration = r.int64();
        s.sync = r.flag();
        const int32_t kind = r.int32();
        if (!r.ok()) return false;
        if (kind == kKindStorage) {
            s.data.kind = SampleData::Kind::Storage;
            s.data.storage = ctx.storage;
            s.data.offset = r.int64();
            s.data.size = r.int64();
            if (s.data.offset < int64_t(MovieStorage::kHeaderSize) || s.data.size < 0 ||
                s.data.offset > ctx.dataEnd || s.data.size > ctx.dataEnd - s.data.offset)
                return false;
        } else if (kind == kKindFile) {
            const int32_t p = r.int32();
            s.data.kind = SampleData::Kind::FileStream;
            s.data.stream = r.int32();
            s.data.fileTime = r.int64();
            if (p < 0 || size_t(p) >= ctx.paths.size() || s.data.stream < 0 || s.data.fileTime < 0)
                return false;
            s.data.filePath = ctx.paths[size_t(p)];
            s.data.file = ctx.files[size_t(p)];
        } else {
            return false;
        }
        if (!r.ok() || m->appendSample(s) != noErr) return false;
    }
    ctx.medias.push_back(std::move(m));
    return r.ok();
}

bool MovieFileReader::readTrack(StreamReader& r, Context& ctx, Movie& movie)
{
    const uint32_t id = r.uint32();
    if (!r.ok() || id == 0 || movie.trackByID(id)) return false;
    Track* t = movie.addTrackWithID(id);
    t->setLayer(r.int16());
    t->setEnabled(r.flag());
    t->setVolume(r.int16());
    const Fixed w = r.int32();
    const Fixed h = r.int32();
    t->setDimensions(w, h);
    t->setMatrix(readMatrix(r));
    std::optional<Region> clip;
    if (!readRegion(r, clip)) return false;
    t->setClipRegion(std::move(clip));
    const int32_t own = r.int32();
    if (!r.ok() || own < -1 || own >= int32_t(ctx.medias.size())) return false;
    if (own >= 0) t->m_media = ctx.medias[size_t(own)];
    int32_t n = 0;
    if (!readCount(r, n, 8)) return false;
    for (int32_t k = 0; k < n; ++k) {
        const OSType type = r.uint32();
        int32_t count = 0;
        if (!readCount(r, count, 4) || type == 0) return false;
        std::vector<uint32_t>& ids = t->m_references[type];
        for (int32_t j = 0; j < count; ++j)
            ids.push_back(r.uint32());
    }
    if (!readCount(r, n, 28)) return false;
    TimeValue total = 0;
    for (int32_t k = 0; k < n; ++k) {
        Edit e;
        e.duration = r.int64();
        const int32_t mi = r.int32();
        e.mediaTime = r.int64();
        e.mediaDuration = r.int64();
        if (!r.ok() || e.duration <= 0 || e.duration > (INT64_C(1) << 60) - total) return false;
        total += e.duration;
        if (mi < -1 || mi >= int32_t(ctx.medias.size())) return false;
        if (mi >= 0) {
            e.media = ctx.medias[size_t(mi)];
            if (e.mediaTime < 0 || e.mediaDuration < 0 || e.mediaTime > e.media->duration() ||
                e.mediaDuration > e.media->duration() - e.mediaTime)
                return false;
        }
        t->m_edits.push_back(std::move(e));
    }
    t->changed();
    return r.ok();
}

OSErr MovieFileReader::open(const std::string& path, std::unique_ptr<Movie>& out,
                            const MediaFileResolver& resolver)
{
    std::shared_ptr<MovieStorage> storage(new MovieStorage());
    storage->m_path = path;
    if (storage->m_file.open(path, storage::FileStream::Mode::ReadWrite) == 0) {
        storage->m_writable = true;
    } else if (storage->m_file.open(path, storage::FileStream::Mode::Read) != 0) {
        return fnfErr;
    }
    const int64_t fileSize = storage->m_file.size();
    if (fileSize < int64_t(MovieStorage::kHeaderSize)) return noMovieFound;
    storage->m_end = fileSize;

    StreamReader hr(storage->m_file);
    char magic[8];
    if (!storage->m_file.seek(0) || !hr.bytes(magic, sizeof magic) ||
        std::memcmp(magic, kMagic, sizeof magic) != 0)
        return noMovieFound;
    const uint32_t version = hr.uint32();
    const uint32_t headerSize = hr.uint32();
    const int64_t tableOffset = hr.int64();
    const int64_t tableSize = hr.int64();
    const uint32_t crc = hr.uint32();
    if (!hr.ok() || version != MovieStorage::kFormatVersion ||
        headerSize != MovieStorage::kHeaderSize)
        return noMovieFound;
    if (tableOffset < int64_t(MovieStorage::kHeaderSize) || tableSize <= 0 ||
        tableSize > MovieStorage::kMaxTableSize || tableOffset > fileSize - tableSize)
        return invalidMovie;

    std::vector<uint8_t> tableBytes(static_cast<size_t>(tableSize));
    if (!storage->m_file.seek(tableOffset) || !hr.bytes(tableBytes.data(), tableBytes.size()))
        return invalidMovie;
    if (crc32(tableBytes) != crc) return invalidMovie;

    Context ctx;
    ctx.storage = storage;
    ctx.dataEnd = tableOffset;
    ctx.resolver = &resolver;

    MemoryStream tableStream(std::move(tableBytes));
    StreamReader r(tableStream);
    std::unique_ptr<Movie> movie;
    bool havePaths = false;
    while (r.ok() && tableStream.tell() < tableStream.size()) {
        const uint32_t tag = r.uint32();
        MemoryStream section(r.blob());
        if (!r.ok()) return invalidMovie;
        StreamReader s(section);
        bool good = true;
        if (tag == kTagMovie) {
            if (movie) return invalidMovie;
            const TimeScale scale = s.int32();
            if (scale <= 0 || scale > Media::kMaxTimeScale) return invalidMovie;
            movie = std::make_unique<Movie>(scale);
            movie->setActive(s.flag());
            movie->setPlayHints(s.uint32(), 0xFFFFFFFFu);
            movie->setMatrix(readMatrix(s));
            std::optional<Region> clip;
            good = readRegion(s, clip);
            movie->setClipRegion(std::move(clip));
            good = good && readRegion(s, clip);
            movie->setDisplayClipRegion(std::move(clip));
            movie->setVolume(s.int16());
        } else if (tag == kTagPaths) {
            int32_t n = 0;
            if (havePaths || !readCount(s, n, 2)) return invalidMovie;
            havePaths = true;
            for (int32_t k = 0; k < n && s.ok(); ++k) {
                ctx.paths.push_back(s.string());
                ctx.files.push_back(resolver ? resolver(ctx.paths.back()) : nullptr);
            }
        } else if (tag == kTagMedia) {
            good = readMedia(s, ctx);
        } else if (tag == kTagTrack) {
            good = movie && readTrack(s, ctx, *movie);
        }
        if (!good || !s.ok()) return invalidMovie;
    }
    if (!r.ok() || !movie) return invalidMovie;
    // References must name tracks of this movie (0 = a slot left by a disposed track).
    for (const auto& t : movie->tracks()) {
        for (const auto& [type, ids] : t->references()) {
            for (uint32_t id : ids) {
                if (id != 0 && !movie->trackByID(id)) return invalidMovie;
            }
        }
    }
    movie->setStorage(storage);
    out = std::move(movie);
    return noErr;
}

OSErr openMovieFile(const std::string& path, std::unique_ptr<Movie>& out,
                    const MediaFileResolver& resolver)
{
    // Without a resolver, stored media-file paths are opened as media files, each path once.
    if (!resolver) return MovieFileReader::open(path, out, mediaFileOpener());
    return MovieFileReader::open(path, out, resolver);
}

} // namespace zef::movies
