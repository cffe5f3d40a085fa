// Feeds arbitrary bytes through the line-to-response path and checks that
// every input line yields nothing or exactly one valid response line.

#include "channel/Dispatcher.h"
#include "channel/RequestChannel.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

using namespace tarvio;

namespace {

void checkResponse(const std::string& out)
{
    if (out.empty())
        return;
    if (out.back() != '\n' || out.find('\n') != out.size() - 1)
        std::abort();
    Json response = Json::parse(out, nullptr, false);
    if (!response.is_object() || response.size() != 2 || !response.contains("id"))
        std::abort();
    if (response.contains("result"))
        return;
    auto error = response.find("error");
    if (error == response.end() || !error->is_object() || error->size() != 2)
        std::abort();
    if (!(*error)["code"].is_string() || !(*error)["message"].is_string())
        std::abort();
}

}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static Dispatcher* dispatcher = [] {
        auto* made = new Dispatcher;
        made->add("echo", [](const Json& params) { return params; });
        made->add("fail", [](const Json& params) -> Json { throw std::runtime_error(params.dump()); });
        return made;
    }();
    RequestChannel channel(*dispatcher);
    std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string out;
    while (true) {
        auto end = input.find('\n');
        out.clear();
        channel.answerLine(input.substr(0, end), out);
        checkResponse(out);
        if (end == std::string_view::npos)
            break;
        input.remove_prefix(end + 1);
    }
    return 0;
}
