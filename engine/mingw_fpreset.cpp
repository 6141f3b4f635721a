// Windows builds only. The MinGW-w64 runtime linked into the DLLs calls
// _fpreset, an fninit, from its thread-attach callback: every thread the host
// starts after loading a DLL would get its x87 unit reset, the precision
// control raised from the 53 bits Windows starts threads with to 64. The
// library leaves the host's floating-point state alone (see fp_state_guard.h),
// so this definition, linked ahead of the runtime's, does nothing.
extern "C" void _fpreset(void) {}
