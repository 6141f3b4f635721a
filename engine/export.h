// How an export is declared: C linkage under its plain name, stdcall on
// Windows (the callee removes the arguments), default visibility elsewhere.
#pragma once

#if defined(_WIN32)
#define TORVIK_EXPORT(type) extern "C" __declspec(dllexport) type __stdcall
#else
#define TORVIK_EXPORT(type) extern "C" __attribute__((visibility("default"))) type
#endif
