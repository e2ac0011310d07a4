// Encoding a squad to the bytes that Save writes.
#include "squad/squadwriter.h"

#include "benchsquad.h"

#include <benchmark/benchmark.h>

using namespace squad;

static void BM_EncodeToFileBytes(benchmark::State &state) {
    const SquadData squad = makeSquad(int(state.range(0)));
    qsizetype bytes = 0;
    for (auto _ : state) {
        const QByteArray out = fileContents(squad);
        bytes = out.size();
        benchmark::DoNotOptimize(out.constData());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes);
    state.counters["file_bytes"] = double(bytes);
}
BENCHMARK(BM_EncodeToFileBytes)->Arg(10)->Arg(1000)->Arg(100000)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
