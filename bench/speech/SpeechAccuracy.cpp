// Word accuracy of the pocketsphinx decoder on the test clips, without a
// vocabulary, with the clip's domain vocabulary and with an unrelated one,
// for vocabulary weights given on the command line (default: the built-in).

#include "TestClips.h"
#include "speech/pocketsphinx/Decoder.h"
#include "speech/pocketsphinx/ModelCatalog.h"

#include <cstdio>
#include <cstdlib>

using namespace tarvio;

int main(int argc, char** argv)
{
    std::vector<float> weights;
    for (int index = 1; index < argc; ++index)
        weights.push_back(std::strtof(argv[index], nullptr));
    if (weights.empty())
        weights.push_back(pocketsphinx::Decoder::defaultVocabularyWeight);
    auto model = pocketsphinx::ModelCatalog::standard().find("en-US");
    if (!model) {
        std::printf("no en-US model installed\n");
        return 1;
    }
    auto clips = bench::testClips();
    for (float weight : weights) {
        std::string error;
        auto decoder = pocketsphinx::Decoder::load(*model, error, weight);
        if (!decoder) {
            std::printf("%s\n", error.c_str());
            return 1;
        }
        size_t total = 0, plainErrors = 0, domainErrors = 0, unrelatedErrors = 0;
        std::printf("vocabulary weight %.2f\n", weight);
        for (const auto& clip : clips) {
            auto samples = bench::clipSamples(clip.path);
            std::string plain, domain, unrelated;
            decoder->decode(samples, {}, plain, error);
            decoder->decode(samples, clip.domainVocabulary, domain, error);
            decoder->decode(samples, bench::unrelatedVocabulary(), unrelated, error);
            total += bench::words(clip.transcript).size();
            plainErrors += bench::wordErrors(clip.transcript, plain);
            domainErrors += bench::wordErrors(clip.transcript, domain);
            unrelatedErrors += bench::wordErrors(clip.transcript, unrelated);
            std::printf("  %-50s | %s | %s | %s\n", clip.path.substr(bench::testData.size()).c_str(), plain.c_str(),
                domain.c_str(), unrelated.c_str());
        }
        auto accuracy = [&](size_t errors) { return 100.0 * (1.0 - double(errors) / double(total)); };
        std::printf("  word accuracy: no vocabulary %.1f%%, domain vocabulary %.1f%%, unrelated vocabulary %.1f%%\n",
            accuracy(plainErrors), accuracy(domainErrors), accuracy(unrelatedErrors));
    }
    return 0;
}
