// The Alpaca wire rules in one place: request parameters (caseless GET query keys, exact PUT
// form keys), strict value parsing in the C locale, transaction IDs, the error vocabulary and the
// JSON envelope of every reply.
#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

namespace velq3::alpaca {

using Json = nlohmann::json;

// Alpaca error numbers (ErrorNumber in the reply).
enum class ErrorCode : int {
    Ok = 0,
    NotImplemented = 0x400,
    InvalidValue = 0x401,
    ValueNotSet = 0x402,
    NotConnected = 0x407,
    InvalidWhileParked = 0x408,
    InvalidWhileSlaved = 0x409,
    InvalidOperation = 0x40B,
    ActionNotImplemented = 0x40C,
    // Our own codes (0x500..0xFFF).
    DeviceFailure = 0x500,   // the controller did not carry out the command
    NoValue = 0x501,         // the value cannot be read now (e.g. no sensor reading)
};

enum class Verb { Get, Put };

// Decodes %XX escapes (and '+' as a space when `plusIsSpace`). False for a broken escape.
bool PercentDecode(std::string_view in, bool plusIsSpace, std::string& out);

// True when `text` is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsValidUtf8(std::string_view text);

// Strict parsers: the whole text must be the value, nothing around it.
std::optional<bool> ParseBool(std::string_view text);          // true/false in any casing
std::optional<std::int32_t> ParseInt32(std::string_view text); // optional sign, digits
std::optional<std::uint32_t> ParseUInt32(std::string_view text);
std::optional<double> ParseDouble(std::string_view text);      // '.' decimal point, finite only

// The parameters of one request. GET query keys compare caselessly, PUT form keys exactly.
class Params {
public:
    // Parses "a=1&b=2". Nothing when an escape is broken or a key or value is not UTF-8.
    static std::optional<Params> Parse(std::string_view text, Verb verb);

    // The value of `key`, under the verb's key rule; the first one when given twice.
    std::optional<std::string> Find(std::string_view key) const;
    Verb GetVerb() const { return verb_; }

private:
    Verb verb_ = Verb::Get;
    std::vector<std::pair<std::string, std::string>> items_;
};

// ClientID and ClientTransactionID of a request. Missing (or, for PUT, wrongly cased) IDs read
// as 0; a present value that is not a uint32 makes the request bad.
struct ClientIds {
    std::uint32_t clientId = 0;
    std::uint32_t clientTransactionId = 0;
};
// Nothing when an ID is present but not a valid uint32; `error` then says which.
std::optional<ClientIds> ReadClientIds(const Params& params, std::string& error);

// The server's transaction counter: starts at 1, skips 0 when it wraps. Thread-safe.
class TransactionCounter {
public:
    std::uint32_t Next();

private:
    std::atomic<std::uint32_t> last_{0};
};

// What a member handler answers: a value (or none, for PUT methods), an Alpaca error, or a bad
// request that becomes HTTP 400.
struct Outcome {
    Json value;  // null: no Value key (PUT methods), unless an error placeholder is added
    ErrorCode error = ErrorCode::Ok;
    std::string message;
    std::optional<std::string> badRequest;

    static Outcome Of(Json v) { return Outcome{std::move(v), ErrorCode::Ok, {}, std::nullopt}; }
    static Outcome Done() { return Outcome{}; }
    static Outcome Error(ErrorCode code, std::string text) { return Outcome{Json(), code, std::move(text), std::nullopt}; }
    static Outcome BadRequest(std::string text) { return Outcome{Json(), ErrorCode::Ok, {}, std::move(text)}; }
    bool Failed() const { return error != ErrorCode::Ok || badRequest.has_value(); }
};

// A double for a reply, or the NoValue error when it is not finite (JSON has no NaN or Inf).
Outcome DoubleValue(double value, std::string_view what);

// One HTTP reply.
struct HttpReply {
    int status = 200;
    std::string contentType;
    std::string body;
};

inline constexpr std::string_view kJsonType = "application/json";
inline constexpr std::string_view kTextType = "text/plain; charset=utf-8";

// HTTP 400 with a short text.
HttpReply BadRequestReply(std::string_view text);

// The 200 reply: Value (when given, or `placeholder` on a failed GET), the IDs and the error.
// Text that is not UTF-8 is replaced, never sent as it is.
HttpReply EnvelopeReply(const Outcome& outcome, const Json& placeholder, Verb verb, const ClientIds& ids,
                        std::uint32_t serverTransactionId);

// Replies of the management API: Value and the IDs, with the error keys (harmless there).
HttpReply ManagementReply(Json value, const ClientIds& ids, std::uint32_t serverTransactionId);

// The JSON text of `value`, locale-independent, invalid UTF-8 replaced.
std::string DumpJson(const Json& value);

} // namespace velq3::alpaca
