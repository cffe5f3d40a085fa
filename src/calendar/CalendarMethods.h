#pragma once

#include "channel/Dispatcher.h"

namespace tarvio {

void addCalendarMethods(Dispatcher& dispatcher);

}
