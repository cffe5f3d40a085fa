#pragma once

#include "speech/whisper/GgmlFile.h"

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace tarvio::whisper {

// One usable model file found on disk.
struct InstalledModel {
    std::filesystem::path path;
    uint64_t bytes = 0;
    int audioLayers = 0;
    bool multilingual = false;
    std::vector<std::string> languages;
    // Position of its folder in the search order.
    size_t folder = 0;
};

// The folders searched, in order: $XDG_DATA_HOME/tarvio-helper/whisper
// (or ~/.local/share/...), then /usr/share/tarvio-helper/whisper.
std::vector<std::filesystem::path> standardModelFolders();

// Every "*.bin" file of `folders` whose header, vocabulary and table of
// tensors are complete and consistent; others are left out.
std::vector<InstalledModel> findInstalledModels(const std::vector<std::filesystem::path>& folders);

// The model that serves `language`: of those that know it, the largest
// that stays fast on a small machine (at most 6 encoder layers: tiny and
// base), else the smallest of the larger ones; between equals an
// English-only model for English, then the larger file (less quantized),
// then the earlier folder, then the name.
std::optional<InstalledModel> pickModel(const std::vector<InstalledModel>& models, const std::string& language);

// Probes one file; throws ModelFileError.
InstalledModel probeModel(const std::filesystem::path& path, size_t folder);

}
