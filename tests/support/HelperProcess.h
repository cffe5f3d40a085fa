#pragma once

#include "channel/Json.h"

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace tarvio::testing {

// The built helper, run as a child over pipes, as the host runs it.
class HelperProcess {
public:
    using Environment = std::vector<std::pair<std::string, std::string>>;

    // `environment` is added to (or overrides) the test's own environment.
    explicit HelperProcess(const Environment& environment = {});
    // Runs another copy of the helper.
    HelperProcess(const std::string& executable, const Environment& environment);
    ~HelperProcess();

    HelperProcess(const HelperProcess&) = delete;
    HelperProcess& operator=(const HelperProcess&) = delete;

    // Writes raw bytes to the helper's standard input.
    void send(std::string_view bytes);
    // The next response line without its line feed, or none after `timeout`
    // or at end of output.
    std::optional<std::string> readLine(std::chrono::milliseconds timeout = std::chrono::seconds(20));

    // Sends {"id", "method", "params"} and returns the parsed response.
    Json call(std::string_view method, const Json& params = Json::object());

    // Closes standard input, collects what is left of standard output and
    // standard error, and returns the exit status (-1 when killed by a signal).
    int finish(std::chrono::milliseconds timeout = std::chrono::seconds(20));
    const std::string& remainingOutput() const { return leftover; }
    const std::string& errorOutput() const { return errors; }

    pid_t pid() const { return child; }

private:
    void drainErrors();

    pid_t child = -1;
    int input = -1;
    int output = -1;
    int errorPipe = -1;
    std::string buffered;
    std::string leftover;
    std::string errors;
    long nextId = 1;
    bool finished = false;
    int status = 0;
};

}
