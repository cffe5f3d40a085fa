#include "channel/Dispatcher.h"

#include "channel/HelperError.h"

namespace tarvio {

Dispatcher::Dispatcher()
{
    add("ping", [](const Json&) {
        Json result = Json::object();
        result["pong"] = true;
        result["version"] = "1.0.0";
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

Json Dispatcher::handle(std::string_view method, const Json& params) const
{
    auto found = handlers.find(method);
    if (found == handlers.end())
        throw invalidParams("método desconhecido: " + std::string(method));
    return found->second(params);
}

}
