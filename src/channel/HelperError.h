#pragma once

#include <string>
#include <utility>

namespace tarvio {

// The one error a handler raises; the request loop copies both fields into the
// response unchanged. Anything else that escapes a handler becomes "internal".
struct HelperError {
    std::string code;
    std::string message;

    HelperError(std::string code, std::string message)
        : code(std::move(code)), message(std::move(message)) {}
};

inline HelperError invalidParams(std::string message) { return {"invalid_params", std::move(message)}; }
inline HelperError notFound(std::string message) { return {"not_found", std::move(message)}; }
inline HelperError permissionDenied(std::string message) { return {"permission_denied", std::move(message)}; }
inline HelperError unavailable(std::string message) { return {"unavailable", std::move(message)}; }
inline HelperError internalError(std::string message) { return {"internal", std::move(message)}; }

}
