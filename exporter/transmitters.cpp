#include "exporter/transmitters.h"

#include "platform/movies/export/movie_exporter.h"

#include <fcntl.h>
#include <libiec61883/iec61883.h>
#include <libraw1394/raw1394.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

namespace zef::peltra {

using namespace movies;

namespace {

// ---- The sink ----

class SinkTransmitter : public DvTransmitter {
public:
    explicit SinkTransmitter(std::string path) : m_path(std::move(path)) {}
    ~SinkTransmitter() override
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    std::string name() const override { return m_path; }

    OSErr open(bool, const AbortCheck& aborted) override
    {
        if (m_path.empty()) return paramErr;
        struct stat st {};
        if (::stat(m_path.c_str(), &st) == 0 && S_ISFIFO(st.st_mode)) return openPipe(aborted);
        if (::stat(m_path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return paramErr;
        m_fd = ::open(m_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (m_fd < 0) return errno == ENOENT ? dirNFErr : ioErr;
        return noErr;
    }

    OSErr send(const uint8_t* data, size_t size) override
    {
        if (m_fd < 0) return ioErr;
        // A pipe whose reader has gone raises SIGPIPE, which would end the program: it is held
        // back while writing and taken away again, so the write just fails with EPIPE.
        sigset_t pipe, old;
        sigemptyset(&pipe);
        sigaddset(&pipe, SIGPIPE);
        pthread_sigmask(SIG_BLOCK, &pipe, &old);
        OSErr result = noErr;
        while (size > 0) {
            const ssize_t n = ::write(m_fd, data, size);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                if (errno == EPIPE) {
                    const timespec zero{0, 0};
                    sigtimedwait(&pipe, nullptr, &zero);
                }
                result = ioErr;
                break;
            }
            data += n;
            size -= size_t(n);
        }
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
        return result;
    }

    OSErr finish() override
    {
        if (m_fd < 0) return ioErr;
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0 ? noErr : ioErr;
    }

private:
    OSErr openPipe(const AbortCheck& aborted)
    {
        // Opening a pipe for writing waits for a reader; without O_NONBLOCK it could wait for
        // ever. ENXIO means no reader yet.
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(kPipeReaderWait);
        for (;;) {
            m_fd = ::open(m_path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
            if (m_fd >= 0) break;
            if (errno != ENXIO && errno != EINTR) return ioErr;
            if (aborted && aborted()) return progressProcAborted;
            if (std::chrono::steady_clock::now() > until) return kExportConnectionErr;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        const int flags = ::fcntl(m_fd, F_GETFL);
        if (flags < 0 || ::fcntl(m_fd, F_SETFL, flags & ~O_NONBLOCK) < 0) return ioErr;
        return noErr;
    }

    std::string m_path;
    int m_fd = -1;
};

// ---- FireWire ----

constexpr nodeid_t kLocalBus = 0xffc0;
constexpr int kBroadcastChannel = 63;
constexpr size_t kPacketBytes = 480; // six DIF blocks per isochronous packet
// Kept ahead of the bus: more than the 1000 packets libiec61883 queues when it starts.
constexpr size_t kAheadBytes = 144000 * 8;

// The first port with another node on its bus, and that node; false when there is none.
bool findDevice(int* port, nodeid_t* node)
{
    raw1394handle_t probe = raw1394_new_handle();
    if (!probe) return false; // no FireWire stack, or no access to it
    raw1394_portinfo ports[16];
    const int count = raw1394_get_port_info(probe, ports, 16);
    raw1394_destroy_handle(probe);
    for (int p = 0; p < count && p < 16; ++p) {
        raw1394handle_t h = raw1394_new_handle_on_port(p);
        if (!h) continue;
        const int nodes = raw1394_get_nodecount(h);
        const nodeid_t local = raw1394_get_local_id(h);
        raw1394_destroy_handle(h);
        for (int n = 0; n < nodes && n < 63; ++n) {
            const nodeid_t id = nodeid_t(kLocalBus | n);
            if (id == local) continue;
            *port = p;
            *node = id;
            return true;
        }
    }
    return false;
}

class FireWireTransmitter : public DvTransmitter {
public:
    FireWireTransmitter(int port, nodeid_t node) : m_port(port), m_node(node) {}
    ~FireWireTransmitter() override { close(); }

    std::string name() const override
    {
        return "FireWire port " + std::to_string(m_port) + " node " + std::to_string(m_node & 0x3f);
    }

    OSErr open(bool pal, const AbortCheck& aborted) override
    {
        m_aborted = aborted;
        m_handle = raw1394_new_handle_on_port(m_port);
        if (!m_handle) return kDeviceErr;
        m_channel = iec61883_cmp_connect(m_handle, raw1394_get_local_id(m_handle), &m_oplug, m_node,
                                         &m_iplug, &m_bandwidth);
        m_connected = m_channel >= 0;
        if (!m_connected) m_channel = kBroadcastChannel; // the device listens on the broadcast
        m_frameBytes = pal ? 144000 : 120000;
        m_dv = iec61883_dv_xmit_init(m_handle, pal ? 1 : 0, &FireWireTransmitter::fill, this);
        if (!m_dv) return kDeviceErr;
        // Closing waits until the packets queued for the bus have gone out.
        iec61883_dv_set_synch(m_dv, 1);
        return noErr;
    }

    OSErr send(const uint8_t* data, size_t size) override
    {
        m_buffer.insert(m_buffer.end(), data, data + size);
        if (!m_started && m_buffer.size() - m_read >= kAheadBytes) {
            if (iec61883_dv_xmit_start(m_dv, m_channel) != 0) return kDeviceErr;
            m_started = true;
        }
        while (m_started && m_buffer.size() - m_read >= kAheadBytes) {
            const OSErr err = iterate();
            if (err != noErr) return err;
        }
        compact();
        return noErr;
    }

    OSErr finish() override
    {
        // Starting takes a prebuffer of packets; a stream too short for it is held on its last
        // frame a moment longer.
        const size_t left = m_buffer.size() - m_read;
        if (!m_started && left >= m_frameBytes) {
            const std::vector<uint8_t> last(m_buffer.end() - std::ptrdiff_t(m_frameBytes),
                                            m_buffer.end());
            while (m_buffer.size() - m_read < kAheadBytes)
                m_buffer.insert(m_buffer.end(), last.begin(), last.end());
        }
        m_finishing = true;
        if (!m_started && m_buffer.size() > m_read) {
            if (iec61883_dv_xmit_start(m_dv, m_channel) != 0) return kDeviceErr;
            m_started = true;
        }
        while (m_started && !m_done) {
            const OSErr err = iterate();
            if (err != noErr) return err;
        }
        close();
        return noErr;
    }

private:
    static constexpr OSErr kDeviceErr = kExportConnectionErr;

    // Called by libiec61883 for every packet: one packet (480 bytes) of the stream, or -1 to
    // end the transmission when everything was sent.
    static int fill(unsigned char* data, int packets, unsigned int, void* self)
    {
        auto* t = static_cast<FireWireTransmitter*>(self);
        if (packets != 1) return 0; // an empty packet
        const size_t left = t->m_buffer.size() - t->m_read;
        if (left >= kPacketBytes) {
            std::memcpy(data, t->m_buffer.data() + t->m_read, kPacketBytes);
            t->m_read += kPacketBytes;
            return 0;
        }
        if (t->m_finishing) {
            t->m_done = true;
            return -1;
        }
        std::memset(data, 0, kPacketBytes); // an underrun: nothing to send yet
        return 0;
    }

    OSErr iterate()
    {
        if (m_aborted && m_aborted()) return progressProcAborted;
        pollfd pfd{raw1394_get_fd(m_handle), POLLIN, 0};
        const int ready = ::poll(&pfd, 1, 100);
        if (ready < 0 && errno != EINTR) return kDeviceErr;
        if (ready > 0 && (pfd.revents & POLLIN) && raw1394_loop_iterate(m_handle) != 0 && !m_done)
            return kDeviceErr;
        return noErr;
    }

    void compact()
    {
        if (m_read > (4u << 20)) {
            m_buffer.erase(m_buffer.begin(), m_buffer.begin() + std::ptrdiff_t(m_read));
            m_read = 0;
        }
    }

    void close()
    {
        if (m_dv) iec61883_dv_close(m_dv);
        m_dv = nullptr;
        if (m_handle && m_connected)
            iec61883_cmp_disconnect(m_handle, raw1394_get_local_id(m_handle), m_oplug, m_node,
                                    m_iplug, m_channel, m_bandwidth);
        m_connected = false;
        if (m_handle) raw1394_destroy_handle(m_handle);
        m_handle = nullptr;
    }

    int m_port;
    nodeid_t m_node;
    AbortCheck m_aborted;
    raw1394handle_t m_handle = nullptr;
    iec61883_dv_t m_dv = nullptr;
    int m_channel = kBroadcastChannel;
    int m_oplug = -1, m_iplug = -1;
    int m_bandwidth = -1; // in: allocate bandwidth; out: the units allocated
    size_t m_frameBytes = 144000;
    bool m_connected = false;
    bool m_started = false;
    bool m_finishing = false;
    bool m_done = false;
    std::vector<uint8_t> m_buffer;
    size_t m_read = 0;
};

} // namespace

std::unique_ptr<DvTransmitter> makeSinkTransmitter(const std::string& path)
{
    return std::make_unique<SinkTransmitter>(path);
}

bool fireWireDevicePresent()
{
    int port = 0;
    nodeid_t node = 0;
    return findDevice(&port, &node);
}

std::unique_ptr<DvTransmitter> makeFireWireTransmitter()
{
    int port = 0;
    nodeid_t node = 0;
    if (!findDevice(&port, &node)) return nullptr;
    return std::make_unique<FireWireTransmitter>(port, node);
}

} // namespace zef::peltra
