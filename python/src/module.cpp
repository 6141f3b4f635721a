#include "python/src/bindings.h"

PYBIND11_MODULE(_torvik, m)
{
    m.doc() = "torvik's engine and tester, for the torvik package";
    m.attr("__version__") = TORVIK_VERSION;
    torvik::python::BindEngine(m);
    torvik::python::BindBacktest(m);
    torvik::python::BindBatch(m);
}
