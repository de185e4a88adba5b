// Encoding and strict decoding of the transport's messages.
#include "automation/RemoteWire.h"

#include <bit>
#include <cstring>

namespace velq3::rpc {

namespace {

class Writer {
public:
    Writer() { m_Bytes.resize(kFrameHeaderBytes); }

    void U8(std::uint8_t v) { m_Bytes.push_back(v); }
    void U16(std::uint16_t v) { Le(v, 2); }
    void U32(std::uint32_t v) { Le(v, 4); }
    void U64(std::uint64_t v) { Le(v, 8); }
    void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
    void Bytes(const void* p, std::size_t n) {
        const auto* b = static_cast<const std::uint8_t*>(p);
        m_Bytes.insert(m_Bytes.end(), b, b + n);
    }
    void Str(const std::string& s) {
        U32(static_cast<std::uint32_t>(s.size()));
        Bytes(s.data(), s.size());
    }
    void Id(const Guid& g) {
        U32(g.Data1);
        U16(g.Data2);
        U16(g.Data3);
        Bytes(g.Data4.data(), g.Data4.size());
    }
    void Value(const Variant& v);
    void Error(const std::optional<ErrorInfo>& info) {
        U8(info ? 1 : 0);
        if (!info) return;
        Id(info->iid);
        Str(info->source);
        Str(info->description);
        Str(info->helpFile);
        U32(info->helpContext);
    }

    // Fills in the length prefix and hands the frame over.
    std::vector<std::uint8_t> Finish() {
        const auto body = static_cast<std::uint32_t>(m_Bytes.size() - kFrameHeaderBytes);
        for (std::size_t i = 0; i < kFrameHeaderBytes; ++i) m_Bytes[i] = static_cast<std::uint8_t>(body >> (8 * i));
        return std::move(m_Bytes);
    }

private:
    void Le(std::uint64_t v, int n) {
        for (int i = 0; i < n; ++i) m_Bytes.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
    }

    std::vector<std::uint8_t> m_Bytes;
};

void Writer::Value(const Variant& v) {
    const VARTYPE vt = v.vt();
    U16(vt);
    switch (vt) {
    case VT_EMPTY: case VT_NULL: break;
    case VT_I1: U8(static_cast<std::uint8_t>(v.Get<std::int8_t>())); break;
    case VT_UI1: U8(v.Get<std::uint8_t>()); break;
    case VT_I2: U16(static_cast<std::uint16_t>(v.Get<std::int16_t>())); break;
    case VT_UI2: U16(v.Get<std::uint16_t>()); break;
    case VT_BOOL: U16(static_cast<std::uint16_t>(RawValue(v.Get<VariantBool>()))); break;
    case VT_I4: I32(v.Get<std::int32_t>()); break;
    case VT_UI4: U32(v.Get<std::uint32_t>()); break;
    case VT_ERROR: I32(v.Get<ErrorValue>().scode); break;
    case VT_R4: U32(std::bit_cast<std::uint32_t>(v.Get<float>())); break;
    case VT_I8: U64(static_cast<std::uint64_t>(v.Get<std::int64_t>())); break;
    case VT_UI8: U64(v.Get<std::uint64_t>()); break;
    case VT_R8: U64(std::bit_cast<std::uint64_t>(v.Get<double>())); break;
    case VT_BSTR: Str(v.Get<Bstr>().str()); break;
    case VT_ARRAY | VT_BSTR: {
        const auto& a = v.Get<SafeArray<Bstr>>();
        U32(static_cast<std::uint32_t>(a.size()));
        for (const Bstr& s : a.Elements()) Str(s.str());
        break;
    }
    case VT_ARRAY | VT_I4: {
        const auto& a = v.Get<SafeArray<std::int32_t>>();
        U32(static_cast<std::uint32_t>(a.size()));
        for (std::int32_t i : a.Elements()) I32(i);
        break;
    }
    default: break;  // every type a Variant can hold is listed above
    }
}

// Reads fields in order; the first field that does not fit marks the whole read as failed and
// every later read gives zeroes, so a decoder checks Ok() once at the end.
class Reader {
public:
    explicit Reader(std::span<const std::uint8_t> bytes) : m_Bytes(bytes) {}

    bool Ok() const { return m_Ok; }
    bool AtEnd() const { return m_Pos == m_Bytes.size(); }
    std::size_t Left() const { return m_Bytes.size() - m_Pos; }
    void Fail() { m_Ok = false; }

    std::uint8_t U8() { return static_cast<std::uint8_t>(Le(1)); }
    std::uint16_t U16() { return static_cast<std::uint16_t>(Le(2)); }
    std::uint32_t U32() { return static_cast<std::uint32_t>(Le(4)); }
    std::uint64_t U64() { return Le(8); }
    std::int32_t I32() { return static_cast<std::int32_t>(U32()); }
    bool Bool() {
        const std::uint8_t b = U8();
        if (b > 1) Fail();
        return b == 1;
    }
    std::string Str() {
        const std::uint32_t n = U32();
        if (!Take(n)) return {};
        return std::string(reinterpret_cast<const char*>(m_Bytes.data() + m_Pos - n), n);
    }
    Guid Id() {
        Guid g;
        g.Data1 = U32();
        g.Data2 = U16();
        g.Data3 = U16();
        for (auto& b : g.Data4) b = U8();
        return g;
    }
    // A count of at most `max` elements of at least `minBytes` each that the rest of the
    // body can hold.
    std::uint32_t Count(std::size_t minBytes, std::uint32_t max = kMaxListItems) {
        const std::uint32_t n = U32();
        if (m_Ok && (n > max || n > Left() / minBytes)) Fail();
        return m_Ok ? n : 0;
    }
    Variant Value();
    std::optional<ErrorInfo> Error() {
        if (!Bool()) return std::nullopt;
        ErrorInfo info;
        info.iid = Id();
        info.source = Str();
        info.description = Str();
        info.helpFile = Str();
        info.helpContext = U32();
        return info;
    }

private:
    bool Take(std::size_t n) {
        if (!m_Ok || n > Left()) {
            m_Ok = false;
            return false;
        }
        m_Pos += n;
        return true;
    }
    std::uint64_t Le(int n) {
        if (!Take(static_cast<std::size_t>(n))) return 0;
        std::uint64_t v = 0;
        for (int i = 0; i < n; ++i) v |= std::uint64_t{m_Bytes[m_Pos - static_cast<std::size_t>(n) + static_cast<std::size_t>(i)]} << (8 * i);
        return v;
    }

    std::span<const std::uint8_t> m_Bytes;
    std::size_t m_Pos = 0;
    bool m_Ok = true;
};

Variant Reader::Value() {
    const VARTYPE vt = U16();
    switch (vt) {
    case VT_EMPTY: return Variant();
    case VT_NULL: return Variant(NullValue{});
    case VT_I1: return Variant(static_cast<std::int8_t>(U8()));
    case VT_UI1: return Variant(U8());
    case VT_I2: return Variant(static_cast<std::int16_t>(U16()));
    case VT_UI2: return Variant(U16());
    case VT_BOOL: return Variant(VariantBool(static_cast<std::int16_t>(U16())));
    case VT_I4: return Variant(I32());
    case VT_UI4: return Variant(U32());
    case VT_ERROR: return Variant(ErrorValue{I32()});
    case VT_R4: return Variant(std::bit_cast<float>(U32()));
    case VT_I8: return Variant(static_cast<std::int64_t>(U64()));
    case VT_UI8: return Variant(U64());
    case VT_R8: return Variant(std::bit_cast<double>(U64()));
    case VT_BSTR: return Variant(Bstr(Str()));
    case VT_ARRAY | VT_BSTR: {
        std::vector<Bstr> items(Count(4));
        for (Bstr& s : items) s = Bstr(Str());
        return Variant(SafeArray<Bstr>(std::move(items)));
    }
    case VT_ARRAY | VT_I4: {
        std::vector<std::int32_t> items(Count(4));
        for (std::int32_t& i : items) i = I32();
        return Variant(SafeArray<std::int32_t>(std::move(items)));
    }
    default: Fail(); return Variant();
    }
}

bool KnownOp(std::uint8_t op) {
    return op >= static_cast<std::uint8_t>(Op::CreateInstance) &&
           op <= static_cast<std::uint8_t>(Op::InterfaceSupportsErrorInfo);
}

} // namespace

std::vector<std::uint8_t> EncodeRequest(const Request& r) {
    Writer w;
    w.U8(r.op);
    w.U32(r.callId);
    switch (static_cast<Op>(r.op)) {
    case Op::CreateInstance: w.Id(r.clsid); w.Id(r.iid); break;
    case Op::QueryInterface: w.U32(r.handle); w.Id(r.iid); break;
    case Op::AddRef: case Op::Release: w.U32(r.handle); break;
    case Op::GetIDsOfNames:
        w.U32(r.handle);
        w.Id(r.iid);
        w.U32(r.lcid);
        w.U32(static_cast<std::uint32_t>(r.names.size()));
        for (const std::string& n : r.names) w.Str(n);
        break;
    case Op::Invoke:
        w.U32(r.handle);
        w.I32(r.dispid);
        w.Id(r.iid);
        w.U32(r.lcid);
        w.U16(r.flags);
        w.U32(static_cast<std::uint32_t>(r.params.args.size()));
        for (const Variant& v : r.params.args) w.Value(v);
        w.U32(static_cast<std::uint32_t>(r.params.namedArgs.size()));
        for (DISPID d : r.params.namedArgs) w.I32(d);
        w.U8(r.wantResult ? 1 : 0);
        break;
    case Op::LockServer: w.Id(r.clsid); w.U8(r.lock ? 1 : 0); break;
    case Op::InterfaceSupportsErrorInfo: w.U32(r.handle); w.Id(r.iid); break;
    }
    return w.Finish();
}

std::vector<std::uint8_t> EncodeReply(const Reply& r) {
    Writer w;
    w.U8(static_cast<std::uint8_t>(r.op | kReplyBit));
    w.U32(r.callId);
    w.I32(r.hr);
    switch (static_cast<Op>(r.op)) {
    case Op::CreateInstance: case Op::QueryInterface: w.U32(r.handle); break;
    case Op::AddRef: case Op::Release: w.U32(r.count); break;
    case Op::GetIDsOfNames:
        w.U32(static_cast<std::uint32_t>(r.ids.size()));
        for (DISPID d : r.ids) w.I32(d);
        break;
    case Op::Invoke:
        w.Value(r.result);
        w.U16(r.excep.wCode);
        w.Str(r.excep.source.str());
        w.Str(r.excep.description.str());
        w.Str(r.excep.helpFile.str());
        w.U32(r.excep.helpContext);
        w.I32(r.excep.scode);
        w.U32(r.argErr);
        break;
    case Op::LockServer: case Op::InterfaceSupportsErrorInfo: break;
    }
    w.Error(r.errorInfo);
    return w.Finish();
}

std::optional<std::uint32_t> BodyLength(std::span<const std::uint8_t, kFrameHeaderBytes> h) {
    const std::uint32_t n = std::uint32_t{h[0]} | (std::uint32_t{h[1]} << 8) | (std::uint32_t{h[2]} << 16) |
                            (std::uint32_t{h[3]} << 24);
    if (n > kMaxBodyBytes) return std::nullopt;
    return n;
}

HRESULT DecodeRequest(std::span<const std::uint8_t> body, Request& out) {
    out = Request{};
    Reader r(body);
    out.op = r.U8();
    out.callId = r.U32();
    if (!r.Ok() || !KnownOp(out.op)) return RPC_E_INVALID_DATAPACKET;
    switch (static_cast<Op>(out.op)) {
    case Op::CreateInstance: out.clsid = r.Id(); out.iid = r.Id(); break;
    case Op::QueryInterface: out.handle = r.U32(); out.iid = r.Id(); break;
    case Op::AddRef: case Op::Release: out.handle = r.U32(); break;
    case Op::GetIDsOfNames: {
        out.handle = r.U32();
        out.iid = r.Id();
        out.lcid = r.U32();
        out.names.resize(r.Count(4, kMaxCallItems));
        for (std::string& n : out.names) n = r.Str();
        break;
    }
    case Op::Invoke: {
        out.handle = r.U32();
        out.dispid = r.I32();
        out.iid = r.Id();
        out.lcid = r.U32();
        out.flags = r.U16();
        out.params.args.resize(r.Count(2, kMaxCallItems));
        for (Variant& v : out.params.args) v = r.Value();
        out.params.namedArgs.resize(r.Count(4, kMaxCallItems));
        for (DISPID& d : out.params.namedArgs) d = r.I32();
        out.wantResult = r.Bool();
        break;
    }
    case Op::LockServer: out.clsid = r.Id(); out.lock = r.Bool(); break;
    case Op::InterfaceSupportsErrorInfo: out.handle = r.U32(); out.iid = r.Id(); break;
    }
    return r.Ok() && r.AtEnd() ? S_OK : RPC_E_INVALID_DATAPACKET;
}

HRESULT DecodeReply(std::span<const std::uint8_t> body, Reply& out) {
    out = Reply{};
    Reader r(body);
    const std::uint8_t op = r.U8();
    out.callId = r.U32();
    out.hr = r.I32();
    // The reply to an unknown operation has no fields.
    if (!r.Ok() || !(op & kReplyBit)) return RPC_E_INVALID_DATAPACKET;
    out.op = static_cast<std::uint8_t>(op & ~kReplyBit);
    switch (static_cast<Op>(out.op)) {
    case Op::CreateInstance: case Op::QueryInterface: out.handle = r.U32(); break;
    case Op::AddRef: case Op::Release: out.count = r.U32(); break;
    case Op::GetIDsOfNames:
        out.ids.resize(r.Count(4, kMaxCallItems));
        for (DISPID& d : out.ids) d = r.I32();
        break;
    case Op::Invoke:
        out.result = r.Value();
        out.excep.wCode = r.U16();
        out.excep.source = Bstr(r.Str());
        out.excep.description = Bstr(r.Str());
        out.excep.helpFile = Bstr(r.Str());
        out.excep.helpContext = r.U32();
        out.excep.scode = r.I32();
        out.argErr = r.U32();
        break;
    case Op::LockServer: case Op::InterfaceSupportsErrorInfo: break;
    }
    out.errorInfo = r.Error();
    return r.Ok() && r.AtEnd() ? S_OK : RPC_E_INVALID_DATAPACKET;
}

}  // namespace velq3::rpc
