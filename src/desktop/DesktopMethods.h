#pragma once

#include "channel/Dispatcher.h"
#include "desktop/Clipboard.h"
#include "desktop/Screens.h"
#include "desktop/ThermalSensors.h"

namespace tarvio {

// "screen.notch", "clipboard.writeFile" and "system.thermal". The services
// must outlive the dispatcher.
void addDesktopMethods(Dispatcher& dispatcher, Screens& screens, Clipboard& clipboard, ThermalSensors& sensors);

}
