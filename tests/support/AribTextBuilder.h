// Builds ARIB 8-unit text the way a broadcaster would write it, for tests
// and benchmarks: kanji through GL (G0), alphanumerics through LS1 (G1),
// hiragana and katakana through GR (G2, switched to G3 by LS3R), additional
// symbols by designating set 0x3B to G0 for the symbol. Header-only so the
// benchmarks can use it without the test support library.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "characterSets.h"

namespace testsupport {

class AribTextBuilder {
public:
    // Appends text; characters no set can carry are left out.
    AribTextBuilder& text(const std::u16string& s);
    // Appends the additional symbol (set 0x3B) with this 2-byte code.
    AribTextBuilder& symbol(int code);
    // Appends bytes as they are (control functions, broken sequences).
    AribTextBuilder& raw(const std::vector<uint8_t>& bytes);

    const std::vector<uint8_t>& bytes() const { return m_bytes; }

private:
    void invokeGL(int bank);
    void invokeGR(int bank);
    void designateG0(int set);
    void twoByte(int code);

    std::vector<uint8_t> m_bytes;
    int m_gl = 0;
    int m_gr = 2;
    int m_g0 = 0x39;
};

inline void AribTextBuilder::invokeGL(int bank) {
    if (m_gl == bank) return;
    m_bytes.push_back(bank == 0 ? 0x0F : 0x0E);  // LS0 / LS1
    m_gl = bank;
}

inline void AribTextBuilder::invokeGR(int bank) {
    if (m_gr == bank) return;
    m_bytes.push_back(0x1B);
    m_bytes.push_back(bank == 2 ? 0x7D : 0x7C);  // LS2R / LS3R
    m_gr = bank;
}

inline void AribTextBuilder::designateG0(int set) {
    if (m_g0 == set) return;
    m_bytes.push_back(0x1B);
    m_bytes.push_back(0x24);
    m_bytes.push_back(static_cast<uint8_t>(set));
    m_g0 = set;
}

inline void AribTextBuilder::twoByte(int code) {
    invokeGL(0);
    m_bytes.push_back(static_cast<uint8_t>(code >> 8));
    m_bytes.push_back(static_cast<uint8_t>(code & 0xFF));
}

inline AribTextBuilder& AribTextBuilder::text(const std::u16string& s) {
    for (size_t i = 0; i < s.size(); ++i) {
        int32_t cp = s[i];
        if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size()) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            ++i;
        }
        int32_t code;
        if (cp == '\n') {
            m_bytes.push_back(0x0D);
            m_bytes.push_back(0x0A);
        } else if (cp == ' ') {
            m_bytes.push_back(0x20);
        } else if ((code = hiragana1Conv(cp, false)) != 0) {
            invokeGR(2);
            m_bytes.push_back(static_cast<uint8_t>(0x80 | code));
        } else if ((code = katakana1Conv(cp, false)) != 0) {
            invokeGR(3);
            m_bytes.push_back(static_cast<uint8_t>(0x80 | code));
        } else if (cp < 0x80 && (code = alphaConv(cp, false)) != 0) {
            invokeGL(1);
            m_bytes.push_back(static_cast<uint8_t>(code));
        } else if ((code = jis12Conv(cp, false)) != 0 || (code = jis3Conv(cp, false)) != 0) {
            designateG0(0x39);
            twoByte(code);
        } else if ((code = kigou1Conv(cp, false)) != 0) {
            symbol(code);
        }
    }
    return *this;
}

inline AribTextBuilder& AribTextBuilder::symbol(int code) {
    designateG0(0x3B);
    twoByte(code);
    designateG0(0x39);
    return *this;
}

inline AribTextBuilder& AribTextBuilder::raw(const std::vector<uint8_t>& bytes) {
    m_bytes.insert(m_bytes.end(), bytes.begin(), bytes.end());
    return *this;
}


}  // namespace testsupport
