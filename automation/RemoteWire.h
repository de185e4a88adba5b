// The message format of the out-of-process transport: length-prefixed binary requests and
// replies for the eight remote operations, with VARIANT, BSTR, SAFEARRAY and error information.
//
// Frame: u32 body length (little-endian, at most kMaxBodyBytes), then the body.
// Request body: u8 op, u32 call id, then the operation's fields.
// Reply body:   u8 op | 0x80, u32 call id (echoed), i32 result, the operation's fields, then
//               the error information the call left (u8 present, and its fields).
// Integers are little-endian, floats their IEEE bits, GUIDs 16 bytes (Data1, Data2, Data3
// little-endian, then Data4), strings u32 length + UTF-8 bytes, a VARIANT u16 type + value.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "automation/ErrorInfo.h"
#include "automation/Interfaces.h"

namespace velq3::rpc {

inline constexpr std::uint32_t kMaxBodyBytes = 1u << 20;
inline constexpr std::size_t kFrameHeaderBytes = 4;
inline constexpr std::uint8_t kReplyBit = 0x80;
// Most names, arguments or named arguments one call may carry, and most array elements.
inline constexpr std::uint32_t kMaxCallItems = 256;
inline constexpr std::uint32_t kMaxListItems = 65536;

enum class Op : std::uint8_t {
    CreateInstance = 1,              // clsid, iid                  -> handle
    QueryInterface = 2,              // handle, iid                 -> handle
    AddRef = 3,                      // handle                      -> count
    Release = 4,                     // handle                      -> count
    GetIDsOfNames = 5,               // handle, riid, lcid, names   -> ids
    Invoke = 6,                      // handle, dispid, riid, lcid, flags, args, named, wantResult
                                     //                             -> result, excepinfo, argErr
    LockServer = 7,                  // clsid, lock
    InterfaceSupportsErrorInfo = 8,  // handle, iid
};

// One remote interface pointer of a connection; 0 is never a valid handle.
using Handle = std::uint32_t;

struct Request {
    std::uint8_t op = 0;  // an Op; kept raw so that an unknown one can be answered
    std::uint32_t callId = 0;
    Handle handle = 0;
    CLSID clsid;
    IID iid;  // the requested interface; for GetIDsOfNames and Invoke the riid argument
    bool lock = false;
    LCID lcid = 0;
    std::vector<std::string> names;
    DISPID dispid = 0;
    WORD flags = 0;
    DispParams params;
    bool wantResult = false;
};

struct Reply {
    std::uint8_t op = 0;  // the request's op; the reply bit is added on the wire
    std::uint32_t callId = 0;
    HRESULT hr = S_OK;
    Handle handle = 0;
    std::uint32_t count = 0;
    std::vector<DISPID> ids;
    Variant result;
    ExcepInfo excep;
    UINT argErr = 0;
    std::optional<ErrorInfo> errorInfo;
};

// Whole frames, length prefix included.
std::vector<std::uint8_t> EncodeRequest(const Request& request);
std::vector<std::uint8_t> EncodeReply(const Reply& reply);

// The body length announced by a frame header; nothing when it is above kMaxBodyBytes.
std::optional<std::uint32_t> BodyLength(std::span<const std::uint8_t, kFrameHeaderBytes> header);

// Decode one body (without the length prefix). RPC_E_INVALID_DATAPACKET for an unknown
// operation, a field that runs past the end, bytes left over, an unknown VARIANT type or a
// count that cannot fit; `out.op` and `out.callId` are filled as far as they could be read,
// so that the error can be answered.
HRESULT DecodeRequest(std::span<const std::uint8_t> body, Request& out);
// A reply to an unknown operation decodes without fields.
HRESULT DecodeReply(std::span<const std::uint8_t> body, Reply& out);

}  // namespace velq3::rpc
