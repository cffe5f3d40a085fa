#include "channel/HelperError.h"
#include "channel/JsonWriter.h"
#include "channel/Params.h"
#include "channel/RequestChannel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

using namespace tarvio;

namespace {

class RequestChannelTest : public ::testing::Test {
protected:
    RequestChannelTest()
    {
        dispatcher.add("echo", [](const Json& params) { return params; });
        dispatcher.add("fail", [](const Json&) -> Json { throw notFound("nada aqui"); });
        dispatcher.add("throw", [](const Json&) -> Json { throw std::runtime_error("disco cheio"); });
        dispatcher.add("throwInt", [](const Json&) -> Json { throw 42; });
        dispatcher.add("nan", [](const Json&) { return Json {{"level", std::nan("")}}; });
        dispatcher.add("number", [](const Json& params) {
            Json result = {{"number", nullptr}, {"integer", nullptr}};
            if (auto number = numberParam(params, "n"))
                result["number"] = *number;
            if (auto integer = integerParam(params, "n"))
                result["integer"] = *integer;
            return result;
        });
        dispatcher.add("path", [](const Json&) { return Json {{"path", "/tmp/ação.wav"}}; });
    }

    std::string answer(std::string_view line)
    {
        std::string out;
        RequestChannel(dispatcher).answerLine(line, out);
        return out;
    }

    Dispatcher dispatcher;
};

const char* const invalidLine = R"({"id":null,"error":{"code":"invalid_params","message":"linha não é uma requisição JSON válida"}})";
const char* const pong = R"({"pong":true,"version":"1.0.0"})";

}

TEST_F(RequestChannelTest, LinesAndTheirResponses)
{
    struct Case {
        std::string line;
        std::string response; // empty: nothing written
    } cases[] = {
        {"", ""},
        {" \t ", ""},
        {"\r", ""},
        {"\xC2\xA0", ""},
        {R"({"id":1,"method":"ping"})", std::string(R"({"id":1,"result":)") + pong + "}"},
        {R"({"id":1,"method":"ping"})" "\r", std::string(R"({"id":1,"result":)") + pong + "}"},
        {R"(  {"id":1,"method":"ping"}  )", std::string(R"({"id":1,"result":)") + pong + "}"},
        {R"({"method":"ping"})", std::string(R"({"id":null,"result":)") + pong + "}"},
        {R"({"id":7,"method":"ping","params":[1,2]})", std::string(R"({"id":7,"result":)") + pong + "}"},
        {R"({"id":{"a":[1,"x"]},"method":"ping"})", std::string(R"({"id":{"a":[1,"x"]},"result":)") + pong + "}"},
        {R"({"id":[true,null],"method":"ping"})", std::string(R"({"id":[true,null],"result":)") + pong + "}"},
        {R"({"id":2.5,"method":"ping"})", std::string(R"({"id":2.5,"result":)") + pong + "}"},
        {"[1,2]", invalidLine},
        {R"("ping")", invalidLine},
        {"42", invalidLine},
        {"not json", invalidLine},
        {R"({"id":7})", invalidLine},
        {R"({"id":7,"method":5})", invalidLine},
        {R"({"id":7,"method":"ping"} x)", invalidLine},
        {"\v", invalidLine},
        {R"({"id":3,"method":"Ping"})", R"({"id":3,"error":{"code":"invalid_params","message":"método desconhecido: Ping"}})"},
        {R"({"id":3,"method":" ping"})", R"({"id":3,"error":{"code":"invalid_params","message":"método desconhecido:  ping"}})"},
        {R"({"id":3,"method":""})", R"({"id":3,"error":{"code":"invalid_params","message":"método desconhecido: "}})"},
        {R"({"id":4,"method":"fail"})", R"({"id":4,"error":{"code":"not_found","message":"nada aqui"}})"},
        {R"({"id":5,"method":"throw"})", R"({"id":5,"error":{"code":"internal","message":"disco cheio"}})"},
        {R"({"id":5,"method":"throwInt"})", R"({"id":5,"error":{"code":"internal","message":"erro interno"}})"},
        {R"({"id":6,"method":"nan"})", ""},
        {R"({"id":8,"method":"path"})", R"({"id":8,"result":{"path":"/tmp/ação.wav"}})"},
        {R"({"id":9,"method":"echo","params":{"s":"a\u00e7\/b\n\u0001"}})", R"({"id":9,"result":{"s":"aç/b\n\u0001"}})"},
        {"{\"id\":9,\"method\":\"echo\",\"params\":{\"s\":\"a\xFF\"}}", "{\"id\":9,\"result\":{\"s\":\"a\xEF\xBF\xBD\"}}"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.line);
        std::string out = answer(row.line);
        if (row.response.empty()) {
            EXPECT_EQ(out, "");
            continue;
        }
        ASSERT_FALSE(out.empty());
        EXPECT_EQ(out.back(), '\n');
        EXPECT_EQ(Json::parse(out), Json::parse(row.response));
        EXPECT_EQ(out.find('\n'), out.size() - 1);
    }
}

// Compared as text: a JSON parser would round the numbers these rows are about.
TEST_F(RequestChannelTest, NumbersBeyondDoubleAndInt64AreNeitherRoundedNorFatal)
{
    const std::string pongTail = std::string(R"(,"result":)") + pong + "}\n";
    struct Case {
        std::string line;
        std::string response;
    } cases[] = {
        {R"({"id":123456789012345678901234567890,"method":"ping"})",
            R"({"id":123456789012345678901234567890)" + pongTail},
        {R"({"id":1e400,"method":"ping"})", R"({"id":1e400)" + pongTail},
        {R"({"id":[1.50,-1E+2,0.1,{"a":-1e-400}],"method":"ping"})", R"({"id":[1.50,-1E+2,0.1,{"a":-1e-400}])" + pongTail},
        {R"({"id":18446744073709551615,"method":"ping"})", R"({"id":18446744073709551615)" + pongTail},
        {R"({"id":1,"method":"number","params":{"n":18446744073709551616}})",
            R"({"id":1,"result":{"integer":null,"number":null}})" "\n"},
        {R"({"id":1,"method":"number","params":{"n":-1e400}})", R"({"id":1,"result":{"integer":null,"number":null}})" "\n"},
        // Huge numbers before and around the member read, and in strings.
        {R"({"id":1,"method":"number","params":{"a":[1e999,"\"1e999"],"n":7,"z":1e999}})",
            R"({"id":1,"result":{"integer":7,"number":7}})" "\n"},
        {R"({"id":1,"method":"echo","params":{"a":1e999,"b":99999999999999999999,"c":0.5}})",
            R"({"id":1,"result":{"a":1e999,"b":99999999999999999999,"c":0.5}})" "\n"},
        {R"([1e400])", std::string(invalidLine) + "\n"},
        {R"({"id":1e400,"method":"ping"} x)", std::string(invalidLine) + "\n"},
        {R"({"id":1e400,"method":"ping",})", std::string(invalidLine) + "\n"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.line);
        EXPECT_EQ(answer(row.line), row.response);
    }
}

TEST_F(RequestChannelTest, DeeplyNestedIdIsEchoed)
{
    const size_t depth = 200000;
    std::string id = std::string(depth, '[') + std::string(depth, ']');
    std::string out = answer(R"({"method":"ping","id":)" + id + "}");
    EXPECT_NE(out.find(id), std::string::npos);
}

TEST(JsonWriter, CompactAndRefusesNonFinite)
{
    std::string out;
    EXPECT_TRUE(writeCompactJson(Json::parse(R"({"a": [1, -2, 0.5, "x/y", null, true, {}], "b": {}})"), out));
    EXPECT_EQ(Json::parse(out), Json::parse(R"({"a":[1,-2,0.5,"x/y",null,true,{}],"b":{}})"));
    EXPECT_EQ(out.find(' '), std::string::npos);
    for (double bad : {std::nan(""), double(INFINITY), -double(INFINITY)}) {
        std::string rejected;
        EXPECT_FALSE(writeCompactJson(Json {{"deep", {1, {{"x", bad}}}}}, rejected));
    }
    std::string numbers;
    EXPECT_TRUE(writeCompactJson(Json {1e300, -0.0, 18446744073709551615ull, INT64_MIN, 0.1}, numbers));
    EXPECT_EQ(Json::parse(numbers), (Json {1e300, -0.0, 18446744073709551615ull, INT64_MIN, 0.1}));
}
