// Throughput of the core helpers that run on every file transfer and frame:
// the MD5 of a transferred file, the CRC-32 and check byte of frames, and
// the block-against-shadow comparison of every refresh.
#include "core/md5.h"
#include "core/utils.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <vector>

namespace {

std::vector<unsigned char> data(size_t n)
{
    std::vector<unsigned char> v(n);
    for (size_t i = 0; i < n; ++i)
        v[i] = static_cast<unsigned char>(i * 131 + 7);
    return v;
}

void BM_Md5(benchmark::State& state)
{
    const auto buf = data(static_cast<size_t>(state.range(0)));
    for (auto _ : state) {
        MD5 md5(buf.data(), buf.size());
        benchmark::DoNotOptimize(md5.digest());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Md5)->Arg(4096)->Arg(5 << 20);

void BM_Crc32(benchmark::State& state)
{
    const auto buf = data(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(Utils::calcCRC32(buf.data(), static_cast<unsigned>(buf.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Crc32)->Arg(1024)->Arg(65536);

void BM_Bcc(benchmark::State& state)
{
    const auto buf = data(static_cast<size_t>(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(Utils::BCC(buf.data(), static_cast<unsigned>(buf.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
BENCHMARK(BM_Bcc)->Arg(1024);

// The refresh compares the whole 4096-byte block with its shadow.
void BM_BlockCompare(benchmark::State& state)
{
    const auto a = data(4096);
    auto b = a;
    for (auto _ : state)
        benchmark::DoNotOptimize(std::memcmp(a.data(), b.data(), a.size()));
}
BENCHMARK(BM_BlockCompare);

} // namespace

BENCHMARK_MAIN();
