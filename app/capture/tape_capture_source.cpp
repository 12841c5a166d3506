#include "app/capture/tape_capture_source.h"

#include "platform/graph/tape_deck_output.h"

#include <cstring>

namespace zef::app {

TapeCaptureSource::TapeCaptureSource(std::shared_ptr<graph::TapeDeckOutput> output)
    : m_output(std::move(output))
{
}

TapeCaptureSource::~TapeCaptureSource() { stop(); }

int TapeCaptureSource::width() { return m_output->format().width; }
int TapeCaptureSource::height() { return m_output->format().height; }
double TapeCaptureSource::frameRate()
{
    const graph::TapeOutputFormat f = m_output->format();
    return f.rateDenominator > 0 ? double(f.rateNumerator) / f.rateDenominator : 25.0;
}

void TapeCaptureSource::start(Sink sink)
{
    stop();
    std::lock_guard lock(m_mutex);
    m_token = m_output->subscribe([this, sink = std::move(sink)](const graph::TapeFrame& f) {
        if (!f.picture || f.picture->isEmpty()) return;
        m_lastFrame = f.frameNumber;
        const int64_t first = m_first, last = m_last;
        const bool playing = f.speed == 1.0;
        if (first >= 0 && playing && f.frameNumber > last) m_pastRange = true;
        avcapture::Picture p;
        p.width = f.picture->width();
        p.height = f.picture->height();
        p.bgra.resize(f.picture->strideBytes() * size_t(p.height));
        std::memcpy(p.bgra.data(), f.picture->data(), p.bgra.size());
        p.sourceFrame = playing ? f.frameNumber : -1;
        p.record = playing && (first < 0 || (f.frameNumber >= first && f.frameNumber <= last));
        std::vector<int16_t> samples;
        // The recorder takes 48 kHz stereo; a tape of another sound format is recorded silent.
        if (f.pcm && f.pcmFrames > 0 && f.sampleRate == 48000 && f.channels == 2)
            samples.assign(f.pcm, f.pcm + size_t(f.pcmFrames) * 2);
        sink(std::move(p), std::move(samples));
    });
    m_output->requestStill();
}

void TapeCaptureSource::stop()
{
    std::lock_guard lock(m_mutex);
    if (m_token) m_output->unsubscribe(m_token);
    m_token = 0;
}

void TapeCaptureSource::setRange(int64_t first, int64_t last)
{
    m_pastRange = false;
    m_last = last;
    m_first = first;
}

void TapeCaptureSource::clearRange()
{
    m_first = -1;
    m_last = -1;
    m_pastRange = false;
}

} // namespace zef::app
