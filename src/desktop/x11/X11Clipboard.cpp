#include "desktop/x11/X11Clipboard.h"

#include "desktop/ClipboardFile.h"
#include "desktop/x11/ClipboardWrite.h"
#include "desktop/x11/SelectionOwner.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace tarvio {

X11Clipboard::X11Clipboard(std::string display, std::chrono::milliseconds answerTimeout)
    : display(std::move(display)), answerTimeout(answerTimeout), wakeDescriptor(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK))
{
}

X11Clipboard::~X11Clipboard()
{
    if (owner.joinable()) {
        {
            std::lock_guard guard(lock);
            stopping = true;
        }
        wake();
        owner.join();
    }
    if (wakeDescriptor >= 0)
        ::close(wakeDescriptor);
}

bool X11Clipboard::writeFile(const ClipboardFile& file)
{
    if (wakeDescriptor < 0)
        return false;
    auto write = std::make_shared<ClipboardWrite>(
        SelectionContent{uriListText(file), gnomeCopiedFilesText(file), file.path});
    {
        std::lock_guard guard(lock);
        incoming = write;
    }
    if (!owner.joinable())
        owner = std::thread([this] { run(); });
    wake();
    return write->await(answerTimeout);
}

bool X11Clipboard::handOver()
{
    // Nothing was ever written: nothing to hand over, and no server to ask.
    if (!owner.joinable())
        return false;
    auto answer = std::make_shared<OwnerAnswer>();
    {
        std::lock_guard guard(lock);
        incomingHandOver = answer;
    }
    wake();
    return answer->await(answerTimeout);
}

void X11Clipboard::wake()
{
    uint64_t one = 1;
    while (::write(wakeDescriptor, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void X11Clipboard::run()
{
    // Writing to a server that went away raises SIGPIPE in this thread; with
    // it blocked here the write just fails and the connection reads as broken.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

    std::unique_ptr<SelectionOwner> selection;
    for (;;) {
        // Drain the wake-up first, so a write handed over after this point
        // wakes the poll below.
        uint64_t count;
        while (::read(wakeDescriptor, &count, sizeof count) > 0) {
        }
        std::shared_ptr<ClipboardWrite> write;
        std::shared_ptr<OwnerAnswer> handOver;
        {
            std::lock_guard guard(lock);
            if (stopping)
                return;
            write = std::move(incoming);
            incoming.reset();
            handOver = std::move(incomingHandOver);
            incomingHandOver.reset();
        }
        if (write && (!selection || selection->broken()))
            selection = SelectionOwner::connect(display);
        if (write && !selection)
            write->deliver(false);
        if (write && selection)
            selection->begin(std::move(write));
        if (handOver && (!selection || selection->broken()))
            handOver->deliver(false);
        else if (handOver)
            selection->handOver(std::move(handOver));
        if (selection)
            selection->processEvents();
        // A server that went away takes our selection with it; the next
        // write connects afresh.
        if (selection && selection->broken())
            selection.reset();

        pollfd descriptors[2] = {{wakeDescriptor, POLLIN, 0}, {-1, POLLIN, 0}};
        if (selection)
            descriptors[1].fd = selection->descriptor();
        ::poll(descriptors, selection ? 2 : 1, -1);
    }
}

}
