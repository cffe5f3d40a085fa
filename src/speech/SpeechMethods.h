#pragma once

#include "channel/Dispatcher.h"

namespace tarvio {

void addSpeechMethods(Dispatcher& dispatcher);

}
