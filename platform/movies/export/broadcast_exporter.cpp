#include "platform/movies/export/broadcast_exporter.h"

#include "platform/movies/export/av_exporter.h"
#include "platform/movies/export/standard_exporters.h"

#include <algorithm>
#include <cctype>

namespace zef::movies {

namespace {

std::string brdcText(const AtomContainer& c, const char (&child)[5])
{
    return readBroadcastText(c, fourcc(child));
}

bool brdcFlag(const AtomContainer& c, const char (&child)[5])
{
    const QTAtom parent = c.findChildByIndex(kParentAtomIsContainer, kBroadcastAtom, 1);
    if (!parent) return false;
    const auto data = c.atomData(c.findChildByIndex(parent, fourcc(child), 1));
    // The render writes 'loop' as 0 then the flag, 'flat' as the flag then 0; 'on  ' is a
    // 16-bit value: any nonzero byte of the two sets the flag.
    return std::any_of(data.begin(), data.begin() + std::min<size_t>(data.size(), 2),
                       [](uint8_t b) { return b != 0; });
}

std::string sanitizedName(const std::string& s)
{
    std::string out;
    for (char ch : s)
        if (std::isalnum(static_cast<unsigned char>(ch)) || ch == '-' || ch == '_') out += ch;
    return out.empty() ? "stream" : out;
}

bool validPort(const std::string& port)
{
    if (port.empty() || port.size() > 5) return false;
    if (!std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return false;
    const int v = std::stoi(port);
    return v > 0 && v < 65536;
}

class BroadcastExporter : public AvFileExporter {
public:
    BroadcastExporter()
    {
        m_videoCodecs = {kCodecH264};
        m_soundCodecs = {kCodecAAC};
        m_settings = defaultSettings();
    }
    OSType subType() const override { return kMovieExportBroadcast; }
    OSType fileNameExtension() const override { return fourcc("mov\0"); }
    std::string shortFileTypeString() const override { return "Live Broadcast"; }
    AtomContainer defaultSettings() const override
    {
        AtomContainer c;
        writeTemporalSettings(c, TemporalSettings{});
        writeAtomUInt32(c, kVideoSettingsAtom, fourcc("codc"), kCodecH264);
        writeAtomUInt16(c, kVideoSettingsAtom, fourcc("vsta"), 0);
        writeAtomUInt32(c, kSoundSettingsAtom, fourcc("codc"), kCodecAAC);
        writeAtomUInt32(c, kSoundSettingsAtom, fourcc("abrt"), 128000);
        return c;
    }

    OSErr exportToFile(ExportSource& source, const std::string& path) override
    {
        if (!validate(source)) return paramErr;
        const bool live = brdcFlag(m_settings, "on  ");
        OutputSetup setup;
        OSErr err = buildSetup(source, setup);
        if (err != noErr) return err;
        if (!live) {
            const std::string named = brdcText(m_settings, "flnm");
            return writeOutput(source, named.empty() ? path : named, setup);
        }
        BroadcastTarget target;
        if ((err = broadcastTarget(m_settings, &target)) != noErr) return err;
        setup.muxer = target.muxer;
        setup.realTime = true;
        // Looping sends the movie again and again until the render is stopped through its
        // progress procedure. Flattening ('flat') changes nothing here: the pictures and the
        // sound are read from the movie frame by frame, wherever its media lie.
        setup.loop = brdcFlag(m_settings, "loop");
        setup.video.options["tune"] = "zerolatency";
        setup.video.gop = std::max(1, int(setup.video.rate.value() * 2 + 0.5));
        const std::string timeout = std::to_string(int64_t(kBroadcastConnectTimeoutMs) * 1000);
        if (target.muxer == "rtsp") {
            setup.muxerOptions["rtsp_transport"] = "tcp";
            setup.muxerOptions["timeout"] = timeout;
        } else {
            setup.muxerOptions["flvflags"] = "no_duration_filesize";
            // (The RTMP protocol's own "timeout" option would make it listen instead.)
            setup.ioOptions["rw_timeout"] = timeout;
        }
        return writeOutput(source, target.url, setup);
    }

protected:
    OSErr buildSetup(const ExportSource& source, OutputSetup& out) const override
    {
        FrameRate rate = exportRate(source);
        uint32_t preset = 0;
        if (readAtomUInt(m_settings, kVideoSettingsAtom, fourcc("vsta"), &preset) && preset < 6) {
            const char name[5] = {'v', 'd', 'r', char('1' + preset), 0};
            const QTAtom parent =
                m_settings.findChildByIndex(kParentAtomIsContainer, kBroadcastAtom, 1);
            const auto data =
                m_settings.atomData(m_settings.findChildByIndex(parent, fourcc(name), 1));
            if (parent && data.size() >= 4) {
                // The 16.16 rate as the writer holds it in memory: little-endian, unlike the
                // other atoms of the container.
                const Fixed f = Fixed(uint32_t(data[0]) | (uint32_t(data[1]) << 8) |
                                      (uint32_t(data[2]) << 16) | (uint32_t(data[3]) << 24));
                if (f > 0 && f <= 240 * kFixed1) rate = frameRateFromFixed(f);
            }
        }
        const VideoFormat vf = source.video();
        out.muxer = "mov";
        out.hasVideo = true;
        OSErr err = videoSetupFor(kCodecH264, source, rate, vf.width, vf.height, out.video);
        if (err != noErr) return err;
        if (soundEnabled(source)) {
            const int srate = std::clamp(source.audio().sampleRate, 8000, 48000);
            err = audioSetupFor("aac", source, 128000, srate, std::min(2, source.audio().channels),
                                out.audio);
            if (err != noErr) return err;
            out.hasAudio = true;
        }
        const std::string title = brdcText(m_settings, "titl");
        const std::string author = brdcText(m_settings, "athr");
        const std::string copyright = brdcText(m_settings, "cprg");
        if (!title.empty()) out.metadata["title"] = title;
        if (!author.empty()) out.metadata["artist"] = author;
        if (!copyright.empty()) out.metadata["copyright"] = copyright;
        return noErr;
    }
};

} // namespace

std::string readBroadcastText(const AtomContainer& settings, QTAtomType child, size_t maxBytes)
{
    return readAtomText(settings, kBroadcastAtom, child, maxBytes);
}

OSErr writeBroadcastData(AtomContainer& c, QTAtomType child, std::span<const uint8_t> data)
{
    QTAtom parent = c.findChildByIndex(kParentAtomIsContainer, kBroadcastAtom, 1);
    if (!parent) {
        const OSErr err = c.insertChild(kParentAtomIsContainer, kBroadcastAtom, 1, 1, {}, &parent);
        if (err != noErr) return err;
    }
    if (const QTAtom atom = c.findChildByIndex(parent, child, 1)) return c.setAtomData(atom, data);
    return c.insertChild(parent, child, 1, 1, data);
}

OSErr writeBroadcastText(AtomContainer& c, QTAtomType child, const std::string& text)
{
    size_t n = std::min(text.size(), kBroadcastTextMax);
    // Back to the start of the character that the cut would split.
    if (n < text.size())
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    std::vector<uint8_t> bytes(text.begin(), text.begin() + std::ptrdiff_t(n));
    bytes.push_back(0);
    return writeBroadcastData(c, child, bytes);
}

OSErr broadcastTarget(const AtomContainer& settings, BroadcastTarget* out)
{
    std::string server = brdcText(settings, "srvr");
    const std::string port = brdcText(settings, "port");
    const std::string user = brdcText(settings, "user");
    const std::string pass = brdcText(settings, "pass");
    if (server.empty()) return paramErr;
    if (!port.empty() && !validPort(port)) return paramErr;
    std::string scheme = "rtmp";
    std::string rest = server;
    if (const size_t s = server.find("://"); s != std::string::npos) {
        scheme = server.substr(0, s);
        rest = server.substr(s + 3);
    }
    for (char& c : scheme)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (scheme != "rtmp" && scheme != "rtsp") return paramErr;
    std::string host = rest, tail;
    if (const size_t slash = rest.find('/'); slash != std::string::npos) {
        host = rest.substr(0, slash);
        tail = rest.substr(slash);
    }
    if (host.empty() || host.find_first_of(" @\t") != std::string::npos) return paramErr;
    // A port in the host part wins; otherwise 'port', otherwise the protocol's own.
    const bool bracketed = host.front() == '[';
    const size_t colon = host.rfind(':');
    const bool hostHasPort = colon != std::string::npos && (!bracketed || colon > host.find(']'));
    if (!hostHasPort)
        host += ":" + (port.empty() ? std::string(scheme == "rtmp" ? "1935" : "554") : port);
    if (tail.empty() || tail == "/") tail = "/live/" + sanitizedName(brdcText(settings, "titl"));
    std::string credentials;
    if (!user.empty()) credentials = user + (pass.empty() ? "" : ":" + pass) + "@";
    out->url = scheme + "://" + credentials + host + tail;
    out->muxer = scheme == "rtmp" ? "flv" : "rtsp";
    return noErr;
}

std::unique_ptr<MovieExporter> makeBroadcastExporter()
{
    return std::make_unique<BroadcastExporter>();
}

} // namespace zef::movies
