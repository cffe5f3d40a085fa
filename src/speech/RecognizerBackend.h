#pragma once

#include "speech/SpeechRecognition.h"

#include <string>
#include <vector>

namespace tarvio {

// "notDetermined", "denied", "restricted", "authorized", else "unknown".
std::string speechAuthorizationName(SpeechAuthorizationStatus status);

// The current status, asking the user first when not asked yet.
SpeechAuthorizationStatus requestSpeechAuthIfNeeded(SpeechRecognitionService& service);

// The trimmed transcription of `buffer`, on the device only; throws
// HelperError for a refused permission, an unserved locale, no on-device
// recognition, or a recognition error with no text.
std::string transcribeWithSFSpeechRecognizer(SpeechRecognitionService& service, const audio::PcmBuffer& buffer,
    const std::string& localeId, const std::vector<std::string>& vocabulary);

// Without leading and trailing whitespace and line breaks.
std::string trimmedText(const std::string& text);

}
