// Layer motion in built movies: where the keyframes place a layer's picture, through filters
// and transitions, and how keyframe edits reach the preview.
#include "engine/effect_catalogue.h"
#include "engine/movie_builder.h"
#include "model/project.h"
#include "model/source_item.h"
#include "platform/movies/compositor/compositor.h"
#include "project_items.h"
#include "tests/movies/test_media.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace zef;
using namespace zef::movies;
namespace media = zef::movies::testing::media;

namespace {

constexpr int32_t kWidth = 320, kHeight = 240;

// A half-size keyframe matrix at (x, y) in thousandths of the frame.
MatrixRecord half(int32_t x, int32_t y)
{
    MatrixRecord m = MatrixRecord::scaling(kFixed1 / 2, kFixed1 / 2);
    m.m[2][0] = x << 16;
    m.m[2][1] = y << 16;
    return m;
}

// The green still is (0, 128, 0), the blue one (0, 0, 255).
bool isGreen(uint32_t p) { return ((p >> 8) & 0xFF) > 64 && (p & 0xFF) < 64; }
bool isDark(uint32_t p) { return ((p >> 16) & 0xFF) + ((p >> 8) & 0xFF) + (p & 0xFF) < 60; }

std::string text(const Rect& r)
{
    std::ostringstream s;
    s << "(" << r.left << ", " << r.top << ", " << r.right << ", " << r.bottom << ")";
    return s.str();
}

// Layer A shows a blue still over the whole frame; layer B a green still placed by its
// keyframes.
struct MotionFixture : ::testing::Test {
    EffectRegistry registry = EffectRegistry::withBuiltIns();
    FEffectCatalogue catalogue{registry};
    FProject project;
    int64_t now = 0;
    FMovieBuilder builder{project, registry, nullptr, [this] { return now; }};

    void SetUp() override
    {
        ASSERT_EQ(catalogue.buildCatalogue(), noErr);
        project.setEffectCatalogue(&catalogue);
        project.setEngine(&builder);
        test::addClip(project, media::jpegStill(), kLayerA, 0, 2400);
    }
    ZEFSourceItem* green(int64_t start, int64_t end)
    {
        return test::addClip(project, media::still("bmp"), kLayerB, start, end);
    }
    void addFilter(ZEFItem* item)
    {
        auto f = std::make_unique<ZEFEffectItem>(&project, item->track(), item);
        f->setName("Brightness and Contrast");
        item->addFilter(std::move(f));
    }
    Pixmap picture(const Movie& movie, TimeValue t)
    {
        EvaluationContext ec;
        Pixmap out;
        EXPECT_EQ(evaluate(ec, movie, t, out), noErr);
        return out;
    }
    // Where matrixAt puts layer B's picture at t, in pixels.
    Rect expected(TimeValue t)
    {
        const MatrixRecord m = pixelMatrix(project.matrixAt(kLayerB, EditTime(t)), kWidth, kHeight);
        return m.transformRect(Rect{0, 0, kWidth, kHeight});
    }
    // The bounding box of the green picture at t; fails for a dark pixel anywhere (nothing
    // lies over layer A but the green picture).
    Rect placed(const Movie& movie, TimeValue t)
    {
        const Pixmap p = picture(movie, t);
        Rect box{kWidth, kHeight, 0, 0};
        int dark = 0;
        for (int32_t y = 0; y < p.height(); ++y)
            for (int32_t x = 0; x < p.width(); ++x) {
                const uint32_t v = p.pixel(x, y);
                dark += isDark(v) ? 1 : 0;
                if (!isGreen(v)) continue;
                box.left = std::min(box.left, x);
                box.top = std::min(box.top, y);
                box.right = std::max(box.right, x + 1);
                box.bottom = std::max(box.bottom, y + 1);
            }
        EXPECT_EQ(dark, 0) << "dark pixels at " << t;
        return box;
    }
    void expectPlacedAsKeyframed(const Movie& movie, std::initializer_list<TimeValue> times,
                                 const std::string& label)
    {
        for (TimeValue t : times) {
            const Rect want = expected(t), got = placed(movie, t);
            EXPECT_TRUE(std::abs(got.left - want.left) <= 1 && std::abs(got.top - want.top) <= 1 &&
                        std::abs(got.right - want.right) <= 1 &&
                        std::abs(got.bottom - want.bottom) <= 1)
                << label << " at " << t << ": placed " << text(got) << ", keyframes say "
                << text(want);
        }
    }
};

} // namespace

// A half-size picture-in-picture moving from the top-left to the bottom-right corner is
// placed once however many effects its picture passes through.
TEST_F(MotionFixture, KeyframedPictureIsPlacedOnceThroughFiltersAndTransitions)
{
    project.insertKeyframe(kLayerB, EditTime(0), half(0, 0), false);
    project.insertKeyframe(kLayerB, EditTime(1200), half(500, 500), false);
    const auto times = {TimeValue(0), TimeValue(300), TimeValue(600), TimeValue(1000),
                        TimeValue(1500)};

    ZEFSourceItem* clip = green(0, 1800);
    for (int filters = 0; filters <= 2; ++filters) {
        if (filters > 0) addFilter(clip);
        const std::unique_ptr<Movie> movie = builder.buildRenderMovie();
        expectPlacedAsKeyframed(*movie, times, std::to_string(filters) + " filters");
    }

    // Two clips of layer B with a cross fade from 900 to 1200 (head and tail copied into the
    // transition track), in front of layer A.
    project.clearTrack(kLayerB);
    green(0, 1200);
    ZEFSourceItem* incoming = green(900, 1800);
    expectPlacedAsKeyframed(*builder.buildRenderMovie(), times, "transition");
    // A filtered incoming clip shows its tail through a track of its own.
    addFilter(incoming);
    expectPlacedAsKeyframed(*builder.buildRenderMovie(), times, "transition with tail track");
}

// Of keyframes at one time the first holds at that time and the last leads on; keyframes
// before 0 lead into the movie. The built motion follows matrixAt in both.
TEST_F(MotionFixture, DuplicateKeyframesAndKeyframesBeforeZeroPlaceAsMatrixAt)
{
    green(0, 2400);
    project.insertKeyframe(kLayerB, EditTime(-600), half(500, 0), false);
    project.insertKeyframe(kLayerB, EditTime(600), half(500, 500), false);
    project.insertKeyframe(kLayerB, EditTime(600), half(0, 0), true); // before the other
    project.insertKeyframe(kLayerB, EditTime(1800), half(250, 0), false);
    ASSERT_EQ(project.device(kLayerB).keyframes().size(), 4u);
    expectPlacedAsKeyframed(*builder.buildRenderMovie(), {0, 300, 580, 600, 620, 1200, 1800, 2000},
                            "duplicates and a keyframe before 0");

    project.deleteKeyframeAt(kLayerB, EditTime(1800));
    project.deleteKeyframeAt(kLayerB, EditTime(600));
    project.deleteKeyframeAt(kLayerB, EditTime(600));
    ASSERT_EQ(project.device(kLayerB).keyframes().size(), 1u);
    expectPlacedAsKeyframed(*builder.buildRenderMovie(), {0, 1200}, "only a keyframe before 0");
}

// Inserting, moving and deleting keyframes (and undoing that) changes the preview at once, and
// the next update redraws it; the preview is not made again.
TEST_F(MotionFixture, KeyframeEditsReachThePreview)
{
    green(0, 2400);
    Movie& movie = builder.ensurePreviewMovie();
    builder.update();
    const auto times = {TimeValue(0), TimeValue(600), TimeValue(1200)};
    auto edited = [&](const char* label) {
        now += 1000;
        EXPECT_TRUE(builder.update()) << label;
        EXPECT_EQ(builder.previewMovie(), &movie);
        expectPlacedAsKeyframed(movie, times, label);
    };
    project.insertKeyframe(kLayerB, EditTime(0), half(0, 0), false);
    edited("inserted at 0");
    project.insertKeyframe(kLayerB, EditTime(1200), half(500, 500), false);
    edited("inserted at 1200");
    project.moveKeyframe(kLayerB, 1, EditTime(600));
    edited("moved to 600");
    project.undoHistory().recordUndo(kLayerB, "Delete keyframe");
    project.deleteKeyframeAt(kLayerB, EditTime(0));
    edited("deleted at 0");
    project.undoHistory().undoStep();
    ASSERT_EQ(project.device(kLayerB).keyframes().size(), 2u);
    edited("undone");

    // A title's text box follows the title track's keyframes: the title is built again.
    auto title = std::make_unique<ZEFTitlerEffect>(&project);
    title->setText("Title");
    ZEFTitlerEffect* t = title.get();
    project.addItem(std::move(title), false, false);
    t->assignEnd(EditTime(600));
    now += 1000;
    builder.update();
    ASSERT_TRUE(t->isBuilt());
    project.insertKeyframe(kTitleTrack, EditTime(0), half(250, 250), false);
    EXPECT_FALSE(t->isBuilt());
}
