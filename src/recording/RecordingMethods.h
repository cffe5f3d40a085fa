#pragma once

#include "channel/Dispatcher.h"

namespace tarvio {

// The recording methods.
void addRecordingMethods(Dispatcher& dispatcher);

}
