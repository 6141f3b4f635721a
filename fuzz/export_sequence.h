// The fuzz harness: turns bytes into a sequence of export calls, as an
// arbitrary (buggy or hostile) host would make them, and checks after every
// call what must hold whatever the host passed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torvik::fuzz {

// Resets the engine record to its state at load, runs the calls that data
// encodes (input_format.h) through the exports, and aborts with a message on
// stderr at the first broken invariant:
//   - OpenSignal and CloseSignal answer 0, 1 or 2; Rft, IniAll and rews 0;
//   - ErrorDescription answers a NUL-terminated text of this build's
//     catalogue: the code's own text, or the default for unknown codes;
//   - no export writes a field it does not own (the getters, CloseSignal,
//     LOT and ErrorDescription write nothing; OpenSignal only its two entry
//     flags; Rft only the market inputs and series entries below barCount;
//     IniAll only the calibration; rews neither the series nor the fields it
//     keeps), and the two constants never change;
//   - the getters answer zero while no IniAll has run since load or rews;
//   - a repeated decision on an unchanged record gives the same answer, and
//     the answer of the straightforward form (torvik::reference; for
//     OpenSignal, whose straightforward form is slow, once per input);
//   - no call takes longer than the limit (TORVIK_FUZZ_CALL_LIMIT_MS, 50 ms
//     by default: generous for sanitizers and emulators, far beyond the
//     time an export needs) on a steady clock, in each of three attempts
//     from the same record (a shared machine preempts a call now and then;
//     a call that is really slow is slow every time).
// With TORVIK_FUZZ_TRACE set in the environment every call is printed.
void RunExportSequence(const uint8_t* data, std::size_t size);

// Prints the longest time each export took so far (the fastest attempt of a
// call that ran more than once).
void PrintSlowestCalls();

}  // namespace torvik::fuzz
