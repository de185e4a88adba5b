// The transport against a server in this process: remote creation and calls through proxies,
// error information, object lifetimes (releases, closed connections, server locks), malformed
// and abandoned messages, and the socket's ownership.
#include <random>
#include <thread>
#include <tuple>

#include "server/ServerFixture.h"

namespace velq3::test {
namespace {

Variant RemoteGet(IDispatch* d, const char* name, HRESULT expected = S_OK) {
    LateCall c = CallByName(d, name, DISPATCH_PROPERTYGET);
    EXPECT_EQ(c.hr, expected) << name;
    return c.result;
}

TEST(WireFormat, EveryValueTypeAndTheErrorFieldsSurviveTheRoundTrip) {
    rpc::Request q = MakeRequest(rpc::Op::Invoke);
    q.handle = 7;
    q.dispid = -3;
    q.iid = IFocuser::kIid;
    q.lcid = kLocaleEnglishUS;
    q.flags = DISPATCH_PROPERTYPUT;
    q.params.args = {Variant(), Variant(NullValue{}), Variant(std::int16_t{-2}), Variant(std::int32_t{-70000}),
                     Variant(1.5f), Variant(-2.25), Variant(Bstr("é \"x\"")), Variant::Missing(),
                     Variant(VariantBool(1)), Variant(std::int8_t{-5}), Variant(std::uint8_t{250}),
                     Variant(std::uint16_t{65000}), Variant(std::uint32_t{4000000000u}),
                     Variant(std::int64_t{-1} << 40), Variant(std::uint64_t{1} << 63),
                     Variant(SafeArray<Bstr>({Bstr("a"), Bstr("")})), Variant(SafeArray<std::int32_t>({-1, 2}))};
    q.params.namedArgs = {DISPID_PROPERTYPUT};
    q.wantResult = true;
    const auto frame = rpc::EncodeRequest(q);
    rpc::Request back;
    ASSERT_EQ(rpc::DecodeRequest(std::span(frame).subspan(rpc::kFrameHeaderBytes), back), S_OK);
    EXPECT_EQ(back.params.args, q.params.args);
    EXPECT_EQ(back.params.namedArgs, q.params.namedArgs);
    EXPECT_EQ(std::make_tuple(back.handle, back.dispid, back.iid, back.lcid, back.flags, back.wantResult),
              std::make_tuple(q.handle, q.dispid, q.iid, q.lcid, q.flags, q.wantResult));

    rpc::Reply r;
    r.op = q.op;
    r.callId = 77;
    r.hr = DISP_E_EXCEPTION;
    r.result = Variant(3.0f);
    r.excep = ExcepInfo{0, Bstr("VELQ3.Focuser"), Bstr("Not Supported"), Bstr("help.chm"), 12, DISP_E_EXCEPTION};
    r.argErr = 4;
    r.errorInfo = ErrorInfo{IFocuser::kIid, "src", "desc", "file", 9};
    const auto replyFrame = rpc::EncodeReply(r);
    rpc::Reply rb;
    ASSERT_EQ(rpc::DecodeReply(std::span(replyFrame).subspan(rpc::kFrameHeaderBytes), rb), S_OK);
    EXPECT_EQ(rb.result, r.result);
    EXPECT_EQ(rb.excep.description, "Not Supported");
    EXPECT_EQ(rb.excep.helpContext, 12u);
    EXPECT_EQ(rb.excep.scode, DISP_E_EXCEPTION);
    EXPECT_EQ(rb.argErr, 4u);
    ASSERT_TRUE(rb.errorInfo);
    EXPECT_EQ(rb.errorInfo->iid, IFocuser::kIid);
    EXPECT_EQ(rb.errorInfo->helpFile, "file");
    // Every cut of the frame is refused, never read past.
    for (std::size_t n = 0; n + rpc::kFrameHeaderBytes < replyFrame.size(); ++n)
        EXPECT_EQ(rpc::DecodeReply(std::span(replyFrame).subspan(rpc::kFrameHeaderBytes, n), rb), RPC_E_INVALID_DATAPACKET);
}

TEST_F(TransportTest, LateBoundCallsReachTheDriverAndCarryValuesBothWays) {
    auto c = Connect();
    ComPtr<IDispatch> rotator = Create<IDispatch>(*c, CLSID_Rotator);
    ASSERT_TRUE(rotator);
    EXPECT_EQ(RemoteGet(rotator.Get(), "Name"), Variant(Bstr("Orn Rotator")));
    EXPECT_EQ(RemoteGet(rotator.Get(), "InterfaceVersion"), Variant(std::int16_t{1}));
    EXPECT_EQ(RemoteGet(rotator.Get(), "SupportedActions"), Variant(SafeArray<Bstr>()));
    // A put converts its text argument on the server's side; a boolean keeps its raw value
    // on the way (any value but -1 clears the flag).
    EXPECT_EQ(LatePut(rotator.Get(), "Reverse", Variant(Bstr("True"))).hr, S_OK);
    EXPECT_EQ(RemoteGet(rotator.Get(), "Reverse"), Variant(VARIANT_TRUE));
    EXPECT_EQ(LatePut(rotator.Get(), "Reverse", Variant(VariantBool(1))).hr, S_OK);
    EXPECT_EQ(RemoteGet(rotator.Get(), "Reverse"), Variant(VARIANT_FALSE));

    // Names and failures of late binding come back as the server's dispatch gives them.
    LateCall unknown = CallByName(rotator.Get(), "Azimuth", DISPATCH_PROPERTYGET);
    EXPECT_EQ(unknown.hr, DISP_E_UNKNOWNNAME);
    LateCall mismatch = LatePut(rotator.Get(), "Reverse", Variant(Bstr("sideways")));
    EXPECT_EQ(mismatch.hr, DISP_E_TYPEMISMATCH);
    EXPECT_EQ(mismatch.argErr, 0u);
    const char* names[] = {"Move", "Position"};
    DISPID ids[2] = {0, 0};
    EXPECT_EQ(rotator->GetIDsOfNames(IID_NULL, names, 2, kLocaleEnglishUS, ids), S_OK);
    EXPECT_EQ(ids[0], 15);
    EXPECT_EQ(ids[1], 0);
    UINT count = 9;
    EXPECT_EQ(rotator->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 0u);  // the type information stays in the server

    // Arrays of strings and of integers, filled from the device object's filter table.
    ComPtr<IDispatch> wheel = Create<IDispatch>(*c, CLSID_FilterWheel);
    loop.Run([this] {
        fw.Filters.resize(3);
        fw.Filters[1].Name = "Ha \"7\"";
        fw.Filters[2].FocuserPos = -40;
    });
    const Variant names2 = RemoteGet(wheel.Get(), "Names");
    ASSERT_EQ(names2.vt(), VT_ARRAY | VT_BSTR);
    EXPECT_EQ(names2.Get<SafeArray<Bstr>>().Elements(), (std::vector<Bstr>{Bstr(""), Bstr("Ha \"7\""), Bstr("")}));
    EXPECT_EQ(RemoteGet(wheel.Get(), "FocusOffsets"), Variant(SafeArray<std::int32_t>({0, 0, -40})));
}

TEST_F(TransportTest, ErrorInformationCrossesTheProcessBoundary) {
    auto c = Connect();
    ComPtr<IDispatch> focuser = Create<IDispatch>(*c, CLSID_Focuser);
    LateCall halt = LateCallMethod(focuser.Get(), "Halt");
    EXPECT_EQ(halt.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(halt.excep.scode, DISP_E_EXCEPTION);
    EXPECT_EQ(halt.excep.description, "Not Supported");
    EXPECT_EQ(halt.excep.source, "VELQ3.Focuser");
    // A member failing without error information.
    LateCall move = LateCallMethod(focuser.Get(), "Move", {Variant(std::int32_t{10500})});
    EXPECT_EQ(move.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(move.excep.scode, E_FAIL);
    EXPECT_TRUE(move.excep.description.empty());

    // Error information set by a failing call becomes the calling thread's.
    SetErrorInfo(ErrorInfo{IID_NULL, "stale", "left over", {}, 0});
    ComPtr<IUnknown> none;
    EXPECT_EQ(c->CreateInstance(kRefusingClsid, IID_IUnknown, none.PutVoid()), E_OUTOFMEMORY);
    const auto info = GetErrorInfo();
    ASSERT_TRUE(info);
    EXPECT_EQ(info->description, "no more objects today");
    EXPECT_EQ(info->source, "Test.Refusing");
    EXPECT_EQ(info->iid, IID_IClassFactory);

    ComPtr<ISupportErrorInfo> sei;
    ASSERT_EQ(focuser.As(sei), S_OK);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IFocuser::kIid), S_OK);
    EXPECT_EQ(sei->InterfaceSupportsErrorInfo(IRotator::kIid), S_FALSE);
}

TEST_F(TransportTest, ProxiesFollowTheServersReferenceCountsAndIdentity) {
    auto c = Connect();
    ComPtr<IDispatch> dome = Create<IDispatch>(*c, CLSID_Dome);
    ComPtr<IDispatch> second = Create<IDispatch>(*c, CLSID_Dome);
    EXPECT_EQ(Count(), 2);

    ComPtr<IUnknown> id1, id1again, id2;
    ASSERT_EQ(dome.As(id1), S_OK);
    ASSERT_EQ(dome.As(id1again), S_OK);
    ASSERT_EQ(second.As(id2), S_OK);
    EXPECT_EQ(id1.Get(), id1again.Get());  // one object, one identity
    EXPECT_NE(id1.Get(), id2.Get());
    EXPECT_EQ(Handles(), 4u);  // IDispatch and IUnknown of each object

    ComPtr<IUnknown> factory;
    EXPECT_EQ(dome->QueryInterface(IID_IClassFactory, factory.PutVoid()), E_NOINTERFACE);
    EXPECT_FALSE(factory);

    EXPECT_EQ(dome->AddRef(), 2u);
    EXPECT_EQ(dome->Release(), 1u);
    id1.Reset();
    id1again.Reset();
    dome.Reset();
    EXPECT_EQ(Count(), 1);  // the last release on the server destroyed the object
    second.Reset();
    id2.Reset();
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(Handles(), 0u);
    EXPECT_EQ(c->ProxyCount(), 0u);
}

TEST_F(TransportTest, ClosedConnectionsReleaseEverythingTheyHeld) {
    {
        RawClient raw(socketPath);
        rpc::Request create = MakeRequest(rpc::Op::CreateInstance);
        create.clsid = CLSID_FilterWheel;
        create.iid = IID_IDispatch;
        const rpc::Reply r1 = raw.Call(create);
        ASSERT_EQ(r1.hr, S_OK);
        rpc::Request addRef = MakeRequest(rpc::Op::AddRef);
        addRef.handle = r1.handle;
        EXPECT_EQ(raw.Call(addRef).count, 2u);
        create.clsid = CLSID_Focuser2;
        ASSERT_EQ(raw.Call(create).hr, S_OK);
        rpc::Request lock = MakeRequest(rpc::Op::LockServer);
        lock.clsid = CLSID_Rotator;
        lock.lock = true;
        ASSERT_EQ(raw.Call(lock).hr, S_OK);
        EXPECT_EQ(Count(), 3);
        // A request whose reply nobody will read.
        rpc::Request get = MakeRequest(rpc::Op::Invoke);
        get.handle = r1.handle;
        get.dispid = 3;
        get.flags = DISPATCH_PROPERTYGET;
        raw.Send(rpc::EncodeRequest(get));
    }
    EXPECT_TRUE(WaitFor([this] { return Count() == 0; }));
    EXPECT_EQ(Handles(), 0u);
    EXPECT_EQ(loop.Run([this] { return server.ConnectionCount(); }), 0u);

    // Stopping the server releases what open connections hold.
    auto c = Connect();
    ComPtr<IDispatch> kept = Create<IDispatch>(*c, CLSID_Rotator);
    EXPECT_EQ(Count(), 1);
    loop.Run([this] { server.Stop(); });
    EXPECT_EQ(Count(), 0);
    EXPECT_EQ(RemoteGet(kept.Get(), "Name", RPC_E_CALL_FAILED), Variant());
    EXPECT_TRUE(c->Broken());
    kept.Reset();  // a proxy of a lost connection still goes away
    EXPECT_EQ(c->ProxyCount(), 0u);
}

TEST_F(TransportTest, ServerLocksAreCountedPerConnection) {
    auto c = Connect();
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(c->GetClassObject(CLSID_Focuser, IID_IClassFactory, factory.PutVoid()), S_OK);
    EXPECT_EQ(factory->LockServer(true), S_OK);
    EXPECT_EQ(Count(), 1);
    EXPECT_EQ(factory->LockServer(false), S_OK);
    EXPECT_EQ(Count(), 0);
    // Giving back a lock the connection never took would end the server under others.
    EXPECT_EQ(factory->LockServer(false), E_UNEXPECTED);
    EXPECT_EQ(Count(), 0);

    ComPtr<IUnknown> inner;
    Outer outer;
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IUnknown, inner.PutVoid()), CLASS_E_NOAGGREGATION);
    ComPtr<IDispatch> object;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, object.PutVoid()), S_OK);
    EXPECT_EQ(factory->CreateInstance(nullptr, IFocuser::kIid, inner.PutVoid()), E_NOINTERFACE);
    ComPtr<IClassFactory> missing;
    ASSERT_EQ(c->GetClassObject(IID_IDispatch, IID_IClassFactory, missing.PutVoid()), S_OK);
    EXPECT_EQ(missing->CreateInstance(nullptr, IID_IDispatch, inner.PutVoid()), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(Count(), 1);
}

TEST_F(TransportTest, CallsRunOnTheLoopThreadInTheirOrder) {
    auto c1 = Connect();
    auto c2 = Connect();
    ComPtr<IDispatch> a = Create<IDispatch>(*c1, kProbeClsid);
    ComPtr<IDispatch> b = Create<IDispatch>(*c2, kProbeClsid);
    std::thread other([&] {
        for (int i = 0; i < 50; ++i) LateCallMethod(b.Get(), "Move", {Variant(std::int32_t{1000 + i})});
    });
    for (int i = 0; i < 50; ++i) EXPECT_EQ(LateCallMethod(a.Get(), "Move", {Variant(std::int32_t{i})}).hr, S_OK);
    other.join();
    const auto [threads, moves] = loop.Run([this] { return std::make_pair(probe.threads, probe.moves); });
    ASSERT_EQ(threads.size(), 100u);
    for (const auto& t : threads) EXPECT_EQ(t, loop.Id());
    // Each client's calls in the order it made them.
    std::vector<std::int32_t> first, second;
    for (std::int32_t m : moves) (m < 1000 ? first : second).push_back(m);
    for (std::size_t i = 0; i < 50; ++i) {
        EXPECT_EQ(first[i], static_cast<std::int32_t>(i));
        EXPECT_EQ(second[i], static_cast<std::int32_t>(1000 + i));
    }
}

TEST_F(TransportTest, MalformedRequestsGetAnErrorReplyAndTheConnectionGoesOn) {
    RawClient raw(socketPath);
    rpc::Request create = MakeRequest(rpc::Op::CreateInstance);
    create.clsid = CLSID_Rotator;
    create.iid = IID_IUnknown;
    const rpc::Handle unknownOnly = raw.Call(create).handle;

    const auto expectError = [&](std::vector<std::uint8_t> body, std::uint32_t callId, HRESULT hr, const char* what) {
        raw.Send(RawClient::Frame(std::move(body)));
        const auto reply = raw.Receive();
        ASSERT_TRUE(reply) << what;
        EXPECT_EQ(reply->hr, hr) << what;
        EXPECT_EQ(reply->callId, callId) << what;
    };
    expectError({0x42, 9, 0, 0, 0}, 9, RPC_E_INVALID_DATAPACKET, "unknown operation");
    expectError({}, 0, RPC_E_INVALID_DATAPACKET, "empty body");
    expectError({4, 5, 0, 0, 0, 1, 0}, 5, RPC_E_INVALID_DATAPACKET, "handle cut short");
    expectError({4, 6, 0, 0, 0, 1, 0, 0, 0, 0xEE}, 6, RPC_E_INVALID_DATAPACKET, "a byte too many");
    // An Invoke with an argument of a type that does not exist.
    rpc::Request invoke = MakeRequest(rpc::Op::Invoke);
    invoke.handle = unknownOnly;
    invoke.params.args = {Variant(std::int32_t{1})};
    auto bytes = rpc::EncodeRequest(invoke);
    const std::size_t vtAt = 4 + 1 + 4 + 4 + 4 + 16 + 4 + 2 + 4;
    bytes[vtAt] = 0x77;
    raw.Send(bytes);
    EXPECT_EQ(raw.Receive().value_or(rpc::Reply{}).hr, RPC_E_INVALID_DATAPACKET);
    // A count larger than the message can hold allocates nothing.
    rpc::Request names = MakeRequest(rpc::Op::GetIDsOfNames);
    names.handle = unknownOnly;
    names.names = {"Name"};
    bytes = rpc::EncodeRequest(names);
    const std::size_t countAt = 4 + 1 + 4 + 4 + 16 + 4;
    bytes[countAt + 3] = 0x7F;
    raw.Send(bytes);
    EXPECT_EQ(raw.Receive().value_or(rpc::Reply{}).hr, RPC_E_INVALID_DATAPACKET);

    // Well-formed requests that name what is not there, or what the handle cannot do.
    rpc::Request release = MakeRequest(rpc::Op::Release);
    release.handle = 999;
    EXPECT_EQ(raw.Call(release).hr, RPC_E_DISCONNECTED);
    invoke = MakeRequest(rpc::Op::Invoke);
    invoke.handle = unknownOnly;
    EXPECT_EQ(raw.Call(invoke).hr, RPC_E_INVALIDMETHOD);
    rpc::Request sei = MakeRequest(rpc::Op::InterfaceSupportsErrorInfo);
    sei.handle = unknownOnly;
    EXPECT_EQ(raw.Call(sei).hr, RPC_E_INVALIDMETHOD);

    // The connection still works, and so does the loop.
    rpc::Request qi = MakeRequest(rpc::Op::QueryInterface);
    qi.handle = unknownOnly;
    qi.iid = IID_IDispatch;
    const rpc::Reply asDispatch = raw.Call(qi);
    ASSERT_EQ(asDispatch.hr, S_OK);
    invoke.handle = asDispatch.handle;
    invoke.dispid = 8;  // Name
    invoke.flags = DISPATCH_PROPERTYGET;
    invoke.wantResult = true;
    EXPECT_EQ(raw.Call(invoke).result, Variant(Bstr("Orn Rotator")));
}

TEST_F(TransportTest, OversizedTruncatedAndRandomFramesNeverStopTheServer) {
    {
        RawClient raw(socketPath);
        raw.Send({0xFF, 0xFF, 0xFF, 0xFF, 1, 2, 3});
        EXPECT_TRUE(raw.ClosedByServer());  // a frame beyond the limit cannot be skipped
    }
    {
        RawClient raw(socketPath);
        raw.Send({0x00, 0x00, 0x10, 0x00, 6});  // announces 1 MiB, sends one byte, leaves
    }
    {
        RawClient raw(socketPath);
        raw.Send({9, 0});  // half a header
    }
    std::mt19937 random(1234);
    for (int round = 0; round < 200; ++round) {
        RawClient raw(socketPath);
        std::vector<std::uint8_t> body(random() % 64);
        for (auto& b : body) b = static_cast<std::uint8_t>(random());
        if (!body.empty()) body[0] = static_cast<std::uint8_t>(1 + random() % 8);
        raw.Send(RawClient::Frame(body));
        raw.Receive();  // an error reply, or a reply to what happened to be well-formed
    }
    EXPECT_TRUE(WaitFor([this] { return Count() == 0; }));
    auto c = Connect();
    ComPtr<IDispatch> rotator = Create<IDispatch>(*c, CLSID_Rotator);
    EXPECT_EQ(RemoteGet(rotator.Get(), "DriverVersion"), Variant(Bstr("3.4")));
}

TEST_F(TransportTest, AClientThatWritesWithoutReadingCannotGrowTheServersBuffers) {
    RawClient flood(socketPath);
    // Small well-formed requests; the client never reads their replies.
    rpc::Request release = MakeRequest(rpc::Op::Release);
    release.handle = 999;
    const std::vector<std::uint8_t> one = rpc::EncodeRequest(release);
    std::vector<std::uint8_t> chunk;
    while (chunk.size() < 64 * 1024) chunk.insert(chunk.end(), one.begin(), one.end());

    constexpr std::size_t kFlood = 30u << 20;
    std::size_t sent = 0, peak = 0;
    const auto start = std::chrono::steady_clock::now();
    auto lastProgress = start;
    while (sent < kFlood && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        const ssize_t n = flood.SendSome(chunk);
        peak = std::max(peak, server.BufferedBytes());
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            lastProgress = std::chrono::steady_clock::now();
        } else if (std::chrono::steady_clock::now() - lastProgress > std::chrono::milliseconds(500)) {
            break;  // the server stopped taking bytes
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    peak = std::max(peak, server.BufferedBytes());
    // Input stops being read at its bound; replies wait up to theirs (plus one read's worth).
    EXPECT_LE(peak, TransportServer::kMaxBufferedInput + TransportServer::kMaxPendingOutput + 64 * 1024);
    EXPECT_LT(sent, kFlood);

    // Everybody else is still served, and the flood's buffers go with its connection.
    auto c = Connect();
    ComPtr<IDispatch> rotator = Create<IDispatch>(*c, CLSID_Rotator);
    EXPECT_EQ(RemoteGet(rotator.Get(), "Name"), Variant(Bstr("Orn Rotator")));
    flood.Close();
    EXPECT_TRUE(WaitFor([this] { return server.BufferedBytes() == 0; }));
}

TEST_F(TransportTest, ASecondServerLeavesTheSocketOfTheRunningOne) {
    TransportServer second(table, loop.Loop(), VelqTypeLib());
    std::string error;
    EXPECT_EQ(second.Start(socketPath, &error), TransportServer::StartResult::Busy);
    EXPECT_NE(error.find(std::to_string(::getpid())), std::string::npos) << error;
    auto c = Connect();
    ComPtr<IDispatch> rotator = Create<IDispatch>(*c, CLSID_Rotator);
    EXPECT_EQ(RemoteGet(rotator.Get(), "Name"), Variant(Bstr("Orn Rotator")));
    rotator.Reset();

    // Once the first is gone, its socket file is gone too, and the next one serves.
    loop.Run([this] { server.Stop(); });
    EXPECT_FALSE(std::filesystem::exists(socketPath));
    EXPECT_EQ(second.Start(socketPath, &error), TransportServer::StartResult::Started) << error;
    EXPECT_TRUE(Connect());
    loop.Run([&] { second.Stop(); });
}

TEST_F(TransportTest, AStaleSocketFileDoesNotStopTheNextServer) {
    loop.Run([this] { server.Stop(); });
    // What a killed server leaves: a socket file nobody listens on.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, socketPath.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ::close(fd);
    std::shared_ptr<RemoteConnection> refused;
    EXPECT_EQ(RemoteConnection::Connect(socketPath, &refused), RPC_E_SERVER_UNAVAILABLE);

    std::string error;
    ASSERT_EQ(server.Start(socketPath, &error), TransportServer::StartResult::Started) << error;
    auto c = Connect();
    ASSERT_TRUE(c);
    EXPECT_TRUE(Create<IDispatch>(*c, CLSID_Dome));
}

} // namespace
} // namespace velq3::test
