// The floating-point state the exports compute in, whatever the host left.
//
// The engine's answers are exact only under IEEE round-to-nearest, without
// flush-to-zero or denormals-are-zero, and it divides by a zero point on
// purpose, so it needs every exception masked. The host, or another library
// in its thread, may have set anything in the SSE control register (MXCSR)
// and, on 32-bit x86, in the x87 control word. Each export holds an
// FpStateGuard for its whole body: it switches to the default state only when
// the caller's differs, and gives the caller's exact state back on return.
//
// The x87 unit matters on 32-bit x86 only: the i386 ABI returns doubles in
// ST(0) and the compiler takes fabs there, so the library loads, stores and
// takes absolute values in x87 registers. Those are exact in any rounding or
// precision mode, but a host that unmasked the denormal, underflow or
// invalid exception would see them trap inside the library.
#pragma once

#include <xmmintrin.h>

#include <cstdint>

namespace torvik {

// Round to nearest, no flush-to-zero, no denormals-are-zero, all six
// exceptions masked, no exception flags.
inline constexpr uint32_t DefaultMxcsr = 0x1F80;
// Every MXCSR bit but the six sticky exception flags (bits 0 to 5); bits 16
// to 31 are reserved and always 0.
inline constexpr uint32_t MxcsrControlBits = 0xFFC0;

#if defined(__i386__)
// 53-bit precision, round to nearest, all exceptions masked: the x87 state
// Windows starts its threads in.
inline constexpr uint16_t DefaultX87Control = 0x027F;
inline constexpr uint16_t X87ExceptionFlags = 0x003F;

// The 28-byte image that fnstenv writes and fldenv reads in 32-bit mode.
struct X87Environment {
    uint16_t control, unused1, status, unused2, tags, unused3;
    uint32_t instructionOffset, instructionSelector, operandOffset, operandSelector;
};
static_assert(sizeof(X87Environment) == 28);
#endif

class FpStateGuard {
public:
    FpStateGuard() noexcept : mxcsr_(_mm_getcsr())
    {
        if ((mxcsr_ & MxcsrControlBits) != DefaultMxcsr) _mm_setcsr(DefaultMxcsr);
#if defined(__i386__)
        __asm__ volatile("fnstcw %0\n\tfnstsw %1" : "=m"(x87Control_), "=m"(x87Status_));
        if (x87Control_ != DefaultX87Control) {
            // fnstenv keeps the caller's control, status and tag words;
            // fnclex drops an exception the caller left pending, which would
            // otherwise fire at the library's first x87 instruction.
            __asm__ volatile("fnstenv %0\n\tfnclex\n\tfldcw %1" : "=m"(x87Saved_) : "m"(DefaultX87Control));
            x87Switched_ = true;
        }
#endif
    }

    ~FpStateGuard()
    {
#if defined(__i386__)
        if (x87Switched_) {
            RestoreX87(x87Saved_);
        } else {
            uint16_t status;
            __asm__ volatile("fnstsw %0" : "=m"(status));
            // The library raised an x87 flag (a denormal loaded, say): the
            // caller gets its own flags back, as with MXCSR below.
            if (((status ^ x87Status_) & X87ExceptionFlags) != 0) {
                X87Environment now;
                __asm__ volatile("fnstenv %0" : "=m"(now));
                now.status = x87Status_;
                RestoreX87(now);
            }
        }
#endif
        if (_mm_getcsr() != mxcsr_) _mm_setcsr(mxcsr_);
    }

    FpStateGuard(const FpStateGuard&) = delete;
    FpStateGuard& operator=(const FpStateGuard&) = delete;

private:
#if defined(__i386__)
    // The clobbers keep the compiler from holding a value in an x87 register
    // across fldenv, which also restores the (empty) register tags.
    static void RestoreX87(const X87Environment& env)
    {
        __asm__ volatile("fldenv %0"
                         :
                         : "m"(env)
                         : "st", "st(1)", "st(2)", "st(3)", "st(4)", "st(5)", "st(6)", "st(7)");
    }

    uint16_t x87Control_ = 0;
    uint16_t x87Status_ = 0;
    bool x87Switched_ = false;
    X87Environment x87Saved_;  // written and read only when switched
#endif
    uint32_t mxcsr_;
};

}  // namespace torvik
