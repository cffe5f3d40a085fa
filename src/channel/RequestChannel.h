#pragma once

#include "channel/Dispatcher.h"

#include <cstdio>
#include <string>
#include <string_view>

namespace tarvio {

// Turns request lines into response lines.
class RequestChannel {
public:
    explicit RequestChannel(const Dispatcher& dispatcher) : dispatcher(dispatcher) {}

    // Appends the response to one input line (its line feed already removed)
    // to `out`, line feed included. Appends nothing for a blank line or a
    // response that is not valid JSON throughout.
    void answerLine(std::string_view line, std::string& out) const;

    // Reads lines from `input` until end of input or a read error, writing
    // and flushing each response to `output` before reading on.
    void run(int input, std::FILE* output) const;

private:
    void answerRequest(std::string_view line, std::string& out) const;
    static void releaseLargeLine(std::string& line);

    static constexpr size_t largeLineBytes = 1 << 20;

    const Dispatcher& dispatcher;
};

inline constexpr std::string_view invalidLineResponse =
    R"({"id":null,"error":{"code":"invalid_params","message":"linha não é uma requisição JSON válida"}})";

}
