#include "support/HelperProcess.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace tarvio::testing {

namespace {

int64_t millisecondsLeft(std::chrono::steady_clock::time_point deadline)
{
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? left.count() : 0;
}

}

HelperProcess::HelperProcess(const Environment& environment)
    : HelperProcess(TARVIO_HELPER_PATH, environment)
{
}

HelperProcess::HelperProcess(const std::string& executable, const Environment& environment)
{
    signal(SIGPIPE, SIG_IGN);
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) || pipe2(out, O_CLOEXEC) || pipe2(err, O_CLOEXEC))
        throw std::runtime_error("pipe failed");
    child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        for (const auto& [name, value] : environment)
            setenv(name.c_str(), value.c_str(), 1);
        execl(executable.c_str(), "tarvio-helper", nullptr);
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    input = in[1];
    output = out[0];
    errorPipe = err[0];
    fcntl(errorPipe, F_SETFL, O_NONBLOCK);
}

HelperProcess::~HelperProcess()
{
    if (!finished) {
        ::kill(child, SIGKILL);
        finish(std::chrono::seconds(5));
    }
    if (output >= 0)
        close(output);
    if (errorPipe >= 0)
        close(errorPipe);
}

void HelperProcess::send(std::string_view bytes)
{
    while (!bytes.empty()) {
        ssize_t written = write(input, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            throw std::runtime_error("helper closed its input");
        bytes.remove_prefix(static_cast<size_t>(written));
    }
}

std::optional<std::string> HelperProcess::readLine(std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    // Only what came since the last look can hold the end of a long line.
    size_t searched = 0;
    while (true) {
        auto end = buffered.find('\n', searched);
        searched = buffered.size();
        if (end != std::string::npos) {
            std::string line = buffered.substr(0, end);
            buffered.erase(0, end + 1);
            return line;
        }
        pollfd ready {output, POLLIN, 0};
        int polled = poll(&ready, 1, static_cast<int>(millisecondsLeft(deadline)));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0)
            return std::nullopt;
        char chunk[65536];
        ssize_t count = read(output, chunk, sizeof chunk);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return std::nullopt;
        buffered.append(chunk, static_cast<size_t>(count));
        drainErrors();
    }
}

Json HelperProcess::call(std::string_view method, const Json& params)
{
    Json request = {{"id", nextId++}, {"method", method}, {"params", params}};
    send(request.dump() + "\n");
    auto line = readLine();
    if (!line)
        throw std::runtime_error("no response to " + std::string(method));
    return Json::parse(*line);
}

void HelperProcess::drainErrors()
{
    char chunk[4096];
    ssize_t count;
    while ((count = read(errorPipe, chunk, sizeof chunk)) > 0)
        errors.append(chunk, static_cast<size_t>(count));
}

int HelperProcess::finish(std::chrono::milliseconds timeout)
{
    if (finished)
        return status;
    if (input >= 0) {
        close(input);
        input = -1;
    }
    auto deadline = std::chrono::steady_clock::now() + timeout;
    leftover = buffered;
    buffered.clear();
    while (true) {
        pollfd ready {output, POLLIN, 0};
        int polled = poll(&ready, 1, static_cast<int>(millisecondsLeft(deadline)));
        if (polled < 0 && errno == EINTR)
            continue;
        if (polled <= 0) {
            ::kill(child, SIGKILL);
            break;
        }
        char chunk[65536];
        ssize_t count = read(output, chunk, sizeof chunk);
        if (count <= 0)
            break;
        leftover.append(chunk, static_cast<size_t>(count));
    }
    int raw = 0;
    while (waitpid(child, &raw, 0) < 0 && errno == EINTR) {
    }
    drainErrors();
    finished = true;
    status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return status;
}

}
