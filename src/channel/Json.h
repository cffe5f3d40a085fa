#pragma once

#include <nlohmann/json.hpp>

namespace tarvio {

using Json = nlohmann::json;

}
