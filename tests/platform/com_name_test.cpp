// The one rule by which COM names are read: which texts name a port, and
// which number.
#include "plat/com_name.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(ComName, ANameIsComInAnyCaseAndDigitsForOneToTwoHundredFiftyFour) {
  struct Case {
    std::string name;
    unsigned number;  // 0: no COM port
  };
  const Case cases[] = {
      {"COM1", 1},
      {"COM7", 7},
      {"COM254", 254},
      {"COM07", 7},
      {"COM0007", 7},
      {"COM" + std::string(40, '0') + "7", 7},  // zeros only lead, however many
      {"\\\\.\\COM7", 7},
      {"\\\\.\\COM0007", 7},
      {"com7", 7},
      {"Com7", 7},
      {"\\\\.\\cOm12", 12},
      {"COM0", 0},
      {"COM00", 0},
      {"COM255", 0},  // the "no port" of a port kept in a byte
      {"COM256", 0},
      {"COM263", 0},  // not COM7, as a byte's sum would have it
      {"COM1000", 0},
      {"COM4294967303", 0},         // 2^32 + 7: no wrap to COM7
      {"COM18446744073709551623", 0},  // 2^64 + 7
      {"COM" + std::string(100, '9'), 0},
      {"COM", 0},
      {"", 0},
      {"\\\\.\\", 0},
      {"\\\\.\\COM", 0},
      {"COM7x", 0},
      {"COM7 ", 0},
      {" COM7", 0},
      {"COM 7", 0},
      {"COM-1", 0},
      {"COM+7", 0},
      {std::string("COM7\0", 5), 0},
      {"\\\\?\\COM7", 0},
      {"\\\\.\\\\\\.\\COM7", 0},
      {"\\COM7", 0},
      {"LPT1", 0},
      {"CON7", 0},
      {"COMM7", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(plat::ComNameNumber(c.name), c.number) << '"' << c.name << '"';
}

TEST(ComName, DigitsAreReadUpToTheFirstOtherCharacter) {
  struct Case {
    std::string text;
    unsigned number;
    size_t digits;
  };
  const Case cases[] = {
      {"12", 12, 2},      {"12x", 12, 2},  {"013", 13, 3}, {"254\r\n", 254, 3},
      {"0", 0, 1},        {"300", 0, 3},   {"255", 0, 3},  {"99999999999999999999", 0, 20},
      {"", 0, 0},         {"x5", 0, 0},    {"-5", 0, 0},   {" 5", 0, 0},
  };
  for (const Case& c : cases) {
    size_t digits = 99;
    EXPECT_EQ(plat::ComDigitsNumber(c.text, &digits), c.number) << '"' << c.text << '"';
    EXPECT_EQ(digits, c.digits) << '"' << c.text << '"';
  }
  EXPECT_EQ(plat::ComDigitsNumber("42"), 42u);
}

}  // namespace
