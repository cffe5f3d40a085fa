// The helper's entry point: wires each subsystem to the real Linux services
// and runs the request loop on standard input and output.

#include "channel/Dates.h"
#include "channel/Dispatcher.h"
#include "app/Module.h"
#include "channel/RequestChannel.h"
#include "calendar/CalendarMethods.h"
#include "app/CalendarChoice.h"
#include "calendar/CombinedCalendarStore.h"
#include "desktop/DesktopMethods.h"
#include "desktop/sysfs/SysfsThermalSensors.h"
#include "desktop/x11/RandrScreens.h"
#include "desktop/x11/X11Clipboard.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <pthread.h>
#include <system_error>
#include <thread>
#include <unistd.h>

using namespace tarvio;

#if defined(__SANITIZE_THREAD__)
// The race detector reads its suppressions from the executable only. The
// audio client library, loaded with the recording module, hands data between
// its threads with its own atomics, built without the detector.
extern "C" const char* __tsan_default_suppressions()
{
    return "race:libpulsecommon\nrace:libpulse.so\n";
}
#endif

namespace {

// Responses go to a private copy of standard output; fd 1 and fd 2 then point
// at /dev/null, so nothing a library prints can reach the host's pipe.
std::FILE* takeResponseStream()
{
    int responses = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    int devNull = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devNull >= 0) {
        ::dup2(devNull, STDOUT_FILENO);
        ::dup2(devNull, STDERR_FILENO);
        ::close(devNull);
    }
    if (responses < 0)
        return stdout;
    return ::fdopen(responses, "w");
}

// The end of the desktop session (SIGTERM, SIGHUP, SIGINT) reaches a thread
// of its own through a pipe: the handler only writes one byte, and the thread
// runs the modules' exit hooks and ends the process by the same signal.
int exitSignalPipe[2] = {-1, -1};
volatile std::sig_atomic_t exitSignal = 0;

extern "C" void exitSignalArrived(int signal)
{
    int saved = errno;
    exitSignal = signal;
    auto byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] ssize_t ignored = ::write(exitSignalPipe[1], &byte, 1);
    errno = saved;
}

[[noreturn]] void endBySignal(int signal)
{
    std::signal(signal, SIG_DFL);
    ::raise(signal);
    ::_exit(128 + signal);
}

void watchExitSignals()
{
    if (::pipe2(exitSignalPipe, O_CLOEXEC) != 0)
        return;
    try {
        std::thread([] {
            pthread_setname_np(pthread_self(), "tarvio.signals");
            unsigned char byte = 0;
            while (::read(exitSignalPipe[0], &byte, 1) != 1)
                if (errno != EINTR)
                    return;
            runModuleExitHooks();
            endBySignal(byte);
        }).detach();
    } catch (const std::system_error&) {
        // No thread: the signals keep their default action.
        return;
    }
    struct sigaction action {};
    action.sa_handler = exitSignalArrived;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGHUP, SIGINT})
        ::sigaction(signal, &action, nullptr);
}

}

int main()
{
    // A host that closes its end must not kill a recording in progress.
    std::signal(SIGPIPE, SIG_IGN);
    watchExitSignals();

    // isoPlain and isoFrac are constant-initialised before main runs; the
    // calendar store comes next and reads nothing until asked.
    ChosenCalendarStore calendarStore(chooseCalendarStore);

    std::FILE* responses = takeResponseStream();
    std::setvbuf(responses, nullptr, _IOLBF, 0);

    Dispatcher dispatcher;
    RandrScreens screens;
    X11Clipboard clipboard;
    SysfsThermalSensors sensors("/sys");
    addDesktopMethods(dispatcher, screens, clipboard, sensors);
    addCalendarMethods(dispatcher, calendarStore);
    // Speech and recording load their libraries (the recognizer, the audio
    // client) on their first request, which keeps start-up fast and small.
    addModule(dispatcher, speechModule);
    addModule(dispatcher, recordingModule);

    RequestChannel(dispatcher).run(STDIN_FILENO, responses);
    std::fflush(responses);
    // Exit at once, with nothing torn down; a recording in progress only gets
    // its file brought up to date and closed.
    runModuleExitHooks();
    clipboard.handOver(); // to a running clipboard manager, so the copy outlives us
    // Input that ended while a signal was handled ends the same way.
    if (exitSignal)
        endBySignal(exitSignal);
    ::_exit(0);
}
