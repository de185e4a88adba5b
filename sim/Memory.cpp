// Factory defaults of the controller memory and its persistence in a file.
#include "sim/Memory.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace velq3::sim {
namespace {

void put16(Memory::Image& m, size_t offset, uint16_t value) {
  m[offset] = static_cast<uint8_t>(value & 0xFF);
  m[offset + 1] = static_cast<uint8_t>(value >> 8);
}

struct DefaultFilter {
  const char* name;
  int16_t focuserOffset;
  uint16_t colour565;
};

// A 7-filter LRGB + narrow-band set with plausible focus offsets and display colours.
constexpr DefaultFilter kDefaultFilters[] = {
    {"L", 0, 0xFFFF},    {"R", 35, 0xF800},    {"G", 20, 0x07E0},   {"B", 45, 0x001F},
    {"Ha", 60, 0xC000},  {"OIII", 55, 0x07FF}, {"SII", 65, 0x8010},
};

std::string errnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

Memory::Memory() : bytes_(defaults()) {}

Memory::Image Memory::defaults() {
  Image m{};
  m[mem::kMode] = 7;                          // filter wheel with 7 filters, one focuser
  put16(m, mem::kWheelSpeed, 400);            // steps per second
  m[mem::kWheelIdleCurrent] = 10;
  m[mem::kHomeMark] = 1;
  put16(m, mem::kFocuserSpeed, 200);          // steps per second
  m[mem::kFocuserIdleCurrent] = 10;
  m[mem::kMicrostepIncrement] = 4;            // resolution 32 / 8: eighth steps
  put16(m, mem::kBacklash, 50);
  m[mem::kSensorCount] = 2;
  put16(m, mem::kCompensation, 0);            // compensation configured off
  put16(m, mem::kDirectionThreshold, 10);
  for (int i = 0; i < mem::kMaxFilters; ++i) put16(m, mem::kFilterWheelPos + 2 * i, static_cast<uint16_t>(i));
  int i = 0;
  for (const auto& f : kDefaultFilters) {
    put16(m, mem::kFilterFocuserPos + 2 * i, static_cast<uint16_t>(f.focuserOffset));
    std::memcpy(&m[mem::kFilterNames + mem::kNameLength * i], f.name, std::strlen(f.name));
    put16(m, mem::kFilterColour + 2 * i, f.colour565);
    ++i;
  }
  put16(m, mem::kMaxSteps, 240);              // 240 steps per slot: 0.6 s at 400 steps/s
  put16(m, mem::kHeaterControl, 0xFFFF);      // heater not configured
  for (int t = 0; t < 4; ++t) put16(m, mem::kThermoSlope + 2 * t, 1000);
  put16(m, mem::kMotorsOnVoltage, 1000);
  m[mem::kWheelCurrent] = 20;
  m[mem::kFocuserCurrent] = 20;
  return m;
}

uint16_t Memory::u16(size_t offset) const {
  return static_cast<uint16_t>(bytes_.at(offset) | (bytes_.at(offset + 1) << 8));
}

void Memory::setU16(size_t offset, uint16_t value) {
  if (offset + 2 > kCapacity) throw std::out_of_range("memory field past the end");
  put16(bytes_, offset, value);
}

void Memory::write(size_t offset, const uint8_t* data, size_t n) {
  if (offset > kCapacity || n > kCapacity - offset) throw std::out_of_range("memory write past the end");
  std::copy(data, data + n, bytes_.begin() + static_cast<std::ptrdiff_t>(offset));
}

int Memory::filterCount() const {
  const int m = mode();
  if (m <= 10) return std::max(m, 0);
  return std::min(m - 10, mem::kMaxFilters);
}

bool Memory::attach(const std::string& path, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (in) {
    std::vector<char> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (data.size() != kCapacity) {
      if (error) *error = "memory file " + path + " holds " + std::to_string(data.size()) + " bytes, not 202";
      return false;
    }
    std::copy(data.begin(), data.end(), bytes_.begin());
    path_ = path;
    return true;
  }
  path_ = path;
  return save(error);
}

bool Memory::save(std::string* error) const {
  if (path_.empty()) return true;
  const std::string tmp = path_ + ".tmp";
  const int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    if (error) *error = errnoText("cannot create", tmp);
    return false;
  }
  const ssize_t n = ::write(fd, bytes_.data(), bytes_.size());
  const bool ok = n == static_cast<ssize_t>(bytes_.size()) && ::fsync(fd) == 0;
  if (!ok && error) *error = errnoText("cannot write", tmp);
  ::close(fd);
  if (!ok) {
    ::unlink(tmp.c_str());
    return false;
  }
  if (::rename(tmp.c_str(), path_.c_str()) != 0) {
    if (error) *error = errnoText("cannot rename to", path_);
    ::unlink(tmp.c_str());
    return false;
  }
  return true;
}

}  // namespace velq3::sim
