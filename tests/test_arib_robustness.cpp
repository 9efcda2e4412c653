// Garbage and cut input never makes the converters read past the input or
// write past the given size, and counting with a null destination gives
// the same count as converting. Inputs live in exactly-sized heap buffers so
// the sanitizer build catches any over-read.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <vector>

#include "AribTextBuilder.h"
#include "convToUnicode.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Runs conv(dst, size, src, len) for every destination size up to the full
// count + 1 into exactly-sized heap buffers, and compares with the count of
// a null destination and with the output of a roomy buffer.
template <class Unit, class Src, class Conv>
void checkConverter(const std::vector<Src>& input, Conv conv, const char* what) {
    std::unique_ptr<Src[]> src(new Src[input.size()]);
    std::copy(input.begin(), input.end(), src.get());
    const size_t roomy = 8 * input.size() + 16;

    std::vector<Unit> full(roomy);
    size_t count = conv(full.data(), roomy, src.get(), input.size());
    ASSERT_LT(count, roomy) << what;
    ASSERT_EQ(conv(nullptr, roomy, src.get(), input.size()), count) << what;
    ASSERT_EQ(full[count], Unit(0)) << what;

    for (size_t size = 0; size <= count + 1; ++size) {
        size_t expected = std::min(count, size);
        ASSERT_EQ(conv(nullptr, size, src.get(), input.size()), expected) << what << " size " << size;
        std::unique_ptr<Unit[]> dst(new Unit[size]);
        std::fill(dst.get(), dst.get() + size, Unit(0x55));
        ASSERT_EQ(conv(dst.get(), size, src.get(), input.size()), expected) << what << " size " << size;
        ASSERT_TRUE(std::equal(dst.get(), dst.get() + expected, full.begin())) << what << " size " << size;
        if (size > count) {
            ASSERT_EQ(dst[count], Unit(0)) << what;
        }
    }
}

void checkAllForms(const Bytes& input) {
    checkConverter<char16_t, uint8_t>(
        input,
        [](char16_t* d, size_t n, const uint8_t* s, size_t len) { return conv_to_unicode(d, n, s, len, false, false); },
        "UTF-16");
    checkConverter<char16_t, uint8_t>(
        input,
        [](char16_t* d, size_t n, const uint8_t* s, size_t len) { return conv_to_unicode(d, n, s, len, true, true); },
        "UTF-16 sizes+IVS");
    checkConverter<uint8_t, uint8_t>(
        input,
        [](uint8_t* d, size_t n, const uint8_t* s, size_t len) { return conv_to_unicode(d, n, s, len, false, false); },
        "UTF-8");
    checkConverter<uint8_t, uint8_t>(
        input,
        [](uint8_t* d, size_t n, const uint8_t* s, size_t len) { return conv_to_unicode(d, n, s, len, true, true); },
        "UTF-8 sizes+IVS");
    checkConverter<uint32_t, uint8_t>(
        input, [](uint32_t* d, size_t n, const uint8_t* s, size_t len) { return conv_to_U32T(d, n, s, len); }, "U32T");
}

// Random bytes, weighted towards the bytes that start or shape sequences.
Bytes randomText(std::mt19937& rng) {
    static const uint8_t interesting[] = {
        0x1B, 0x24, 0x28, 0x29, 0x2A, 0x2B, 0x20, 0x40, 0x41, 0x4F, 0x70, 0x3B, 0x39, 0x3A, 0x42, 0x4A, 0x49,
        0x30, 0x31, 0x36, 0x9B, 0x66, 0x0D, 0x0A, 0x0E, 0x0F, 0x19, 0x1D, 0x89, 0x8A, 0x95, 0x9D, 0x90, 0x92,
        0x1C, 0x16, 0x6E, 0x6F, 0x7C, 0x7D, 0x7E, 0x7A, 0x75, 0x79, 0x60, 0x6E, 0x21, 0x7F, 0xA1, 0xFE, 0xFF};
    std::uniform_int_distribution<int> len(0, 48), pick(0, 9), any(0, 255),
        which(0, static_cast<int>(sizeof interesting) - 1);
    Bytes b(static_cast<size_t>(len(rng)));
    for (uint8_t& c : b) c = static_cast<uint8_t>(pick(rng) < 5 ? interesting[which(rng)] : any(rng));
    return b;
}

TEST(AribRobustness, RandomBytes) {
    for (uint32_t seed = 1; seed <= 1500; ++seed) {
        std::mt19937 rng(seed);
        Bytes input = randomText(rng);
        SCOPED_TRACE(seed);
        checkAllForms(input);
        if (HasFatalFailure()) return;
    }
}

TEST(AribRobustness, EveryTruncationOfAValidText) {
    testsupport::AribTextBuilder b;
    b.raw({0x1B, 0x28, 0x20, 0x70, 0x60});  // macro set, then the default macro
    b.text(u"【連続ドラマ】𠮟られて　第５話「ABC\\~」\n").symbol(0x7A56).symbol(0x7921).symbol(0x7522);
    b.raw({0x89, 0x0E, 'x', 0x8A, 0x19, 0x22, 0x1D, 0x22, 0x9B, 0x30, 0x20, 0x66, 0xA2, 0x9B, 0x31, 0x20, 0x66});
    b.raw({0x1B, 0x24, 0x29, 0x20, 0x40, 0x0E, 0x21, 0x21, 0x1B, 0x28, 0x20, 0x41, 0x0F, 0x21});
    b.raw({0x1B, 0x24, 0x3A, 0x0F, 0x21, 0x21, 0x90, 0x20, 0x48, 0x95, 0x40, 0x21, 0x95, 0x4F, 0x9D, 0x29, 0x31, 0x43});
    b.raw({0x1B, 0x24, 0x39, 0x35, 0x40, 0x24, 0x77, 0x0D, 0x0A});
    const Bytes& text = b.bytes();
    for (size_t cut = 0; cut <= text.size(); ++cut) {
        SCOPED_TRACE(cut);
        checkAllForms(Bytes(text.begin(), text.begin() + static_cast<long>(cut)));
        if (HasFatalFailure()) return;
    }
}

TEST(AribRobustness, RandomUnitsBackToUnicode) {
    static const uint32_t sets[] = {0x30, 0x31, 0x39, 0x3A, 0x3B, 0x42, 0x49, 0x4A, 0x101, 0x102, 0x40, 0xFFF};
    for (uint32_t seed = 1; seed <= 400; ++seed) {
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> len(0, 24), which(0, 11), bit(0, 1);
        std::uniform_int_distribution<uint32_t> code(0, 0xFFFF), small(0x2100, 0x7E7F), any;
        std::vector<uint32_t> units(static_cast<size_t>(len(rng)));
        for (uint32_t& u : units) {
            if (which(rng) == 11) {
                u = any(rng);
                continue;
            }
            u = sets[which(rng)] << 16 | (bit(rng) ? small(rng) : code(rng)) | (bit(rng) ? U32T_NORMAL_SIZE : 0);
        }
        SCOPED_TRACE(seed);
        checkConverter<char16_t, uint32_t>(
            units, [](char16_t* d, size_t n, const uint32_t* s, size_t l) { return convU32T_to_UTF16(d, n, s, l); },
            "U32T->UTF-16");
        checkConverter<uint8_t, uint32_t>(
            units, [](uint8_t* d, size_t n, const uint32_t* s, size_t l) { return convU32T_to_UTF8(d, n, s, l); },
            "U32T->UTF-8");
        if (HasFatalFailure()) return;
    }
}

}  // namespace
