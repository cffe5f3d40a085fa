#include "speech/whisper/Transcriber.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <random>

namespace tarvio::whisper {

namespace {

constexpr float negativeInfinity = -std::numeric_limits<float>::infinity();
constexpr double lowestAverageLogProbability = -1.0;
constexpr double lowestEntropy = 2.4;
// Output shorter than this is never taken for a repetition.
constexpr size_t entropyWindow = 32;

// Entropy of the distribution of the last tokens: low when a few repeat.
double repetitionEntropy(const std::vector<int>& tokens)
{
    size_t first = tokens.size() > entropyWindow ? tokens.size() - entropyWindow : 0;
    std::map<int, int> counts;
    for (size_t i = first; i < tokens.size(); ++i)
        ++counts[tokens[i]];
    double total = static_cast<double>(tokens.size() - first);
    double entropy = 0.0;
    for (auto [token, count] : counts) {
        double share = count / total;
        entropy -= share * std::log(share);
    }
    return entropy;
}

bool acceptable(const WindowResult& result)
{
    if (!result.reachedEnd)
        return false;
    if (result.averageLogProbability < lowestAverageLogProbability)
        return false;
    return result.tokens.size() <= entropyWindow || repetitionEntropy(result.tokens) >= lowestEntropy;
}

}

std::vector<int> initialTokens(const Vocabulary& vocabulary, int textContext, const std::string& language,
    const std::vector<int>& previous)
{
    std::vector<int> tokens;
    size_t room = static_cast<size_t>(std::max(0, textContext / 2 - 1));
    size_t taken = std::min(room, previous.size());
    if (taken > 0) {
        tokens.push_back(vocabulary.previous);
        tokens.insert(tokens.end(), previous.end() - static_cast<std::ptrdiff_t>(taken), previous.end());
    }
    tokens.push_back(vocabulary.startOfTranscript);
    if (vocabulary.multilingual()) {
        tokens.push_back(vocabulary.languageToken(language).value_or(vocabulary.startOfTranscript + 1));
        tokens.push_back(vocabulary.transcribe);
    }
    tokens.push_back(vocabulary.noTimestamps);
    return tokens;
}

void suppressTokens(const Vocabulary& vocabulary, std::vector<float>& logits, bool firstStep)
{
    auto suppress = [&](int token) {
        if (token >= 0 && static_cast<size_t>(token) < logits.size())
            logits[static_cast<size_t>(token)] = negativeInfinity;
    };
    if (firstStep) {
        suppress(vocabulary.endOfText);
        if (auto blank = vocabulary.find(" "))
            suppress(*blank);
    }
    for (size_t token = static_cast<size_t>(std::max(vocabulary.noTimestamps, 0)); token < logits.size(); ++token)
        logits[token] = negativeInfinity;
    for (int token : {vocabulary.startOfTranscript, vocabulary.noSpeech, vocabulary.startOfLm, vocabulary.translate,
             vocabulary.transcribe, vocabulary.previous})
        suppress(token);
    if (vocabulary.multilingual()) {
        for (int i = 0; i < vocabulary.languageCount(); ++i)
            suppress(vocabulary.startOfTranscript + 1 + i);
    }
}

WindowResult decodeWindow(const WhisperModel& model, const CrossCache& cross, const std::vector<int>& start,
    float temperature, unsigned seed)
{
    const Vocabulary& vocabulary = model.vocabulary();
    const int context = model.hyper().textContext;
    const int limit = context / 2 - 4;
    std::mt19937 random(seed);
    WindowResult result;
    SelfCache cache = model.emptyCache();
    std::vector<int> feed = start;
    double logProbabilities = 0.0;

    for (int step = 0; step < limit && cache.length + static_cast<int>(feed.size()) <= context; ++step) {
        Matrix output = model.decode(feed, cache, cross, true);
        std::vector<float> logits(output.values.begin(), output.values.end());
        if (temperature > 0.0f) {
            for (auto& value : logits)
                value /= temperature;
        }
        suppressTokens(vocabulary, logits, step == 0);

        float maximum = *std::max_element(logits.begin(), logits.end());
        double sum = 0.0;
        for (float value : logits)
            sum += std::exp(static_cast<double>(value - maximum));
        int chosen = 0;
        if (temperature > 0.0f) {
            std::vector<double> weights(logits.size());
            for (size_t i = 0; i < logits.size(); ++i)
                weights[i] = std::exp(static_cast<double>(logits[i] - maximum));
            std::discrete_distribution<int> pick(weights.begin(), weights.end());
            chosen = pick(random);
        } else {
            chosen = static_cast<int>(std::max_element(logits.begin(), logits.end()) - logits.begin());
        }
        logProbabilities += static_cast<double>(logits[static_cast<size_t>(chosen)] - maximum) - std::log(sum);
        result.tokens.push_back(chosen);
        if (chosen == vocabulary.endOfText) {
            result.reachedEnd = true;
            break;
        }
        feed = {chosen};
    }
    result.averageLogProbability = logProbabilities / static_cast<double>(std::max<size_t>(1, result.tokens.size()));
    if (result.reachedEnd)
        result.tokens.pop_back();
    return result;
}

std::string transcribeSamples(const WhisperModel& model, const std::vector<float>& samples, const DecodingOptions& options)
{
    if (samples.empty())
        return {};
    const Vocabulary& vocabulary = model.vocabulary();
    LogMel mel = logMelSpectrogram(samples, model.melFilters(), model.hyper().melBands, options.threads);
    const int windowLength = 2 * model.hyper().audioContext;
    // After the first window, one is decoded only with at least 1 s of audio
    // left (a quarter window for models with shorter windows).
    const int shortestRest = std::min(100, windowLength / 4);

    std::vector<int> previous;
    if (!options.prompt.empty())
        previous = vocabulary.tokenize(" " + options.prompt);
    std::string text;
    for (int seek = 0; seek == 0 || seek + shortestRest < mel.audioFrames; seek += windowLength) {
        Matrix encoded = model.encode(mel, seek);
        CrossCache cross = model.crossAttention(encoded);
        std::vector<int> start = initialTokens(vocabulary, model.hyper().textContext, options.language, previous);

        WindowResult best = decodeWindow(model, cross, start, 0.0f, 0);
        if (options.temperatureFallback) {
            for (int attempt = 1; attempt <= 5 && !acceptable(best); ++attempt)
                best = decodeWindow(model, cross, start, 0.2f * static_cast<float>(attempt), static_cast<unsigned>(attempt));
        }
        for (int token : best.tokens) {
            text += vocabulary.text(token);
            previous.push_back(token);
        }
    }
    return text;
}

}
