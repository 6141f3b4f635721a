#include "python/src/bindings.h"

namespace torvik::python {

void BindBatch(pybind11::module_&) {}

}  // namespace torvik::python
