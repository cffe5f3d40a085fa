#include "recording/RecordingMethods.h"

#include "recording/RecordingSelfTest.h"

namespace tarvio {

void addRecordingMethods(Dispatcher& dispatcher)
{
    dispatcher.add("recording.selftest", recordingSelfTest);
}

}
