// The byte format that the fuzz harness turns into export calls, shared by
// the decoder (export_sequence.cpp) and the seed writer (make_seeds.cpp).
//
// An input is a sequence of calls. Each call starts with one byte whose value
// modulo CallCount picks the export; its arguments follow. Every read past the
// end of the input gives zero bytes, so every byte string is a valid input.
//
// Numbers start with a selector byte that picks how the value is made:
//   int:    selector < IntRangeFrom   a value of the argument's table
//           selector < IntRawFrom     lo + (next u16 mod span): a typical range
//           otherwise                 the next 4 bytes as they stand
//   double: selector < DoubleNearFrom a value of the special table (not a
//                                     number, infinities, denormals, huge, ...)
//           selector < DoubleRawFrom  base + (next i16) x unit, where base and
//                                     unit are typical for the argument (a
//                                     price near the last close, a lot, ...)
//           otherwise                 the next 8 bytes as they stand
// Multi-byte values are little-endian.
#pragma once

#include <cstdint>

namespace torvik::fuzz {

enum Call : uint8_t {
    CallRft,
    CallIniAll,
    CallOpenSignal,
    CallCloseSignal,
    CallRews,
    CallLot,
    CallErrorDescription,
    CallGetters,  // the seven getters in a row
    CallCount,
};

// A call byte with this bit also repeats a decision on the unchanged record
// and asks the straightforward form of the decision; all must agree.
inline constexpr uint8_t CallRepeatBit = 0x80;

inline constexpr uint8_t IntRangeFrom = 128;
inline constexpr uint8_t IntRawFrom = 192;
inline constexpr uint8_t IntRaw = 0xFF;

inline constexpr uint8_t DoubleNearFrom = 64;
inline constexpr uint8_t DoubleRawFrom = 192;
inline constexpr uint8_t DoubleNear = 0x80;
inline constexpr uint8_t DoubleRaw = 0xFF;

// A bar array of Rft: a kind byte (modulo ArrayKindCount; the byte divided
// by ArrayKindCount, modulo 8, is how many bytes past an 8-byte boundary an
// own array starts, as packed records may), then for an own
// array its total (an int whose table is relative to barCount, see
// TotalFromTable) and its content; an alias repeats the series array's
// pointer with a total of its own (cut to what that array owns).
enum ArrayKind : uint8_t {
    ArrayNull,
    ArrayAliasOfSeries,  // the series array itself takes it as an own array
    ArrayOwn,
    ArrayKindCount,
};

// Total selector bytes below TotalTableFrom add a small delta to barCount.
inline constexpr uint8_t TotalTableFrom = 96;

// Records the harness allocates at most for one array: a claimed total is cut
// to this (modulo), so the harness never claims memory it does not own.
inline constexpr int32_t MaxOwnedRecords = 4096;

// Content of an own array: a kind byte (modulo ContentKindCount), then
//   ContentWalk:      u32 seed, u8 start price, u8 volatility, i8 trend,
//                     u8 reversal bar, u8 volume level
//   ContentFlat:      double price, double volume
//   ContentRaw:       u8 n, then n records of five doubles (open, low, high,
//                     close, volume); the array repeats them, zeros when n = 0
//   ContentCorrupted: a walk as above, then u8 n (modulo 16) and n times
//                     u16 record, u8 field (modulo 5), double value
//   ContentZero:      nothing
enum ContentKind : uint8_t {
    ContentWalk,
    ContentFlat,
    ContentRaw,
    ContentCorrupted,
    ContentZero,
    ContentKindCount,
};

// A text: a kind byte (modulo TextKindCount), then
//   TextNull:     nothing (a null pointer)
//   TextProfile:  u8 profile row, u8 prefix length (mod 4) and bytes, u8
//                 suffix length (mod 4) and bytes
//   TextCommon:   u8 index into a table of ordinary texts
//   TextBytes:    u8 length, then that many arbitrary bytes
//   TextLong:     u16 length (mod 8193), u8 index of a common text repeated
// The harness copies every text into an allocation of exactly its length
// plus the terminating NUL.
enum TextKind : uint8_t {
    TextNull,
    TextProfile,
    TextCommon,
    TextBytes,
    TextLong,
    TextKindCount,
};

}  // namespace torvik::fuzz
