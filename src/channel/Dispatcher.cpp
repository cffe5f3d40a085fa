#include "channel/Dispatcher.h"

#include "channel/HelperError.h"

namespace tarvio {

Dispatcher::Dispatcher()
{
    add("ping", [](const Json&) {
        Json result = Json::object();
        result["pong"] = true;
        result["version"] = TARVIO_VERSION;
        return result;
    });
}

void Dispatcher::add(std::string method, Handler handler)
{
    handlers.insert_or_assign(std::move(method), std::move(handler));
}

bool Dispatcher::has(std::string_view method) const
{
    return handlers.find(method) != handlers.end();
}

void Dispatcher::addDeferred(const std::vector<std::string>& methods, std::function<void(Dispatcher&)> load)
{
    auto entry = std::make_shared<DeferredLoad>(DeferredLoad {std::move(load), methods});
    for (const auto& method : methods)
        deferred.insert_or_assign(method, entry);
}

void Dispatcher::runDeferred(std::string_view method) const
{
    auto found = deferred.find(method);
    if (found == deferred.end())
        return;
    std::shared_ptr<DeferredLoad> entry = found->second;
    // Loading adds handlers: the one mutation a const dispatcher allows.
    entry->load(const_cast<Dispatcher&>(*this));
    for (const auto& name : entry->methods)
        deferred.erase(name);
}

Json Dispatcher::handle(std::string_view method, const Json& params) const
{
    auto found = handlers.find(method);
    if (found == handlers.end()) {
        runDeferred(method);
        found = handlers.find(method);
    }
    if (found == handlers.end())
        throw invalidParams("método desconhecido: " + std::string(method));
    return found->second(params);
}

}
