#include "ui/preview/audio_output.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstring>

namespace zef::ui {

// Lives on the output's thread: owns the QAudioSink and moves samples to it.
class AudioPump : public QObject {
public:
    AudioPump(CAudioOutput& out, const QAudioDevice& device, const QAudioFormat& format)
        : m_out(out), m_device(device), m_format(format)
    {
    }

    void begin()
    {
        m_sink = new QAudioSink(m_device, m_format, this);
        m_sink->setBufferSize(qsizetype(CAudioOutput::kRingFrames * kFrameBytes));
        m_io = m_sink->start();
        m_timer = new QTimer(this);
        m_timer->setTimerType(Qt::PreciseTimer);
        m_timer->setInterval(5);
        connect(m_timer, &QTimer::timeout, this, [this] { pump(); });
        m_timer->start();
    }

private:
    static constexpr int64_t kFrameBytes = CAudioOutput::kChannels * 2;

    void pump()
    {
        if (!m_io) return;
        const int64_t room = std::max<int64_t>(0, int64_t(m_sink->bytesFree()) / kFrameBytes);
        if (room > 0) {
            m_buffer.resize(size_t(room * CAudioOutput::kChannels));
            const int64_t n = m_out.take(m_buffer.data(), room);
            if (n > 0) {
                const qint64 written =
                    m_io->write(reinterpret_cast<const char*>(m_buffer.data()), n * kFrameBytes);
                m_handed += std::max<qint64>(0, written) / kFrameBytes;
            }
        }
        const int64_t queued =
            std::max<int64_t>(0, int64_t(m_sink->bufferSize() - m_sink->bytesFree()) / kFrameBytes);
        m_out.deviceState(m_handed, std::min(queued, m_handed));
    }

    CAudioOutput& m_out;
    QAudioDevice m_device;
    QAudioFormat m_format;
    QAudioSink* m_sink = nullptr;
    QIODevice* m_io = nullptr;
    QTimer* m_timer = nullptr;
    std::vector<int16_t> m_buffer;
    int64_t m_handed = 0; // frames written to the device since it opened
};

std::unique_ptr<CAudioOutput> CAudioOutput::open()
{
    if (qEnvironmentVariable("ZEF_AUDIO_OUTPUT") == QStringLiteral("none")) return nullptr;
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull()) return nullptr;
    QAudioFormat format;
    format.setSampleRate(kRate);
    format.setChannelCount(kChannels);
    format.setSampleFormat(QAudioFormat::Int16);
    if (!device.isFormatSupported(format)) return nullptr;

    std::unique_ptr<CAudioOutput> out(new CAudioOutput());
    out->m_device = device.description();
    out->m_ring.assign(size_t(kRingFrames * kChannels), 0);
    out->m_stateAt = std::chrono::steady_clock::now();
    out->m_thread = new QThread();
    out->m_thread->setObjectName(QStringLiteral("audio output"));
    out->m_pump = new AudioPump(*out, device, format);
    out->m_pump->moveToThread(out->m_thread);
    QObject::connect(out->m_thread, &QThread::finished, out->m_pump, &QObject::deleteLater);
    out->m_thread->start(QThread::TimeCriticalPriority);
    AudioPump* pump = out->m_pump;
    QMetaObject::invokeMethod(
        pump, [pump] { pump->begin(); }, Qt::BlockingQueuedConnection);
    return out;
}

CAudioOutput::~CAudioOutput()
{
    m_closing = true;
    m_room.notify_all();
    if (m_thread) {
        m_thread->quit();
        m_thread->wait();
        delete m_thread;
    }
}

int64_t CAudioOutput::write(const int16_t* samples, int64_t frames)
{
    if (!samples || frames <= 0) return 0;
    std::unique_lock lock(m_mutex);
    // Waits a little for room; the caller asks again, so a stalled device never holds it.
    m_room.wait_for(lock, std::chrono::milliseconds(20),
                    [&] { return m_closing || m_writePos - m_readPos < kRingFrames; });
    const int64_t room = kRingFrames - (m_writePos - m_readPos);
    const int64_t n = m_closing ? 0 : std::min(room, frames);
    for (int64_t i = 0; i < n; ++i) {
        const size_t at = size_t((m_writePos + i) % kRingFrames) * kChannels;
        std::memcpy(&m_ring[at], samples + i * kChannels, sizeof(int16_t) * kChannels);
    }
    m_writePos += n;
    return n;
}

int64_t CAudioOutput::take(int16_t* out, int64_t maxFrames)
{
    std::lock_guard lock(m_mutex);
    const int64_t n = std::min(maxFrames, m_writePos - m_readPos);
    for (int64_t i = 0; i < n; ++i) {
        const size_t at = size_t((m_readPos + i) % kRingFrames) * kChannels;
        std::memcpy(out + i * kChannels, &m_ring[at], sizeof(int16_t) * kChannels);
    }
    m_readPos += n;
    m_taken += n;
    if (n > 0) m_room.notify_all();
    return n;
}

void CAudioOutput::deviceState(int64_t handed, int64_t queued)
{
    std::lock_guard lock(m_mutex);
    m_handed = handed;
    m_queued = queued;
    m_stateAt = std::chrono::steady_clock::now();
}

int64_t CAudioOutput::playedFrames() const
{
    std::lock_guard lock(m_mutex);
    // The device drains its buffer in real time after the pump's last look at it; what it
    // plays of the frames taken before the last flush does not count.
    const double since =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - m_stateAt).count();
    const int64_t heard = m_handed - m_queued + std::min(m_queued, int64_t(since * kRate));
    return std::max<int64_t>(0, heard - m_base);
}

void CAudioOutput::flush()
{
    std::lock_guard lock(m_mutex);
    m_readPos = m_writePos;
    m_base = m_taken;
    m_room.notify_all();
}

} // namespace zef::ui
