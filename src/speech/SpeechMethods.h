#pragma once

#include "channel/Dispatcher.h"
#include "channel/Json.h"
#include "speech/SpeechAnalysis.h"
#include "speech/SpeechRecognition.h"

#include <string>
#include <vector>

namespace tarvio {

// The back ends a speech handler reaches.
struct SpeechServices {
    SpeechAnalysisService& analysis;
    SpeechRecognitionService& recognition;
};

// "vocabulary": empty unless a list of strings; blank entries dropped.
std::vector<std::string> readVocabulary(const Json& params);

Json speechTranscribe(SpeechServices services, const Json& params);
Json speechStatus(SpeechServices services, const Json& params);

void addSpeechMethods(Dispatcher& dispatcher, SpeechAnalysisService& analysis, SpeechRecognitionService& recognition);

}
