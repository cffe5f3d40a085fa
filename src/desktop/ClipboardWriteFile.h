#pragma once

#include "channel/Json.h"
#include "desktop/Clipboard.h"

namespace tarvio {

// "clipboard.writeFile": puts the file at "path" on the clipboard; {"ok"}.
Json clipboardWriteFile(const Json& params, Clipboard& clipboard);

}
