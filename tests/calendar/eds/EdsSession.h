#pragma once

#include "calendar/TemporaryFolder.h"
#include "support/HelperProcess.h"

#include <array>
#include <cstdlib>
#include <filesystem>
#include <vector>
#include <fcntl.h>
#include <csignal>
#include <cstdio>
#include <memory>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace tarvio::testing {

// A private session bus on which Evolution Data Server's services start on
// demand, with HOME and the XDG folders in a temporary folder of its own.
// client() runs the python3-gi client beside the helper on the same bus.
class EdsSession {
public:
    EdsSession()
    {
        for (const char* name : {"home", "config", "data", "cache", "runtime"})
            ::mkdir((folder.path / name).c_str(), 0700);
        environment = {{"HOME", path("home")}, {"XDG_CONFIG_HOME", path("config")}, {"XDG_DATA_HOME", path("data")},
            {"XDG_CACHE_HOME", path("cache")}, {"XDG_RUNTIME_DIR", path("runtime")},
            {"DBUS_SESSION_BUS_ADDRESS", "unix:path=" + path("bus")}, {"TZ", "America/Sao_Paulo"}};
        std::string log = path("dbus.log");
        std::string address = "--address=unix:path=" + path("bus");
        std::vector<std::string> variables;
        for (char** each = environ; *each; ++each) {
            std::string variable = *each;
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
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        const char* argv[] = {"dbus-daemon", "--session", "--nofork", "--nopidfile", address.c_str(), nullptr};
        int failed = posix_spawnp(&daemon, "dbus-daemon", &actions, nullptr, const_cast<char**>(argv), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (failed)
            throw std::runtime_error("dbus-daemon did not start");
        for (int attempt = 0; attempt < 200 && !exists(path("bus")); attempt++)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        // As on a desktop, EDS is running before the helper starts.
        client("warm");
    }

    ~EdsSession()
    {
        // EDS's services end when their bus goes away.
        ::kill(daemon, SIGTERM);
        ::waitpid(daemon, nullptr, 0);
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }

    EdsSession(const EdsSession&) = delete;
    EdsSession& operator=(const EdsSession&) = delete;

    std::string path(const std::string& name) const { return (folder.path / name).string(); }

    // The python3-gi client's standard output; its exit status in `status`.
    std::string client(const std::string& arguments, int* status = nullptr) const
    {
        std::string line;
        for (const auto& [name, value] : environment)
            line += name + "='" + value + "' ";
        line += "/usr/bin/python3 " TARVIO_SOURCE_DIR "/tests/calendar/eds/eds_client.py " + arguments + " 2>>'"
            + path("client.log") + "'";
        FILE* pipe = ::popen(line.c_str(), "r");
        std::string output;
        std::array<char, 65536> buffer;
        size_t read;
        while (pipe && (read = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
            output.append(buffer.data(), read);
        int result = pipe ? ::pclose(pipe) : -1;
        if (status)
            *status = result;
        else if (result != 0)
            throw std::runtime_error("eds_client.py " + arguments + " failed: " + readText(path("client.log")));
        while (!output.empty() && output.back() == '\n')
            output.pop_back();
        return output;
    }

    // The processes started for this session (they carry its HOME) whose
    // name starts with `prefix`.
    std::vector<pid_t> services(const std::string& prefix) const
    {
        std::string address = "HOME=" + path("home");
        std::vector<pid_t> found;
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            pid_t pid = std::atoi(entry.path().filename().c_str());
            if (pid <= 0 || readText(entry.path().string() + "/comm").rfind(prefix, 0) != 0)
                continue;
            std::string variables = readText(entry.path().string() + "/environ");
            for (size_t at = 0; at < variables.size(); at = variables.find('\0', at) + 1) {
                if (variables.compare(at, address.size() + 1, address + '\0') == 0) {
                    found.push_back(pid);
                    break;
                }
                if (variables.find('\0', at) == std::string::npos)
                    break;
            }
        }
        return found;
    }

    HelperProcess::Environment environment;

private:
    TemporaryFolder folder;
    pid_t daemon = -1;
};

}
