#include "speech/Base64.h"

#include <array>
#include <cstring>
#include <openssl/evp.h>

namespace tarvio {

namespace {

constexpr uint8_t invalid = 0xFF;

constexpr std::array<uint8_t, 256> makeAlphabet()
{
    std::array<uint8_t, 256> table{};
    table.fill(invalid);
    constexpr char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (uint8_t index = 0; index < 64; ++index)
        table[static_cast<unsigned char>(letters[index])] = index;
    return table;
}

constexpr std::array<uint8_t, 256> alphabet = makeAlphabet();

bool inAlphabet(char character) { return alphabet[static_cast<unsigned char>(character)] != invalid; }

size_t paddingOf(std::string_view text)
{
    if (text.ends_with("=="))
        return 2;
    if (text.ends_with('='))
        return 1;
    return 0;
}

// The last quantum, which may carry padding, is decoded here.
bool decodeLastQuantum(std::string_view quantum, std::byte* out, size_t outputBytes)
{
    uint32_t bits = 0;
    for (size_t index = 0; index < 4; ++index) {
        if (quantum[index] == '=') {
            bits <<= 6;
            continue;
        }
        uint8_t value = alphabet[static_cast<unsigned char>(quantum[index])];
        if (value == invalid)
            return false;
        bits = (bits << 6) | value;
    }
    for (size_t index = 0; index < outputBytes; ++index)
        out[index] = static_cast<std::byte>(bits >> (16 - 8 * index));
    return true;
}

}

std::optional<size_t> base64DecodedSize(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    if (text.empty())
        return 0;
    size_t padding = paddingOf(text);
    // "=" only at the very end: "xx==" or "xxx=".
    std::string_view body = text.substr(0, text.size() - padding);
    if (std::memchr(body.data(), '=', body.size()))
        return std::nullopt;
    return text.size() / 4 * 3 - padding;
}

bool decodeBase64Into(std::string_view text, std::byte* out)
{
    auto size = base64DecodedSize(text);
    if (!size)
        return false;
    if (text.empty())
        return true;
    // OpenSSL decodes the bulk fast. Its only leniencies are trimming
    // whitespace at either end and reading "=" as zero bits; the ends are
    // checked here and "=" inside was refused above.
    std::string_view bulk = text.substr(0, text.size() - 4);
    std::byte* target = out;
    // EVP_DecodeBlock counts in int: hand it at most 1 GiB at a time.
    constexpr size_t chunkSize = size_t(1) << 30;
    for (size_t start = 0; start < bulk.size(); start += chunkSize) {
        std::string_view chunk = bulk.substr(start, chunkSize);
        if (!inAlphabet(chunk.front()) || !inAlphabet(chunk.back()))
            return false;
        int decoded = EVP_DecodeBlock(reinterpret_cast<unsigned char*>(target),
            reinterpret_cast<const unsigned char*>(chunk.data()), static_cast<int>(chunk.size()));
        if (decoded != static_cast<int>(chunk.size() / 4 * 3))
            return false;
        target += decoded;
    }
    size_t bulkBytes = bulk.size() / 4 * 3;
    return decodeLastQuantum(text.substr(bulk.size()), out + bulkBytes, *size - bulkBytes);
}

}
