// Tests of the controller memory: factory layout, mode decoding and the memory file.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "common/SimProcess.h"
#include "sim/Memory.h"

namespace velq3::sim {
namespace {

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

std::string nameAt(const Memory& m, int i) {
  const auto* p = m.bytes().data() + mem::kFilterNames + mem::kNameLength * i;
  return std::string(reinterpret_cast<const char*>(p), strnlen(reinterpret_cast<const char*>(p), mem::kNameLength));
}

TEST(Memory, FilterCountFollowsTheModeByte) {
  Memory m;
  const std::pair<uint8_t, int> cases[] = {{3, 3}, {13, 3}, {25, 10}, {0, 0}, {255, 0}, {254, 0}};
  for (const auto& [mode, count] : cases) {
    m.setByte(mem::kMode, mode);
    EXPECT_EQ(m.filterCount(), count) << "mode " << int(mode);
    EXPECT_EQ(m.twoMotors(), mode == 0 || mode >= 128) << "mode " << int(mode);
  }
}

TEST(Memory, FileIsCreatedWithDefaultsAndReadBack) {
  test::TempDir dir;
  const std::string path = dir.file("ee.bin");
  std::string error;
  {
    Memory m;
    ASSERT_TRUE(m.attach(path, &error)) << error;
    const auto d = Memory::defaults();
    EXPECT_EQ(fileBytes(path), std::string(d.begin(), d.end()));
    const uint8_t name[] = {'L', 'u', 'm'};
    m.write(mem::kFilterNames, name, 3);
    m.setByte(mem::kMode, 5);
    ASSERT_TRUE(m.save(&error)) << error;
  }
  Memory again;
  ASSERT_TRUE(again.attach(path, &error)) << error;
  EXPECT_EQ(again.mode(), 5);
  EXPECT_EQ(nameAt(again, 0), "Lum");
  EXPECT_FALSE(std::filesystem::exists(path + ".tmp"));
}

TEST(Memory, FileOfAnotherSizeIsRefusedAndLeftAlone) {
  test::TempDir dir;
  const std::string path = dir.file("short.bin");
  std::ofstream(path, std::ios::binary) << "not a memory image";
  Memory m;
  std::string error;
  EXPECT_FALSE(m.attach(path, &error));
  EXPECT_NE(error.find("202"), std::string::npos) << error;
  EXPECT_EQ(fileBytes(path), "not a memory image");
}

TEST(Memory, WritesPastTheEndAreRejected) {
  Memory m;
  const uint8_t data[4] = {1, 2, 3, 4};
  EXPECT_THROW(m.write(200, data, 4), std::out_of_range);
  EXPECT_EQ(m.byte(200), Memory::defaults()[200]);
  EXPECT_THROW(m.setU16(201, 1), std::out_of_range);
}

}  // namespace
}  // namespace velq3::sim
