// Compound file throughput: writing, opening, reading and patching a 50 MB stream on disk.
#include "platform/storage/compound_file.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <unistd.h>
#include <vector>

using namespace zef::storage;

namespace {

constexpr size_t kStreamSize = 50 << 20;
constexpr size_t kPiece = 1 << 20;

std::string benchPath()
{
    const char* env = std::getenv("ZEF_TEST_TMP");
    std::filesystem::path dir = env && *env ? env : std::filesystem::temp_directory_path();
    std::filesystem::create_directories(dir);
    return (dir / ("bench_storage_" + std::to_string(::getpid()) + ".zef")).string();
}

const std::vector<uint8_t>& piece()
{
    static std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b(kPiece);
        for (size_t i = 0; i < b.size(); ++i)
            b[i] = uint8_t(i * 7 + (i >> 11));
        return b;
    }();
    return bytes;
}

bool writeFile(const std::string& path)
{
    auto cf = CompoundFile::create(path);
    if (!cf) return false;
    auto s = cf.value->root().createStream("Movie");
    for (size_t at = 0; at < kStreamSize; at += kPiece)
        if (s.value->write(piece().data(), kPiece) != kPiece) return false;
    return cf.value->close() == CfbError::Ok;
}

void BM_Write50MBStreamAndCommit(benchmark::State& state)
{
    const std::string path = benchPath();
    for (auto _ : state)
        if (!writeFile(path)) state.SkipWithError("write failed");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kStreamSize));
    std::filesystem::remove(path);
}

void BM_Open50MBFile(benchmark::State& state)
{
    const std::string path = benchPath();
    if (!writeFile(path)) state.SkipWithError("write failed");
    for (auto _ : state) {
        auto cf = CompoundFile::open(path, CompoundFile::Mode::Read);
        benchmark::DoNotOptimize(cf.value.get());
    }
    std::filesystem::remove(path);
}

void BM_Read50MBStream(benchmark::State& state)
{
    const std::string path = benchPath();
    if (!writeFile(path)) state.SkipWithError("write failed");
    std::vector<uint8_t> buffer(kPiece);
    for (auto _ : state) {
        auto cf = CompoundFile::open(path, CompoundFile::Mode::Read);
        auto s = cf.value->root().openStream("Movie");
        size_t total = 0, n;
        while ((n = s.value->read(buffer.data(), buffer.size())) > 0)
            total += n;
        if (total != kStreamSize) state.SkipWithError("short read");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kStreamSize));
    std::filesystem::remove(path);
}

// A small change in a large stream: only the touched 1 MiB piece is held in memory, the rest
// is copied from the old file into the new one.
void BM_Patch50MBStreamAndCommit(benchmark::State& state)
{
    const std::string path = benchPath();
    if (!writeFile(path)) state.SkipWithError("write failed");
    for (auto _ : state) {
        auto cf = CompoundFile::open(path, CompoundFile::Mode::ReadWrite);
        auto s = cf.value->root().openStream("Movie");
        s.value->seek(int64_t(kStreamSize / 2));
        s.value->write("patch", 5);
        if (cf.value->close() != CfbError::Ok) state.SkipWithError("commit failed");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kStreamSize));
    std::filesystem::remove(path);
}

} // namespace

BENCHMARK(BM_Write50MBStreamAndCommit)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Open50MBFile)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK(BM_Read50MBStream)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Patch50MBStreamAndCommit)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_MAIN();
