// The controller's non-volatile memory: 202 bytes with factory defaults, optionally kept in a file.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace velq3::sim {

// Byte offsets of the fields the simulated firmware itself uses or presets.
namespace mem {
constexpr size_t kMode = 1;
constexpr size_t kWheelSpeed = 2;
constexpr size_t kWheelIdleCurrent = 4;
constexpr size_t kHomeMark = 6;
constexpr size_t kFocuserSpeed = 8;
constexpr size_t kFocuserIdleCurrent = 10;
constexpr size_t kMicrostepIncrement = 11;
constexpr size_t kBacklash = 12;
constexpr size_t kSensorCount = 15;
constexpr size_t kCompensation = 16;
constexpr size_t kDirectionThreshold = 20;
constexpr size_t kFilterWheelPos = 22;
constexpr size_t kFilterFocuserPos = 42;
constexpr size_t kFilterNames = 62;
constexpr size_t kNameLength = 8;
constexpr size_t kMaxSteps = 142;
constexpr size_t kHeaterControl = 144;
constexpr size_t kThermoSlope = 156;
constexpr size_t kFilterColour = 174;
constexpr size_t kMotorsOnVoltage = 196;
constexpr size_t kWheelCurrent = 200;
constexpr size_t kFocuserCurrent = 201;
constexpr int kMaxFilters = 10;
}  // namespace mem

class Memory {
 public:
  static constexpr size_t kCapacity = 202;
  using Image = std::array<uint8_t, kCapacity>;

  Memory();  // factory defaults, not bound to a file

  static Image defaults();

  // Binds the memory to a file: loads it when it exists (it must hold exactly 202 bytes, so that a
  // foreign file is never overwritten), otherwise creates it with the current contents.
  bool attach(const std::string& path, std::string* error);
  // Writes the memory to its file (atomically); true without a file.
  bool save(std::string* error) const;

  const Image& bytes() const { return bytes_; }
  uint8_t byte(size_t offset) const { return bytes_.at(offset); }
  uint16_t u16(size_t offset) const;
  int16_t s16(size_t offset) const { return static_cast<int16_t>(u16(offset)); }
  void write(size_t offset, const uint8_t* data, size_t n);
  void setByte(size_t offset, uint8_t value) { bytes_.at(offset) = value; }
  void setU16(size_t offset, uint16_t value);

  int mode() const { return static_cast<int8_t>(bytes_[mem::kMode]); }
  // Focuser commands carry a focuser-number byte when the mode has two motors (mode 0 or less).
  bool twoMotors() const { return mode() <= 0; }
  // Filters on the wheel as the mode declares them; 0 when there is no wheel.
  int filterCount() const;

 private:
  Image bytes_;
  std::string path_;
};

}  // namespace velq3::sim
