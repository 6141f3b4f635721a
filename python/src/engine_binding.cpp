#include "python/src/bindings.h"

namespace torvik::python {

void BindEngine(pybind11::module_&) {}

}  // namespace torvik::python
