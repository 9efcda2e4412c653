// Throughput of ARIB 8-unit text decoding over programme texts as broadcast:
// a title, a description and an extended text mixing kanji, kana,
// alphanumerics, additional symbols and line breaks.
#include <benchmark/benchmark.h>

#include <vector>

#include "AribTextBuilder.h"
#include "convToUnicode.h"

namespace {

std::vector<uint8_t> titleText() {
    testsupport::AribTextBuilder b;
    b.text(u"【連続テレビ小説】ひだまりの家（１２３）").symbol(0x7A56).symbol(0x7A50);
    return b.bytes();
}

std::vector<uint8_t> descriptionText() {
    testsupport::AribTextBuilder b;
    b.text(u"春子（山田花子）は東京の出版社で働き始める。初日から編集長の佐藤（鈴木一郎）に厳しく指導され、"
           u"ABC-2024企画の資料集めに奔走するが…。一方、故郷の𠮟られ役だった弟・健太は新しい夢を見つける。")
        .symbol(0x7A6A);
    return b.bytes();
}

std::vector<uint8_t> extendedText() {
    testsupport::AribTextBuilder b;
    for (int i = 0; i < 6; ++i) {
        b.text(u"出演者\n山田花子，鈴木一郎，佐藤次郎，高橋三郎，田中美咲，伊藤健太\n");
        b.text(u"番組内容\n朝の情報番組「おはよう！ＮＥＷＳ　ＬＩＶＥ」では最新のニュースとスポーツ、"
               u"エンタメ情報をお届けします。Ｗｅｂサイト：www.example.jp　午前６時〜８時\n");
        b.symbol(0x7A55).symbol(0x7A5C).symbol(0x7521).symbol(0x7D21);
        b.raw({0x89, 0x0E, 'H', 'D', 0x8A, 0x0F});
        b.text(u"音楽\nテーマ曲「はじまりの歌」作詞・作曲：渡辺ゆう\n");
    }
    return b.bytes();
}

const std::vector<uint8_t>& sample(int which) {
    static const std::vector<uint8_t> samples[] = {titleText(), descriptionText(), extendedText()};
    return samples[which];
}

// One timing loop for every converter: only the output unit and the call differ.
template <class Unit, class Conv>
void convert(benchmark::State& state, size_t room, Conv conv) {
    const std::vector<uint8_t>& in = sample(static_cast<int>(state.range(0)));
    std::vector<Unit> out(room);
    for (auto _ : state) {
        size_t n = conv(out.data(), out.size(), in.data(), in.size());
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(in.size()));
}

void BM_ConvToUtf16(benchmark::State& state) {
    convert<char16_t>(state, 65536, [](char16_t* d, size_t n, const uint8_t* s, size_t len) {
        return conv_to_unicode(d, n, s, len, false, false);
    });
}

void BM_ConvToUtf8(benchmark::State& state) {
    convert<uint8_t>(state, 3 * 65536, [](uint8_t* d, size_t n, const uint8_t* s, size_t len) {
        return conv_to_unicode(d, n, s, len, false, false);
    });
}

void BM_ConvToU32T(benchmark::State& state) { convert<uint32_t>(state, 65536, conv_to_U32T); }

// 0: title, 1: description, 2: extended text
BENCHMARK(BM_ConvToUtf16)->DenseRange(0, 2);
BENCHMARK(BM_ConvToUtf8)->DenseRange(0, 2);
BENCHMARK(BM_ConvToU32T)->DenseRange(0, 2);

}  // namespace

BENCHMARK_MAIN();
