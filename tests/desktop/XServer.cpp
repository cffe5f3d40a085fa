#include "desktop/XServer.h"

#include "desktop/XRequestor.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <xcb/xcb.h>

namespace tarvio::testing {

namespace {

bool answers(const std::string& display)
{
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    bool ok = !xcb_connection_has_error(connection);
    xcb_disconnect(connection);
    return ok;
}

// Reads the display number Xvfb writes to -displayfd, up to a line feed.
std::optional<int> readDisplayNumber(int descriptor)
{
    std::string text;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd wait = {descriptor, POLLIN, 0};
        if (::poll(&wait, 1, 100) <= 0)
            continue;
        char buffer[32];
        ssize_t count = ::read(descriptor, buffer, sizeof buffer);
        if (count <= 0)
            return std::nullopt;
        text.append(buffer, size_t(count));
        if (text.find('\n') != std::string::npos)
            return std::atoi(text.c_str());
    }
    return std::nullopt;
}

}

XServer::XServer(int width, int height, std::optional<int> display, const std::vector<std::string>& arguments)
{
    std::signal(SIGPIPE, SIG_IGN);
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0)
        return;
    std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    std::string displayFd = std::to_string(pipeEnds[1]);
    std::vector<std::string> words = {"Xvfb"};
    if (display)
        words.push_back(":" + std::to_string(*display));
    words.insert(words.end(), {"-displayfd", displayFd, "-screen", "0", screen, "-noreset", "-nolisten", "tcp"});
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words)
        argv.push_back(word.data());
    argv.push_back(nullptr);
    child = ::fork();
    if (child == 0) {
        int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, 0);
        ::dup2(devNull, 1);
        ::dup2(devNull, 2);
        ::close(pipeEnds[0]);
        ::execvp("Xvfb", argv.data());
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    std::optional<int> number = child > 0 ? readDisplayNumber(pipeEnds[0]) : std::nullopt;
    ::close(pipeEnds[0]);
    if (!number) {
        stop();
        return;
    }
    displayNumber = *number;
    for (int attempt = 0; attempt < 200 && !answers(name()); ++attempt)
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
}

std::unique_ptr<XServer> XServer::aboveTheCommonNumbers(int width, int height)
{
    std::unique_ptr<XServer> server;
    for (int display = 600 + ::getpid() % 300; display < 1000; display += 7) {
        server = std::make_unique<XServer>(width, height, display);
        if (server->running())
            return server;
    }
    return server;
}

XServer::~XServer()
{
    stop();
}

void XServer::stop()
{
    if (child <= 0)
        return;
    ::kill(child, SIGTERM);
    // A server a test left stopped would never act on the SIGTERM.
    ::kill(child, SIGCONT);
    int status;
    ::waitpid(child, &status, 0);
    child = -1;
}

CommandResult runCommand(const std::string& display, const std::string& command)
{
    CommandResult result;
    std::string line = "export DISPLAY=" + shellQuoted(display) + "; " + command;
    std::FILE* pipe = ::popen(line.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    for (size_t count; (count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        result.output.append(buffer, count);
    int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

std::string shellQuoted(const std::string& text)
{
    std::string quoted = "'";
    for (char character : text) {
        if (character == '\'')
            quoted += "'\\''";
        else
            quoted += character;
    }
    return quoted + "'";
}

}

namespace tarvio::testing {

ClipboardManager::ClipboardManager(const std::string& display)
{
    CommandResult started = runCommand(display,
        "setsid dbus-run-session -- /usr/lib/*/cinnamon-settings-daemon/csd-clipboard >/dev/null 2>&1 </dev/null & "
        "echo $!");
    group = std::atoi(started.output.c_str());
    XRequestor requestor(display);
    xcb_atom_t selection = requestor.atom("CLIPBOARD_MANAGER");
    for (int attempt = 0; attempt < 100 && !ready; ++attempt) {
        ready = requestor.owner(selection) != XCB_NONE;
        if (!ready)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

ClipboardManager::~ClipboardManager()
{
    if (group > 0)
        ::kill(-group, SIGTERM);
}

}
