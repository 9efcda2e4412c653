#include "rplsproginfo.h"

#include <algorithm>
#include <vector>

#include "convToUnicode.h"

namespace {

constexpr size_t kTextUnits = PROGINFO_TEXT_LEN;

// Maker blocks understood, with the bytes (from the block's start) each needs.
constexpr int32_t kMakerGenresAndText = 0x0108;
constexpr size_t kBlockSize0108 = 58;
constexpr int32_t kMakerSourceAndGenres = 0x0103;
constexpr size_t kBlockSize0103 = 180;

uint32_t be16(const uint8_t* p) { return (static_cast<uint32_t>(p[0]) << 8) | p[1]; }
uint32_t be32(const uint8_t* p) { return (be16(p) << 16) | be16(p + 2); }
int32_t bcdValue(uint8_t b) { return (b >> 4) * 10 + (b & 0x0F); }
int32_t swapNibbles(uint8_t b) { return ((b & 0x0F) << 4) | (b >> 4); }

// Converts the text of `len` bytes at `from`, as far as it lies within the buffer.
int32_t convAt(char16_t* dst, const std::vector<uint8_t>& buf, size_t from, size_t len, const CopyParams* cp) {
    const size_t n = (from < buf.size()) ? std::min(len, buf.size() - from) : 0;
    const uint8_t* src = (n > 0) ? buf.data() + from : buf.data();
    return static_cast<int32_t>(conv_to_unicode(dst, kTextUnits, src, n, cp->bCharSize, cp->bIVS));
}

// The block offset at 16 when a block of `size` bytes starting there lies within
// the buffer and carries maker id `id`; 0 otherwise.
size_t blockOf(const std::vector<uint8_t>& buf, int32_t id, size_t size) {
    if (!rplsMakerCheck(buf.data(), id, buf.size())) return 0;
    const uint64_t a = be32(buf.data() + 16);
    return (a + size <= buf.size()) ? static_cast<size_t>(a) : 0;
}

}  // namespace

bool rplsMakerCheck(const uint8_t* buf, int32_t idMaker, size_t bufsize) {
    if (buf == nullptr || bufsize < 20) return false;
    const uint64_t a = be32(buf + 16);
    if (a == 0 || a + 14 > bufsize) return false;
    return static_cast<int32_t>(be16(buf + a + 12)) == idMaker;
}

int compareForRecSrcStr(const void* item1, const void* item2) {
    const char16_t* a = *static_cast<const char16_t* const*>(item1);
    const char16_t* b = *static_cast<const char16_t* const*>(item2);
    while (*a != 0 && *a == *b) {
        ++a;
        ++b;
    }
    return static_cast<int>(*a) - static_cast<int>(*b);
}

bool readRplsProgInfo(HANDLE hFile, ProgInfo* proginfo, const CopyParams* copyParams) {
    // A short file reads as if padded with zeros.
    std::vector<uint8_t> buf(RPLS_READ_SIZE, 0);
    uint32_t numread = 0;
    if (SeekFileData(hFile, 0)) ReadFileData(hFile, buf.data(), static_cast<uint32_t>(buf.size()), &numread);
    const uint8_t* b = buf.data();

    const size_t block0108 = blockOf(buf, kMakerGenresAndText, kBlockSize0108);
    const size_t block0103 = blockOf(buf, kMakerSourceAndGenres, kBlockSize0103);

    proginfo->recyear = bcdValue(b[50]) * 100 + bcdValue(b[51]);
    proginfo->recmonth = bcdValue(b[52]);
    proginfo->recday = bcdValue(b[53]);
    proginfo->rechour = bcdValue(b[54]);
    proginfo->recmin = bcdValue(b[55]);
    proginfo->recsec = bcdValue(b[56]);
    proginfo->durhour = bcdValue(b[57]);
    proginfo->durmin = bcdValue(b[58]);
    proginfo->dursec = bcdValue(b[59]);
    proginfo->rectimezone = b[48];
    proginfo->makerid = static_cast<int32_t>(be16(b + 60));
    proginfo->modelcode = static_cast<int32_t>(be16(b + 62));
    proginfo->chnum = static_cast<int32_t>(be16(b + 64));
    proginfo->recsrc = block0103 != 0 ? static_cast<int32_t>(be16(b + block0103 + 168)) : -1;

    proginfo->chnamelen = convAt(proginfo->chname, buf, 68, b[67], copyParams);
    proginfo->pnamelen = convAt(proginfo->pname, buf, 89, b[88], copyParams);
    const size_t descLen = be16(b + 344);
    proginfo->pdetaillen = convAt(proginfo->pdetail, buf, 346, descLen, copyParams);

    for (int32_t& g : proginfo->genre) g = -1;
    proginfo->pextendlen = -1;
    if (block0108 != 0) {
        const uint8_t* blk = b + block0108;
        proginfo->pextendlen = convAt(proginfo->pextend, buf, 346 + descLen, be16(blk + 56), copyParams);
        for (int i = 0; i < 3; ++i)
            if (blk[28 + 4 * i] == 1) proginfo->genre[i] = blk[29 + 4 * i];
    } else if (block0103 != 0) {
        const uint8_t* blk = b + block0103;
        switch (blk[176]) {
        case 0xD5:
            proginfo->genre[2] = swapNibbles(blk[177]);
            proginfo->genre[1] = swapNibbles(blk[178]);
            proginfo->genre[0] = swapNibbles(blk[179]);
            break;
        case 0xE5:
            proginfo->genre[1] = swapNibbles(blk[178]);
            proginfo->genre[0] = swapNibbles(blk[179]);
            break;
        case 0xE9:
            proginfo->genre[0] = swapNibbles(blk[179]);
            break;
        default:
            break;
        }
    }
    return true;
}
