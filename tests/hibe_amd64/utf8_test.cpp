#include "hibe_amd64/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace hibe_amd64 {
namespace {

TEST(Utf8Test, ValidTextsAndEachKindOfFault) {
    const struct {
        std::string text;
        bool valid;
    } cases[] = {
        {"", true},
        {"A/B\t~\x7f", true},
        {"\xC2\x80\xDF\xBF", true},                  // two bytes, lowest and highest
        {"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80", true},  // three bytes around the surrogates
        {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", true},  // four bytes, up to U+10FFFF
        {"\xEF\xBF\xBD", true},                      // U+FFFD itself
        {"A\xFF", false},                            // never a lead byte
        {"\x80", false},                             // stray continuation
        {"\xC0\xAF", false},                         // overlong lead
        {"\xE0\x9F\xBF", false},                     // overlong three bytes
        {"\xF0\x8F\xBF\xBF", false},                 // overlong four bytes
        {"\xED\xA0\x80", false},                     // surrogate U+D800
        {"\xF4\x90\x80\x80", false},                 // above U+10FFFF
        {"A\xE4\xB8", false},                        // cut at the end
        {"\xE4\xB8Z", false},                        // cut by an ASCII byte
    };
    for (const auto& c : cases) EXPECT_EQ(IsValidUtf8(c.text), c.valid) << c.text;
}

}  // namespace
}  // namespace hibe_amd64
