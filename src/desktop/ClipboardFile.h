#pragma once

#include "desktop/Clipboard.h"

#include <optional>
#include <string>
#include <string_view>

namespace tarvio {

// Whether a file or folder exists at `path` (symbolic links followed).
bool itemExists(const std::string& path);

// `path` made absolute, symbolic links kept as they are, as a clipboard file.
ClipboardFile clipboardFile(const std::string& path);

// Every byte outside A-Z a-z 0-9 - . _ ~ / as %XX.
std::string percentEncodePath(std::string_view path);

// The selection texts other applications paste.
std::string uriListText(const ClipboardFile& file);
std::string gnomeCopiedFilesText(const ClipboardFile& file);

}
