// Comparing the squad in the editor with the one a server sends, as the published-squad check
// does once per check: identical squads, and one where every member differs in a field.
// Run by hand: build/bench/bench_publish.
#include "squad/squadcompare.h"

#include "benchsquad.h"

#include <benchmark/benchmark.h>

using namespace squad;

namespace {

void BM_SquadDifferences_Same(benchmark::State &state) {
    const SquadData ours = makeSquad(int(state.range(0)));
    const SquadData theirs = makeSquad(int(state.range(0)));
    for (auto _ : state) {
        const QStringList differences = squadDifferences(ours, theirs);
        if (!differences.isEmpty())
            state.SkipWithError("found differences in equal squads");
        benchmark::DoNotOptimize(differences.size());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SquadDifferences_Same)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_SquadDifferences_AllDiffer(benchmark::State &state) {
    const SquadData ours = makeSquad(int(state.range(0)));
    SquadData theirs = makeSquad(int(state.range(0)));
    for (int c = 0; c < theirs.mmbdata.memberCount(); ++c)
        theirs.mmbdata.setCell(Field::Remark, c, QStringLiteral("changed"));
    for (auto _ : state) {
        const QStringList differences = squadDifferences(ours, theirs);
        if (differences.size() != state.range(0))
            state.SkipWithError("missed differences");
        benchmark::DoNotOptimize(differences.size());
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SquadDifferences_AllDiffer)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
