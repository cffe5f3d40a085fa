#include "recording/pulse/PulseServer.h"

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <fcntl.h>
#include <unistd.h>

extern char** environ;

namespace tarvio::testing {

namespace {

pid_t spawn(const std::vector<std::string>& arguments, const std::vector<std::pair<std::string, std::string>>& environment,
    const std::string& output = "/dev/null")
{
    // Everything is prepared before fork: the child of a threaded process
    // may only call async-signal-safe functions.
    std::vector<std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        std::string variable = *entry;
        bool replaced = false;
        for (const auto& [name, value] : environment)
            replaced = replaced || variable.rfind(name + "=", 0) == 0;
        if (!replaced)
            variables.push_back(variable);
    }
    for (const auto& [name, value] : environment)
        variables.push_back(name + "=" + value);
    std::vector<char*> envp;
    for (auto& variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    std::vector<char*> argv;
    for (const auto& argument : arguments)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    int out = ::open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_t child = fork();
    if (child < 0)
        throw std::runtime_error("fork failed");
    if (child == 0) {
        dup2(out, 1);
        dup2(null, 2);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    ::close(out);
    ::close(null);
    return child;
}

int reap(pid_t child)
{
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

std::string configuration(const std::string& socket)
{
    return "load-module module-native-protocol-unix auth-anonymous=1 socket=" + socket + "\n"
        "load-module module-null-sink sink_name=testsink rate=48000 channels=2\n"
        "load-module module-null-sink sink_name=micsink rate=48000 channels=1\n"
        "load-module module-sine sink=micsink frequency=440\n"
        "load-module module-remap-source source_name=testmic master=micsink.monitor\n"
        "load-module module-null-sink sink_name=drain\n"
        "load-module module-loopback source=testsink.monitor sink=drain latency_msec=40 source_dont_move=1 sink_dont_move=1\n"
        "load-module module-loopback source=micsink.monitor sink=drain latency_msec=40 source_dont_move=1 sink_dont_move=1\n"
        "set-default-sink testsink\n"
        "set-default-source testmic\n"
        "suspend-sink testsink 1\n"
        "suspend-sink testsink 0\n"
        "suspend-sink micsink 1\n"
        "suspend-sink micsink 0\n";
}

}

PulseServer::PulseServer()
{
    const char* kind = std::getenv("TARVIO_TEST_AUDIO_SERVER");
    pipeWire = kind && std::string(kind) == "pipewire";
    char pattern[] = "/tmp/tarvio-pulse.XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    folder = pattern;
    std::filesystem::create_directories(folder + "/home");
    std::filesystem::create_directories(folder + "/xdg");
    chmod((folder + "/xdg").c_str(), 0700);
    socketPath = pipeWire ? folder + "/xdg/pulse/native" : folder + "/native";
    if (pipeWire)
        writeTone(folder + "/mic.wav", 440, 40);
    else
        std::ofstream(folder + "/ci.pa") << configuration(socketPath);
    setenv("PULSE_SERVER", address().c_str(), 1);
    setenv("HOME", (folder + "/home").c_str(), 1);
    launch();
}

PulseServer::~PulseServer()
{
    kill();
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
}

std::vector<std::pair<std::string, std::string>> PulseServer::environment() const
{
    return {{"PULSE_SERVER", address()}, {"HOME", folder + "/home"}};
}

void PulseServer::launch()
{
    if (pipeWire) {
        launchPipeWire();
        return;
    }
    daemon = spawn({"pulseaudio", "-n", "-F", folder + "/ci.pa", "--daemonize=no", "--exit-idle-time=-1",
                       "--disallow-exit", "--use-pid-file=no", "--log-target=file:" + folder + "/pulse.log"},
        // Off the session bus: servers started side by side would each
        // claim the same bus name, and all but one give up.
        {{"HOME", folder + "/home"}, {"XDG_RUNTIME_DIR", folder + "/xdg"},
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + folder + "/no-bus"}});
    waitUntilAnswering("pulse.log");
}

void PulseServer::launchPipeWire()
{
    const std::string busAddress = "unix:path=" + folder + "/bus";
    bus = spawn({"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + busAddress}, {});
    for (int attempt = 0; attempt < 100 && !std::filesystem::exists(folder + "/bus"); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    const std::vector<std::pair<std::string, std::string>> environment {{"HOME", folder + "/home"},
        {"XDG_RUNTIME_DIR", folder + "/xdg"}, {"XDG_CONFIG_HOME", folder + "/home/.config"},
        {"DBUS_SESSION_BUS_ADDRESS", busAddress}};
    daemon = spawn({"pipewire"}, environment, folder + "/pipewire.log");
    sessionManager = spawn({"wireplumber"}, environment, folder + "/wireplumber.log");
    pulseServer = spawn({"pipewire-pulse"}, environment, folder + "/pipewire-pulse.log");
    waitUntilAnswering("pipewire-pulse.log");
    pactl("load-module module-null-sink sink_name=testsink rate=48000 channels=2 >/dev/null");
    pactl("load-module module-null-sink sink_name=micsink rate=48000 channels=1 >/dev/null");
    pactl("load-module module-remap-source source_name=testmic master=micsink.monitor channels=1 >/dev/null");
    pactl("set-default-sink testsink");
    pactl("set-default-source testmic");
    // A generous latency: a player that runs late leaves gaps in the tone.
    auto play = [&] {
        return spawn({"paplay", "--device=micsink", "--latency-msec=250", folder + "/mic.wav"}, this->environment());
    };
    feeder = play();
    // Ready once the tone flows into the microphone's sink; a busy machine
    // may take a while, and a player that gave up is started again.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (std::chrono::steady_clock::now() < deadline) {
        if (pactl("list short sinks").find("micsink\tPipeWire\tfloat32le 1ch 48000Hz\tRUNNING") != std::string::npos)
            return;
        int status = 0;
        if (waitpid(feeder, &status, WNOHANG) == feeder)
            feeder = play();
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    throw std::runtime_error("the PipeWire microphone tone did not start in " + folder);
}

void PulseServer::waitUntilAnswering(const std::string& logName)
{
    for (int attempt = 0; attempt < 200; ++attempt) {
        if (WEXITSTATUS(reap(spawn({"pactl", "info"}, environment()))) == 0)
            return;
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    std::ifstream log(folder + "/" + logName);
    std::string text((std::istreambuf_iterator<char>(log)), {});
    int status = 0;
    bool exited = waitpid(daemon, &status, WNOHANG) == daemon;
    throw std::runtime_error("the audio server did not start in " + folder + (exited ? " (it exited)" : " (still running)")
        + ": " + text.substr(text.size() > 1500 ? text.size() - 1500 : 0));
}

std::vector<pid_t> PulseServer::processes() const
{
    std::vector<pid_t> result;
    for (pid_t process : {pulseServer, daemon, sessionManager})
        if (process >= 0)
            result.push_back(process);
    return result;
}

void PulseServer::kill()
{
    // The tone player first, then the servers, each reaped.
    for (pid_t* process : {&feeder, &pulseServer, &sessionManager, &daemon, &bus}) {
        if (*process < 0)
            continue;
        ::kill(*process, SIGKILL);
        ::kill(*process, SIGCONT);
        reap(*process);
        *process = -1;
    }
    std::error_code ignored;
    std::filesystem::remove(socketPath, ignored);
}

void PulseServer::freeze()
{
    for (pid_t process : processes())
        ::kill(process, SIGSTOP);
}

void PulseServer::thaw()
{
    for (pid_t process : processes())
        ::kill(process, SIGCONT);
}

void PulseServer::restart()
{
    kill();
    launch();
}

std::string PulseServer::pactl(const std::string& arguments) const
{
    std::string out = folder + "/pactl.out";
    std::vector<std::string> argv {"sh", "-c", "pactl " + arguments};
    reap(spawn(argv, environment(), out));
    std::ifstream in(out);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Player::Player(const PulseServer& server, const std::string& file, const std::string& device)
{
    std::vector<std::string> arguments {"paplay", file};
    if (!device.empty())
        arguments.insert(arguments.begin() + 1, "--device=" + device);
    child = spawn(arguments, server.environment());
}

Player::~Player()
{
    if (child < 0)
        return;
    ::kill(child, SIGTERM);
    reap(child);
}

void Player::wait()
{
    if (child < 0)
        return;
    reap(child);
    child = -1;
}

void writeTone(const std::string& path, double frequency, double seconds)
{
    const uint32_t rate = 48000, frames = static_cast<uint32_t>(seconds * rate);
    const uint32_t dataBytes = frames * 4;
    std::ofstream out(path, std::ios::binary);
    auto le32 = [&](uint32_t value) { for (int i = 0; i < 4; ++i) out.put(char((value >> (8 * i)) & 0xFF)); };
    auto le16 = [&](uint16_t value) { out.put(char(value & 0xFF)); out.put(char(value >> 8)); };
    out.write("RIFF", 4); le32(36 + dataBytes); out.write("WAVE", 4);
    out.write("fmt ", 4); le32(16); le16(1); le16(2); le32(rate); le32(rate * 4); le16(4); le16(16);
    out.write("data", 4); le32(dataBytes);
    for (uint32_t i = 0; i < frames; ++i) {
        auto sample = static_cast<int16_t>(std::lround(16383.0 * std::sin(2 * M_PI * frequency * i / rate)));
        le16(static_cast<uint16_t>(sample));
        le16(static_cast<uint16_t>(sample));
    }
}

double toneAmplitude(const std::vector<float>& samples, double frequency, double rate)
{
    if (samples.empty())
        return 0;
    const double coefficient = 2 * std::cos(2 * M_PI * frequency / rate);
    double previous = 0, beforePrevious = 0;
    for (float sample : samples) {
        double current = sample + coefficient * previous - beforePrevious;
        beforePrevious = previous;
        previous = current;
    }
    double power = previous * previous + beforePrevious * beforePrevious - coefficient * previous * beforePrevious;
    return 2 * std::sqrt(std::max(power, 0.0)) / double(samples.size());
}

}
