#pragma once

#include "channel/Json.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace tarvio {

// Every handler takes the request's parameter object and returns one JSON
// value or throws HelperError.
using Handler = std::function<Json(const Json& params)>;

// Maps method names to handlers. Each subsystem adds its own methods at
// start-up; a name nobody added is refused.
class Dispatcher {
public:
    Dispatcher();

    // Names are matched exactly and case-sensitively; adding a name twice
    // replaces the earlier handler.
    void add(std::string method, Handler handler);
    bool has(std::string_view method) const;

    // Names whose handlers `load` adds on first use, so that a subsystem's
    // libraries are loaded only when one of its methods is called. A load
    // that throws is tried again on the next call.
    void addDeferred(const std::vector<std::string>& methods, std::function<void(Dispatcher&)> load);

    Json handle(std::string_view method, const Json& params) const;

private:
    struct DeferredLoad {
        std::function<void(Dispatcher&)> load;
        std::vector<std::string> methods;
    };
    void runDeferred(std::string_view method) const;

    struct NameHash {
        using is_transparent = void;
        size_t operator()(std::string_view name) const { return std::hash<std::string_view>{}(name); }
    };
    std::unordered_map<std::string, Handler, NameHash, std::equal_to<>> handlers;
    mutable std::unordered_map<std::string, std::shared_ptr<DeferredLoad>, NameHash, std::equal_to<>> deferred;
};

}
