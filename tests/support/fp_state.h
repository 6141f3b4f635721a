// The calling thread's floating-point control state, and the states a
// careless host may call the library in. Read and written here with the
// compiler's intrinsics and plain instructions, independently of the
// library's own guard (engine/fp_state_guard.h).
#pragma once

#include <xmmintrin.h>

#include <cstdint>

namespace torvik::testing {

// MXCSR, and on 32-bit x86 the x87 control word (0 elsewhere: the library
// uses no x87 instruction there).
struct FpState {
    uint32_t mxcsr = 0;
    uint16_t x87Control = 0;
    bool operator==(const FpState&) const = default;
};

inline FpState ReadFpState()
{
    FpState s;
    s.mxcsr = _mm_getcsr();
#if defined(__i386__)
    __asm__ volatile("fnstcw %0" : "=m"(s.x87Control));
#endif
    return s;
}

inline void SetFpState(const FpState& s)
{
#if defined(__i386__)
    __asm__ volatile("fnclex\n\tfldcw %0" : : "m"(s.x87Control));
#endif
    _mm_setcsr(s.mxcsr);
}

// MXCSR bits: the six exception flags, denormals-are-zero, the six masks, the
// rounding field and flush-to-zero.
inline constexpr uint32_t MxcsrFlags = 0x003F;
inline constexpr uint32_t MxcsrDenormalsAreZero = 0x0040;
inline constexpr uint32_t MxcsrMasks = 0x1F80;
inline constexpr uint32_t MxcsrRoundDown = 0x2000;
inline constexpr uint32_t MxcsrRoundUp = 0x4000;
inline constexpr uint32_t MxcsrRoundTowardZero = 0x6000;
inline constexpr uint32_t MxcsrFlushToZero = 0x8000;

// x87 control word: masks in bits 0 to 5, bit 6 always set, precision control
// in 8 and 9 (10 is 53 bits), rounding control in 10 and 11 (11 toward zero).
// Not 24-bit precision: the i386 ABI loads a returned double into ST(0) in
// the caller's state, which processors do exactly whatever the precision,
// but qemu-i386 (7.2) rounds that load to the precision control. Run natively,
// the 32-bit tests pass with 24 bits as well.
inline constexpr uint16_t X87TowardZeroUnmasked = 0x0E40;

struct HostileState {
    const char* name;
    uint32_t mxcsr;
    bool x87;  // also the hostile x87 control word (32-bit x86)
};

inline constexpr HostileState HostileStates[] = {
    {"toward zero, flush-to-zero, denormals-are-zero",
     MxcsrMasks | MxcsrRoundTowardZero | MxcsrFlushToZero | MxcsrDenormalsAreZero, false},
    {"round down", MxcsrMasks | MxcsrRoundDown, false},
    {"round up", MxcsrMasks | MxcsrRoundUp, false},
    {"every exception unmasked", 0, false},
    {"every exception flag already set", MxcsrMasks | MxcsrFlags, false},
    {"x87 toward zero, every exception unmasked", MxcsrMasks, true},
    {"all of it at once", MxcsrRoundTowardZero | MxcsrFlushToZero | MxcsrDenormalsAreZero | MxcsrFlags, true},
};

// The thread's own state with a hostile one laid over it.
inline FpState Hostile(const HostileState& h, const FpState& home)
{
    FpState s = home;
    s.mxcsr = h.mxcsr;
#if defined(__i386__)
    if (h.x87) s.x87Control = X87TowardZeroUnmasked;
#endif
    return s;
}

}  // namespace torvik::testing
