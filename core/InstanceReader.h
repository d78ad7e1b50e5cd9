#ifndef VORNIK_CORE_INSTANCEREADER_H
#define VORNIK_CORE_INSTANCEREADER_H

#include <nlohmann/json_fwd.hpp>
#include <string>

#include "core/Problem.h"

namespace vornik {

/// Fills `problem` from one parsed instance document: nodes, agents, cost matrices,
/// constraints and options, in that order. Meant for a default-constructed Problem.
/// Stops at the first fault by throwing the JSON library's own exception
/// (nlohmann::json::type_error, out_of_range); `problem` is then partly filled and
/// should be discarded. Cross-references (node ids, type names, matrix sizes) are not
/// checked here; the Solver resolves them.
///
/// Container values ("nodes", "agents", "constraints", "items", "precedence") must be
/// arrays. Ids ("id", "start_node", "end_node", "node", "before", "after") accept
/// integers (negative ones taken modulo 2^64) and reals in [0, 2^64), truncated toward
/// zero; "capacity" and "max_length" accept numbers whose integer part fits a 32-bit
/// signed integer, and booleans (1, 0). Numbers outside those ranges throw
/// nlohmann::json::out_of_range 406 naming the key.
///
/// With `fleet_fields` (the improvement path) the reader also takes what only the
/// improvement engine honours: a node's "demand" as a number or an array (one amount per
/// load dimension), "service", "required" and "penalty"; an agent's "capacity" as a
/// number or an array, kept with its decimals like "max_length"; and every "timewindow"
/// item of a node as one more window instead of a replacement. Those values are checked
/// as they are read and refused with std::invalid_argument naming the field
/// ("nodes[2].service must be a finite number >= 0 (got -1)").
void ReadInstance(const nlohmann::json& document, Problem& problem, bool fleet_fields = false);

/// Parses `text` strictly (exactly one JSON value, nothing but white space after it,
/// no comments) and reads it into a default Problem. Throws
/// nlohmann::json::parse_error for malformed text, else whatever ReadInstance throws.
[[nodiscard]] Problem ParseInstance(const std::string& text, bool fleet_fields = false);

}  // namespace vornik

#endif  // VORNIK_CORE_INSTANCEREADER_H
