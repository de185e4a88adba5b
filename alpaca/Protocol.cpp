// Request parameters, value parsing, transaction IDs and reply envelopes.
#include "alpaca/Protocol.h"

#include <charconv>
#include <cmath>
#include <limits>
#include <type_traits>

namespace velq3::alpaca {

namespace {

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualCaseless(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

// Digits only after an optional sign; from_chars alone would accept a prefix.
template <class T>
std::optional<T> ParseInteger(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (*first == '+') ++first;
    // from_chars takes a '-' for signed types itself; nothing may follow a '+' but digits.
    if (first == last || *first == '+' || (*first == '-' && (first != text.data() || !std::is_signed_v<T>)))
        return std::nullopt;
    if (*first == '-' && (first + 1 == last || first[1] < '0' || first[1] > '9')) return std::nullopt;
    T value{};
    const auto [ptr, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || ptr != last) return std::nullopt;
    return value;
}

} // namespace

bool PercentDecode(std::string_view in, bool plusIsSpace, std::string& out) {
    out.clear();
    out.reserve(in.size());
    for (std::size_t i = 0; i < in.size(); ++i) {
        const char c = in[i];
        if (c == '%') {
            if (i + 2 >= in.size()) return false;
            const int hi = HexDigit(in[i + 1]);
            const int lo = HexDigit(in[i + 2]);
            if (hi < 0 || lo < 0) return false;
            out.push_back(static_cast<char>(hi * 16 + lo));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return true;
}

bool IsValidUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        std::size_t n;
        std::uint32_t cp;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            n = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            n = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            n = 3;
            cp = c & 0x07;
        } else {
            return false;
        }
        if (i + n >= text.size()) return false;
        for (std::size_t k = 1; k <= n; ++k) {
            const auto cc = static_cast<unsigned char>(text[i + k]);
            if ((cc & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (cc & 0x3F);
        }
        static constexpr std::uint32_t kMinimum[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMinimum[n] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += n + 1;
    }
    return true;
}

std::optional<bool> ParseBool(std::string_view text) {
    if (EqualCaseless(text, "true")) return true;
    if (EqualCaseless(text, "false")) return false;
    return std::nullopt;
}

std::optional<std::int32_t> ParseInt32(std::string_view text) { return ParseInteger<std::int32_t>(text); }

std::optional<std::uint32_t> ParseUInt32(std::string_view text) {
    if (!text.empty() && text.front() == '-') return std::nullopt;
    return ParseInteger<std::uint32_t>(text);
}

std::optional<double> ParseDouble(std::string_view text) {
    if (text.empty()) return std::nullopt;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    if (*first == '+') ++first;
    if (first == last || *first == '+' || (*first == '-' && first != text.data())) return std::nullopt;
    // Only digits, sign, point and exponent: from_chars would also take "inf", "nan" and hex.
    for (const char* p = first; p != last; ++p) {
        const char c = *p;
        if (!((c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E' || c == '-' || c == '+')) return std::nullopt;
    }
    double value = 0;
    const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
    if (ec != std::errc() || ptr != last || !std::isfinite(value)) return std::nullopt;
    return value;
}

std::optional<Params> Params::Parse(std::string_view text, Verb verb) {
    Params params;
    params.verb_ = verb;
    while (!text.empty()) {
        const std::size_t amp = text.find('&');
        const std::string_view pair = text.substr(0, amp);
        text = amp == std::string_view::npos ? std::string_view() : text.substr(amp + 1);
        if (pair.empty()) continue;
        const std::size_t eq = pair.find('=');
        std::string key, value;
        // '+' is a space in both query strings and form bodies (the form encoding).
        if (!PercentDecode(pair.substr(0, eq), true, key)) return std::nullopt;
        if (eq != std::string_view::npos && !PercentDecode(pair.substr(eq + 1), true, value)) return std::nullopt;
        if (!IsValidUtf8(key) || !IsValidUtf8(value)) return std::nullopt;
        params.items_.emplace_back(std::move(key), std::move(value));
    }
    return params;
}

std::optional<std::string> Params::Find(std::string_view key) const {
    for (const auto& [k, v] : items_) {
        const bool match = verb_ == Verb::Get ? EqualCaseless(k, key) : k == key;
        if (match) return v;
    }
    return std::nullopt;
}

std::optional<ClientIds> ReadClientIds(const Params& params, std::string& error) {
    ClientIds ids;
    if (auto text = params.Find("ClientID")) {
        const auto v = ParseUInt32(*text);
        if (!v) {
            error = "ClientID is not an unsigned 32-bit number";
            return std::nullopt;
        }
        ids.clientId = *v;
    }
    if (auto text = params.Find("ClientTransactionID")) {
        const auto v = ParseUInt32(*text);
        if (!v) {
            error = "ClientTransactionID is not an unsigned 32-bit number";
            return std::nullopt;
        }
        ids.clientTransactionId = *v;
    }
    return ids;
}

std::uint32_t TransactionCounter::Next() {
    std::uint32_t id = last_.fetch_add(1, std::memory_order_relaxed) + 1;
    while (id == 0) id = last_.fetch_add(1, std::memory_order_relaxed) + 1;
    return id;
}

Outcome DoubleValue(double value, std::string_view what) {
    if (!std::isfinite(value)) return Outcome::Error(ErrorCode::NoValue, std::string(what) + " has no valid reading");
    return Outcome::Of(value);
}

std::string DumpJson(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

HttpReply BadRequestReply(std::string_view text) {
    HttpReply reply;
    reply.status = 400;
    reply.contentType = std::string(kTextType);
    reply.body = std::string(text);
    if (!IsValidUtf8(reply.body)) reply.body = "Bad request";
    return reply;
}

HttpReply EnvelopeReply(const Outcome& outcome, const Json& placeholder, Verb verb, const ClientIds& ids,
                        std::uint32_t serverTransactionId) {
    if (outcome.badRequest) return BadRequestReply(*outcome.badRequest);
    const Json* value = !outcome.value.is_null() ? &outcome.value : verb == Verb::Get ? &placeholder : nullptr;
    // Every request ends here, so the envelope is written directly instead of through a JSON
    // object; the keys come in the order such an object dumps them (sorted).
    HttpReply reply;
    reply.contentType = std::string(kJsonType);
    std::string& body = reply.body;
    body.reserve(128);
    body += "{\"ClientTransactionID\":";
    body += std::to_string(ids.clientTransactionId);
    body += ",\"ErrorMessage\":";
    body += outcome.error == ErrorCode::Ok || outcome.message.empty() ? std::string("\"\"") : DumpJson(outcome.message);
    body += ",\"ErrorNumber\":";
    body += std::to_string(static_cast<int>(outcome.error));
    body += ",\"ServerTransactionID\":";
    body += std::to_string(serverTransactionId);
    if (value) {
        body += ",\"Value\":";
        body += DumpJson(*value);
    }
    body += '}';
    return reply;
}

HttpReply ManagementReply(Json value, const ClientIds& ids, std::uint32_t serverTransactionId) {
    Outcome outcome = Outcome::Of(std::move(value));
    return EnvelopeReply(outcome, Json(), Verb::Get, ids, serverTransactionId);
}

} // namespace velq3::alpaca
