// Encoding into ARIB 8-unit code: per-call time for programme names as
// broadcast (10 to 255 bytes of UTF-8), and the time as the number of runs
// doubles; the per-run time and the fitted complexity show whether the
// search stays linear.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "convFromUnicode.h"

namespace {

// UTF-8 programme names of growing length.
const std::vector<std::string>& names() {
    static const std::vector<std::string> n = {
        u8"ニュース7",                                                        // 13 bytes
        u8"[新]まほうの森＃1「はじまりの朝」[字]",                           // 53 bytes
        u8"【連続テレビ小説】ひだまりの家（123）第12週「春の嵐」[字][再]",  // 87 bytes
        u8"土曜ドラマ スペシャル「ABC-2024 東京の夜」第3話 ～さよならの向こう側～"
        u8"[解][字][デ] 出演：山田花子、鈴木一郎 ほか 音楽：渡辺ゆう 脚本：佐藤次郎 "
        u8"語り：高橋三郎 制作：MARUBOテレビ",  // 249 bytes
    };
    return n;
}

void BM_EncodeProgrammeName(benchmark::State& state) {
    const std::string& name = names()[static_cast<size_t>(state.range(0))];
    std::vector<uint8_t> out(1024);
    for (auto _ : state) {
        size_t n = conv_from_unicode(out.data(), out.size(), reinterpret_cast<const uint8_t*>(name.data()),
                                     name.size(), false);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    state.SetLabel(std::to_string(name.size()) + " bytes");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(name.size()));
}

// Kanji and hiragana alternate, one character a run, with a letter every
// 8 runs: runs of kanji, kana and alphanumerics.
std::u16string textOfRuns(int64_t runs) {
    static const char16_t pattern[] = u"漢あ字いAう森え";
    std::u16string s;
    s.reserve(static_cast<size_t>(runs));
    for (int64_t i = 0; i < runs; ++i) s += pattern[i % 8];
    return s;
}

void BM_EncodeRunsDoubling(benchmark::State& state) {
    const std::u16string text = textOfRuns(state.range(0));
    std::vector<uint8_t> out(4 * text.size() + 16);
    for (auto _ : state) {
        size_t n = conv_from_unicode(out.data(), out.size(), text.data(), text.size(), false);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    state.SetComplexityN(state.range(0));
    state.counters["time_per_run"] = benchmark::Counter(
        static_cast<double>(state.range(0)), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_EncodeProgrammeName)->DenseRange(0, 3);
// 1,000 to 64,000 runs, doubling.
BENCHMARK(BM_EncodeRunsDoubling)
    ->Apply([](benchmark::internal::Benchmark* b) {
        for (int64_t runs = 1000; runs <= 64000; runs *= 2) b->Arg(runs);
    })
    ->Unit(benchmark::kMillisecond)
    ->Complexity();

}  // namespace

BENCHMARK_MAIN();
