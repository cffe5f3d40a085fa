// Speed of the strict Base64 decoding of an audio payload (goal: above
// 1 GB/s of Base64 text).

#include "channel/Json.h"
#include "speech/AudioPayload.h"
#include "speech/Base64.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <random>

namespace {

std::string payloadText(size_t bytes)
{
    std::mt19937 random(1);
    std::string raw(bytes, '\0');
    for (auto& byte : raw)
        byte = static_cast<char>(random());
    std::string text(4 * ((bytes + 2) / 3) + 1, '\0');
    text.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
        reinterpret_cast<const unsigned char*>(raw.data()), static_cast<int>(bytes))));
    return text;
}

void strictBase64(benchmark::State& state)
{
    std::string text = payloadText(static_cast<size_t>(state.range(0)));
    std::vector<std::byte> out(*tarvio::base64DecodedSize(text));
    for (auto _ : state) {
        bool decoded = tarvio::decodeBase64Into(text, out.data());
        benchmark::DoNotOptimize(decoded);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

// The whole payload step of a request: member lookup, decoding into samples
// and the sample rate.
void audioPayload(benchmark::State& state)
{
    tarvio::Json params = {{"audioBase64", payloadText(static_cast<size_t>(state.range(0)))}, {"sampleRate", 48000}};
    size_t textSize = params["audioBase64"].get_ref<const std::string&>().size();
    for (auto _ : state) {
        auto payload = tarvio::decodeAudioPayload(params);
        benchmark::DoNotOptimize(payload.samples.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * textSize));
}

}

// 64 KiB (about a second of 16 kHz audio) and 24 MiB (tens of megabytes of text).
BENCHMARK(strictBase64)->Arg(1 << 16)->Arg(24 << 20)->Unit(benchmark::kMicrosecond);
BENCHMARK(audioPayload)->Arg(1 << 16)->Arg(24 << 20)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
