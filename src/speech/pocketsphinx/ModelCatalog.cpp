#include "speech/pocketsphinx/ModelCatalog.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <map>

namespace tarvio::pocketsphinx {

namespace fs = std::filesystem;

namespace {

// Languages with a known model family, and the folder name of the model a
// region without a model of its own falls back to.
const std::map<std::string, std::string>& familyDefaults()
{
    static const std::map<std::string, std::string> defaults = {
        {"ca", "ca-es"}, {"de", "de-de"}, {"el", "el-gr"}, {"en", "en-us"}, {"es", "es-es"},
        {"fa", "fa-ir"}, {"fr", "fr-fr"}, {"hi", "hi-in"}, {"it", "it-it"}, {"kk", "kk-kz"},
        {"nl", "nl-nl"}, {"pt", "pt-br"}, {"ru", "ru-ru"}, {"zh", "zh-cn"},
    };
    return defaults;
}

std::string lowercase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
        [](unsigned char character) { return static_cast<char>(std::tolower(character)); });
    return text;
}

bool isAlphabetic(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](unsigned char character) { return std::isalpha(character); });
}

bool endsWith(const std::string& text, const std::string& suffix) { return text.ends_with(suffix); }

bool isFile(const fs::path& path)
{
    std::error_code error;
    return fs::is_regular_file(path, error);
}

// Candidate files in `folder`, preferred first, then any other match.
std::optional<fs::path> pick(const fs::path& folder, const std::vector<std::string>& preferred,
    const std::vector<std::string>& suffixes, const std::vector<std::string>& avoid)
{
    for (const auto& name : preferred) {
        if (isFile(folder / name))
            return folder / name;
    }
    std::vector<fs::path> matches;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        std::string name = entry.path().filename().string();
        bool wanted = std::any_of(suffixes.begin(), suffixes.end(), [&](const auto& suffix) { return endsWith(name, suffix); });
        bool avoided = std::any_of(avoid.begin(), avoid.end(), [&](const auto& part) { return name.find(part) != std::string::npos; });
        if (wanted && !avoided && isFile(entry.path()))
            matches.push_back(entry.path());
    }
    if (matches.empty())
        return std::nullopt;
    std::sort(matches.begin(), matches.end());
    return matches.front();
}

std::optional<fs::path> acousticModelIn(const fs::path& folder)
{
    if (isFile(folder / folder.filename() / "mdef"))
        return folder / folder.filename();
    std::vector<fs::path> matches;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        if (isFile(entry.path() / "mdef"))
            matches.push_back(entry.path());
    }
    if (matches.empty())
        return std::nullopt;
    std::sort(matches.begin(), matches.end());
    return matches.front();
}

}

ModelCatalog ModelCatalog::standard()
{
    std::vector<fs::path> roots;
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    if (dataHome && *dataHome)
        roots.push_back(fs::path(dataHome) / "tarvio-helper" / "pocketsphinx" / "model");
    else if (home && *home)
        roots.push_back(fs::path(home) / ".local" / "share" / "tarvio-helper" / "pocketsphinx" / "model");
    roots.push_back("/usr/share/pocketsphinx/model");
    return ModelCatalog(std::move(roots));
}

std::vector<std::string> ModelCatalog::modelNames(const std::string& localeId)
{
    // "pt-BR", "pt_BR", "pt_BR.UTF-8": language, then an optional region.
    std::string identifier = lowercase(localeId.substr(0, localeId.find_first_of(".@")));
    std::replace(identifier.begin(), identifier.end(), '_', '-');
    std::string language = identifier.substr(0, identifier.find('-'));
    if (language.size() < 2 || language.size() > 3 || !isAlphabetic(language))
        return {};
    auto family = familyDefaults().find(language);
    if (family == familyDefaults().end())
        return {};
    std::vector<std::string> names;
    // The region is the first two-letter subtag after the language (a
    // four-letter script such as "hans" is skipped).
    for (size_t start = language.size() + 1; start < identifier.size() + 1;) {
        size_t end = std::min(identifier.find('-', start), identifier.size());
        std::string subtag = identifier.substr(start, end - start);
        if (subtag.size() == 2 && isAlphabetic(subtag)) {
            names.push_back(language + "-" + subtag);
            break;
        }
        start = end + 1;
    }
    if (names.empty() || names.front() != family->second)
        names.push_back(family->second);
    // A model named after the bare language ("es", "fr") serves too.
    names.push_back(language);
    return names;
}

std::optional<Model> ModelCatalog::modelIn(const fs::path& folder)
{
    std::error_code error;
    if (!fs::is_directory(folder, error))
        return std::nullopt;
    std::string name = folder.filename().string();
    auto acoustic = acousticModelIn(folder);
    auto language = pick(folder, {name + ".lm.bin", name + ".lm", name + ".lm.DMP"}, {".lm.bin", ".lm", ".lm.DMP"},
        {"-phone"});
    auto dictionary = pick(folder, {"cmudict-" + name + ".dict", name + ".dict", name + ".dic"}, {".dict", ".dic"}, {});
    if (!acoustic || !language || !dictionary)
        return std::nullopt;
    return Model{*acoustic, *language, *dictionary};
}

std::optional<Model> ModelCatalog::find(const std::string& localeId,
    const std::function<bool(const Model&)>& usable) const
{
    for (const auto& name : modelNames(localeId)) {
        for (const auto& root : roots) {
            // A folder that vanishes or cannot be listed mid-walk counts as no model.
            try {
                auto model = modelIn(root / name);
                if (model && (!usable || usable(*model)))
                    return model;
            } catch (const std::exception&) {
            }
        }
    }
    return std::nullopt;
}

}
