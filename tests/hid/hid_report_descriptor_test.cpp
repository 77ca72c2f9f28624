#include "link/hid_report_descriptor.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace qelta {
namespace {

using Bytes = std::vector<uint8_t>;

// The UPS's shape: a vendor collection with one 8-byte input and one 8-byte output report,
// no report IDs.
const Bytes kPlainEightByte = {
    0x06, 0xA0, 0xFF,  // Usage Page (vendor 0xFFA0)
    0x09, 0x01,        // Usage (1)
    0xA1, 0x01,        // Collection (Application)
    0x09, 0x02,        //   Usage (2)
    0x15, 0x00,        //   Logical Minimum (0)
    0x26, 0xFF, 0x00,  //   Logical Maximum (255)
    0x75, 0x08,        //   Report Size (8)
    0x95, 0x08,        //   Report Count (8)
    0x81, 0x02,        //   Input (Data, Var, Abs)
    0x09, 0x03,        //   Usage (3)
    0x91, 0x02,        //   Output (Data, Var, Abs)
    0xC0,              // End Collection
};

// A keyboard with a consumer-control collection: report 1 carries 8 input bytes and one output
// byte (5 LED bits and 3 padding bits), report 2 one 16-bit input.
const Bytes kNumberedKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01,  // Generic Desktop, Keyboard, Collection
    0x85, 0x01,                          //   Report ID (1)
    0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7,  //   modifier keys
    0x15, 0x00, 0x25, 0x01,              //
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02,  //   8 × 1 bit input
    0x95, 0x01, 0x75, 0x08, 0x81, 0x01,  //   1 × 8 bit input (reserved, constant)
    0x95, 0x05, 0x75, 0x01,              //   5 × 1 bit
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05,  //   LEDs
    0x91, 0x02,                          //   Output
    0x95, 0x01, 0x75, 0x03, 0x91, 0x01,  //   1 × 3 bit output padding
    0x95, 0x06, 0x75, 0x08,              //   6 × 8 bit
    0x15, 0x00, 0x25, 0x65,              //
    0x05, 0x07, 0x19, 0x00, 0x29, 0x65,  //   key codes
    0x81, 0x00,                          //   Input (Data, Array)
    0xC0,                                // End Collection
    0x05, 0x0C, 0x09, 0x01, 0xA1, 0x01,  // Consumer, Consumer Control, Collection
    0x85, 0x02,                          //   Report ID (2)
    0x15, 0x00, 0x26, 0xFF, 0x03,        //
    0x19, 0x00, 0x2A, 0xFF, 0x03,        //
    0x75, 0x10, 0x95, 0x01,              //   1 × 16 bit
    0x81, 0x00,                          //   Input
    0xC0,                                // End Collection
};

// A generic 64-byte vendor device with a 2-byte feature report.
const Bytes kSixtyFourByte = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,  // vendor page, Collection (Application)
    0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,  //   bytes
    0x95, 0x40, 0x09, 0x01, 0x81, 0x02,        //   64 × 8 bit input
    0x95, 0x40, 0x09, 0x02, 0x91, 0x02,        //   64 × 8 bit output
    0x95, 0x02, 0x09, 0x03, 0xB1, 0x02,        //   2 × 8 bit feature
    0xC0,
};

std::optional<HidReportLayout> Parse(const Bytes& bytes) {
  // A heap copy of exactly the descriptor's size, so that a read past its end is caught by
  // the address sanitizer.
  auto copy = std::make_unique<uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return ParseHidReportDescriptor(std::span<const uint8_t>(copy.get(), bytes.size()));
}

TEST(HidReportDescriptor, EightByteReportsWithoutIdentifiers) {
  EXPECT_EQ(Parse(kPlainEightByte), (HidReportLayout{false, 9, 9, 0}));
}

TEST(HidReportDescriptor, NumberedReportsTakeTheLongestReportOfEachKind) {
  EXPECT_EQ(Parse(kNumberedKeyboard), (HidReportLayout{true, 9, 2, 0}));
}

TEST(HidReportDescriptor, SixtyFourByteReports) {
  EXPECT_EQ(Parse(kSixtyFourByte), (HidReportLayout{false, 65, 65, 3}));
}

TEST(HidReportDescriptor, BitsAreRoundedUpToWholeBytes) {
  // 3 × 5 bits of input = 15 bits = 2 bytes; 1 bit of output = 1 byte.
  EXPECT_EQ(Parse({0x75, 0x05, 0x95, 0x03, 0x81, 0x02, 0x75, 0x01, 0x95, 0x01, 0x91, 0x02}),
            (HidReportLayout{false, 3, 2, 0}));
}

TEST(HidReportDescriptor, ReportsOfOneIdAddUpAcrossCollections) {
  const Bytes bytes = {
      0x85, 0x05, 0x75, 0x08, 0x95, 0x04, 0xA1, 0x01, 0x81, 0x02, 0xC0,  // ID 5: 4 bytes
      0x85, 0x06, 0x95, 0x06, 0x81, 0x02,                                // ID 6: 6 bytes
      0x85, 0x05, 0x95, 0x03, 0xA1, 0x01, 0x81, 0x02, 0xC0,              // ID 5: 3 more
  };
  EXPECT_EQ(Parse(bytes), (HidReportLayout{true, 8, 0, 0}));
}

TEST(HidReportDescriptor, PushAndPopRestoreTheGlobalState) {
  const Bytes bytes = {
      0x75, 0x08, 0x95, 0x04,  // 4 × 8 bit
      0xA4,                    // Push
      0x95, 0x20, 0x81, 0x02,  //   32 × 8 bit input
      0xB4,                    // Pop
      0x91, 0x02,              // output with the restored 4 × 8 bit
  };
  EXPECT_EQ(Parse(bytes), (HidReportLayout{false, 33, 5, 0}));
}

TEST(HidReportDescriptor, LongItemsAndTwoAndFourByteDataAreSkippedOrReadWhole) {
  const Bytes bytes = {
      0xFE, 0x03, 0x10, 0xAA, 0xBB, 0xCC,  // long item with 3 data bytes
      0x76, 0x08, 0x00,                    // Report Size (8) in two bytes
      0x97, 0x02, 0x00, 0x00, 0x00,        // Report Count (2) in four bytes
      0x81, 0x02,
  };
  EXPECT_EQ(Parse(bytes), (HidReportLayout{false, 3, 0, 0}));
}

TEST(HidReportDescriptor, HugeSizesDoNotWrapAroundToSmallLengths) {
  // Four items of 2^31 × 2^31 bits add up to 2^64 bits, which wraps around to 0 in 64-bit
  // arithmetic; one more byte would then look like a 2-byte report.
  const Bytes bytes = {0x77, 0x00, 0x00, 0x00, 0x80, 0x97, 0x00, 0x00, 0x00, 0x80, 0x81, 0x02,
                       0x81, 0x02, 0x81, 0x02, 0x81, 0x02, 0x91, 0x02, 0x91, 0x02, 0x91, 0x02,
                       0x91, 0x02, 0x75, 0x08, 0x95, 0x01, 0x81, 0x02, 0x91, 0x02};
  const auto layout = Parse(bytes);
  ASSERT_TRUE(layout);
  EXPECT_GT(layout->input_length, 66u);
  EXPECT_GT(layout->output_length, 66u);
}

TEST(HidReportDescriptor, AnEmptyDescriptorHasNoReports) {
  EXPECT_EQ(Parse({}), (HidReportLayout{false, 0, 0, 0}));
}

TEST(HidReportDescriptor, MalformedDescriptorsAreRejected) {
  const std::vector<Bytes> malformed = {
      {0x75},                          // Report Size without its byte
      {0x75, 0x08, 0x96, 0x08},        // two-byte Report Count with one byte
      {0x95, 0x01, 0x77, 0x08, 0x00},  // four-byte Report Size with two bytes
      {0xFE},                          // long item without its size
      {0xFE, 0x04, 0x10, 0x01, 0x02},  // long item shorter than it says
      {0x85, 0x00, 0x81, 0x02},        // report ID 0
      {0x86, 0x00, 0x01, 0x81, 0x02},  // report ID 256
      {0xB4},                          // Pop without Push
  };
  for (const Bytes& bytes : malformed) {
    SCOPED_TRACE(::testing::PrintToString(bytes));
    EXPECT_FALSE(Parse(bytes));
  }
  EXPECT_FALSE(Parse(Bytes(17, 0xA4)));  // pushes beyond any sensible depth
}

TEST(HidReportDescriptor, EveryCutOfARealDescriptorStaysWithinItsBytes) {
  // Cuts between items parse (as fewer reports); cuts inside an item are rejected; no cut
  // makes the parser read beyond the end.
  for (const Bytes* full : {&kPlainEightByte, &kNumberedKeyboard, &kSixtyFourByte}) {
    for (std::size_t length = 0; length < full->size(); ++length) {
      const Bytes cut(full->begin(), full->begin() + length);
      const auto layout = Parse(cut);
      if (layout) {
        EXPECT_LE(layout->input_length, Parse(*full)->input_length);
        EXPECT_LE(layout->output_length, Parse(*full)->output_length);
      }
    }
  }
  // A cut inside the last Report Count of the plain descriptor is rejected.
  EXPECT_FALSE(Parse(Bytes(kPlainEightByte.begin(), kPlainEightByte.begin() + 17)));
}

}  // namespace
}  // namespace qelta
