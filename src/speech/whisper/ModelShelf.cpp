#include "speech/whisper/ModelShelf.h"

#include "speech/whisper/Vocabulary.h"
#include "speech/whisper/WhisperModel.h"

#include <algorithm>
#include <cstdlib>
#include <tuple>

namespace tarvio::whisper {

namespace {

constexpr int fastestLayers = 6;

}

std::vector<std::filesystem::path> standardModelFolders()
{
    std::filesystem::path data;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        data = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        data = std::filesystem::path(home) / ".local" / "share";
    std::vector<std::filesystem::path> folders;
    if (!data.empty())
        folders.push_back(data / "tarvio-helper" / "whisper");
    folders.push_back("/usr/share/tarvio-helper/whisper");
    return folders;
}

InstalledModel probeModel(const std::filesystem::path& path, size_t folder)
{
    GgmlFile file = GgmlFile::open(path);
    WhisperModel::checkTensors(file);
    Vocabulary vocabulary(file.tokens, file.hyper.vocabularySize);
    if (!vocabulary.find(" "))
        throw ModelFileError("vocabulário sem o espaço");
    InstalledModel model;
    model.path = path;
    model.bytes = file.fileBytes;
    model.audioLayers = file.hyper.audioLayers;
    model.multilingual = vocabulary.multilingual();
    model.languages = vocabulary.languages();
    model.folder = folder;
    return model;
}

std::vector<InstalledModel> findInstalledModels(const std::vector<std::filesystem::path>& folders)
{
    std::vector<InstalledModel> models;
    for (size_t index = 0; index < folders.size(); ++index) {
        std::error_code error;
        std::filesystem::directory_iterator entries(folders[index], error);
        if (error)
            continue;
        std::vector<std::filesystem::path> files;
        for (const auto& entry : entries) {
            if (entry.path().extension() == ".bin" && entry.is_regular_file(error))
                files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        for (const auto& path : files) {
            try {
                models.push_back(probeModel(path, index));
            } catch (const ModelFileError&) {
                // An unusable file is as good as none.
            }
        }
    }
    return models;
}

std::optional<InstalledModel> pickModel(const std::vector<InstalledModel>& models, const std::string& language)
{
    auto rank = [&](const InstalledModel& model) {
        bool fast = model.audioLayers <= fastestLayers;
        // Fast ones by size upwards, the rest by size downwards.
        int size = fast ? model.audioLayers : -model.audioLayers;
        bool englishOnly = language == "en" && !model.multilingual;
        return std::make_tuple(fast, size, englishOnly, model.bytes, -static_cast<long long>(model.folder));
    };
    const InstalledModel* best = nullptr;
    for (const auto& model : models) {
        if (std::find(model.languages.begin(), model.languages.end(), language) == model.languages.end())
            continue;
        if (!best || rank(model) > rank(*best))
            best = &model;
    }
    if (!best)
        return std::nullopt;
    return *best;
}

}
