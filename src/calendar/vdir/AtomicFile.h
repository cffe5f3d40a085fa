#pragma once

#include <string>
#include <string_view>

namespace tarvio::vdir {

// Replaces folder/name with `contents` so that readers see the old file or the
// new one, never a part: a dot-file ending in .tmp in the same folder, fsync,
// rename, fsync of the folder. Throws StoreError with the reason; nothing is
// left behind on failure.
void writeFileAtomically(const std::string& folder, const std::string& name, std::string_view contents);

// The file's bytes, or none when it cannot be read or exceeds `limit`.
bool readWholeFile(const std::string& path, std::string& contents, size_t limit);

}
