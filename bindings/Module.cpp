#include <pybind11/pybind11.h>

#include "bindings/Bindings.h"

// The Bind* calls run in the order in which the names must appear in the module: the
// records first, since every later signature refers to them.
PYBIND11_MODULE(_zelk_core, m) {
    m.doc() = "ZELK MTSP Solver core bindings";
    vornik::BindErrorTranslator(m);
    vornik::BindCore(m);
    vornik::BindSearch(m);
    vornik::BindEntryPoints(m);
    vornik::BindEngineParams(m);
    vornik::BindCostCheck(m);
    vornik::BindSchedule(m);
    vornik::BindArrays(m);
    vornik::ShortenArgumentErrors(m);
}
