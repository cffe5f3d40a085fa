// The speech methods as a module of their own, loaded on the first speech
// request, so that the recognizer's libraries cost nothing until then.

#include "speech/SpeechMethods.h"
#include "speech/pocketsphinx/PocketsphinxRecognition.h"
#include "speech/whisper/WhisperAnalysis.h"

extern "C" __attribute__((visibility("default"))) void tarvioAddMethods(tarvio::Dispatcher& dispatcher)
{
    using namespace tarvio;
    static whisper::WhisperAnalysis analysis;
    static pocketsphinx::PocketsphinxRecognition recognition(pocketsphinx::ModelCatalog::standard());
    addSpeechMethods(dispatcher, analysis, recognition);
}
