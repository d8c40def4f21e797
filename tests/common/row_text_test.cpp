#include "common/ascii_text.h"
#include "common/orv_param_lst.h"
#include "common/recycled_blocks.h"

#include <gtest/gtest.h>

#include <string>

namespace kestrel {
namespace {

// The word-at-a-time fold must agree with the byte-wise one for every byte value at every
// place of a word, in texts shorter than a word, of whole words and with a partial last word,
// copied or in place; and it must see a byte above 0x7F wherever it is.
TEST(AsciiLowerCopy, MatchesTheByteWiseFold) {
  for (std::size_t size : {1u, 7u, 8u, 13u, 16u, 21u}) {
    for (std::size_t at = 0; at < size; ++at) {
      for (int byte = 0; byte < 256; ++byte) {
        std::string text(size, 'Q');
        text[at] = static_cast<char>(byte);
        std::string expected = text;
        for (char& c : expected)
          c = AsciiLower(c);
        std::string out(size, '\0');
        const bool ascii = AsciiLowerCopy(text.data(), out.data(), size);
        ASSERT_EQ(out, expected) << size << " " << at << " " << byte;
        ASSERT_EQ(ascii, byte < 0x80) << size << " " << at << " " << byte;
        ASSERT_EQ(AsciiLowerCopy(text.data(), text.data(), size), ascii);
        ASSERT_EQ(text, expected);
      }
    }
  }
}

// Items made and freed while a string store is open give their long names and keys back to
// it and take them again, within its limits; names and keys read the same either way.
TEST(RecycledStrings, ItemsReuseTheBuffersOfTheirLongNames) {
  if (!StoresKeepFreedStorage())
    GTEST_SKIP() << "nothing is kept under AddressSanitizer";
  TRecycledStrings store(2, 40);
  const std::string long_name = "DATA_SOURCE_FULL_NAME";
  const char* first_buffer = nullptr;
  {
    const TStringRecyclingScope scope(&store);
    TorvParamsList list;
    list.Add(long_name, Variant(1));
    list.Add("Short", Variant(2));
    list.Add(std::string(50, 'X'), Variant(3)); // too long to be kept
    first_buffer = list.Items(0)->Name.data();
    list.Clear();
    EXPECT_EQ(store.Kept(), 2u); // the long name and its key; the longest and short ones not
    list.Add("Site_Sensor_Temperature", Variant(4));
    EXPECT_EQ(store.Kept(), 0u);
    const TorvParamsListItem* item = list.Items(0);
    EXPECT_EQ(item->Name, "Site_Sensor_Temperature");
    EXPECT_EQ(item->Key, "site_sensor_temperature");
    EXPECT_TRUE(item->Name.data() == first_buffer || item->Key.data() == first_buffer);
    EXPECT_EQ(list.IndexOf("SITE_SENSOR_TEMPERATURE"), 0);
  } // the list goes while the scope is open: its item's buffers are kept
  EXPECT_EQ(store.Kept(), 2u);
  TorvParamsList outside; // no scope: the heap as usual, the store untouched
  outside.Add(long_name, Variant(5));
  EXPECT_NE(outside.Items(0)->Name.data(), first_buffer);
  outside.Clear();
  EXPECT_EQ(store.Kept(), 2u);
}

} // namespace
} // namespace kestrel
