#include <pybind11/pybind11.h>

#include <cstring>
#include <exception>
#include <new>
#include <stdexcept>

#include "bindings/Bindings.h"

namespace py = pybind11;

namespace vornik {

namespace {

// The Python exception type of a C++ exception, as pybind11's own translation picks it.
PyObject* PythonTypeOf(const std::exception& error) {
    if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) return PyExc_MemoryError;
    if (dynamic_cast<const std::out_of_range*>(&error) != nullptr) return PyExc_IndexError;
    if (dynamic_cast<const std::overflow_error*>(&error) != nullptr) return PyExc_OverflowError;
    if (dynamic_cast<const std::invalid_argument*>(&error) != nullptr ||
        dynamic_cast<const std::domain_error*>(&error) != nullptr ||
        dynamic_cast<const std::length_error*>(&error) != nullptr ||
        dynamic_cast<const std::range_error*>(&error) != nullptr) {
        return PyExc_ValueError;
    }
    return PyExc_RuntimeError;
}

// Messages may quote the input they complain about, and input bytes need not be UTF-8:
// the JSON parser's "last read" quotes an ill-formed byte as it is. Python cannot decode
// such a message, and the standard translation would raise UnicodeDecodeError in place
// of the documented exception. Those messages get their undecodable bytes written as
// \xNN escapes; every other exception is left to the standard translation.
void TranslateUndecodableMessage(std::exception_ptr pending) {
    try {
        if (pending) std::rethrow_exception(pending);
    } catch (const py::error_already_set&) {
        throw;
    } catch (const py::builtin_exception&) {
        throw;
    } catch (const std::exception& error) {
        const char* what = error.what();
        const auto size = static_cast<Py_ssize_t>(std::strlen(what));
        PyObject* strict = PyUnicode_DecodeUTF8(what, size, "strict");
        if (strict != nullptr) {
            Py_DECREF(strict);
            throw;
        }
        PyErr_Clear();
        PyObject* escaped = PyUnicode_DecodeUTF8(what, size, "backslashreplace");
        if (escaped == nullptr) throw;
        PyErr_SetObject(PythonTypeOf(error), escaped);
        Py_DECREF(escaped);
    }
}

}  // namespace

void BindErrorTranslator(py::module_& /*m*/) {
    // Module-local: tried before the standard translation, for this module's functions only.
    py::register_local_exception_translator(&TranslateUndecodableMessage);
}

}  // namespace vornik
