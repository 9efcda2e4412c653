// The cheapest plan of designations and shifts for writing a text in ARIB
// 8-unit code: for every run of one class (characterClasses) the set it is
// written in, the bank G0-G3 that holds that set and how the bank is
// invoked, such that escapes, shifts, single shifts and character bytes
// together are fewest.
//
// The search runs from the last run to the first over every bank state a
// run can be written in (its cells). A cell keeps its cost and the index of
// its best successor; the plan is read off the successor links from the
// starting state. Time and memory are linear in the number of runs.
#pragma once

#include <cstddef>
#include <cstdint>

#include "convToUnicode.h"

// One action per run. Tens digit: the set written (0 the run's own class,
// 1 kanji 0x39, 2 hiragana 0x30, 3 katakana 0x31; 1-3 only for kana runs).
// Units digit: the bank and its invocation.
using BankSet = uint8_t;
constexpr BankSet BANK_G0_GL = 0;   // LS0
constexpr BankSet BANK_G1_GL = 1;   // LS1
constexpr BankSet BANK_G1_GR = 2;   // LS1R
constexpr BankSet BANK_G2_GL = 3;   // LS2
constexpr BankSet BANK_G2_GR = 4;   // LS2R
constexpr BankSet BANK_G2_SS = 5;   // SS2 before each character
constexpr BankSet BANK_G3_GL = 6;   // LS3
constexpr BankSet BANK_G3_GR = 7;   // LS3R
constexpr BankSet BANK_G3_SS = 8;   // SS3 before each character
constexpr BankSet BANK_PLAN_END = 255;

// The plan for a text, starting from status (GL locked, four different
// sets in the banks): one action per run entry of the run counter, then
// BANK_PLAN_END. The array is the one block of memory the search takes;
// release it with std::free. Null when memory is short or status is a state
// the search does not start from. planCost, when given, receives the bytes
// the plan costs: escapes, shifts, single shifts and character bytes, not
// controls, spaces or size controls.
BankSet* checkMojiSequenceUTF16(const char16_t* sbuf, size_t total_length, const ConvStatus* status,
                                size_t* planCost = nullptr);
BankSet* checkMojiSequenceUTF8(const uint8_t* sbuf, size_t total_length, const ConvStatus* status,
                               size_t* planCost = nullptr);
BankSet* checkMojiSequenceU32T(const uint32_t* sbuf, size_t total_length, const ConvStatus* status,
                               size_t* planCost = nullptr);
