// Result code texts on Linux: the stand-in's own table, and the codes of its socket transport.
#include "automation/HResultText.h"

namespace velq3 {

std::string HResultMessage(HRESULT hr) {
    switch (hr) {
    case RPC_E_SERVER_UNAVAILABLE: return "The RPC server is unavailable.";
    case RPC_E_CALL_FAILED: return "The remote procedure call failed.";
    default: break;
    }
    if (const char* text = KnownHResultText(hr)) return text;
    return UnknownHResultText(hr);
}

} // namespace velq3
