#include "python/src/bindings.h"

namespace torvik::python {

void BindBacktest(pybind11::module_&) {}

}  // namespace torvik::python
