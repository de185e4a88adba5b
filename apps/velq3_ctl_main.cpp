// velq3-ctl: a command-line automation client for scripts and tests. It creates one object by
// ProgID (starting the server when needed) and applies each OP to it, one output line per OP.
#include <cctype>
#include <charconv>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "apps/CtlOperation.h"
#include "automation/Activation.h"
#include "automation/ErrorInfo.h"
#include "automation/HResultText.h"
#include "automation/TransportPaths.h"
#include "platform/Registry.h"

namespace velq3::ctl {

namespace {

constexpr int kAllSucceeded = 0;
constexpr int kSomeFailed = 1;
constexpr int kNotCreated = 2;

void Usage(std::FILE* out) {
    std::fputs(
        "usage: velq3-ctl PROGID OP...\n"
        "       velq3-ctl --help\n"
        "Creates one automation object of PROGID (e.g. VELQ3.FilterWheel, or a braced CLSID),\n"
        "starting the server when none runs, and applies each OP to it in order:\n"
        "  Name              gets a property (or calls a method without arguments)\n"
        "  Name=value        puts a property\n"
        "  Name(arg,...)     calls a method; Name() without arguments\n"
        "  -                 reads further OPs from standard input, one per line\n"
        "Values: true, false, integers, decimal numbers, \"quoted text\" (\\\" and \\\\ inside),\n"
        "or any other bare text.\n"
        "Prints one line per OP: \"Name = value\" on success (a put shows the value put, a call\n"
        "without a result shows \"ok\"; booleans as true/false, arrays as [a, b, c] with strings\n"
        "in double quotes), or \"Name: error 0xXXXXXXXX description\" on failure.\n"
        "Exit status: 0 when every OP succeeded, 1 when one failed, 2 when the object could not\n"
        "be created (or the command line is wrong).\n"
        "Registrations and the server's socket are the user's; $VELQ3_HOME relocates them.\n",
        out);
}

// One value as written: booleans, numbers, quoted or bare text.
std::optional<Variant> ParseValue(std::string_view text) {
    text = Trim(text);
    if (text.size() >= 2 && text.front() == '"' && text.back() == '"') {
        std::string s;
        for (std::size_t i = 1; i + 1 < text.size(); ++i) {
            char c = text[i];
            if (c == '\\') {
                if (i + 2 >= text.size()) return std::nullopt;  // a backslash before the closing quote
                c = text[++i];
            } else if (c == '"') {
                return std::nullopt;
            }
            s += c;
        }
        return Variant(Bstr(s));
    }
    if (SameText(text, "true")) return Variant(VARIANT_TRUE);
    if (SameText(text, "false")) return Variant(VARIANT_FALSE);
    std::string_view digits = text;
    if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
    std::int64_t i = 0;
    if (auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), i);
        ec == std::errc() && end == digits.data() + digits.size() && !digits.empty()) {
        if (i >= INT32_MIN && i <= INT32_MAX) return Variant(static_cast<std::int32_t>(i));
        return Variant(i);
    }
    double d = 0;
    if (auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), d);
        ec == std::errc() && end == digits.data() + digits.size() && !digits.empty() && std::isfinite(d))
        return Variant(d);
    return Variant(Bstr(std::string(text)));
}

using Operation = ctl::Operation<Variant>;

std::optional<Operation> ParseOperation(std::string_view text) { return ctl::ParseOperation<Variant>(text, ParseValue); }

std::string FormatNumber(double v, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, v);
    return buf;
}

std::string Format(const Variant& v, bool inArray = false) {
    switch (v.vt()) {
    case VT_EMPTY: return "ok";
    case VT_NULL: return "null";
    case VT_BOOL: return IsTrue(v.Get<VariantBool>()) ? "true" : "false";
    case VT_R4: return FormatNumber(v.Get<float>(), 7);
    case VT_R8: return FormatNumber(v.Get<double>(), 15);
    case VT_BSTR: return inArray ? Quote(v.Get<Bstr>().str()) : v.Get<Bstr>().str();
    case VT_ERROR: {
        char buf[32];
        std::snprintf(buf, sizeof buf, "error 0x%08X", static_cast<unsigned>(v.Get<ErrorValue>().scode));
        return buf;
    }
    case VT_ARRAY | VT_BSTR: {
        std::string out = "[";
        for (const Bstr& s : v.Get<SafeArray<Bstr>>().Elements()) out += (out.size() > 1 ? ", " : "") + Quote(s.str());
        return out + "]";
    }
    case VT_ARRAY | VT_I4: {
        std::string out = "[";
        for (std::int32_t i : v.Get<SafeArray<std::int32_t>>().Elements())
            out += (out.size() > 1 ? ", " : "") + std::to_string(i);
        return out + "]";
    }
    default: {
        Variant text;
        if (Succeeded(ChangeType(v, VT_BSTR, text))) return text.Get<Bstr>().str();
        return "?";
    }
    }
}

void PrintFailure(const std::string& name, HRESULT hr, const std::string& description) {
    std::printf("%s: error 0x%08X %s\n", name.c_str(), static_cast<unsigned>(hr),
                description.empty() ? HResultMessage(hr).c_str() : description.c_str());
}

// Applies one OP; true when it succeeded.
bool Apply(IDispatch* object, std::string_view text) {
    const auto op = ParseOperation(text);
    if (!op) {
        PrintFailure(std::string(Trim(text)), E_INVALIDARG, "");
        return false;
    }
    const char* name = op->name.c_str();
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &name, 1, kLocaleEnglishUS, &id);
    if (Failed(hr)) {
        const auto info = GetErrorInfo();
        PrintFailure(op->name, hr, info ? info->description : "");
        return false;
    }
    DispParams params;
    params.args.assign(op->args.rbegin(), op->args.rend());  // the last argument first
    WORD flags = DISPATCH_METHOD | DISPATCH_PROPERTYGET;
    if (op->kind == Operation::Kind::Put) {
        flags = DISPATCH_PROPERTYPUT;
        params.namedArgs = {DISPID_PROPERTYPUT};
    }
    Variant result;
    ExcepInfo excep;
    UINT argErr = 0;
    hr = object->Invoke(id, IID_NULL, kLocaleEnglishUS, flags, &params, &result, &excep, &argErr);
    if (Failed(hr)) {
        if (hr == DISP_E_EXCEPTION) {
            const HRESULT own = Failed(excep.scode) ? excep.scode : hr;
            PrintFailure(op->name, own, excep.description.str());
        } else {
            const auto info = GetErrorInfo();
            PrintFailure(op->name, hr, info ? info->description : "");
        }
        return false;
    }
    std::printf("%s = %s\n", op->name.c_str(), Format(op->kind == Operation::Kind::Put ? op->args[0] : result).c_str());
    return true;
}

int Main(int argc, char** argv) {
    if (argc >= 2 && (std::string_view(argv[1]) == "--help" || std::string_view(argv[1]) == "-h")) {
        Usage(stdout);
        return kAllSucceeded;
    }
    if (argc < 2 || argv[1][0] == '-') {
        Usage(stderr);
        return kNotCreated;
    }
    const std::string progId = argv[1];
    try {
        const RegistryHive classes = OpenClassesRootHive();
        ActivationOptions options;
        options.classesRoot = &classes;
        options.socketPath = DefaultSocketPath();
        options.serverLog = DefaultServerLogPath();
        CLSID clsid;
        ComPtr<IDispatch> object;
        HRESULT hr = CLSIDFromProgID(classes, progId, &clsid);
        if (Succeeded(hr)) hr = CoCreateInstance(clsid, nullptr, options, IID_IDispatch, object.PutVoid());
        if (Failed(hr)) {
            std::fprintf(stderr, "velq3-ctl: cannot create %s: error 0x%08X %s\n", progId.c_str(),
                         static_cast<unsigned>(hr), HResultMessage(hr).c_str());
            return kNotCreated;
        }
        bool allSucceeded = true;
        for (int i = 2; i < argc; ++i) {
            if (std::string_view(argv[i]) != "-") {
                allSucceeded = Apply(object.Get(), argv[i]) && allSucceeded;
                std::fflush(stdout);
                continue;
            }
            std::string line;
            while (std::getline(std::cin, line)) {
                if (Trim(line).empty()) continue;
                allSucceeded = Apply(object.Get(), line) && allSucceeded;
                std::fflush(stdout);
            }
        }
        return allSucceeded ? kAllSucceeded : kSomeFailed;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "velq3-ctl: %s\n", e.what());
        return kNotCreated;
    }
}

} // namespace

} // namespace velq3::ctl

int main(int argc, char** argv) {
    // A reader of the output that goes away must not end the client in the middle of a call.
    ::signal(SIGPIPE, SIG_IGN);
    return velq3::ctl::Main(argc, argv);
}
