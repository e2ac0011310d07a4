// Comparing the squad in the editor with the one a server sends, as the published-squad check
// does once per check: identical squads, one where every member differs in a field, and the
// worst case of a served body: a great many tiny members, each one extra. That one also reports
// the memory taken at the peak, in bytes per member and per byte of the body.
// Run by hand: build/bench/bench_publish.
#include "squad/squadcompare.h"
#include "squad/squadreader.h"

#include "benchsquad.h"

#include <benchmark/benchmark.h>

#include <QFile>

#include <functional>

using namespace squad;

namespace {

void BM_SquadDifferences_Same(benchmark::State &state) {
    const SquadData ours = makeSquad(int(state.range(0)));
    const SquadData theirs = makeSquad(int(state.range(0)));
    for (auto _ : state) {
        const SquadDifferences differences = squadDifferences(ours, theirs);
        if (differences.count != 0)
            state.SkipWithError("found differences in equal squads");
        benchmark::DoNotOptimize(differences.count);
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
        const SquadDifferences differences = squadDifferences(ours, theirs);
        if (differences.count != state.range(0))
            state.SkipWithError("missed differences");
        benchmark::DoNotOptimize(differences.count);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_SquadDifferences_AllDiffer)->Arg(1000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The kernel's count of resident memory: kB in /proc/self/status.
qint64 statusKilobytes(const char *field) {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(strlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// How far resident memory rises above where it stood while `work` runs.
qint64 peakBytesDuring(const std::function<void()> &work) {
    // "5" resets the peak (VmHWM) to the present resident size.
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (!clear.open(QIODevice::WriteOnly) || clear.write("5") != 1)
        return -1;
    clear.close();
    const qint64 before = statusKilobytes("VmRSS:");
    work();
    return (statusKilobytes("VmHWM:") - before) * 1024;
}

// A served body of `members` members of nine bytes each: "<member/>".
QByteArray tinyMembers(int members) {
    QByteArray body = "<squad nick=\"T\">\n";
    body.reserve(body.size() + 9 * qsizetype(members) + 10);
    for (int i = 0; i < members; ++i)
        body += "<member/>";
    return body + "</squad>\n";
}

// Reading the served body and comparing it with a squad of one member, as --check-published
// FILE does; the body itself is not counted in the peak.
void BM_DecodeAndCompareTinyMembers(benchmark::State &state) {
    const int members = int(state.range(0));
    const QByteArray body = tinyMembers(members);
    const SquadData ours = makeSquad(1);
    qint64 peak = 0;
    for (auto _ : state) {
        peak = std::max(peak, peakBytesDuring([&] {
                            const DecodeResult served = decode(body);
                            const SquadDifferences differences =
                                squadDifferences(ours, served.data);
                            if (!served.ok || differences.count < members)
                                state.SkipWithError("the served members were not all extra");
                            benchmark::DoNotOptimize(differences.count);
                        }));
    }
    state.counters["peak_MB"] = double(peak) / (1024 * 1024);
    state.counters["peak_per_member"] = double(peak) / members;
    state.counters["peak_per_body_byte"] = double(peak) / double(body.size());
}
BENCHMARK(BM_DecodeAndCompareTinyMembers)
    ->Arg(1000000)
    ->Arg(3000000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

} // namespace

BENCHMARK_MAIN();
