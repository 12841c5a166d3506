#include "platform/movies/export/movie_export_source.h"

#include "platform/movies/movie.h"

namespace zef::movies {

MovieExportSource::MovieExportSource(const Movie& movie, Options options)
    : m_movie(movie), m_options(std::move(options)), m_context(m_options.evaluation)
{
    m_hasSound = m_options.sampleRate > 0 && m_options.channels > 0 &&
                 movie.indTrackWithCharacteristic(1, AudioMediaCharacteristic, true) != nullptr;
    if (m_hasSound)
        m_mixer = std::make_unique<SoundMixer>(m_options.sampleRate, m_options.channels,
                                               m_options.soundComponents);
}

void MovieExportSource::encoderUsesEveryCore() { m_context.setDecoderThreads(1); }

VideoFormat MovieExportSource::video() const
{
    Rect box = m_movie.box();
    return VideoFormat{box.width(), box.height(), m_options.rate};
}

AudioFormat MovieExportSource::audio() const
{
    if (!m_hasSound) return AudioFormat{};
    return AudioFormat{m_options.sampleRate, m_options.channels};
}

int64_t MovieExportSource::frameCount() const
{
    const FrameRate r = m_options.rate;
    const int64_t scale = m_movie.timeScale();
    if (!r.valid() || scale <= 0) return 0;
    // The frames whose start lies inside the movie: ceil(duration × rate / scale).
    __int128 n = __int128(m_movie.duration()) * r.num;
    __int128 d = __int128(scale) * r.den;
    return int64_t((n + d - 1) / d);
}

TimeValue MovieExportSource::frameTime(int64_t index) const
{
    const FrameRate r = m_options.rate;
    return TimeValue(__int128(index) * r.den * m_movie.timeScale() / r.num);
}

bool MovieExportSource::renderFrame(int64_t index, Pixmap& out)
{
    OSErr err = evaluate(m_context, m_movie, frameTime(index), out);
    if (err != noErr && m_error == noErr) m_error = err;
    return err == noErr;
}

bool MovieExportSource::renderAudio(int64_t firstSample, int64_t count, int16_t* interleaved)
{
    if (!m_mixer) return false;
    // The mixer always fills the span; material it cannot play is silence, which an export
    // keeps going with, so only a bad span fails.
    OSErr err = m_mixer->mixFrames(m_movie, firstSample, count, interleaved);
    if (err != noErr && m_error == noErr) m_error = err;
    return err != paramErr;
}

} // namespace zef::movies
