#include "platform/movies/input_map.h"
#include "platform/movies/movie_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

using namespace zef::movies;
namespace fs = std::filesystem;

namespace {

fs::path tempPath(const char* name)
{
    const char* base = std::getenv("ZEF_TEST_TMP");
    fs::path dir = fs::path(base ? base : fs::temp_directory_path().string()) / "movie_files";
    fs::create_directories(dir);
    return dir / name;
}

std::vector<uint8_t> readAll(const fs::path& p)
{
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

void writeAll(const fs::path& p, const std::vector<uint8_t>& b)
{
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

Handle rawDescription()
{
    ImageDescription d;
    d.cType = fourcc("raw ");
    d.width = 1;
    d.height = 1;
    d.depth = 32;
    return d.toHandle();
}

// Builds a small movie: a black 1x1 frame track, an effect track with an input map and a
// media-file sample, a tween track referenced as a modifier.
void buildMovie(Movie& movie)
{
    Track* black = movie.newTrack(64 << 16, 48 << 16, 0);
    ASSERT_EQ(movie.newTrackMedia(black, VideoMediaType, 600), noErr);
    const uint8_t pixel[] = {255, 0, 0, 0};
    ASSERT_EQ(black->media()->beginEdits(), noErr);
    ASSERT_EQ(black->media()->addSample(pixel, 600, 1, rawDescription()), noErr);
    ASSERT_EQ(black->media()->endEdits(), noErr);
    ASSERT_EQ(black->insertMedia(0, 0, 600), noErr);
    ASSERT_EQ(black->scaleSegment(0, 600, 21600), noErr);
    black->setLayer(998);

    Track* effect = movie.newTrack(64 << 16, 48 << 16, 0);
    ASSERT_EQ(movie.newTrackMedia(effect, VideoMediaType, 600), noErr);
    const Handle fx = makeImageDescriptionForEffect(fourcc("dslv"), 64, 48).toHandle();
    const uint8_t desc[] = {0, 0, 0, 1, 2, 3};
    ASSERT_EQ(effect->media()->addSample(desc, 300, 1, fx), noErr);
    ASSERT_EQ(effect->media()->addFileSample(nullptr, "/clips/a.mov", 0, 1200, 300, Handle()),
              noErr);
    ASSERT_EQ(effect->insertMedia(100, 0, 600), noErr);
    effect->media()->setGraphicsMode(blend, RGBColor{0x8080, 0x4040, 0x2020});
    const uint8_t drpo[] = {0, 3, 0, 3};
    effect->media()->setTextProperty(fourcc("drpo"), drpo);
    ASSERT_EQ(addTrackInput(*effect, *black, kTrackModifierTypeImage, kSourceA), noErr);

    Track* tween = movie.newTrack(0, 0, 0);
    ASSERT_EQ(movie.newTrackMedia(tween, TweenMediaType, 600), noErr);
    tween->setEnabled(false);
    tween->setClipRegion(Region(Rect{0, 0, 10, 10}).united(Region(Rect{5, 5, 20, 20})));
    ASSERT_EQ(addTrackInput(*effect, *tween, kTrackModifierTypeMatrix), noErr);
    movie.setClipRegion(Region(Rect{1, 2, 60, 40}));
    movie.setDisplayClipRegion(Region(Rect{0, 0, 30, 20}));
    movie.setVolume(128);
    movie.setPlayHints(0x40100, 0x0FFFFFFF);
}

void expectSameStructure(const Movie& a, const Movie& b)
{
    EXPECT_EQ(a.timeScale(), b.timeScale());
    EXPECT_EQ(a.duration(), b.duration());
    EXPECT_EQ(a.playHints(), b.playHints());
    EXPECT_EQ(a.clipRegion(), b.clipRegion());
    EXPECT_EQ(a.displayClipRegion(), b.displayClipRegion());
    EXPECT_EQ(a.volume(), b.volume());
    ASSERT_EQ(a.trackCount(), b.trackCount());
    for (size_t k = 1; k <= a.trackCount(); ++k) {
        const Track& x = *a.indTrack(k);
        const Track& y = *b.indTrack(k);
        EXPECT_EQ(x.id(), y.id());
        EXPECT_EQ(x.layer(), y.layer());
        EXPECT_EQ(x.enabled(), y.enabled());
        EXPECT_EQ(x.width(), y.width());
        EXPECT_EQ(x.clipRegion(), y.clipRegion());
        EXPECT_EQ(x.references(), y.references());
        ASSERT_EQ(x.edits().size(), y.edits().size());
        for (size_t e = 0; e < x.edits().size(); ++e) {
            EXPECT_EQ(x.edits()[e].duration, y.edits()[e].duration);
            EXPECT_EQ(x.edits()[e].mediaTime, y.edits()[e].mediaTime);
            EXPECT_EQ(x.edits()[e].mediaDuration, y.edits()[e].mediaDuration);
            EXPECT_EQ(x.edits()[e].isEmpty(), y.edits()[e].isEmpty());
        }
        ASSERT_EQ(bool(x.media()), bool(y.media()));
        if (!x.media()) continue;
        const Media& m = *x.media();
        const Media& n = *y.media();
        EXPECT_EQ(m.type(), n.type());
        EXPECT_EQ(m.graphicsMode(), n.graphicsMode());
        EXPECT_EQ(m.opColor(), n.opColor());
        EXPECT_EQ(m.inputMap(), n.inputMap());
        EXPECT_EQ(m.textProperties(), n.textProperties());
        ASSERT_EQ(m.sampleCount(), n.sampleCount());
        ASSERT_EQ(m.sampleDescriptionCount(), n.sampleDescriptionCount());
        for (int32_t d = 1; d <= m.sampleDescriptionCount(); ++d)
            EXPECT_EQ(m.sampleDescription(d), n.sampleDescription(d));
        for (int64_t s = 0; s < m.sampleCount(); ++s) {
            EXPECT_EQ(m.sample(s)->duration, n.sample(s)->duration);
            EXPECT_EQ(m.sample(s)->sync, n.sample(s)->sync);
            EXPECT_EQ(m.sample(s)->data.filePath, n.sample(s)->data.filePath);
            std::vector<uint8_t> p, q;
            const OSErr e1 = m.getSampleData(s, p);
            EXPECT_EQ(e1, n.getSampleData(s, q));
            EXPECT_EQ(p, q);
        }
    }
}

} // namespace

TEST(MovieFile, BuildIntoFileSaveAndReopen)
{
    const fs::path path = tempPath("render.zmov");
    std::unique_ptr<Movie> movie;
    ASSERT_EQ(createMovieFile(path.string(), 600, movie), noErr);
    buildMovie(*movie);
    EXPECT_EQ(movie->storage()->end(), int64_t(MovieStorage::kHeaderSize + 4 + 6))
        << "sample data goes to the file as it is added";
    ASSERT_EQ(updateMovieFile(*movie), noErr);

    std::vector<std::string> asked;
    std::unique_ptr<Movie> back;
    ASSERT_EQ(openMovieFile(path.string(), back,
                            [&](const std::string& p) {
                                asked.push_back(p);
                                return std::shared_ptr<MediaFile>();
                            }),
              noErr);
    EXPECT_EQ(asked, std::vector<std::string>{"/clips/a.mov"});
    expectSameStructure(*movie, *back);
    const Sample* fileSample = back->indTrack(2)->media()->sample(1);
    EXPECT_EQ(fileSample->data.kind, SampleData::Kind::FileStream);
    EXPECT_EQ(fileSample->data.fileTime, 1200);
    std::vector<InputMapEntry> entries;
    ASSERT_EQ(readInputMap(back->indTrack(2)->media()->inputMap(), entries), noErr);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(inputTrack(*back->indTrack(2), entries[0]), back->indTrack(1));

    // Samples added to the reopened movie go to the same file; saving again keeps both.
    const uint8_t more[] = {9, 9};
    ASSERT_EQ(back->indTrack(1)->media()->addSample(more, 600, 1, Handle()), noErr);
    ASSERT_EQ(back->indTrack(1)->insertMedia(back->indTrack(1)->duration(), 600, 600), noErr);
    ASSERT_EQ(updateMovieFile(*back), noErr);
    std::unique_ptr<Movie> third;
    ASSERT_EQ(openMovieFile(path.string(), third), noErr);
    expectSameStructure(*back, *third);
}

TEST(MovieFile, ConcurrentEvaluationReadsTheRightSamples)
{
    std::unique_ptr<Movie> movie;
    ASSERT_EQ(createMovieFile(tempPath("threads.zmov").string(), 600, movie), noErr);
    Track* t = movie->newTrack(0, 0, 0);
    ASSERT_EQ(movie->newTrackMedia(t, VideoMediaType, 600), noErr);
    for (int k = 0; k < 200; ++k) {
        const std::vector<uint8_t> frame(64, uint8_t(k));
        ASSERT_EQ(t->media()->addSample(frame, 20, 1, rawDescription()), noErr);
    }
    ASSERT_EQ(t->insertMedia(0, 0, 4000), noErr);
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int n = 0; n < 4; ++n) {
        threads.emplace_back([&, n] {
            for (int k = 0; k < 2000; ++k) {
                const TimeValue time = (k * 37 + n * 11) % 4000;
                TrackPosition p;
                std::vector<uint8_t> data;
                if (!t->lookup(time, p) || p.media->getSampleData(p.sampleIndex, data) != noErr ||
                    data != std::vector<uint8_t>(64, uint8_t(time / 20)))
                    ++wrong[size_t(n)];
            }
        });
    }
    for (auto& th : threads)
        th.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
}

TEST(MovieFile, MemoryMovieSavedSelfContained)
{
    Movie movie(600);
    buildMovie(movie);
    // A segment that refers to the media of another (file) movie is copied in as well.
    const fs::path otherPath = tempPath("other.zmov");
    std::unique_ptr<Movie> other;
    ASSERT_EQ(createMovieFile(otherPath.string(), 600, other), noErr);
    Track* o = other->newTrack(0, 0, 256);
    ASSERT_EQ(other->newTrackMedia(o, SoundMediaType, 600), noErr);
    const uint8_t pcm[] = {1, 2, 3, 4, 5, 6, 7, 8};
    ASSERT_EQ(o->media()->addSample(pcm, 10, 4, SoundDescription{}.toHandle()), noErr);
    ASSERT_EQ(o->insertMedia(0, 0, 40), noErr);
    Track* sound = movie.newTrack(0, 0, 256);
    ASSERT_EQ(sound->insertSegmentFrom(*o, 10, 20, 0), noErr);

    const fs::path path = tempPath("saved.zmov");
    ASSERT_EQ(saveMovieToFile(movie, path.string()), noErr);
    other.reset();
    fs::remove(otherPath);
    std::unique_ptr<Movie> back;
    ASSERT_EQ(openMovieFile(path.string(), back), noErr);
    expectSameStructure(movie, *back);
    TrackPosition p;
    ASSERT_TRUE(back->indTrack(4)->lookup(10, p));
    std::vector<uint8_t> data;
    ASSERT_EQ(p.media->getSampleData(p.sampleIndex, data), noErr);
    EXPECT_EQ(data, (std::vector<uint8_t>{5, 6}));

    // Clip regions beyond what files store are refused rather than written.
    Region comb;
    for (int k = 0; k < 300; ++k)
        comb = comb.united(Region(Rect{2 * k, 0, 2 * k + 1, 1}));
    ASSERT_EQ(comb.rects().size(), 300u);
    sound->setClipRegion(comb);
    EXPECT_EQ(saveMovieToFile(movie, tempPath("comb.zmov").string()), paramErr);
}

TEST(MovieFile, CorruptFilesAreRefused)
{
    const fs::path path = tempPath("good.zmov");
    {
        Movie movie(600);
        buildMovie(movie);
        ASSERT_EQ(saveMovieToFile(movie, path.string()), noErr);
    }
    const std::vector<uint8_t> good = readAll(path);
    const fs::path bad = tempPath("bad.zmov");
    std::unique_ptr<Movie> out;
    auto refuse = [&](std::vector<uint8_t> bytes) {
        writeAll(bad, bytes);
        const OSErr err = openMovieFile(bad.string(), out);
        EXPECT_FALSE(out) << "nothing is handed out";
        return err;
    };

    EXPECT_EQ(openMovieFile(tempPath("missing.zmov").string(), out), fnfErr);
    EXPECT_EQ(refuse({}), noMovieFound);
    std::vector<uint8_t> b = good;
    b[0] = 'X';
    EXPECT_EQ(refuse(b), noMovieFound) << "another magic";
    b = good;
    b[8] = 2;
    EXPECT_EQ(refuse(b), noMovieFound) << "a format version we do not know";
    b = good;
    b[20] = 0x7F; // table offset far past the end
    EXPECT_EQ(refuse(b), invalidMovie);
    b = good;
    b.resize(b.size() - 1);
    EXPECT_EQ(refuse(b), invalidMovie) << "truncated table";
    b = good;
    b[b.size() - 5] ^= 0x40;
    EXPECT_EQ(refuse(b), invalidMovie) << "table bytes that fail the CRC";

    // A table with a correct CRC but an edit naming a media that does not exist.
    std::unique_ptr<Movie> unsaved;
    ASSERT_EQ(createMovieFile(bad.string(), 600, unsaved), noErr);
    EXPECT_EQ(openMovieFile(bad.string(), out), invalidMovie) << "never saved: no table";
    unsaved.reset();
    {
        zef::storage::MemoryStream table;
        zef::storage::StreamWriter w(table);
        zef::storage::MemoryStream mv;
        zef::storage::StreamWriter m(mv);
        m.int32(600);
        m.flag(true);
        m.uint32(0);
        for (int k = 0; k < 9; ++k)
            m.int32(0);
        m.flag(false); // no clip region
        m.flag(false); // no display clip region
        m.int16(256);  // volume
        w.uint32(fourcc("MVHD"));
        w.blob(mv.bytes());
        zef::storage::MemoryStream tr;
        zef::storage::StreamWriter t(tr);
        t.uint32(1);
        t.int16(0);
        t.flag(true);
        t.int16(0);
        t.int32(0);
        t.int32(0);
        for (int k = 0; k < 9; ++k)
            t.int32(0);
        t.flag(false);
        t.int32(-1); // no own media
        t.int32(0);  // no references
        t.int32(1);  // one edit
        t.int64(600);
        t.int32(5); // media 5: there is none
        t.int64(0);
        t.int64(600);
        w.uint32(fourcc("TRAK"));
        w.blob(tr.bytes());
        std::vector<uint8_t> file(MovieStorage::kHeaderSize, 0);
        zef::storage::MemoryStream header;
        zef::storage::StreamWriter h(header);
        h.bytes("ZEFMOVIE", 8);
        h.uint32(1);
        h.uint32(40);
        h.int64(40);
        h.int64(int64_t(table.bytes().size()));
        h.uint32(crc32(table.bytes()));
        h.uint32(0);
        std::copy(header.bytes().begin(), header.bytes().end(), file.begin());
        file.insert(file.end(), table.bytes().begin(), table.bytes().end());
        EXPECT_EQ(refuse(file), invalidMovie);

        // The same file with media index -1 is accepted: the forged layout itself is right.
        const size_t mediaIndexAt = file.size() - 8 - 8 - 4;
        file[mediaIndexAt] = 0xFF;
        file[mediaIndexAt + 1] = 0xFF;
        file[mediaIndexAt + 2] = 0xFF;
        file[mediaIndexAt + 3] = 0xFF;
        zef::storage::MemoryStream fixed;
        zef::storage::StreamWriter fw(fixed);
        fw.uint32(crc32(std::span(file).subspan(40)));
        std::copy(fixed.bytes().begin(), fixed.bytes().end(), file.begin() + 32);
        writeAll(bad, file);
        ASSERT_EQ(openMovieFile(bad.string(), out), noErr);
        EXPECT_EQ(out->duration(), 600);
    }

    // Random damage anywhere in the file never crashes: it opens or is refused.
    for (size_t at = 0; at < good.size(); at += 5) {
        b = good;
        b[at] ^= 0x5A;
        writeAll(bad, b);
        std::unique_ptr<Movie> any;
        const OSErr err = openMovieFile(bad.string(), any);
        EXPECT_TRUE(err == noErr || err == invalidMovie || err == noMovieFound) << at;
    }
}
