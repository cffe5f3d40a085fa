#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace tarvio::pocketsphinx {

// The files of one installed model.
struct Model {
    std::filesystem::path acousticModel;
    std::filesystem::path languageModel;
    std::filesystem::path dictionary;

    bool operator==(const Model&) const = default;
};

// Where models are looked for, first match wins: the user's data folder,
// then the system's.
class ModelCatalog {
public:
    explicit ModelCatalog(std::vector<std::filesystem::path> roots) : roots(std::move(roots)) {}
    // $XDG_DATA_HOME (default ~/.local/share)/tarvio-helper/pocketsphinx/model,
    // then /usr/share/pocketsphinx/model.
    static ModelCatalog standard();

    // Model folder names to try for a locale, most specific first; empty
    // when its language has no known model family.
    static std::vector<std::string> modelNames(const std::string& localeId);

    // The installed model for the locale, if any: the first one `usable`
    // accepts (any, when it is empty).
    std::optional<Model> find(const std::string& localeId,
        const std::function<bool(const Model&)>& usable = {}) const;

    // A model laid out as `folder`/<name>/ (acoustic model), a language
    // model (*.lm.bin, *.lm, *.lm.DMP) and a dictionary (*.dict, *.dic).
    static std::optional<Model> modelIn(const std::filesystem::path& folder);

private:
    std::vector<std::filesystem::path> roots;
};

}
