#ifndef VORNIK_BINDINGS_ARRAYINTAKE_H
#define VORNIK_BINDINGS_ARRAYINTAKE_H

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "core/ProblemArrays.h"

namespace vornik {

/// The arrays of one instance, each kept alive (and read in place when it already has
/// the expected type and layout) for as long as the reader lives.
class ArrayReader {
public:
    explicit ArrayReader(pybind11::dict arrays) : arrays_(std::move(arrays)) {}

    /// arrays[key] as a C-ordered array of T with `rows` rows of `columns` entries (a
    /// column count of 0: one dimension); null when absent and not `needed`.
    template <typename T>
    const T* Read(const char* key, std::size_t rows, std::size_t columns, bool needed) {
        if (!arrays_.contains(key) || arrays_[key].is_none()) {
            if (needed)
                throw pybind11::value_error(std::string("arrays['") + key + "'] is missing");
            return nullptr;
        }
        auto array =
            pybind11::array_t<T, pybind11::array::c_style | pybind11::array::forcecast>::ensure(
                arrays_[key]);
        if (!array) {
            PyErr_Clear();
            throw pybind11::value_error(std::string("arrays['") + key +
                                        "'] is not an array of numbers");
        }
        const bool shaped =
            columns == 0 ? array.ndim() == 1 && Dim(array, 0) == rows
                         : array.ndim() == 2 && Dim(array, 0) == rows && Dim(array, 1) == columns;
        if (!shaped) {
            throw pybind11::value_error(std::string("arrays['") + key + "'] must have " +
                                        std::to_string(rows) + " rows" +
                                        (columns == 0 ? "" : " of " + std::to_string(columns)));
        }
        keep_.push_back(array);
        return array.data();
    }

    /// The length of arrays[key] (its first dimension); 0 when absent.
    std::size_t Length(const char* key) {
        if (!arrays_.contains(key) || arrays_[key].is_none()) return 0;
        return pybind11::len(arrays_[key]);
    }

private:
    template <typename Array>
    static std::size_t Dim(const Array& array, int axis) {
        return static_cast<std::size_t>(array.shape(axis));
    }

    pybind11::dict arrays_;
    std::vector<pybind11::object> keep_;
};

/// The instance in `reader`'s arrays (a zelk.Instance's core_arrays()) as the core's
/// array intake reads it: keys ids, positions, depots, demands, capacities, service,
/// required, penalty, windows with window_offsets, allowed with allowed_offsets, agent_ids,
/// agent_types, start_nodes, end_nodes and max_length. ValueError for an array that is
/// missing where needed or not of its shape.
ProblemArrays ReadArrays(ArrayReader& reader, std::vector<std::string> type_names,
                         std::size_t dimensions, bool scalar_loads);

}  // namespace vornik

#endif  // VORNIK_BINDINGS_ARRAYINTAKE_H
