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

#include <csignal>
#include <cstdio>
#include <fcntl.h>
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

}

int main()
{
    // A host that closes its end must not kill a recording in progress.
    std::signal(SIGPIPE, SIG_IGN);

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
    dispatcher.addDeferred({"speech.status", "speech.transcribe"}, [](Dispatcher& target) { loadModule("speech", target); });
    dispatcher.addDeferred({"recording.permission", "recording.start", "recording.pause", "recording.resume",
                               "recording.stop", "recording.status", "recording.selftest"},
        [](Dispatcher& target) { loadModule("recording", target); });

    RequestChannel(dispatcher).run(STDIN_FILENO, responses);
    std::fflush(responses);
    // Exit at once: a recording in progress is neither stopped nor finished.
    ::_exit(0);
}
