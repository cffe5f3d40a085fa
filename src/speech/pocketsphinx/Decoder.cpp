#include "speech/pocketsphinx/Decoder.h"

#include "channel/Utf8.h"
#include "speech/pocketsphinx/VocabularyModel.h"

#include <algorithm>
#include <cstdio>
#include <sys/stat.h>
#include <mutex>
#include <pocketsphinx.h>
#include <sphinxbase/err.h>
#include <sphinxbase/ngram_model.h>
#include <cerrno>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tarvio::pocketsphinx {

namespace {

constexpr const char* vocabularySearch = "vocabulary";

// pocketsphinx and sphinxbase log to stderr unless told otherwise.
void silenceLibraryLog()
{
    static std::once_flag once;
    std::call_once(once, [] { err_set_logfp(nullptr); });
}

// sphinxbase reads models by path only; a memory file serves the text.
ngram_model_t* readArpa(const std::string& arpa, cmd_ln_t* config, logmath_t* logMath)
{
    int descriptor = ::memfd_create("tarvio-vocabulary", MFD_CLOEXEC);
    if (descriptor < 0)
        return nullptr;
    size_t written = 0;
    while (written < arpa.size()) {
        ssize_t count = ::write(descriptor, arpa.data() + written, arpa.size() - written);
        if (count <= 0) {
            ::close(descriptor);
            return nullptr;
        }
        written += static_cast<size_t>(count);
    }
    std::string path = "/proc/self/fd/" + std::to_string(descriptor);
    ngram_model_t* model = ngram_model_read(config, path.c_str(), NGRAM_ARPA, logMath);
    ::close(descriptor);
    return model;
}

cmd_ln_t* modelConfig(const Model& model)
{
    return cmd_ln_init(nullptr, ps_args(), TRUE,
        "-hmm", model.acousticModel.c_str(),
        "-lm", model.languageModel.c_str(),
        "-dict", model.dictionary.c_str(),
        "-samprate", "16000",
        // Without the flat second pass: about a third faster, as accurate
        // on the test recordings.
        "-fwdflat", "no",
        "-logfn", "/dev/null",
        nullptr);
}

// Files from the system's packages are trusted as they are.
bool isPackaged(const Model& model)
{
    for (const auto& file : {model.acousticModel, model.languageModel, model.dictionary}) {
        std::error_code error;
        auto real = std::filesystem::canonical(file, error);
        if (error || !real.string().starts_with("/usr/share/"))
            return false;
    }
    return true;
}

// sphinxbase ends the whole process on some malformed model files, so a
// model the user installed is first loaded once in a child process.
bool loadsInChild(const Model& model)
{
    pid_t child = ::fork();
    if (child < 0)
        return true;
    if (child == 0) {
        cmd_ln_t* config = modelConfig(model);
        ::_exit(config && ps_init(config) ? 0 : 1);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Every file the model is read from, as one text that changes whenever any
// of them is replaced or rewritten.
std::string modelVersion(const Model& model)
{
    std::vector<std::filesystem::path> files = {model.languageModel, model.dictionary};
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(model.acousticModel, error))
        files.push_back(entry.path());
    std::sort(files.begin() + 2, files.end());
    std::string version;
    for (const auto& file : files) {
        struct stat status {};
        version += file.string();
        if (::stat(file.c_str(), &status) == 0) {
            version += '\0' + std::to_string(status.st_size) + '\0' + std::to_string(status.st_mtim.tv_sec) + '.'
                + std::to_string(status.st_mtim.tv_nsec) + '\0' + std::to_string(status.st_ino);
        }
        version += '\n';
    }
    return version;
}

}

ModelCheck::ModelCheck()
    : test([](const Model& model) { return isPackaged(model) || loadsInChild(model); })
{
}

bool ModelCheck::loads(const Model& model)
{
    std::string version = modelVersion(model);
    std::lock_guard guard(lock);
    auto found = verdicts.find(version);
    if (found != verdicts.end())
        return found->second;
    bool verdict = test(model);
    verdicts.emplace(std::move(version), verdict);
    return verdict;
}

ModelCheck& ModelCheck::shared()
{
    static ModelCheck check;
    return check;
}

std::unique_ptr<Decoder> Decoder::load(const Model& model, std::string& error, float vocabularyWeight)
{
    silenceLibraryLog();
    std::string failure = "falha ao carregar o modelo de fala em " + model.acousticModel.parent_path().string();
    if (!ModelCheck::shared().loads(model)) {
        error = failure;
        return nullptr;
    }
    cmd_ln_t* config = modelConfig(model);
    if (!config) {
        error = "configuração do modelo de fala recusada";
        return nullptr;
    }
    ps_decoder_t* decoder = ps_init(config);
    if (!decoder) {
        cmd_ln_free_r(config);
        error = failure;
        return nullptr;
    }
    return std::unique_ptr<Decoder>(new Decoder(config, decoder, vocabularyWeight));
}

Decoder::Decoder(cmd_ln_s* config, ps_decoder_s* decoder, float vocabularyWeight)
    : config(config), decoder(decoder), vocabularyWeight(vocabularyWeight)
{
    // ps_get_search leaks an iterator on every call, so the library's
    // default name is tried first.
    generalSearch = "_default";
    if (ps_get_lm(decoder, generalSearch.c_str()))
        return;
    if (const char* name = ps_get_search(decoder))
        generalSearch = name;
}

Decoder::~Decoder()
{
    ps_free(decoder);
    cmd_ln_free_r(config);
}

bool Decoder::knowsWord(const std::string& word)
{
    char* phones = ps_lookup_word(decoder, word.c_str());
    if (!phones)
        return false;
    ckd_free(phones);
    return true;
}

ngram_model_s* Decoder::generalModel()
{
    // A search keeps its model inside a set of one; the model itself is
    // taken so that the vocabulary's set does not nest sets.
    ngram_model_t* set = ps_get_lm(decoder, generalSearch.c_str());
    if (!set)
        return nullptr;
    ngram_model_set_iter_t* first = ngram_model_set_iter(set);
    if (!first)
        return set;
    const char* name = nullptr;
    ngram_model_t* model = ngram_model_set_iter_model(first, &name);
    ngram_model_set_iter_free(first);
    return model ? model : set;
}

bool Decoder::selectSearch(const std::vector<std::string>& vocabulary)
{
    if (vocabulary.empty())
        return false;
    if (vocabularySearchBuilt && builtVocabulary == vocabulary)
        return ps_set_search(decoder, vocabularySearch) == 0;

    if (vocabularySearchBuilt) {
        ps_set_search(decoder, generalSearch.c_str());
        ps_unset_search(decoder, vocabularySearch);
        vocabularySearchBuilt = false;
    }
    std::string arpa = vocabularyArpa(vocabulary, [this](const std::string& word) { return knowsWord(word); });
    if (arpa.empty())
        return false;
    ngram_model_t* general = generalModel();
    if (!general)
        return false;
    ngram_model_t* own = readArpa(arpa, config, ps_get_logmath(decoder));
    if (!own)
        return false;
    // Sets and searches take their own references to the models they hold,
    // so each reference made here is dropped once handed on.
    ngram_model_t* models[] = {general, own};
    char generalName[] = "general";
    char ownName[] = "vocabulary";
    char* names[] = {generalName, ownName};
    const float32 weights[] = {1 - vocabularyWeight, vocabularyWeight};
    ngram_model_t* set = ngram_model_set_init(config, models, names, weights, 2);
    ngram_model_free(own);
    if (!set)
        return false;
    int added = ps_set_lm(decoder, vocabularySearch, set);
    ngram_model_free(set);
    if (added != 0 || ps_set_search(decoder, vocabularySearch) != 0) {
        ps_set_search(decoder, generalSearch.c_str());
        return false;
    }
    builtVocabulary = vocabulary;
    vocabularySearchBuilt = true;
    return true;
}

bool Decoder::decode(const std::vector<int16_t>& samples, const std::vector<std::string>& vocabulary, std::string& text,
    std::string& error)
{
    if (!selectSearch(vocabulary))
        ps_set_search(decoder, generalSearch.c_str());
    if (ps_start_utt(decoder) < 0) {
        error = "falha ao iniciar o reconhecimento de fala";
        return false;
    }
    // One call with the whole utterance: its cepstral mean comes from all of it.
    if (ps_process_raw(decoder, samples.data(), samples.size(), FALSE, TRUE) < 0) {
        ps_end_utt(decoder);
        error = "falha ao processar o áudio";
        return false;
    }
    if (ps_end_utt(decoder) < 0) {
        error = "falha ao concluir o reconhecimento de fala";
        return false;
    }
    const char* hypothesis = ps_get_hyp(decoder, nullptr);
    // Words come from the model's dictionary file, in whatever encoding it has.
    text = makeValidUtf8(hypothesis ? hypothesis : "");
    return true;
}

}
