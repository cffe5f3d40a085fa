#pragma once

#include "channel/Dispatcher.h"

namespace tarvio {

void addDesktopMethods(Dispatcher& dispatcher);

}
