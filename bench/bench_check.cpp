// `troopbook --check` as a whole process, against a process that only parses the same file with
// pugixml: wall time and peak memory (maxrss, as /usr/bin/time reports it) per file size. The
// files are written to a temporary folder once.
// Run by hand: build/bench/bench_check [--benchmark_filter=...]. Each 1,000,000-member run reads
// about 180 MB; keep --benchmark_repetitions small on a shared machine.
#include "squad/squadwriter.h"

#include "benchsquad.h"

#include <QByteArray>
#include <QFile>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <chrono>
#include <fcntl.h>
#include <map>
#include <spawn.h>
#include <sys/wait.h>

extern char **environ;

namespace {

// The benchmark squad (whose 8-digit IDs draw a hint for every member), the same with IDs of 17
// digits (nothing to say about its members), and members of nine bytes, `<member/>`.
enum Shape { Writers, Clean, Tiny };

QTemporaryDir &folder() {
    static QTemporaryDir dir;
    return dir;
}

// The file of `members` in `shape`, written once; its path and size.
std::pair<QString, qint64> fileOf(Shape shape, int members) {
    static std::map<std::pair<int, int>, std::pair<QString, qint64>> files;
    const auto key = std::make_pair(int(shape), members);
    if (auto it = files.find(key); it != files.end())
        return it->second;
    const QString path = folder().filePath(
        QStringLiteral("%1-%2.xml").arg(shape == Tiny ? "tiny" : "writers").arg(members));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    if (shape == Tiny) {
        // The smallest member there is: 9 bytes, all of it markup.
        file.write("<squad nick=\"T\">");
        const QByteArray block = QByteArray("<member/>").repeated(100000);
        for (int written = 0; written < members; written += 100000)
            file.write(block.left(9 * std::min(100000, members - written)));
        file.write("</squad>\n");
    } else {
        squad::SquadData squad = makeSquad(members);
        if (shape == Clean) {
            for (int m = 0; m < members; ++m)
                squad.mmbdata.setCell(squad::Field::Id, m,
                                      QString::number(76561197960265728LL + m));
        }
        file.write(squad::fileContents(squad));
    }
    return files[key] = {path, file.size()};
}

struct Run {
    double seconds = 0;
    long peakKiB = 0;
    int status = -1;
};

// Through /usr/bin/time, a small process of its own: a child spawned straight from this one would
// count this one's memory as its own until it has started.
Run runProcess(const char *program, const std::vector<std::string> &arguments) {
    const std::string report = folder().filePath(QStringLiteral("time.txt")).toStdString();
    std::vector<std::string> all{"/usr/bin/time", "-f", "%e %M %x", "-o", report, "-q", program};
    all.insert(all.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &a : all)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    Run run;
    pid_t pid = 0;
    const auto start = std::chrono::steady_clock::now();
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) == 0) {
        int status = 0;
        waitpid(pid, &status, 0);
        run.seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        QFile file(QString::fromStdString(report));
        if (file.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> fields = file.readAll().simplified().split(' ');
            if (fields.size() == 3) {
                run.peakKiB = fields[1].toLong();
                run.status = fields[2].toInt();
            }
        }
    }
    posix_spawn_file_actions_destroy(&actions);
    return run;
}

void measure(benchmark::State &state, const char *program, std::vector<std::string> leading,
             Shape shape) {
    const auto [path, size] = fileOf(shape, int(state.range(0)));
    leading.push_back(path.toStdString());
    long peak = 0;
    for (auto _ : state) {
        const Run run = runProcess(program, leading);
        // 0, 2 (a problem found) and 1 (refused, as beyond the member budget) are answers; a
        // crash or a kill for memory is not.
        if (run.status < 0 || run.status > 2) {
            state.SkipWithError("the process failed");
            break;
        }
        state.SetIterationTime(run.seconds);
        peak = std::max(peak, run.peakKiB);
    }
    state.counters["file_MB"] = double(size) / 1e6;
    state.counters["peak_MB"] = double(peak) * 1024 / 1e6;
    state.counters["peak_per_file_byte"] = double(peak) * 1024 / double(size);
    state.counters["peak_B_per_member"] = double(peak) * 1024 / double(state.range(0));
}

void BM_Check(benchmark::State &state) {
    measure(state, TROOPBOOK_BINARY, {"--check"}, Writers);
}
void BM_PugixmlParse(benchmark::State &state) {
    measure(state, PUGIXML_PARSE_BINARY, {}, Writers);
}
void BM_CheckClean(benchmark::State &state) {
    measure(state, TROOPBOOK_BINARY, {"--check"}, Clean);
}
void BM_PugixmlParseClean(benchmark::State &state) {
    measure(state, PUGIXML_PARSE_BINARY, {}, Clean);
}
void BM_CheckTinyMembers(benchmark::State &state) {
    measure(state, TROOPBOOK_BINARY, {"--check"}, Tiny);
}
void BM_PugixmlParseTinyMembers(benchmark::State &state) {
    measure(state, PUGIXML_PARSE_BINARY, {}, Tiny);
}

} // namespace

BENCHMARK(BM_Check)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PugixmlParse)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CheckClean)->Arg(100000)->Arg(1000000)->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PugixmlParseClean)
    ->Arg(100000)
    ->Arg(1000000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
// Below the member budget, and far beyond it (refused).
BENCHMARK(BM_CheckTinyMembers)
    ->Arg(1000000)
    ->Arg(3900000)
    ->Arg(10000000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PugixmlParseTinyMembers)
    ->Arg(1000000)
    ->Arg(3900000)
    ->Arg(10000000)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
