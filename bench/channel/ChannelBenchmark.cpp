// Prints the request channel's figures beside references measured in the
// same run: lines per second for a million pings (the helper, `jq -c
// --unbuffered .`, and a loop that writes a fixed line per input line), the
// round trip of one request to a running helper, the time from process start
// to the first answer, and the helper's idle resident size.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct Child {
    pid_t pid;
    int input;
    int output;
};

// Starts `argv` with its stdin from `inputFile` (or a pipe when empty) and its
// stdout on a pipe.
Child spawn(const std::vector<const char*>& argv, const std::string& inputFile = "")
{
    int in[2] = {-1, -1}, out[2];
    if (inputFile.empty() && pipe2(in, O_CLOEXEC))
        std::exit(1);
    if (pipe2(out, O_CLOEXEC))
        std::exit(1);
    pid_t pid = fork();
    if (pid == 0) {
        int source = inputFile.empty() ? in[0] : open(inputFile.c_str(), O_RDONLY);
        dup2(source, 0);
        dup2(out[1], 1);
        int devNull = open("/dev/null", O_WRONLY);
        dup2(devNull, 2);
        std::vector<char*> args;
        for (const char* arg : argv)
            args.push_back(const_cast<char*>(arg));
        args.push_back(nullptr);
        execvp(args[0], args.data());
        _exit(127);
    }
    if (in[0] >= 0)
        close(in[0]);
    close(out[1]);
    return {pid, in[1], out[0]};
}

int finish(Child& child)
{
    if (child.input >= 0)
        close(child.input);
    close(child.output);
    int status = 0;
    waitpid(child.pid, &status, 0);
    return status;
}

// Lines per second for `argv` answering every line of `inputFile`.
double throughput(const std::vector<const char*>& argv, const std::string& inputFile, long lines)
{
    auto start = Clock::now();
    Child child = spawn(argv, inputFile);
    static char buffer[1 << 16];
    long answered = 0;
    ssize_t count;
    while ((count = read(child.output, buffer, sizeof buffer)) > 0)
        answered += std::count(buffer, buffer + count, '\n');
    finish(child);
    double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (answered != lines)
        std::printf("  (warning: %ld answers to %ld lines)\n", answered, lines);
    return lines / seconds;
}

bool readLine(int fd, std::string& pending, std::string& line)
{
    while (true) {
        auto end = pending.find('\n');
        if (end != std::string::npos) {
            line = pending.substr(0, end);
            pending.erase(0, end + 1);
            return true;
        }
        char chunk[4096];
        ssize_t count = read(fd, chunk, sizeof chunk);
        if (count <= 0)
            return false;
        pending.append(chunk, count);
    }
}

long residentKilobytes(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}

int main(int argc, char** argv)
{
    long lines = argc > 1 ? std::atol(argv[1]) : 1000000;
    std::string inputFile = "/tmp/tarvio-bench-pings." + std::to_string(getpid());
    {
        std::ofstream file(inputFile);
        for (long i = 0; i < lines; ++i)
            file << "{\"id\":" << i << ",\"method\":\"ping\"}\n";
    }

    std::printf("throughput, %ld ping lines (lines/s, best of 3):\n", lines);
    struct Program {
        const char* name;
        std::vector<const char*> argv;
    } programs[] = {
        {"tarvio-helper", {TARVIO_HELPER_PATH}},
        {"jq -c --unbuffered .", {"jq", "-c", "--unbuffered", "."}},
        {"fixed-response loop", {FIXED_RESPONSE_LOOP_PATH}},
    };
    double helperRate = 0, jqRate = 0;
    for (const auto& program : programs) {
        double best = 0;
        for (int run = 0; run < 3; ++run)
            best = std::max(best, throughput(program.argv, inputFile, lines));
        std::printf("  %-22s %12.0f\n", program.name, best);
        if (program.argv[0] == std::string(TARVIO_HELPER_PATH))
            helperRate = best;
        if (program.argv[0] == std::string("jq"))
            jqRate = best;
    }
    std::printf("  helper / jq: %.2f (goal >= 1.5)\n", helperRate / jqRate);
    std::remove(inputFile.c_str());

    // The same exchange with the fixed-response loop is the floor that pipe
    // wake-ups set on this machine right now.
    const char request[] = "{\"id\":1,\"method\":\"ping\"}\n";
    auto roundTrip = [&](Child& child) {
        std::string pending, line;
        std::vector<double> times;
        for (int i = 0; i < 20000; ++i) {
            auto start = Clock::now();
            if (write(child.input, request, sizeof request - 1) < 0 || !readLine(child.output, pending, line))
                std::exit(1);
            times.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
        }
        return median(times);
    };
    Child floor = spawn({FIXED_RESPONSE_LOOP_PATH});
    double floorRoundTrip = roundTrip(floor);
    finish(floor);
    Child helper = spawn({TARVIO_HELPER_PATH});
    double helperRoundTrip = roundTrip(helper);
    std::printf("round trip of one ping to a running helper: median %.1f us (fixed-response loop %.1f us; goal: median < 20 us)\n",
        helperRoundTrip, floorRoundTrip);
    usleep(200000);
    std::printf("idle resident size: %.1f MB (goal < 8 MB)\n", residentKilobytes(helper.pid) / 1024.0);
    finish(helper);

    std::vector<double> firstAnswers;
    for (int i = 0; i < 50; ++i) {
        auto start = Clock::now();
        Child child = spawn({TARVIO_HELPER_PATH});
        if (write(child.input, request, sizeof request - 1) < 0)
            return 1;
        std::string childPending, childLine;
        if (!readLine(child.output, childPending, childLine))
            return 1;
        firstAnswers.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        finish(child);
    }
    std::printf("first answer after process start: median %.2f ms (goal < 5 ms)\n", median(firstAnswers));
    return 0;
}
