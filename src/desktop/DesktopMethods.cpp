#include "desktop/DesktopMethods.h"

#include "desktop/ClipboardWriteFile.h"
#include "desktop/ScreenNotch.h"
#include "desktop/Thermal.h"

namespace tarvio {

void addDesktopMethods(Dispatcher& dispatcher, Screens& screens, Clipboard& clipboard, ThermalSensors& sensors)
{
    dispatcher.add("screen.notch", [&screens](const Json&) { return screenNotch(screens); });
    dispatcher.add("clipboard.writeFile", [&clipboard](const Json& params) { return clipboardWriteFile(params, clipboard); });
    dispatcher.add("system.thermal", [&sensors](const Json& params) { return systemThermal(params, sensors); });
}

}
