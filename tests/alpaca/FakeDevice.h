// A small Alpaca device whose connection the caller controls: a filter wheel stand-in with
// three slots that records the positions it was sent. Shared by the protocol tests and the
// request fuzz target.
#pragma once

#include <atomic>
#include <mutex>
#include <optional>
#include <vector>

#include "alpaca/AlpacaDevice.h"

namespace velq3::alpaca {

class FakeConnection : public DeviceConnection {
public:
    bool IsConnected() const override { return connected; }
    Outcome Connect() override {
        if (refuse) return Outcome::Error(ErrorCode::InvalidOperation, "wrong mode");
        connected = true;
        return Outcome::Done();
    }
    Outcome Disconnect() override {
        connected = false;
        return Outcome::Done();
    }
    Outcome StartConnect() override { return Connect(); }
    Outcome StartDisconnect() override { return Disconnect(); }
    bool Connecting() const override { return false; }
    std::optional<Outcome> TakeFailure() override { return std::nullopt; }

    std::atomic<bool> connected{false};
    bool refuse = false;
};

// A filter wheel stand-in with three slots that records the positions it was sent.
class TestDevice : public AlpacaDevice {
public:
    explicit TestDevice(FakeConnection& c)
        : AlpacaDevice(DeviceIdentity{"filterwheel", "FilterWheel", 0, 3, "Test wheel", "A wheel for tests"}, c) {
        AddGet("position", 0, [this](const Params&) { return Outcome::Of(position.load()); });
        AddPut("position", [this](const Params& p) {
            std::int32_t v = 0;
            if (auto bad = RequireInt(p, "Position", v)) return *bad;
            if (v < 0 || v > 2) return Outcome::Error(ErrorCode::InvalidValue, "Position must be 0..2");
            std::lock_guard lock(mutex);
            sent.push_back(v);
            position = v;
            return Outcome::Done();
        });
        AddGet("names", Json::array(), [](const Params&) { return Outcome::Of(Json::array({"L", "R", "G"})); });
        AddGet("gettemp", 0.0, [](const Params& p) {
            double x = 0;
            if (auto bad = RequireDouble(p, "Id", x)) return *bad;
            return Outcome::Of(x);
        });
    }
    Json DeviceStateItems() override { return Json::array({StateItem("Position", position.load())}); }

    std::atomic<int> position{0};
    std::mutex mutex;
    std::vector<int> sent;
};

} // namespace velq3::alpaca
