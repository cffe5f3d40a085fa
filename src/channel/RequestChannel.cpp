#include "channel/RequestChannel.h"

#include "channel/HelperError.h"
#include "channel/JsonWriter.h"
#include "channel/RequestParser.h"
#include "channel/Utf8.h"

#include <cerrno>
#include <cstring>
#include <exception>
#include <malloc.h>
#include <unistd.h>
#include <vector>

namespace tarvio {

namespace {

bool appendError(const Json& id, std::string_view code, std::string_view message, std::string& out)
{
    Json error = Json::object();
    error["code"] = code;
    error["message"] = message;
    out.append(R"({"id":)");
    bool valid = writeCompactJson(id, out);
    out.append(R"(,"error":)");
    valid = valid && writeCompactJson(error, out);
    out.append("}\n");
    return valid;
}

}

void RequestChannel::answerLine(std::string_view line, std::string& out) const
{
    if (!line.empty() && line.back() == '\r')
        line.remove_suffix(1);
    size_t start = out.size();
    try {
        if (isValidUtf8(line))
            answerRequest(line, out);
        else
            answerRequest(makeValidUtf8(line), out);
    } catch (...) {
        // Out of memory while answering: the line goes unanswered.
        out.resize(start);
    }
}

void RequestChannel::answerRequest(std::string_view line, std::string& out) const
{
    if (isBlankLine(line))
        return;

    Json request = parseRequestLine(line);
    auto method = request.is_object() ? request.find("method") : request.end();
    if (!request.is_object() || method == request.end() || !method->is_string()) {
        out.append(invalidLineResponse);
        out.push_back('\n');
        return;
    }

    Json id;
    if (auto found = request.find("id"); found != request.end())
        id = std::move(*found);
    static const Json noParams = Json::object();
    auto paramsMember = request.find("params");
    const Json& params = paramsMember != request.end() && paramsMember->is_object() ? *paramsMember : noParams;

    size_t start = out.size();
    bool valid;
    try {
        Json result = dispatcher.handle(method->get_ref<const std::string&>(), params);
        // A long answer written by its handler is copied once, not once per growth.
        if (result.is_binary())
            out.reserve(out.size() + result.get_binary().size() + 64);
        out.append(R"({"id":)");
        valid = writeCompactJson(id, out);
        out.append(R"(,"result":)");
        valid = valid && writeCompactJson(result, out);
        if (!valid) {
            out.resize(start);
            return;
        }
        out.append("}\n");
        return;
    } catch (const HelperError& error) {
        out.resize(start);
        valid = appendError(id, error.code, error.message, out);
    } catch (const std::exception& error) {
        out.resize(start);
        valid = appendError(id, "internal", makeValidUtf8(error.what()), out);
    } catch (...) {
        out.resize(start);
        valid = appendError(id, "internal", "erro interno", out);
    }
    if (!valid)
        out.resize(start);
}

void RequestChannel::run(int input, std::FILE* output) const
{
    std::vector<char> buffer(64 * 1024);
    std::string pending;
    std::string response;

    auto answer = [&](std::string_view line) {
        response.clear();
        answerLine(line, response);
        if (response.empty())
            return;
        std::fwrite(response.data(), 1, response.size(), output);
        std::fflush(output);
        // A large answer's buffer is not kept for the next one.
        if (response.capacity() > 1024 * 1024)
            std::string().swap(response);
    };

    while (true) {
        ssize_t count = ::read(input, buffer.data(), buffer.size());
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        std::string_view chunk(buffer.data(), static_cast<size_t>(count));
        while (!chunk.empty()) {
            auto end = chunk.find('\n');
            if (end == std::string_view::npos) {
                pending.append(chunk);
                break;
            }
            if (pending.empty())
                answer(chunk.substr(0, end));
            else {
                pending.append(chunk.substr(0, end));
                answer(pending);
                pending.clear();
                releaseLargeLine(pending);
            }
            chunk.remove_prefix(end + 1);
        }
    }
    if (!pending.empty())
        answer(pending);
}

void RequestChannel::releaseLargeLine(std::string& line)
{
    // A payload line of hundreds of megabytes must not stay reserved, nor
    // what its parse and its handler freed stay in the heap, once answered.
    if (line.capacity() <= largeLineBytes)
        return;
    std::string().swap(line);
    ::malloc_trim(0);
}

}
