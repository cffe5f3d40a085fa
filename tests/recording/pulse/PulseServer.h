#pragma once

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace tarvio::testing {

// A private audio server for one test: a null default sink "testsink", a
// 440 Hz fake microphone "testmic", kept at a low latency. Sets PULSE_SERVER
// and HOME for this process while it lives. PulseAudio, or with
// TARVIO_TEST_AUDIO_SERVER=pipewire a PipeWire (pipewire, wireplumber and
// pipewire-pulse on a D-Bus of their own), whose fake microphone is fed by
// playing a tone into a null sink: its pulse server has no sine generator.
class PulseServer {
public:
    PulseServer();
    ~PulseServer();

    PulseServer(const PulseServer&) = delete;
    PulseServer& operator=(const PulseServer&) = delete;

    // Kills the server at once (SIGKILL) and reaps it.
    void kill();
    // Starts it again on the same socket.
    void restart();
    // Freezes and thaws the server (SIGSTOP, SIGCONT): a server that hangs.
    void freeze();
    void thaw();

    const std::string& socket() const { return socketPath; }
    std::string address() const { return "unix:" + socketPath; }
    // What child processes need to reach this server.
    std::vector<std::pair<std::string, std::string>> environment() const;
    // Runs pactl with these arguments; returns its standard output.
    std::string pactl(const std::string& arguments) const;

    bool isPipeWire() const { return pipeWire; }

private:
    void launch();
    void launchPipeWire();
    void waitUntilAnswering(const std::string& logName);
    // The server's processes, the main one first.
    std::vector<pid_t> processes() const;

    std::string folder;
    std::string socketPath;
    bool pipeWire = false;
    pid_t daemon = -1;
    pid_t bus = -1, sessionManager = -1, pulseServer = -1, feeder = -1;
};

// paplay playing a file on the server; stops it when destroyed.
class Player {
public:
    // On the default output device, or on `device`.
    Player(const PulseServer& server, const std::string& file, const std::string& device = {});
    ~Player();

    pid_t pid() const { return child; }
    // Waits for the file to end.
    void wait();

private:
    pid_t child = -1;
};

// A 16-bit stereo 48 kHz WAV file of a sine tone at half of full scale.
void writeTone(const std::string& path, double frequency, double seconds);

// The amplitude of `frequency` in 16 kHz samples (Goertzel filter).
double toneAmplitude(const std::vector<float>& samples, double frequency, double rate = 16000);


}
