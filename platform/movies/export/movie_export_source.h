// A movie as the source of an export: its pictures through the compositor and its sound
// through the sound mixer, at the export's frame rate and sound format.
//
// Not thread-safe; the conversion calls it from one thread. The movie must outlive the source
// and must not change while it is read.
#pragma once

#include "platform/movies/compositor/compositor.h"
#include "platform/movies/export/movie_exporter.h"
#include "platform/movies/sound_mixer.h"

#include <memory>

namespace zef::movies {

class Movie;

// The evaluation options of an export. An export evaluates every picture once, in order: each
// decoder keeps two decoded frames, and the decoder of a clip that has left the picture for a
// second (30 pictures) is closed, so a long render holds the decoders of the clips on screen
// only.
inline EvaluationContext::Options exportEvaluationOptions()
{
    EvaluationContext::Options o;
    o.decoderCacheFrames = 2;
    o.releaseDecodersAfter = 30;
    return o;
}

class MovieExportSource final : public ExportSource {
public:
    struct Options {
        FrameRate rate{30, 1};
        int32_t sampleRate = 48000; // used when the movie has an enabled audible track
        int32_t channels = 2;
        EvaluationContext::Options evaluation = exportEvaluationOptions();
        ComponentManager* soundComponents = nullptr;
    };

    MovieExportSource(const Movie& movie, Options options);

    VideoFormat video() const override;
    void encoderUsesEveryCore() override;
    AudioFormat audio() const override;
    int64_t frameCount() const override;
    bool renderFrame(int64_t index, Pixmap& out) override;
    bool renderAudio(int64_t firstSample, int64_t count, int16_t* interleaved) override;

    // The movie time at which frame index is taken.
    TimeValue frameTime(int64_t index) const;
    // The first error met while rendering (noErr when none).
    OSErr lastError() const { return m_error; }

private:
    const Movie& m_movie;
    Options m_options;
    bool m_hasSound = false;
    EvaluationContext m_context;
    std::unique_ptr<SoundMixer> m_mixer;
    OSErr m_error = noErr;
};

} // namespace zef::movies
