#include "improve/EngineParams.h"

#include <cmath>
#include <stdexcept>

namespace vornik {

namespace {

// One row per field: how Python spells it, where it lives, and its range.
struct Field {
    const char* name;
    double EngineParams::*real;
    std::size_t EngineParams::*whole;
    double lowest;
    double highest;
};

constexpr double kHuge = 1e300;

const Field kFields[] = {
    {"start_temperature", &EngineParams::start_temperature, nullptr, 0.0, kHuge},
    {"end_temperature", &EngineParams::end_temperature, nullptr, 0.0, kHuge},
    {"polish_window", &EngineParams::polish_window, nullptr, 0.0, kHuge},
    {"first_epoch", &EngineParams::first_epoch, nullptr, 0.0, 1e9},
    {"epoch_growth", &EngineParams::epoch_growth, nullptr, 1.0, 100.0},
    {"restart_temperature", &EngineParams::restart_temperature, nullptr, 0.0, 1.0},
    {"sum_share", &EngineParams::sum_share, nullptr, 0.0, kHuge},
    {"descent_sum_weight", &EngineParams::descent_sum_weight, nullptr, 0.0, kHuge},
    {"removed_share", &EngineParams::removed_share, nullptr, 0.0, 1.0},
    {"max_removed", &EngineParams::max_removed, nullptr, 1.0, kHuge},
    {"longest_bias", &EngineParams::longest_bias, nullptr, 0.0, 1.0},
    {"boundary_bias", &EngineParams::boundary_bias, nullptr, 0.0, 1.0},
    {"max_string", &EngineParams::max_string, nullptr, 1.0, kHuge},
    {"blink", &EngineParams::blink, nullptr, 0.0, 0.99},
    {"exhaustive_targets", nullptr, &EngineParams::exhaustive_targets, 0.0, 1e9},
    {"quick_start_targets", nullptr, &EngineParams::quick_start_targets, 0.0, 1e9},
    {"granularity", nullptr, &EngineParams::granularity, 1.0, 40.0},
    {"longest_string", nullptr, &EngineParams::longest_string, 1.0, 1000.0},
    {"focus_neighbours", nullptr, &EngineParams::focus_neighbours, 0.0, 40.0},
    {"population_size", nullptr, &EngineParams::population_size, 2.0, 10000.0},
    {"offspring", nullptr, &EngineParams::offspring, 1.0, 10000.0},
    {"elite", nullptr, &EngineParams::elite, 0.0, 10000.0},
    {"diversity_neighbours", nullptr, &EngineParams::diversity_neighbours, 1.0, 10000.0},
    {"population_restart", nullptr, &EngineParams::population_restart, 0.0, 1e12},
    {"random_individuals", &EngineParams::random_individuals, nullptr, 0.0, 1.0},
    {"restart_random_individuals", &EngineParams::restart_random_individuals, nullptr, 0.0, 1.0},
    {"population_focus", nullptr, &EngineParams::population_focus, 0.0, 1.0},
    {"infeasible_search", nullptr, &EngineParams::infeasible_search, 0.0, 2.0},
    {"feasible_share", &EngineParams::feasible_share, nullptr, 0.0, 1.0},
    {"take_up", &EngineParams::take_up, nullptr, 0.0, 1000.0},
    {"infeasible_targets", nullptr, &EngineParams::infeasible_targets, 0.0, 1e9},
    {"tour_kicks", &EngineParams::tour_kicks, nullptr, 0.0, 1e6},
    {"restart_kicks", &EngineParams::restart_kicks, nullptr, 0.0, 1e6},
    {"population_tour_kicks", &EngineParams::population_tour_kicks, nullptr, 0.0, 1e6},
    {"population_tour_visits", nullptr, &EngineParams::population_tour_visits, 0.0, 1e9},
    {"cap_share", &EngineParams::cap_share, nullptr, 0.0, 0.5},
    {"cap_weight", &EngineParams::cap_weight, nullptr, 0.0, kHuge},
    {"cap_polish_window", &EngineParams::cap_polish_window, nullptr, 0.0, kHuge},
    {"cap_targets", nullptr, &EngineParams::cap_targets, 0.0, 1e9},
    {"cap_from_epoch", nullptr, &EngineParams::cap_from_epoch, 0.0, 1e9},
    {"cap_tour_kicks", &EngineParams::cap_tour_kicks, nullptr, 0.0, 1e6},
    {"cap_max_removed", &EngineParams::cap_max_removed, nullptr, 1.0, kHuge},
    {"balance_rounds", nullptr, &EngineParams::balance_rounds, 0.0, 1e9},
};

std::string Quoted(const std::string& name) { return "engine_params[\"" + name + "\"]"; }

std::string Number(double value) {
    std::string text = std::to_string(value);
    while (text.size() > 1 && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
    return text;
}

void CheckRange(const Field& field, double value) {
    if (!(value >= field.lowest && value <= field.highest)) {
        throw std::invalid_argument(Quoted(field.name) + " must be between " +
                                    Number(field.lowest) + " and " + Number(field.highest) +
                                    " (got " + (std::isnan(value) ? "nan" : Number(value)) + ")");
    }
    if (field.whole != nullptr && value != std::floor(value)) {
        throw std::invalid_argument(Quoted(field.name) + " must be a whole number (got " +
                                    Number(value) + ")");
    }
}

double Get(const EngineParams& params, const Field& field) {
    return field.real != nullptr ? params.*field.real : static_cast<double>(params.*field.whole);
}

}  // namespace

void EngineParams::Validate() const {
    for (const Field& field : kFields) CheckRange(field, Get(*this, field));
    if (end_temperature > start_temperature) {
        throw std::invalid_argument(
            "engine_params[\"end_temperature\"] must not exceed start_temperature");
    }
}

void SetEngineParam(EngineParams& params, const std::string& name, double value) {
    for (const Field& field : kFields) {
        if (name != field.name) continue;
        CheckRange(field, value);
        if (field.real != nullptr) {
            params.*field.real = value;
        } else {
            params.*field.whole = static_cast<std::size_t>(value);
        }
        return;
    }
    if (name == "strategy") {
        throw std::invalid_argument(
            "engine_params[\"strategy\"] must be \"anneal\", \"population\" or \"auto\" (got " +
            Number(value) + ")");
    }
    std::string known = "strategy";
    for (const Field& field : kFields) known += std::string(", ") + field.name;
    throw std::invalid_argument("engine_params has no key \"" + name + "\" (known: " + known + ")");
}

const char* StrategyName(SearchStrategy strategy) {
    switch (strategy) {
        case SearchStrategy::kAnneal:
            return "anneal";
        case SearchStrategy::kPopulation:
            return "population";
        case SearchStrategy::kAuto:
            break;
    }
    return "auto";
}

void SetEngineParamText(EngineParams& params, const std::string& name, const std::string& value) {
    if (name != "strategy") {
        throw std::invalid_argument(Quoted(name) + " must be a number (got '" + value + "')");
    }
    for (const SearchStrategy strategy :
         {SearchStrategy::kAnneal, SearchStrategy::kPopulation, SearchStrategy::kAuto}) {
        if (value == StrategyName(strategy)) {
            params.strategy = strategy;
            return;
        }
    }
    throw std::invalid_argument(
        Quoted(name) + " must be \"anneal\", \"population\" or \"auto\" (got '" + value + "')");
}

std::vector<std::pair<std::string, double>> EngineParamValues(const EngineParams& params) {
    std::vector<std::pair<std::string, double>> values;
    for (const Field& field : kFields) values.emplace_back(field.name, Get(params, field));
    return values;
}

}  // namespace vornik
