#ifndef VORNIK_PLUGINS_EVALUATINGPOSTOPTIMIZER_H
#define VORNIK_PLUGINS_EVALUATINGPOSTOPTIMIZER_H

#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "plugins/PostOptimizerPlugin.h"
#include "plugins/RouteEvaluator.h"

namespace vornik {

/// The part both concrete post-optimizers share: their configuration lives in one
/// RouteEvaluator, which the setters fill and whose route operations they use.
class EvaluatingPostOptimizer : public PostOptimizerPlugin {
public:
    void SetReturnToEnd(bool return_to_end) final { evaluator_.SetReturnToEnd(return_to_end); }
    void SetStartVertices(const std::vector<std::uint64_t>& start_vertices) final {
        evaluator_.SetStartVertices(start_vertices);
    }
    void SetEndVertices(const std::vector<std::uint64_t>& end_vertices) final {
        evaluator_.SetEndVertices(end_vertices);
    }
    void SetTimeWindows(const TimeWindowTable& time_windows) final {
        evaluator_.SetTimeWindows(time_windows);
    }
    void SetStopCheck(std::function<bool()> expired) final {
        evaluator_.SetStopCheck(std::move(expired));
    }

protected:
    RouteEvaluator evaluator_;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_EVALUATINGPOSTOPTIMIZER_H
