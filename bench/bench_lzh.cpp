// Throughput of the LZH component and codec on the corpus of Corpus.h.
//
//   bench_lzh [benchmark options] [FILE...]
//
// Each corpus file gets a compress and a decompress benchmark. Both run the
// component in stream mode over memory streams, so the figures include the
// 32 KiB block handling but no disk. Counters: MB/s (10^6 bytes of
// uncompressed data per second), ratio (compressed size / original size).
#include "Corpus.h"

#include "lzh/LzhBytes.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <exception>
#include <vector>

namespace {

using qmbench::TCorpusFile;

void Report(benchmark::State& state, const TCorpusFile& f, std::size_t packedSize)
{
    const double size = static_cast<double>(f.Data.size());
    state.counters["MB/s"] = benchmark::Counter(size * static_cast<double>(state.iterations()) / 1e6,
                                                benchmark::Counter::kIsRate);
    state.counters["ratio"] = static_cast<double>(packedSize) / size;
    state.counters["bytes"] = size;
}

void BenchCompress(benchmark::State& state, const TCorpusFile* f)
{
    std::size_t packed = 0;
    for (auto _ : state)
        packed = qm::LzhCompressBytes(f->Data).size();
    Report(state, *f, packed);
}

void BenchDecompress(benchmark::State& state, const TCorpusFile* f)
{
    const auto packed = qm::LzhCompressBytes(f->Data);
    if (qm::LzhDecompressBytes(packed) != f->Data) {
        state.SkipWithError("round trip failed");
        return;
    }
    for (auto _ : state)
        benchmark::DoNotOptimize(qm::LzhDecompressBytes(packed).size());
    Report(state, *f, packed.size());
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    std::vector<TCorpusFile> corpus;
    try {
        corpus = qmbench::MakeCorpus(QM_BENCH_BINARY);
        for (int i = 1; i < argc; ++i)
            corpus.push_back(qmbench::LoadFile(argv[i]));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_lzh: %s\n", e.what());
        return 1;
    }
    for (const TCorpusFile& f : corpus) {
        benchmark::RegisterBenchmark(("compress/" + f.Name).c_str(), BenchCompress, &f)
            ->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark(("decompress/" + f.Name).c_str(), BenchDecompress, &f)
            ->Unit(benchmark::kMillisecond);
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
