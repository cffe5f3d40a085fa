#include "desktop/DesktopMethods.h"

namespace tarvio {

void addDesktopMethods(Dispatcher&)
{
}

}
