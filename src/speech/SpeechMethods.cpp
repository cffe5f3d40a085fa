#include "speech/SpeechMethods.h"

namespace tarvio {

void addSpeechMethods(Dispatcher&)
{
}

}
