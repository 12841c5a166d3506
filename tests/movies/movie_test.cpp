#include "platform/movies/input_map.h"
#include "platform/movies/movie.h"

#include <gtest/gtest.h>

using namespace zef::movies;

namespace {

// A video track whose media holds count samples of duration each; sample k's data is {k}.
Track* makeVideoTrack(Movie& movie, TimeScale mediaScale, int count, TimeValue duration)
{
    Track* t = movie.newTrack(320 << 16, 240 << 16, 0);
    EXPECT_EQ(movie.newTrackMedia(t, VideoMediaType, mediaScale), noErr);
    ImageDescription d;
    d.cType = fourcc("raw ");
    d.width = 320;
    d.height = 240;
    const Handle desc = d.toHandle();
    EXPECT_EQ(t->media()->beginEdits(), noErr);
    for (int k = 0; k < count; ++k) {
        const uint8_t byte = uint8_t(k);
        EXPECT_EQ(t->media()->addSample({&byte, 1}, duration, 1, desc, k == 0), noErr);
    }
    EXPECT_EQ(t->media()->endEdits(), noErr);
    return t;
}

// The media time and sample at movie time t, or (-1, -1) when the track has nothing there.
std::pair<TimeValue, int64_t> at(const Track& track, TimeValue t)
{
    TrackPosition p;
    if (!track.lookup(t, p) || !p.media) return {-1, -1};
    return {p.mediaTime, p.sampleIndex};
}

} // namespace

TEST(MediaSamples, AddLookupAndDescriptions)
{
    Media m(SoundMediaType, 44100);
    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(m.addSample(bytes, 10, 1, Handle()), invalidSampleDescription);
    const Handle d1(bytes, 4), d2(bytes, 5);
    TimeValue first = -1;
    ASSERT_EQ(m.addSample(bytes, 10, 4, d1, true, &first), noErr); // 4 samples of 2 bytes
    EXPECT_EQ(first, 0);
    ASSERT_EQ(m.addSample({bytes, 2}, 5, 1, Handle(bytes, 4), false, &first), noErr);
    EXPECT_EQ(first, 40);
    EXPECT_EQ(m.sampleDescriptionCount(), 1) << "an equal description is reused";
    ASSERT_EQ(m.addSample({bytes, 2}, 5, 1, d2, false), noErr);
    EXPECT_EQ(m.sampleDescriptionCount(), 2);
    ASSERT_EQ(m.addSample({bytes, 2}, 5, 1, Handle(), false), noErr);
    EXPECT_EQ(m.sample(6)->descriptionIndex, 2) << "no description: the last one";

    EXPECT_EQ(m.addSample(bytes, 10, 3, d1, true), paramErr) << "8 bytes do not split in 3";
    EXPECT_EQ(m.addSample(bytes, 0, 1, d1, true), invalidDuration);
    EXPECT_EQ(m.addSample(bytes, 10, 0, d1, true), paramErr);
    EXPECT_EQ(m.duration(), 55);
    EXPECT_EQ(m.sampleCount(), 7);

    std::vector<uint8_t> data;
    ASSERT_EQ(m.getSampleData(2, data), noErr);
    EXPECT_EQ(data, (std::vector<uint8_t>{5, 6}));
    EXPECT_EQ(m.getSampleData(7, data), invalidSampleNum);

    // Boundaries: a sample owns [start, start + duration).
    EXPECT_EQ(m.sampleIndexAtTime(0), 0);
    EXPECT_EQ(m.sampleIndexAtTime(9), 0);
    EXPECT_EQ(m.sampleIndexAtTime(10), 1);
    EXPECT_EQ(m.sampleIndexAtTime(39), 3);
    EXPECT_EQ(m.sampleIndexAtTime(40), 4);
    EXPECT_EQ(m.sampleIndexAtTime(54), 6);
    EXPECT_EQ(m.sampleIndexAtTime(55), -1);
    EXPECT_EQ(m.sampleIndexAtTime(-1), -1);
    EXPECT_FALSE(m.sample(4)->sync);

    // Shared-block references and media-file samples.
    auto block = std::make_shared<std::vector<uint8_t>>(std::vector<uint8_t>{9, 8, 7, 6});
    EXPECT_EQ(m.addSampleReference(block, 2, 4, 5, 1, Handle()), paramErr) << "past the block";
    ASSERT_EQ(m.addSampleReference(block, 2, 2, 5, 2, Handle()), noErr);
    ASSERT_EQ(m.getSampleData(8, data), noErr);
    EXPECT_EQ(data, (std::vector<uint8_t>{6}));
    ASSERT_EQ(m.addFileSample(nullptr, "/clips/a.mov", 1, 300, 20, Handle()), noErr);
    EXPECT_EQ(m.getSampleData(9, data), featureUnsupported) << "decoded by time, not read";
    EXPECT_EQ(m.sample(9)->data.fileTime, 300);
}

TEST(EditList, MappingScalingAndOffsets)
{
    Movie movie(600);
    Track* t = makeVideoTrack(movie, 600, 10, 60); // 10 frames of 0.1 s
    ASSERT_TRUE(t->media()->imageDescription(1));
    EXPECT_EQ(t->media()->imageDescription(1)->width, 320);
    EXPECT_FALSE(t->media()->imageDescription(2));
    EXPECT_EQ(t->insertMedia(0, 0, 601), timeNotInMedia);
    ASSERT_EQ(t->insertMedia(0, 0, 600), noErr);
    EXPECT_EQ(t->duration(), 600);
    EXPECT_EQ(at(*t, 0), (std::pair<TimeValue, int64_t>{0, 0}));
    EXPECT_EQ(at(*t, 59).second, 0);
    EXPECT_EQ(at(*t, 60).second, 1);
    TrackPosition q;
    ASSERT_TRUE(t->lookup(30, q));
    EXPECT_EQ(q.nextTime, 60) << "the next frame starts at 60";
    EXPECT_EQ(at(*t, 599).second, 9);
    TrackPosition p;
    EXPECT_FALSE(t->lookup(600, p));
    EXPECT_FALSE(t->lookup(-1, p));

    // Stretching to twice the length halves the rate; frames last twice as long.
    ASSERT_EQ(t->scaleSegment(0, 600, 1200), noErr);
    EXPECT_EQ(t->duration(), 1200);
    ASSERT_TRUE(t->lookup(120, p));
    EXPECT_EQ(p.mediaTime, 60);
    EXPECT_EQ(p.sampleIndex, 1);
    EXPECT_EQ(p.rate, kFixed1 / 2);
    EXPECT_EQ(p.nextTime, 240) << "frames last twice as long";
    EXPECT_EQ(at(*t, 119).second, 0);
    EXPECT_EQ(at(*t, 1199).second, 9);

    // Scaling only the middle part moves what follows.
    ASSERT_EQ(t->scaleSegment(600, 300, 100), noErr); // media 300..450 now plays in 100 ticks
    EXPECT_EQ(t->duration(), 1000);
    EXPECT_EQ(at(*t, 599).first, 299);
    EXPECT_EQ(at(*t, 600).first, 300);
    EXPECT_EQ(at(*t, 650).first, 375);
    EXPECT_EQ(at(*t, 700).first, 450);
    ASSERT_TRUE(t->lookup(600, q));
    EXPECT_EQ(q.nextTime, 640) << "media 300..360 is one frame, played at 1.5x";
    EXPECT_EQ(t->scaleSegment(900, 200, 10), timeNotInTrack);

    // Offset: a leading empty segment.
    ASSERT_EQ(t->setOffset(250), noErr);
    EXPECT_EQ(t->offset(), 250);
    EXPECT_EQ(t->duration(), 1250);
    EXPECT_EQ(at(*t, 249).first, -1);
    ASSERT_TRUE(t->lookup(10, q));
    EXPECT_EQ(q.media, nullptr);
    EXPECT_EQ(q.nextTime, 250) << "inside the offset: the next change is its end";
    EXPECT_EQ(at(*t, 250).first, 0);
    ASSERT_EQ(t->setOffset(0), noErr);
    EXPECT_EQ(t->offset(), 0);
    EXPECT_EQ(t->duration(), 1000);

    // Rates other than 1 at insertion, and media in another time scale.
    Track* v = makeVideoTrack(movie, 30, 30, 1); // 30 frames at 30 per second
    ASSERT_EQ(v->insertMedia(0, 0, 30, 2 * kFixed1), noErr);
    EXPECT_EQ(v->duration(), 300) << "one second of media at double speed";
    EXPECT_EQ(at(*v, 20).second, 2);
    EXPECT_EQ(at(*v, 299).second, 29);
}

TEST(EditList, InsertInMiddleBeyondEndAndEmpty)
{
    Movie movie(600);
    Track* t = makeVideoTrack(movie, 600, 10, 60);
    ASSERT_EQ(t->insertMedia(0, 0, 600), noErr);
    ASSERT_EQ(t->insertMedia(300, 0, 120), noErr); // frames 0 and 1 again in the middle
    EXPECT_EQ(t->duration(), 720);
    EXPECT_EQ(at(*t, 299).first, 299);
    EXPECT_EQ(at(*t, 300).first, 0);
    EXPECT_EQ(at(*t, 419).first, 119);
    EXPECT_EQ(at(*t, 420).first, 300) << "the rest moved later";
    EXPECT_EQ(t->edits().size(), 3u);

    ASSERT_EQ(t->insertMedia(1000, 540, 60), noErr); // past the end: a gap first
    EXPECT_EQ(t->duration(), 1060);
    EXPECT_EQ(at(*t, 900).first, -1);
    EXPECT_EQ(at(*t, 1000).second, 9);

    ASSERT_EQ(t->insertEmptySegment(0, 50), noErr);
    EXPECT_EQ(t->offset(), 50);
    EXPECT_EQ(at(*t, 350).first, 0);

    Track* bare = movie.newTrack(0, 0, 256);
    EXPECT_EQ(bare->insertMedia(0, 0, 10), invalidMedia);
    EXPECT_EQ(t->insertMedia(-5, 0, 10), invalidTime);
    EXPECT_EQ(t->insertMedia(0, 0, 0), invalidDuration);
}

TEST(EditList, SegmentsFromAnotherMovieKeepItsMedia)
{
    Movie dest(600);
    Track* dt = dest.newTrack(320 << 16, 240 << 16, 0);
    {
        Movie source(1000); // another time scale
        Track* st = makeVideoTrack(source, 1000, 10, 100);
        ASSERT_EQ(st->insertMedia(0, 0, 1000), noErr);
        ASSERT_EQ(st->setOffset(500), noErr); // the source track starts late
        // In-point 700 for 500 ticks of source time, placed at 300.
        ASSERT_EQ(dt->insertSegmentFrom(*st, 700, 500, 300), noErr);
        EXPECT_EQ(dt->duration(), 300 + 300);
        // Past the source's end: the remainder is empty.
        ASSERT_EQ(dt->insertSegmentFrom(*st, 1400, 400, 600), noErr);
    } // the source movie is gone; the segments keep its media alive
    TrackPosition p;
    ASSERT_TRUE(dt->lookup(300, p));
    ASSERT_NE(p.media, nullptr);
    EXPECT_EQ(p.media->timeScale(), 1000);
    EXPECT_EQ(p.mediaTime, 200);
    EXPECT_EQ(p.sampleIndex, 2);
    EXPECT_EQ(at(*dt, 599).first, 698);
    EXPECT_EQ(at(*dt, 600).first, 900);
    EXPECT_EQ(at(*dt, 659).first, 998);
    EXPECT_EQ(at(*dt, 660).first, -1) << "beyond the source's end";
    EXPECT_EQ(dt->duration(), 840);
    std::vector<uint8_t> data;
    ASSERT_EQ(p.media->getSampleData(p.sampleIndex, data), noErr);
    EXPECT_EQ(data, std::vector<uint8_t>{2});

    // Copying a segment of the same track (a still repeated frame by frame).
    Movie still(600);
    Track* s = makeVideoTrack(still, 600, 1, 20);
    ASSERT_EQ(s->insertMedia(0, 0, 20), noErr);
    for (int k = 1; k < 4; ++k) {
        ASSERT_EQ(s->insertSegmentFrom(*s, 0, 20, 20 * k), noErr);
    }
    ASSERT_EQ(s->scaleSegment(0, 80, 600), noErr);
    EXPECT_EQ(s->duration(), 600);
    EXPECT_EQ(at(*s, 599).second, 0);
}

TEST(MovieEditing, CutRangeFromAllTracksAndTrim)
{
    Movie movie(600);
    Track* a = makeVideoTrack(movie, 600, 10, 100);
    ASSERT_EQ(a->insertMedia(0, 0, 1000), noErr);
    Track* b = makeVideoTrack(movie, 600, 10, 100);
    ASSERT_EQ(b->insertMedia(250, 0, 400), noErr); // b plays 250..650
    EXPECT_EQ(movie.duration(), 1000);

    ASSERT_EQ(movie.deleteSegment(100, 200), noErr);
    EXPECT_EQ(movie.duration(), 800);
    EXPECT_EQ(at(*a, 100).first, 300);
    EXPECT_EQ(b->offset(), 100) << "its start moved to the cut";
    EXPECT_EQ(at(*b, 100).first, 50);
    EXPECT_EQ(b->duration(), 450);

    // The render trim: cut the head, then everything after the wanted length.
    ASSERT_EQ(movie.deleteSegment(0, 150), noErr);
    const TimeValue wanted = 400;
    ASSERT_EQ(movie.deleteSegment(wanted, movie.duration() - wanted), noErr);
    EXPECT_EQ(movie.duration(), wanted);
    EXPECT_EQ(at(*a, 0).first, 350);
    EXPECT_EQ(at(*b, 0).first, 100);
    EXPECT_EQ(movie.deleteSegment(5000, 10), noErr) << "past the end: nothing to cut";
    EXPECT_EQ(movie.deleteSegment(0, 0), invalidDuration);

    // Changing the movie's time scale keeps every mapping.
    ASSERT_EQ(movie.setTimeScale(1000), noErr);
    EXPECT_EQ(movie.duration(), 667);
    EXPECT_EQ(at(*a, 0).first, 350);
    EXPECT_NEAR(double(at(*a, 500).first), 650.0, 1.0) << "rounded once, at the boundary";
}

TEST(MovieStructure, ReferencesInputMapsAndDisposal)
{
    Movie movie(600);
    Track* srcA = makeVideoTrack(movie, 600, 1, 600);
    Track* srcB = makeVideoTrack(movie, 600, 1, 600);
    Track* effect = makeVideoTrack(movie, 600, 1, 600);
    Track* tween = movie.newTrack(0, 0, 0);
    ASSERT_EQ(movie.newTrackMedia(tween, TweenMediaType, 600), noErr);

    int32_t ia = 0, ib = 0, im = 0;
    ASSERT_EQ(addTrackInput(*effect, *srcA, kTrackModifierTypeImage, kSourceA, &ia), noErr);
    ASSERT_EQ(addTrackInput(*effect, *srcB, kTrackModifierTypeImage, kSourceB, &ib), noErr);
    ASSERT_EQ(addTrackInput(*effect, *tween, kTrackModifierTypeMatrix, 0, &im), noErr);
    EXPECT_EQ(ia, 1);
    EXPECT_EQ(ib, 2);
    EXPECT_EQ(im, 3);
    EXPECT_EQ(effect->referenceCount(kTrackReferenceModifier), 3);
    int32_t again = 0;
    ASSERT_EQ(effect->addReference(*srcA, kTrackReferenceModifier, &again), noErr);
    EXPECT_EQ(again, 1) << "an existing reference keeps its index";

    std::vector<InputMapEntry> entries;
    ASSERT_EQ(readInputMap(effect->media()->inputMap(), entries), noErr);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0], (InputMapEntry{1, kTrackModifierTypeImage, kSourceA}));
    EXPECT_EQ(entries[1], (InputMapEntry{2, kTrackModifierTypeImage, kSourceB}));
    EXPECT_EQ(entries[2], (InputMapEntry{3, kTrackModifierTypeMatrix, 0}));
    EXPECT_EQ(inputTrack(*effect, entries[1]), srcB);
    EXPECT_EQ(inputTrack(*effect, entries[2]), tween);

    // Finding tracks by characteristic: the tween track is neither visual nor audible.
    Track* sound = movie.newTrack(0, 0, 256);
    ASSERT_EQ(movie.newTrackMedia(sound, SoundMediaType, 44100), noErr);
    EXPECT_EQ(movie.countTracksWithCharacteristic(VisualMediaCharacteristic, true), 3u);
    EXPECT_EQ(movie.indTrackWithCharacteristic(1, AudioMediaCharacteristic, true), sound);
    srcB->setEnabled(false);
    EXPECT_EQ(movie.indTrackWithCharacteristic(2, VisualMediaCharacteristic, true), effect);
    EXPECT_EQ(movie.indTrackWithCharacteristic(2, VisualMediaCharacteristic, false), srcB);
    EXPECT_EQ(movie.indTrackWithCharacteristic(3, VisualMediaCharacteristic, true), nullptr);
    srcB->setEnabled(true);
    ASSERT_EQ(movie.disposeTrack(sound), noErr);

    Movie other(600);
    Track* foreign = other.newTrack(0, 0, 0);
    EXPECT_EQ(effect->addReference(*foreign, kTrackReferenceModifier, nullptr), invalidTrack);
    EXPECT_EQ(addTrackInput(*tween, *tween, kTrackModifierTypeClip), paramErr);
    Track* noMedia = movie.newTrack(0, 0, 0);
    EXPECT_EQ(addTrackInput(*noMedia, *srcA, kTrackModifierTypeVolume), invalidMedia);

    // Disposing a source leaves its slot empty; the other indexes stay.
    ASSERT_EQ(movie.disposeTrack(srcA), noErr);
    EXPECT_EQ(inputTrack(*effect, entries[0]), nullptr);
    EXPECT_EQ(inputTrack(*effect, entries[1]), srcB);
    EXPECT_EQ(movie.disposeTrack(srcA), invalidTrack);
    EXPECT_EQ(movie.trackCount(), 4u);
    EXPECT_EQ(movie.indTrack(1), srcB);
    EXPECT_EQ(movie.trackByID(srcB->id()), srcB);

    // A malformed input map is reported, not misread.
    AtomContainer bad;
    ASSERT_EQ(bad.insertChild(0, kTrackModifierInput, 1, 0), noErr);
    EXPECT_EQ(readInputMap(bad, entries), invalidAtomErr);
}

TEST(MovieStructure, BoxClipHintsErrorsAndProgress)
{
    Movie movie(600);
    Track* t = makeVideoTrack(movie, 600, 1, 600);
    makeVideoTrack(movie, 600, 1, 600)->setEnabled(false);
    Track* back = makeVideoTrack(movie, 600, 1, 600);
    Track* front = makeVideoTrack(movie, 600, 1, 600);
    back->setLayer(998);
    front->setLayer(-20);
    EXPECT_EQ(movie.enabledTracksByLayer(), (std::vector<Track*>{front, t, back}));
    back->setEnabled(false);
    front->setEnabled(false);
    EXPECT_EQ(movie.box(), (Rect{0, 0, 320, 240}));
    t->setMatrix(MatrixRecord::translation(10 << 16, 0));
    EXPECT_EQ(movie.naturalBounds(), (Rect{10, 0, 330, 240}));
    t->setMatrix(MatrixRecord::identity());

    // The render's crop: clip region, then a box of the clipped size at the origin.
    movie.setClipRegion(Region(Rect{10, 20, 110, 220}));
    EXPECT_EQ(movie.box(), (Rect{10, 20, 110, 220}));
    movie.setBox(Rect{0, 0, 100, 200});
    EXPECT_EQ(movie.box(), (Rect{0, 0, 100, 200}));
    EXPECT_TRUE(movie.matrix().isScaleTranslate());
    EXPECT_EQ(movie.matrix().m[0][0], kFixed1) << "no scaling, only a move";
    EXPECT_EQ(movie.matrix().m[2][0], -10 << 16);

    movie.setPlayHints(0x40100, 0x0FFFFFFF);
    EXPECT_EQ(movie.playHints(), hintsHighQuality | hintsPlayingEveryFrame);
    movie.setPlayHints(0, hintsHighQuality);
    EXPECT_EQ(movie.playHints(), hintsPlayingEveryFrame);

    std::vector<OSErr> errors;
    movie.setErrorProc([&](OSErr e) { errors.push_back(e); });
    Track* bare = movie.newTrack(0, 0, 0);
    EXPECT_EQ(bare->insertMedia(0, 0, 10), invalidMedia);
    EXPECT_EQ(movie.lastError(), invalidMedia);
    EXPECT_EQ(movie.newTrackMedia(nullptr, VideoMediaType, 600), invalidTrack);
    EXPECT_EQ(errors, (std::vector<OSErr>{invalidMedia, invalidTrack}));

    EXPECT_EQ(movie.callProgress(movieProgressOpen, 0), noErr);
    int calls = 0;
    movie.setProgressProc([&](Movie&, int16_t message, Fixed fraction) -> OSErr {
        ++calls;
        return message == movieProgressUpdatePercent && fraction >= kFixed1 / 2
                   ? progressProcAborted
                   : noErr;
    });
    EXPECT_EQ(movie.callProgress(movieProgressUpdatePercent, kFixed1 / 4), noErr);
    EXPECT_EQ(movie.callProgress(movieProgressUpdatePercent, kFixed1 / 2), progressProcAborted);
    EXPECT_EQ(calls, 2);

    const ImageDescription fx = makeImageDescriptionForEffect(fourcc("dslv"), 720, 576);
    EXPECT_EQ(fx.cType, fourcc("dslv"));
    EXPECT_EQ(fx.width, 720);
    EXPECT_EQ(fx.depth, 32);
    EXPECT_EQ(ImageDescription::fromHandle(fx.toHandle()), fx);
}
