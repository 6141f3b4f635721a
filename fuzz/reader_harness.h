// The harness of the tester's readers: a fuzzer's bytes become the rows of
// one file format (after that format's first line, so that the format is
// the one under test), are read twice (loaded and scanned), and are played
// through the price path of the models that fit them. A malformed row must
// end in the reader's one message; anything else that goes wrong, and any
// broken invariant, aborts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvik::fuzz {

enum class ReaderFormat { HistoryCenter = 0, Header = 1, BarExport = 2, TickExport = 3 };

void ReadRows(ReaderFormat format, const uint8_t* data, size_t size);

}  // namespace torvik::fuzz
