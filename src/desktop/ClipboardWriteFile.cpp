#include "desktop/ClipboardWriteFile.h"

#include "channel/HelperError.h"
#include "channel/Params.h"
#include "desktop/ClipboardFile.h"

namespace tarvio {

Json clipboardWriteFile(const Json& params, Clipboard& clipboard)
{
    std::optional<std::string> path = stringParam(params, "path");
    if (!path || path->empty())
        throw invalidParams("path é obrigatório");
    if (!itemExists(*path))
        throw notFound("arquivo não encontrado: " + *path);
    return {{"ok", clipboard.writeFile(clipboardFile(*path))}};
}

}
