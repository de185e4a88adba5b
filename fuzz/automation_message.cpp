// The transport's message decoder: the input is one frame body, read both as a request and as
// a reply. What decodes must encode and decode again to the same bytes.
#include <span>

#include "automation/RemoteWire.h"
#include "fuzz/Check.h"

using namespace velq3;

namespace {
template <class Message, class Decode, class Encode>
void RoundTrip(std::span<const std::uint8_t> body, Decode decode, Encode encode) {
    Message message;
    if (decode(body, message) != S_OK) return;
    const std::vector<std::uint8_t> frame = encode(message);
    FUZZ_CHECK(frame.size() >= rpc::kFrameHeaderBytes);
    const auto length = rpc::BodyLength(std::span<const std::uint8_t, rpc::kFrameHeaderBytes>(frame.data(), rpc::kFrameHeaderBytes));
    FUZZ_CHECK(length && *length == frame.size() - rpc::kFrameHeaderBytes);
    Message again;
    FUZZ_CHECK(decode(std::span(frame).subspan(rpc::kFrameHeaderBytes), again) == S_OK);
    FUZZ_CHECK(encode(again) == frame);
}
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> body(data, size);
    if (size >= rpc::kFrameHeaderBytes)
        (void)rpc::BodyLength(std::span<const std::uint8_t, rpc::kFrameHeaderBytes>(data, rpc::kFrameHeaderBytes));
    RoundTrip<rpc::Request>(body, rpc::DecodeRequest, rpc::EncodeRequest);
    RoundTrip<rpc::Reply>(body, rpc::DecodeReply, rpc::EncodeReply);
    return 0;
}
