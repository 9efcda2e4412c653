// Cheapest-plan search over bank states, run by run from the end of the text.
//
// A cell is one way of writing a run: the set written (its group), the bank
// holding it and how that bank is invoked (its slot: bank, invocation and
// the other region), and the sets of the three other banks in bank order.
// Sets are reduced to their index (getCTypeCode); a cell's three other sets
// are different from each other and from the group's set and below
// numCType, so they are stored as an ordered triple of ranks.
//
// Ties keep the earlier candidate: the next run's groups in order, then the
// banks G0 to G3, then within a bank locked into GL, locked into GR, single
// shift.
#include "bankPlan.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

#include "characterClasses.h"

namespace {

enum Invocation : int8_t { kLockGL, kLockGR, kSingleShift };

struct Slot {
    int8_t units;  // units digit of the BankSet action
    int8_t bank;   // bank holding the run's set
    int8_t inv;
    int8_t gl;     // bank invoked into GL
    int8_t gr;     // bank invoked into GR
};

constexpr int kSlots = 26;
constexpr Slot kSlotTable[kSlots] = {
    {0, 0, kLockGL, 0, 1},      {0, 0, kLockGL, 0, 2},      {0, 0, kLockGL, 0, 3},
    {1, 1, kLockGL, 1, 2},      {1, 1, kLockGL, 1, 3},
    {2, 1, kLockGR, 0, 1},      {2, 1, kLockGR, 2, 1},      {2, 1, kLockGR, 3, 1},
    {3, 2, kLockGL, 2, 1},      {3, 2, kLockGL, 2, 3},
    {4, 2, kLockGR, 0, 2},      {4, 2, kLockGR, 1, 2},      {4, 2, kLockGR, 3, 2},
    {5, 2, kSingleShift, 0, 1}, {5, 2, kSingleShift, 0, 3}, {5, 2, kSingleShift, 1, 3}, {5, 2, kSingleShift, 3, 1},
    {6, 3, kLockGL, 3, 1},      {6, 3, kLockGL, 3, 2},
    {7, 3, kLockGR, 0, 3},      {7, 3, kLockGR, 1, 3},      {7, 3, kLockGR, 2, 3},
    {8, 3, kSingleShift, 0, 1}, {8, 3, kSingleShift, 0, 2}, {8, 3, kSingleShift, 1, 2}, {8, 3, kSingleShift, 2, 1},
};

// Slot of every state, -1 for states that are none (G0 invoked into GR,
// both regions on one bank, ...).
struct SlotIndex {
    int8_t slot[4][3][4][4];
    SlotIndex() {
        std::fill(&slot[0][0][0][0], &slot[0][0][0][0] + sizeof slot, int8_t(-1));
        for (int i = 0; i < kSlots; ++i) {
            const Slot& s = kSlotTable[i];
            slot[s.bank][s.inv][s.gl][s.gr] = static_cast<int8_t>(i);
        }
    }
};
const SlotIndex kSlotIndex;

// Ordered triples of different ranks below m (m = 3..6), numbered in
// lexicographic order, and the way back from (r0 * m + r1) * m + r2.
struct Triples {
    int count[7] = {};
    uint8_t list[7][120][3] = {};
    int16_t index[7][216] = {};
    Triples() {
        for (int m = 3; m <= 6; ++m) {
            std::fill(index[m], index[m] + 216, int16_t(-1));
            for (int a = 0; a < m; ++a)
                for (int b = 0; b < m; ++b)
                    for (int c = 0; c < m; ++c) {
                        if (a == b || a == c || b == c) continue;
                        int n = count[m]++;
                        list[m][n][0] = static_cast<uint8_t>(a);
                        list[m][n][1] = static_cast<uint8_t>(b);
                        list[m][n][2] = static_cast<uint8_t>(c);
                        index[m][(a * m + b) * m + c] = static_cast<int16_t>(n);
                    }
        }
    }
};

const Triples kTriples;

constexpr int kMaxGroups = 3;
// The most one search may take; past it the conversion gives 0.
constexpr size_t kMaxSearchBytes = size_t{256} << 20;
constexpr uint16_t kNoSuccessor = 0xFFFF;
constexpr size_t kNoCost = std::numeric_limits<size_t>::max();

struct SearchSpace {
    int numCType;                // set indices in use, 4-7
    int m;                       // indices besides a group's own
    int perSlot;                 // ordered triples of those
    int cellsPerGroup;           // kSlots * perSlot
    const uint8_t (*triple)[3];  // triple of each number
    const int16_t* tripleIndex;  // number of each triple
};

SearchSpace makeSearchSpace(int numCType) {
    SearchSpace s;
    s.numCType = numCType;
    s.m = numCType - 1;
    s.perSlot = kTriples.count[s.m];
    s.cellsPerGroup = kSlots * s.perSlot;
    s.triple = kTriples.list[s.m];
    s.tripleIndex = kTriples.index[s.m];
    return s;
}

struct BankGroup {
    int32_t cType;  // set written
    int cCode;      // its set index
    int tens;       // tens digit of its actions
    int width;      // bytes of one character
};

struct BankUnit {
    int32_t cType;  // class of the run, 0 for the end of the text
    size_t cNum;    // characters of the run
    int numGroups;
    BankGroup group[kMaxGroups];
    size_t* cost;    // numGroups * cellsPerGroup: own cost plus the cheapest rest
    uint16_t* next;  // same shape: successor in the next run, group * cellsPerGroup + cell
};

// Full bank state of a cell.
struct CellState {
    int banks[4];  // set index held by G0-G3
    int bank;      // bank of the run's set
    int inv;
    int gl, gr;
};

CellState decodeCell(const SearchSpace& space, int cCode, int cell) {
    const Slot& slot = kSlotTable[cell / space.perSlot];
    const uint8_t* ranks = space.triple[cell % space.perSlot];
    CellState st;
    st.bank = slot.bank;
    st.inv = slot.inv;
    st.gl = slot.gl;
    st.gr = slot.gr;
    for (int y = 0, k = 0; y < 4; ++y) {
        if (y == slot.bank) {
            st.banks[y] = cCode;
        } else {
            int r = ranks[k++];
            st.banks[y] = r + (r >= cCode ? 1 : 0);
        }
    }
    return st;
}

// Cell of the state whose run set is banks[bank]; -1 when it is none.
int encodeCell(const SearchSpace& space, const int (&banks)[4], int bank, int inv, int gl, int gr) {
    int slot = kSlotIndex.slot[bank][inv][gl][gr];
    if (slot < 0) return -1;
    const int own = banks[bank];
    int raw = 0;
    for (int y = 0; y < 4; ++y) {
        if (y == bank) continue;
        if (banks[y] == own || banks[y] < 0 || banks[y] >= space.numCType) return -1;
        raw = raw * space.m + banks[y] - (banks[y] > own ? 1 : 0);
    }
    int t = space.tripleIndex[raw];
    return t < 0 ? -1 : slot * space.perSlot + t;
}

BankGroup makeGroup(int32_t cType, int tens) {
    const bool twoByte = cType <= 0xFF && isTwoByteGSET(static_cast<uint8_t>(cType));
    return BankGroup{cType, getCTypeCode(cType), tens, twoByte ? 2 : 1};
}

void initBankUnit(BankUnit* unit, int32_t cType, size_t cNum) {
    unit->cType = cType;
    unit->cNum = cNum;
    unit->numGroups = 0;
    if (cType == 0) return;
    if (cType == CODE_HIRAGANA || cType == CODE_KATAKANA) {
        unit->group[0] = makeGroup(cType, 0);
        unit->group[1] = makeGroup(CODE_JIS_KANJI_PLANE_1, 1);
        unit->numGroups = 2;
    } else if (cType == CLASS_KANA_COMMON) {
        unit->group[0] = makeGroup(CODE_HIRAGANA, 2);
        unit->group[1] = makeGroup(CODE_JIS_KANJI_PLANE_1, 1);
        unit->group[2] = makeGroup(CODE_KATAKANA, 3);
        unit->numGroups = 3;
    } else {
        unit->group[0] = makeGroup(cType, 0);
        unit->numGroups = 1;
    }
}

struct Best {
    size_t cost = kNoCost;
    uint16_t next = kNoSuccessor;
};

// A candidate replaces the best so far only when strictly cheaper.
void checkBankElement(Best& best, const BankUnit& dst, int dstGroup, int dstCell, const SearchSpace& space,
                      int additionalcost) {
    if (dstCell < 0) return;
    size_t link = static_cast<size_t>(dstGroup) * space.cellsPerGroup + static_cast<size_t>(dstCell);
    size_t c = dst.cost[link];
    if (c == kNoCost) return;
    c += static_cast<size_t>(additionalcost);
    if (c < best.cost) {
        best.cost = c;
        best.next = static_cast<uint16_t>(link);
    }
}

int designationCost(int bank, const BankGroup& to) { return bank == 0 ? 3 : (to.width == 2 ? 4 : 3); }

int lockingShiftCost(int bank, int inv) { return inv == kLockGL && bank <= 1 ? 1 : 2; }

// Candidates for one cell of the run against one group of the next run:
// at most one designation and at most one locking shift. The next run's
// set T goes into bank y; the other three banks keep their sets, so the
// candidate's triple is their ranks among the sets other than T.
void calcBankGroupCost(const SearchSpace& space, const CellState& st, int cell, int srcCode, const BankUnit& dst,
                       int h, Best& best) {
    const BankGroup& to = dst.group[h];
    if (to.cCode == srcCode) {
        checkBankElement(best, dst, h, cell, space, 0);
        return;
    }
    int holder = -1;
    int rank[4];
    for (int y = 0; y < 4; ++y) {
        if (y != st.bank && st.banks[y] == to.cCode) holder = y;
        rank[y] = st.banks[y] - (st.banks[y] > to.cCode ? 1 : 0);
    }
    for (int y = 0; y < 4; ++y) {
        if (holder >= 0 && y != holder) continue;
        const int designation = holder >= 0 ? 0 : designationCost(y, to);
        int raw = 0;
        for (int z = 0; z < 4; ++z)
            if (z != y) raw = raw * space.m + rank[z];
        const int triple = space.tripleIndex[raw];
        auto candidate = [&](int inv, int gl, int gr, int additionalcost) {
            int slot = kSlotIndex.slot[y][inv][gl][gr];
            if (slot >= 0) checkBankElement(best, dst, h, slot * space.perSlot + triple, space, additionalcost);
        };
        if (st.gr != y) candidate(kLockGL, y, st.gr, designation + (st.gl == y ? 0 : lockingShiftCost(y, kLockGL)));
        if (y != 0 && st.gl != y)
            candidate(kLockGR, st.gl, y, designation + (st.gr == y ? 0 : lockingShiftCost(y, kLockGR)));
        if (y >= 2 && st.gl != y && st.gr != y) candidate(kSingleShift, st.gl, st.gr, designation);
    }
}

// Solves every cell of src against the already solved run after it.
void calcBankUnitCost(const SearchSpace& space, BankUnit& src, const BankUnit& dst) {
    const size_t cells = static_cast<size_t>(space.cellsPerGroup);
    for (int g = 0; g < src.numGroups; ++g) {
        const BankGroup& group = src.group[g];
        for (size_t cell = 0; cell < cells; ++cell) {
            const CellState st = decodeCell(space, group.cCode, static_cast<int>(cell));
            const size_t width = static_cast<size_t>(group.width) + (st.inv == kSingleShift ? 1 : 0);
            const size_t own = width * src.cNum;
            Best best;
            if (dst.cType == 0) {
                best.cost = 0;
            } else {
                for (int h = 0; h < dst.numGroups; ++h)
                    calcBankGroupCost(space, st, static_cast<int>(cell), group.cCode, dst, h, best);
            }
            src.cost[g * cells + cell] = best.cost == kNoCost ? kNoCost : own + best.cost;
            src.next[g * cells + cell] = best.next;
        }
    }
}

// The cell of run 0 that stands for status: GL's bank locked into GL.
int startCell(const SearchSpace& space, const ConvStatus& status) {
    int gl = status.region[0], gr = status.region[1];
    if (gl < 0 || gl > 3 || gr < 0 || gr > 3) return -1;  // the cell look-up trusts its indices
    int banks[4];
    for (int y = 0; y < 4; ++y) banks[y] = getCTypeCode(status.bank[y]);
    for (int y = 0; y < 4; ++y)
        for (int z = y + 1; z < 4; ++z)
            if (banks[y] == banks[z]) return -1;
    return encodeCell(space, banks, gl, kLockGL, gl, gr);
}

// Everything one search needs, carved out of one block whose start is the
// plan handed to the caller.
struct Block {
    BankSet* plan;
    size_t* mojiNum;
    size_t* cost[2];
    uint16_t* mojiClass;
    uint16_t* next;
};

size_t alignUp(size_t n) { return (n + alignof(size_t) - 1) / alignof(size_t) * alignof(size_t); }

bool allocateBlock(size_t mojiLen, size_t groups, const SearchSpace& space, Block* b) {
    const size_t cells = static_cast<size_t>(space.cellsPerGroup);
    const size_t maxSize = std::numeric_limits<size_t>::max();
    if (mojiLen > maxSize / 64 || groups > maxSize / 2 / cells) return false;
    const size_t planBytes = alignUp(mojiLen);
    const size_t numBytes = mojiLen * sizeof(size_t);
    const size_t costBytes = kMaxGroups * cells * sizeof(size_t);
    const size_t classBytes = alignUp(mojiLen * sizeof(uint16_t));
    const size_t nextBytes = groups * cells * sizeof(uint16_t);
    if (nextBytes > maxSize - planBytes - numBytes - 2 * costBytes - classBytes) return false;
    const size_t total = planBytes + numBytes + 2 * costBytes + classBytes + nextBytes;
    // A hostile text mixing every set would otherwise ask for gigabytes,
    // which an overcommitting system grants and then kills the process for.
    if (total > kMaxSearchBytes) return false;
    char* p = static_cast<char*>(std::malloc(total));
    if (!p) return false;
    b->plan = reinterpret_cast<BankSet*>(p);
    b->mojiNum = reinterpret_cast<size_t*>(p + planBytes);
    b->cost[0] = reinterpret_cast<size_t*>(p + planBytes + numBytes);
    b->cost[1] = reinterpret_cast<size_t*>(p + planBytes + numBytes + costBytes);
    b->mojiClass = reinterpret_cast<uint16_t*>(p + planBytes + numBytes + 2 * costBytes);
    b->next = reinterpret_cast<uint16_t*>(p + planBytes + numBytes + 2 * costBytes + classBytes);
    return true;
}

// Follows the successor links from the start cell and writes the actions.
void readPlan(const SearchSpace& space, const Block& b, size_t mojiLen, int firstCell) {
    const size_t cells = static_cast<size_t>(space.cellsPerGroup);
    BankUnit unit;
    initBankUnit(&unit, b.mojiClass[0], 0);
    size_t offset = 0;
    size_t link = static_cast<size_t>(firstCell);  // group 0
    for (size_t r = 0;; ++r) {
        const size_t g = link / cells, cell = link % cells;
        b.plan[r] = static_cast<BankSet>(unit.group[g].tens * 10 + kSlotTable[cell / space.perSlot].units);
        if (r + 2 >= mojiLen) break;
        link = b.next[offset + link];
        offset += static_cast<size_t>(unit.numGroups) * cells;
        initBankUnit(&unit, b.mojiClass[r + 1], 0);
    }
    b.plan[mojiLen - 1] = BANK_PLAN_END;
}

template <class Unit>
using CountMojiSequence = void (*)(const Unit*, size_t, const ConvStatus*, uint16_t*, size_t*, size_t*, int32_t*,
                                   size_t*);

// `count` is the run counter of the source form; with null arrays it only
// counts, so it runs once to size the block and once to fill it.
template <class Unit>
BankSet* searchPlan(CountMojiSequence<Unit> count, const Unit* sbuf, size_t total_length, const ConvStatus* status,
                    size_t* planCost) {
    ConvStatus initial;
    if (!status) {
        initConvStatus(&initial);
        status = &initial;
    }
    size_t mojiLen = 0, groups = 0;
    int32_t numCType = 4;
    count(sbuf, total_length, status, nullptr, nullptr, &mojiLen, &numCType, &groups);
    for (int y = 0; y < 4; ++y) numCType = std::max(numCType, getCTypeCode(status->bank[y]) + 1);
    const SearchSpace space = makeSearchSpace(numCType);
    const int firstCell = startCell(space, *status);
    if (firstCell < 0 || mojiLen < 2) return nullptr;

    Block b;
    if (!allocateBlock(mojiLen, groups, space, &b)) return nullptr;
    size_t filled = 0;
    count(sbuf, total_length, status, b.mojiClass, b.mojiNum, &filled, &numCType, nullptr);

    const size_t cells = static_cast<size_t>(space.cellsPerGroup);
    BankUnit units[2];
    initBankUnit(&units[0], 0, 0);
    int cur = 1;
    size_t offset = groups * cells;
    for (size_t r = mojiLen - 1; r-- > 0;) {
        BankUnit& unit = units[cur];
        initBankUnit(&unit, b.mojiClass[r], b.mojiNum[r]);
        offset -= static_cast<size_t>(unit.numGroups) * cells;
        unit.cost = b.cost[cur];
        unit.next = b.next + offset;
        calcBankUnitCost(space, unit, units[1 - cur]);
        cur = 1 - cur;
    }
    const BankUnit& first = units[1 - cur];
    if (planCost) *planCost = first.cost[firstCell];
    readPlan(space, b, mojiLen, firstCell);
    return b.plan;
}

}  // namespace

BankSet* checkMojiSequenceUTF16(const char16_t* sbuf, size_t total_length, const ConvStatus* status,
                                size_t* planCost) {
    return searchPlan(countMojiSequenceUTF16, sbuf, total_length, status, planCost);
}

BankSet* checkMojiSequenceUTF8(const uint8_t* sbuf, size_t total_length, const ConvStatus* status,
                               size_t* planCost) {
    return searchPlan(countMojiSequenceUTF8, sbuf, total_length, status, planCost);
}

BankSet* checkMojiSequenceU32T(const uint32_t* sbuf, size_t total_length, const ConvStatus* status,
                               size_t* planCost) {
    return searchPlan(countMojiSequenceU32T, sbuf, total_length, status, planCost);
}
