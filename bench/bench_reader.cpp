// Reading a squad file: decode (bytes to document) against pugixml parsing the same bytes.
// Run by hand: build/bench/bench_reader. Destroying the results is not timed, for either side.
#include "squad/squadreader.h"
#include "squad/squadwriter.h"

#include "benchsquad.h"

#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include <malloc.h>

#include <map>
#include <optional>

using namespace squad;

namespace {

// The file bytes of a squad of `members`, made once per size.
const QByteArray &fileOf(int members) {
    static std::map<int, QByteArray> files;
    auto it = files.find(members);
    if (it == files.end())
        it = files.emplace(members, fileContents(makeSquad(members))).first;
    return it->second;
}

// Bytes handed out by malloc, large blocks (which it maps on their own) included.
size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

void setCounters(benchmark::State &state, const QByteArray &bytes) {
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
    state.counters["file_MB"] = double(bytes.size()) / 1e6;
}

// Arg 1 is 1 for the values in one shared block of Qt string data, 0 for a string each.
void BM_Decode(benchmark::State &state) {
    const QByteArray &bytes = fileOf(int(state.range(0)));
    const detail::DecodeWay way{.sharedBlock = state.range(1) != 0};
    size_t heldBytes = 0;
    for (auto _ : state) {
        const size_t before = heapInUse();
        std::optional<DecodeResult> result = detail::decode(bytes, way);
        if (!result->ok || result->data.mmbdata.memberCount() != state.range(0))
            state.SkipWithError("decode failed");
        benchmark::DoNotOptimize(result->data.mmbdata.columnCount());
        state.PauseTiming();
        heldBytes = heapInUse() - before;
        result.reset();
        state.ResumeTiming();
    }
    setCounters(state, bytes);
    // The heap that the document read holds, per member.
    state.counters["held_B/member"] = double(heldBytes) / double(state.range(0));
}

// pugixml's parse of the same bytes: load_buffer copies them and parses the copy in place.
void BM_PugixmlParse(benchmark::State &state) {
    const QByteArray &bytes = fileOf(int(state.range(0)));
    for (auto _ : state) {
        std::optional<pugi::xml_document> doc(std::in_place);
        const pugi::xml_parse_result parsed =
            doc->load_buffer(bytes.constData(), size_t(bytes.size()));
        if (!parsed)
            state.SkipWithError(parsed.description());
        benchmark::DoNotOptimize(doc->first_child());
        state.PauseTiming();
        doc.reset();
        state.ResumeTiming();
    }
    setCounters(state, bytes);
}

// For comparison only: what pugixml takes to get as far as decode does, a SquadData.
void BM_PugixmlParseToSquadData(benchmark::State &state) {
    const QByteArray &bytes = fileOf(int(state.range(0)));
    for (auto _ : state) {
        std::optional<pugi::xml_document> doc(std::in_place);
        std::optional<SquadData> data(std::in_place);
        doc->load_buffer(bytes.constData(), size_t(bytes.size()));
        const pugi::xml_node squad = doc->child("squad");
        data->properties[int(Property::Tag)] = QString::fromUtf8(squad.attribute("nick").value());
        data->properties[int(Property::Name)] = QString::fromUtf8(squad.child_value("name"));
        data->properties[int(Property::Mail)] = QString::fromUtf8(squad.child_value("email"));
        data->properties[int(Property::Web)] = QString::fromUtf8(squad.child_value("web"));
        data->properties[int(Property::Picture)] = QString::fromUtf8(squad.child_value("picture"));
        data->properties[int(Property::Title)] = QString::fromUtf8(squad.child_value("title"));
        for (const pugi::xml_node m : squad.children("member")) {
            data->mmbdata.append(Member{QString::fromUtf8(m.attribute("id").value()),
                                        QString::fromUtf8(m.attribute("nick").value()),
                                        QString::fromUtf8(m.child_value("name")),
                                        QString::fromUtf8(m.child_value("email")),
                                        QString::fromUtf8(m.child_value("icq")),
                                        QString::fromUtf8(m.child_value("remark"))});
        }
        if (data->mmbdata.memberCount() != state.range(0))
            state.SkipWithError("pugixml found other members");
        benchmark::DoNotOptimize(data->mmbdata.columnCount());
        state.PauseTiming();
        doc.reset();
        data.reset();
        state.ResumeTiming();
    }
    setCounters(state, bytes);
}

// The same file declaring a code page that the system's converter knows: a code page of one
// byte a character is read through its table (windows-1251, CP437), any other is converted to
// UTF-8 by the converter before it is scanned (Shift_JIS).
void BM_DecodeDeclaredCodePage(benchmark::State &state) {
    static const char *const codePages[] = {"windows-1251", "CP437", "Shift_JIS"};
    const QLatin1StringView codePage(codePages[state.range(1)]);
    QByteArray bytes = fileOf(int(state.range(0)));
    bytes.replace(
        "<?xml version=\"1.0\"?>",
        QByteArray(QByteArray("<?xml version=\"1.0\" encoding=\"") + codePage.data() + "\"?>"));
    for (auto _ : state) {
        std::optional<DecodeResult> result = decode(bytes);
        if (!result->ok || result->encoding != codePage)
            state.SkipWithError("not read in the declared code page");
        benchmark::DoNotOptimize(result->data.mmbdata.columnCount());
        state.PauseTiming();
        result.reset();
        state.ResumeTiming();
    }
    setCounters(state, bytes);
}

// Texts built to make a careless scanner go back over what it has read: the time per byte must
// stay the same from 1 MB to 16 MB.
QByteArray hostileText(int kind, int size) {
    switch (kind) {
    case 0:
        return "<squad><member " + QByteArray("a=\"\" ").repeated(size / 5) + ">";
    case 1:
        return "<squad>" + QByteArray("<!--").repeated(size / 4);
    case 2:
        return "<squad>" + QByteArray("<member id=\"1\"><name>").repeated(size / 21) + "x<";
    case 3:
        return "<squad><name>" + QByteArray("&#1").repeated(size / 3) + "<";
    case 4:
        return "<squad><member/>" + QByteArray("<name>").repeated(size / 6);
    default:
        return "<squad><name>" + QByteArray("<name>x<b a=\"\">").repeated(size / 16);
    }
}

void BM_DecodeHostile(benchmark::State &state) {
    const QByteArray bytes = hostileText(int(state.range(0)), int(state.range(1)));
    for (auto _ : state) {
        std::optional<DecodeResult> result = decode(bytes);
        benchmark::DoNotOptimize(result->ok);
        state.PauseTiming();
        result.reset();
        state.ResumeTiming();
    }
    setCounters(state, bytes);
}

} // namespace

BENCHMARK(BM_DecodeHostile)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5}, {1 << 20, 16 << 20}})
    ->ArgNames({"kind", "bytes"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Decode)
    ->ArgsProduct({{1000, 100000, 1000000}, {1, 0}})
    ->ArgNames({"members", "shared"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeDeclaredCodePage)
    ->ArgsProduct({{1000, 100000, 1000000}, {0, 1, 2}})
    ->ArgNames({"members", "codepage"})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PugixmlParse)->Arg(1000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PugixmlParseToSquadData)
    ->Arg(1000)
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
