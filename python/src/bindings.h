// The parts of the extension module torvik._torvik, each adding its
// functions and classes to the module.
#pragma once

#include <pybind11/pybind11.h>

namespace torvik::python {

void BindEngine(pybind11::module_& m);    // Engine: the fourteen operations on a record of its own
void BindBacktest(pybind11::module_& m);  // reading bars, one run
void BindBatch(pybind11::module_& m);     // plans, runs by request, summaries

}  // namespace torvik::python
