// The compositor: the picture of a movie at a movie time.
//
// evaluate() draws the movie's enabled visual tracks into a 32-bit picture of the movie's box
// (out is resized to the box's size), back to front: higher layer numbers behind lower ones,
// tracks of equal layer in creation order, the first created in front. Each track's picture is
// mapped into the box by its matrix, the matrix modifiers of its input map (tween samples,
// interpolated by the position inside the tween sample) and the movie matrix, clipped by its own
// clip region, its clip modifiers and the movie's clip region, and combined with what lies below
// by its media's graphics mode and op colour. Pixels no track draws are opaque black.
//
// Which tracks draw themselves: not tween tracks ('twen' media), not sound, and not the image
// sources of an enabled effect track (a track named by an input-map entry of type 'vide' of such a
// track): those are only seen through the effect. What a track shows at a time depends on the
// sample there (the media of the edit, which may be another track's media):
//   - a sample of a media file: the decoded frame (frame-exact), scaled to the track's size;
//   - an uncompressed 'raw ' sample (32-bit alpha, red, green, blue or 24-bit red, green, blue
//     bytes), scaled to the track's size (a 1×1 sample fills it);
//   - an effect sample (description: effect_description.h): the registered effect rendered
//     over the pictures of its sources, each source being the source track drawn with its own
//     modifiers into a transparent picture of the effect track's size (effects over effects
//     recurse); parameters tween by (t − sample start) / sample duration. A matrix modifier
//     track that the effect track (or an effect it feeds) applies is left out when its sources
//     are drawn: the effect's picture is placed by it once, so a picture that passes through
//     effects sharing its motion (filters, transitions) is not moved or scaled again at each;
//   - a text sample: the text drawn over the track (keyed), with the media's text properties
//     'drpo' (shadow offset) and 'drpt' (shadow transparency) overriding the sample's;
//   - any other compression type: the registered image decompressor component ('imdc',
//     subtype = the compression type) draws it through the calls of image_codec.h.
// A sample that cannot be drawn (unknown effect, missing file, refusing decompressor) leaves the
// track out of the picture; evaluate still succeeds and counts it (EvaluationStats::failedTracks).
//
// Thread safety: one EvaluationContext per thread. Several contexts may evaluate the same movie
// at once while nobody changes it. A context keeps one video decoder per (file, stream), reused
// for sequential access, and its scratch pictures, so evaluating frame after frame allocates
// nothing once warmed up. With Options::releaseDecodersAfter a decoder that has not been used for
// a while is closed again, so a long render holds the decoders of the clips on screen only.
#pragma once

#include "platform/movies/effects/effect_registry.h"
#include "platform/movies/movie.h"
#include "platform/movies/pixmap.h"

#include <cstdint>
#include <functional>
#include <memory>

namespace zef::movies {

class ComponentManager;
class TextRenderer;

struct EvaluationStats {
    int32_t drawnTracks = 0;      // tracks drawn into the last picture (not counting sources)
    int32_t skippedHidden = 0;    // tracks left out because an opaque track in front covers them
    int32_t failedTracks = 0;     // tracks whose sample could not be drawn
    int64_t decodersOpened = 0;   // over the context's life
    int64_t decodersReleased = 0; // closed for lack of use (Options::releaseDecodersAfter)
    int32_t openDecoders = 0;     // open right now
};

class EvaluationContext {
public:
    struct Options {
        const EffectRegistry* effects = nullptr; // null: builtInEffects()
        ComponentManager* components = nullptr;  // image decompressors; null: none
        std::shared_ptr<TextRenderer> text;      // null: a renderer of the context's own
        int decoderThreads = 0;                  // per video decoder; 0: one per core
        // Decoded frames each video decoder keeps for repeated requests (at least 2). Every
        // kept frame holds one of the decoder's picture buffers, so a context that only plays
        // forward (an export) keeps few.
        size_t decoderCacheFrames = 8;
        // Decoding positions each video decoder keeps (VideoDecoder::Options::positions).
        int decoderPositions = 1;
        // A video decoder that no evaluation used for this many evaluations in a row is closed
        // (its threads and picture buffers freed) and opened again when a picture needs it.
        // 0: decoders stay open for the context's life.
        int64_t releaseDecodersAfter = 0;
    };

    EvaluationContext();
    explicit EvaluationContext(Options options);
    ~EvaluationContext();
    EvaluationContext(const EvaluationContext&) = delete;
    EvaluationContext& operator=(const EvaluationContext&) = delete;

    const EvaluationStats& stats() const;
    // Drops the decoders and cached pictures (e.g. after the movie changed its media).
    void reset();

    // With approximate pictures, a media file's picture is the nearest one its decoder has at
    // hand or can reach with one decode (VideoDecoder::frameNear) instead of the exact frame:
    // a quick picture for a position that is still moving.
    void setApproximate(bool approximate);
    bool approximate() const;
    // Asked between packets while a decoder rolls forward to a frame: true gives the picture
    // up (the track is left out, counted as failed), for a picture nobody wants any more. The
    // check is called on the evaluating thread; empty: never asked.
    void setAbortCheck(std::function<bool()> check);
    // Decoding threads of the video decoders opened from now on (0: one per core).
    void setDecoderThreads(int threads);

    struct Impl;

private:
    friend OSErr evaluate(EvaluationContext&, const Movie&, TimeValue, Pixmap&);
    std::unique_ptr<Impl> m_impl;
};

// The picture of the movie at time (movie time scale). paramErr for a negative time; memFullErr
// when memory for the picture runs out; noErr otherwise, also for an empty box (out then becomes
// empty). A track that would need a scratch picture of more than 2^26 pixels is left out.
OSErr evaluate(EvaluationContext& context, const Movie& movie, TimeValue time, Pixmap& out);

} // namespace zef::movies
