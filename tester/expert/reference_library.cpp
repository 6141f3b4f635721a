#include "engine/engine_state.h"
#include "signals/reference/entry_signal.h"
#include "signals/reference/exit_signal.h"
#include "tester/expert/library.h"

namespace torvik::tester {

namespace {

// The export layer linked into the tester works on torvik::engineState, so
// the reference decisions read exactly what ::Rft and ::IniAll stored.
int32_t ReferenceOpenSignal() { return reference::OpenSignal(engineState); }
int32_t ReferenceCloseSignal() { return reference::CloseSignal(engineState); }

}  // namespace

const Library& ReferenceExports()
{
    static const Library exports = [] {
        Library l = Exports();
        l.openSignal = &ReferenceOpenSignal;
        l.closeSignal = &ReferenceCloseSignal;
        return l;
    }();
    return exports;
}

}  // namespace torvik::tester
