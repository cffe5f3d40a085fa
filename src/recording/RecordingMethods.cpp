#include "recording/RecordingMethods.h"

namespace tarvio {

void addRecordingMethods(Dispatcher&)
{
}

}
