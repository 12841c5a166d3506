#include "export_test_support.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace zef::movies::testing {

namespace {

std::string shellQuote(const std::string& s)
{
    std::string out = "'";
    for (char c : s)
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

std::vector<uint8_t> runForOutput(const std::string& command)
{
    std::vector<uint8_t> out;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return out;
    uint8_t buffer[1 << 16];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out.insert(out.end(), buffer, buffer + n);
    pclose(pipe);
    return out;
}

} // namespace

PatternSource::PatternSource(int width, int height, FrameRate rate, int64_t frames, int sampleRate,
                             int channels, bool flashAndBeep)
    : m_video{width, height, rate}, m_audio{sampleRate, channels}, m_frames(frames),
      m_flash(flashAndBeep)
{
}

Pixmap PatternSource::picture(int64_t index) const
{
    const int w = m_video.width, h = m_video.height;
    Pixmap p(w, h);
    const bool flash = m_flash && (index * m_video.rate.den) % m_video.rate.num < m_video.rate.den;
    const int block = std::max(1, w / 32);
    const int sq = (int(index) * 6) % std::max(1, w - h / 6);
    for (int y = 0; y < h; ++y) {
        uint32_t* row = p.row(y);
        for (int x = 0; x < w; ++x) {
            uint32_t v;
            if (m_flash) {
                v = flash ? argb(255, 255, 255, 255) : argb(255, 16, 16, 16);
            } else {
                v = argb(255, uint8_t(x * 255 / std::max(1, w - 1)),
                         uint8_t(y * 255 / std::max(1, h - 1)), 128);
                if (x >= sq && x < sq + h / 6 && y >= h / 2 && y < h / 2 + h / 6)
                    v = argb(255, 255, 200, 0);
            }
            if (y < block * 2 && x < block * kNumberBits * 2) {
                const int bit = x / (block * 2);
                v = (index >> bit) & 1 ? argb(255, 255, 255, 255) : argb(255, 0, 0, 0);
            }
            row[x] = v;
        }
    }
    return p;
}

bool PatternSource::renderFrame(int64_t index, Pixmap& out)
{
    if (index < 0 || index >= m_frames) return false;
    if (failAtFrame >= 0 && index >= failAtFrame) return false;
    ++framesRendered;
    out = picture(index);
    return true;
}

bool PatternSource::renderAudio(int64_t firstSample, int64_t count, int16_t* interleaved)
{
    const int rate = m_audio.sampleRate;
    for (int64_t i = 0; i < count; ++i) {
        const int64_t n = firstSample + i;
        int16_t v;
        if (m_flash)
            v = (n % rate) < rate / 100 ? ((n / 12) % 2 ? 30000 : -30000) : 0;
        else
            v = int16_t(9000 * std::sin(2 * M_PI * 440.0 * double(n) / rate));
        for (int c = 0; c < m_audio.channels; ++c)
            interleaved[i * m_audio.channels + c] = v;
    }
    return true;
}

int readFrameNumber(const uint8_t* bgra, int width, int height)
{
    // Bit b's block is centred at x = (2b + 1) / 32 of the width; its centre lies w / 32 pixels
    // down, which is 1/24 of the height for the 4:3 sources of these tests.
    const int y = std::min(height - 1, height / 24);
    int value = 0;
    for (int bit = 0; bit < PatternSource::kNumberBits; ++bit) {
        const int x = (bit * 2 + 1) * width / 32;
        const uint8_t* p = bgra + (size_t(y) * width + x) * 4;
        const int luma = (p[0] + p[1] + p[2]) / 3;
        if (luma > 170)
            value |= 1 << bit;
        else if (luma > 85)
            return -1;
    }
    return value;
}

double psnr(const uint8_t* bgra, const Pixmap& reference)
{
    double sum = 0;
    const size_t n = size_t(reference.width()) * reference.height();
    const uint32_t* ref = reference.data();
    for (size_t i = 0; i < n; ++i) {
        const int db = int(bgra[i * 4]) - blueOf(ref[i]);
        const int dg = int(bgra[i * 4 + 1]) - greenOf(ref[i]);
        const int dr = int(bgra[i * 4 + 2]) - redOf(ref[i]);
        sum += db * db + dg * dg + dr * dr;
    }
    const double mse = sum / (3.0 * double(n));
    return mse == 0 ? 100.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

double psnrOfLuma(const uint8_t* bgra, const Pixmap& reference)
{
    const int w = reference.width(), h = reference.height();
    if (w <= 0 || h <= 0) return 0.0;
    double sum = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            const uint8_t* q = bgra + (size_t(y) * size_t(w) + size_t(x)) * 4;
            const uint32_t p = reference.pixel(x, y);
            const double a = 0.299 * q[2] + 0.587 * q[1] + 0.114 * q[0];
            const double b = 0.299 * redOf(p) + 0.587 * greenOf(p) + 0.114 * blueOf(p);
            sum += (a - b) * (a - b);
        }
    }
    const double mse = sum / (double(w) * h);
    return mse <= 0 ? 100.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

double psnrOfBlocks(const uint8_t* bgra, const Pixmap& reference, int block)
{
    const int w = reference.width() / block, h = reference.height() / block;
    if (block <= 0 || w <= 0 || h <= 0) return 0.0;
    const size_t stride = size_t(reference.width()) * 4;
    const double area = double(block) * double(block);
    double sum = 0;
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int a[3] = {0, 0, 0}, b[3] = {0, 0, 0};
            for (int dy = 0; dy < block; ++dy) {
                const int py = y * block + dy;
                for (int dx = 0; dx < block; ++dx) {
                    const int px = x * block + dx;
                    const uint8_t* q = bgra + size_t(py) * stride + size_t(px) * 4;
                    const uint32_t p = reference.pixel(px, py);
                    a[0] += q[0];
                    a[1] += q[1];
                    a[2] += q[2];
                    b[0] += blueOf(p);
                    b[1] += greenOf(p);
                    b[2] += redOf(p);
                }
            }
            for (int ch = 0; ch < 3; ++ch) {
                const double d = (a[ch] - b[ch]) / area;
                sum += d * d;
            }
        }
    }
    const double mse = sum / (3.0 * double(w) * double(h));
    return mse == 0 ? 100.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

double psnrOf(const Pixmap& picture, const Pixmap& reference)
{
    if (picture.width() != reference.width() || picture.height() != reference.height() ||
        picture.isEmpty())
        return 0.0;
    std::vector<uint8_t> bgra(size_t(picture.width()) * size_t(picture.height()) * 4);
    for (int y = 0; y < picture.height(); ++y) {
        const uint32_t* row = picture.row(y);
        for (int x = 0; x < picture.width(); ++x) {
            uint8_t* p = bgra.data() + (size_t(y) * size_t(picture.width()) + size_t(x)) * 4;
            p[0] = blueOf(row[x]);
            p[1] = greenOf(row[x]);
            p[2] = redOf(row[x]);
            p[3] = alphaOf(row[x]);
        }
    }
    return psnr(bgra.data(), reference);
}

void expectProbed(const std::string& path, const ProbedFile& e)
{
    const auto info = probe(path);
    ASSERT_FALSE(info.empty()) << "ffprobe cannot read " << path;
    EXPECT_EQ(info.at("streams.stream.0.codec_name"), e.codecName);
    EXPECT_EQ(info.at("streams.stream.0.width"), std::to_string(e.width));
    EXPECT_EQ(info.at("streams.stream.0.height"), std::to_string(e.height));
    EXPECT_EQ(info.at("streams.stream.0.r_frame_rate"), e.frameRate);
    EXPECT_EQ(info.at("streams.stream.0.nb_read_frames"), std::to_string(e.frames));
    EXPECT_NEAR(std::stod(info.at("format.duration")), 1.0, 0.1);
    if (e.colourSpace) {
        EXPECT_EQ(info.at("streams.stream.0.color_space"), e.colourSpace);
        // (MPEG-4 part 2 carries no range, and the movie file's colour atom has none either.)
        if (e.colourRange) {
            EXPECT_EQ(info.at("streams.stream.0.color_range"), e.colourRange);
        }
    }
    if (e.soundCodecName) {
        ASSERT_TRUE(info.count("streams.stream.1.codec_name"));
        EXPECT_EQ(info.at("streams.stream.1.codec_name"), e.soundCodecName);
        EXPECT_NEAR(double(decodeAudio(path, 48000).size()), 48000.0, 2400.0);
    } else {
        EXPECT_FALSE(info.count("streams.stream.1.codec_name"));
    }
}

std::map<std::string, std::string> probe(const std::string& path)
{
    const auto bytes = runForOutput("ffprobe -v error -count_frames -show_streams -show_format "
                                    "-of flat " +
                                    shellQuote(path) + " 2>/dev/null");
    std::map<std::string, std::string> out;
    std::istringstream in(std::string(bytes.begin(), bytes.end()));
    std::string line;
    while (std::getline(in, line)) {
        const size_t eq = line.find('=');
        if (eq == std::string::npos) continue;
        std::string value = line.substr(eq + 1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
            value = value.substr(1, value.size() - 2);
        out[line.substr(0, eq)] = value;
    }
    return out;
}

std::vector<uint8_t> decodeVideo(const std::string& path, int width, int height,
                                 const std::string& pixelFormat)
{
    (void)width;
    (void)height;
    return runForOutput("ffmpeg -v error -i " + shellQuote(path) +
                        " -map 0:v:0 -sws_flags bicubic+accurate_rnd+full_chroma_int -f rawvideo "
                        "-pix_fmt " +
                        pixelFormat + " -vsync passthrough - 2>/dev/null");
}

std::vector<int16_t> decodeAudio(const std::string& path, int rate, int channels)
{
    const auto bytes =
        runForOutput("ffmpeg -v error -i " + shellQuote(path) + " -map 0:a:0 -f s16le -ac " +
                     std::to_string(channels) + " -ar " + std::to_string(rate) + " - 2>/dev/null");
    std::vector<int16_t> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = int16_t(bytes[i * 2] | (bytes[i * 2 + 1] << 8));
    return out;
}

std::string testFolder(const std::string& name)
{
    const char* base = std::getenv("ZEF_TEST_TMP");
    std::filesystem::path dir =
        std::filesystem::path(base && *base ? base : "/tmp") / "export" / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

int startProcess(const std::vector<std::string>& argv)
{
    const pid_t pid = fork();
    if (pid < 0) return -1;
    if (pid == 0) {
        std::vector<char*> args;
        for (const auto& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        FILE* devnull = std::fopen("/dev/null", "r+");
        if (devnull) {
            dup2(fileno(devnull), 0);
            dup2(fileno(devnull), 1);
            dup2(fileno(devnull), 2);
        }
        execvp(args[0], args.data());
        _exit(127);
    }
    return pid;
}

int waitProcess(int pid, int timeoutMs)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    int status = 0;
    while (std::chrono::steady_clock::now() < until) {
        if (waitpid(pid, &status, WNOHANG) == pid) return status;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    return -1;
}

int freePort()
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    int port = -1;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 &&
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) == 0)
        port = ntohs(addr.sin_port);
    close(s);
    return port;
}

bool isListening(int port)
{
    std::ifstream in("/proc/net/tcp");
    std::string line;
    char wanted[8];
    std::snprintf(wanted, sizeof wanted, ":%04X", port);
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        std::string sl, local, remote, state;
        fields >> sl >> local >> remote >> state;
        if (local.size() > 5 && local.substr(local.size() - 5) == wanted && state == "0A")
            return true;
    }
    return false;
}

} // namespace zef::movies::testing
