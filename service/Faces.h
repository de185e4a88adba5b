// The network faces of a process (Alpaca, INDI...), started over the device service once it
// exists and stopped, newest first, before it goes. The program registers each face's start
// function; a face that cannot start reports its own problem and returns no stop function.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "service/DeviceService.h"

namespace velq3 {

class FaceRegistry {
public:
    // Starts the face on the owner thread; returns the function that stops it (may be empty).
    using Starter = std::function<std::function<void()>(DeviceService& service)>;

    FaceRegistry() = default;
    FaceRegistry(const FaceRegistry&) = delete;
    FaceRegistry& operator=(const FaceRegistry&) = delete;
    ~FaceRegistry() { StopAll(); }

    void Add(std::string name, Starter start) { m_Faces.push_back({std::move(name), std::move(start)}); }
    std::size_t Count() const { return m_Faces.size(); }

    // Starts every registered face in the order added.
    void StartAll(DeviceService& service) {
        for (auto& face : m_Faces) {
            auto stop = face.start(service);
            if (stop) m_Stops.push_back(std::move(stop));
        }
    }
    // Stops the started faces, last started first; idempotent.
    void StopAll() {
        while (!m_Stops.empty()) {
            auto stop = std::move(m_Stops.back());
            m_Stops.pop_back();
            stop();
        }
    }

private:
    struct Face {
        std::string name;
        Starter start;
    };
    std::vector<Face> m_Faces;
    std::vector<std::function<void()>> m_Stops;
};

} // namespace velq3
