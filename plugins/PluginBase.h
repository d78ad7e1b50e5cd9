#ifndef VORNIK_PLUGINS_PLUGINBASE_H
#define VORNIK_PLUGINS_PLUGINBASE_H

#include <string>

namespace vornik {

/// Root of every plug-in. The Solver owns exactly one plug-in per role and calls it
/// only through its interface, on the caller's thread.
class PluginBase {
public:
    virtual ~PluginBase() = default;
    /// A fixed name per concrete class.
    virtual std::string GetName() const = 0;
};

}  // namespace vornik

#endif  // VORNIK_PLUGINS_PLUGINBASE_H
