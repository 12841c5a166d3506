#include "demo_test_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace zef::demo::testing {

namespace {

constexpr int kTimeoutSeconds = 120;

// Runs argv with its standard output (and, with mergeErrors, its standard error) into bytes.
int runInto(const std::vector<std::string>& argv, bool mergeErrors, std::vector<uint8_t>& bytes)
{
    int fds[2];
    if (argv.empty() || pipe(fds) != 0) return -1;
    const pid_t pid = fork();
    if (pid < 0) {
        close(fds[0]);
        close(fds[1]);
        return -1;
    }
    if (pid == 0) {
        const int devnull = open("/dev/null", O_RDWR);
        dup2(devnull, 0);
        dup2(fds[1], 1);
        dup2(mergeErrors ? fds[1] : devnull, 2);
        close(fds[0]);
        close(fds[1]);
        std::vector<char*> args;
        for (const std::string& a : argv)
            args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    close(fds[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(kTimeoutSeconds);
    bool killed = false;
    uint8_t buffer[1 << 16];
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        const int ready = poll(&p, 1, 200);
        if (ready > 0) {
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0) break;
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
    }
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    if (killed || !WIFEXITED(status)) return -1;
    return WEXITSTATUS(status);
}

} // namespace

CommandResult run(const std::vector<std::string>& argv)
{
    std::vector<uint8_t> bytes;
    CommandResult r;
    r.exitCode = runInto(argv, true, bytes);
    r.output.assign(bytes.begin(), bytes.end());
    return r;
}

std::vector<uint8_t> runForBytes(const std::vector<std::string>& argv)
{
    std::vector<uint8_t> bytes;
    runInto(argv, false, bytes);
    return bytes;
}

std::string freshFolder(const std::string& name)
{
    const char* base = std::getenv("ZEF_TEST_TMP");
    const std::filesystem::path dir =
        std::filesystem::path(base && *base ? base : "/tmp") / "demo" / name;
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    return dir.string();
}

std::vector<Picture> decodeFrames(const std::string& path, const std::vector<int>& frames,
                                  int width, int height)
{
    std::string select;
    for (int f : frames)
        select += (select.empty() ? "" : "+") + std::string("eq(n\\,") + std::to_string(f) + ")";
    const std::vector<uint8_t> bytes =
        runForBytes({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:v:0", "-vf",
                     "select='" + select + "'", "-fps_mode", "passthrough", "-f", "rawvideo",
                     "-pix_fmt", "bgra", "-"});
    const size_t frameBytes = size_t(width) * size_t(height) * 4;
    std::vector<Picture> out;
    for (size_t at = 0; frameBytes > 0 && at + frameBytes <= bytes.size(); at += frameBytes) {
        Picture p;
        p.width = width;
        p.height = height;
        p.pixels.resize(size_t(width) * size_t(height));
        for (size_t i = 0; i < p.pixels.size(); ++i) {
            const uint8_t* b = bytes.data() + at + i * 4;
            p.pixels[i] =
                uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
        }
        out.push_back(std::move(p));
    }
    return out;
}

std::vector<int16_t> decodeMono(const std::string& path, int rate)
{
    const std::vector<uint8_t> bytes =
        runForBytes({"ffmpeg", "-nostdin", "-v", "error", "-i", path, "-map", "0:a:0", "-f",
                     "s16le", "-ac", "1", "-ar", std::to_string(rate), "-"});
    std::vector<int16_t> out(bytes.size() / 2);
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = int16_t(bytes[i * 2] | (bytes[i * 2 + 1] << 8));
    return out;
}

double regionPsnr(const Picture& a, int ax, int ay, const Picture& b, int bx, int by, int w, int h)
{
    double sum = 0;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint32_t p = a.at(ax + x, ay + y), q = b.at(bx + x, by + y);
            for (int shift : {0, 8, 16}) {
                const double d = double((p >> shift) & 0xFF) - double((q >> shift) & 0xFF);
                sum += d * d;
            }
        }
    const double mse = sum / (3.0 * w * h);
    return mse == 0 ? 100.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

double toneAmplitude(const std::vector<int16_t>& samples, int rate, double hz, size_t first,
                     size_t count)
{
    if (first >= samples.size() || count == 0) return 0;
    count = std::min(count, samples.size() - first);
    const double coeff = 2.0 * std::cos(2.0 * M_PI * hz / rate);
    double s1 = 0, s2 = 0;
    for (size_t i = 0; i < count; ++i) {
        const double s0 = samples[first + i] + coeff * s1 - s2;
        s2 = s1;
        s1 = s0;
    }
    const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
    return 2.0 * std::sqrt(std::max(0.0, power)) / double(count);
}

} // namespace zef::demo::testing
