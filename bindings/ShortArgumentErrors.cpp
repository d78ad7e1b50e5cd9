#include <pybind11/pybind11.h>

#include <string>
#include <vector>

#include "bindings/Bindings.h"

namespace py = pybind11;

namespace vornik {

namespace {

// How much of the arguments' repr an argument error keeps.
constexpr long kShownCharacters = 200;
constexpr const char* kInvoked = "\nInvoked with: ";

// When no signature accepts the arguments, pybind11's TypeError lists the signatures and
// then every argument's repr: a 10 MB instance text, or a 3,000 x 3,000 matrix given as
// a list, with one wrong-typed keyword makes a message as large as the instance, which a
// traceback then prints. The message is cut after a short prefix of the arguments.
py::object CallShortened(const py::object& function, const py::args& args,
                         const py::kwargs& kwargs) {
    py::object shortened;
    try {
        return function(*args, **kwargs);
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_TypeError)) throw;
        // Cut as Python text, so that no UTF-8 sequence is split.
        const py::tuple parts = py::str(error.value()).attr("partition")(kInvoked);
        const py::str head = parts[0];
        const py::str shown = parts[2];
        const long length = static_cast<long>(py::len(shown));
        if (py::len(parts[1]) == 0 || !head.attr("__contains__")("incompatible").cast<bool>() ||
            length <= kShownCharacters) {
            throw;
        }
        shortened = head + py::str(kInvoked) + shown[py::slice(0, kShownCharacters, 1)] +
                    py::str("... ({} characters in all)").format(length);
    }
    // Raised outside the handler: the long original is gone, not kept as the context.
    PyErr_SetObject(PyExc_TypeError, shortened.ptr());
    throw py::error_already_set();
}

// The wrappers keep the name and the whole docstring (signature line included) of what
// they wrap, so help() and the docstrings read as before.
struct PlainDocstrings {
    PlainDocstrings() { options.disable_function_signatures(); }
    py::options options;
};

std::string DocOf(const py::handle& function) {
    const py::object doc = function.attr("__doc__");
    return doc.is_none() ? std::string() : doc.cast<std::string>();
}

void WrapFunction(py::module_& m, const std::string& name) {
    const py::object original = m.attr(name.c_str());
    const std::string doc = DocOf(original);
    const PlainDocstrings plain;
    m.attr(name.c_str()) = py::cpp_function(
        [original](const py::args& args, const py::kwargs& kwargs) {
            return CallShortened(original, args, kwargs);
        },
        py::name(name.c_str()), py::scope(m), py::doc(doc.c_str()));
}

void WrapMethod(py::object& cls, const std::string& name, const py::object& original) {
    const std::string doc = DocOf(original);
    const PlainDocstrings plain;
    if (name == "__init__") {
        // A function named __init__ is called the way constructors are: with the slot of
        // the instance under construction in place of the instance.
        cls.attr("__init__") = py::cpp_function(
            [original](py::detail::value_and_holder& slot, const py::args& args,
                       const py::kwargs& kwargs) {
                const py::handle self(reinterpret_cast<PyObject*>(slot.inst));
                CallShortened(original, py::make_tuple(self) + args, kwargs);
            },
            py::name("__init__"), py::is_method(cls), py::doc(doc.c_str()),
            py::detail::is_new_style_constructor());
        return;
    }
    cls.attr(name.c_str()) = py::cpp_function(
        [original](const py::object& self, const py::args& args, const py::kwargs& kwargs) {
            return CallShortened(original, py::make_tuple(self) + args, kwargs);
        },
        py::name(name.c_str()), py::is_method(cls), py::doc(doc.c_str()));
}

bool IsBoundFunction(const py::handle& value) { return PyCFunction_Check(value.ptr()) != 0; }

bool IsBoundMethod(const py::handle& value) { return PyInstanceMethod_Check(value.ptr()) != 0; }

}  // namespace

void ShortenArgumentErrors(py::module_& m) {
    std::vector<std::string> functions;
    std::vector<py::object> classes;
    for (const auto& [key, value] : py::reinterpret_borrow<py::dict>(m.attr("__dict__"))) {
        const std::string name = py::str(key);
        if (name.rfind("__", 0) == 0) continue;
        if (IsBoundFunction(value)) functions.push_back(name);
        // The records and the Solver; the enumerations take only a number.
        if (py::isinstance<py::type>(value) && !py::hasattr(value, "__members__")) {
            classes.push_back(py::reinterpret_borrow<py::object>(value));
        }
    }
    for (const std::string& name : functions) WrapFunction(m, name);
    for (py::object& cls : classes) {
        std::vector<std::pair<std::string, py::object>> methods;
        // A class's __dict__ is a read-only view: copied, since the loop below sets names.
        for (const auto& [key, value] : py::dict(cls.attr("__dict__"))) {
            const std::string name = py::str(key);
            if (name.rfind("__", 0) == 0 && name != "__init__") continue;
            // Properties and static methods are left as they are.
            if (IsBoundMethod(value)) {
                methods.emplace_back(name, py::reinterpret_borrow<py::object>(value));
            }
        }
        for (auto& [name, original] : methods) WrapMethod(cls, name, original);
    }
}

}  // namespace vornik
