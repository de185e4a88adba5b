// Alpaca request handling without HTTP: the server's dispatch (path, query and form parsing,
// client IDs, routing, the member ladder) down to the test device's handlers. Input: one flag
// byte (bit 0: PUT, bit 1: the device is connected), then the request target, a line feed and
// the form body.
#include <string>

#include "alpaca/AlpacaServer.h"
#include "alpaca/FakeDevice.h"
#include "fuzz/Check.h"

using namespace velq3::alpaca;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static FakeConnection connection;
    static TestDevice device(connection);
    static AlpacaServer* server = [] {
        auto* s = new AlpacaServer(ServerDescription{"velq3", "velq3", "1.0", "fuzz bench"});
        s->AddDevice(device, "11111111-2222-4333-8444-555555555555");
        return s;
    }();
    if (size < 1) return 0;
    const std::uint8_t flags = data[0];
    const std::string rest(reinterpret_cast<const char*>(data + 1), size - 1);
    const std::size_t cut = rest.find('\n');
    const std::string target = rest.substr(0, cut);
    const std::string body = cut == std::string::npos ? std::string() : rest.substr(cut + 1);
    connection.connected = (flags & 2) != 0;
    device.sent.clear();

    const HttpReply reply = server->Dispatch((flags & 1) ? "PUT" : "GET", target, body);
    FUZZ_CHECK(reply.status == 200 || reply.status == 400);
    FUZZ_CHECK(IsValidUtf8(reply.body));
    if (reply.contentType == kJsonType) {
        FUZZ_CHECK(reply.status == 200);
        FUZZ_CHECK(Json::accept(reply.body));
    }
    for (int position : device.sent) FUZZ_CHECK(position >= 0 && position <= 2);
    return 0;
}
