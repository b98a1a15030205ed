#include "update/display_text.h"

#include <gtest/gtest.h>

namespace qm::update {
namespace {

TEST(DisplayText, ReplacesControlsAndBrokenBytes) {
    struct Case {
        std::string in;
        std::string shown;
    } cases[] = {
        {"data/maps/town.map", "data/maps/town.map"},
        {"caf\xC3\xA9 \xE2\x82\xAC", "caf\xC3\xA9 \xE2\x82\xAC"},  // UTF-8 stays
        {"\x1b[2Jgone", "?[2Jgone"},                               // ESC
        {"a\rb\nc\td\x7f", "a?b?c?d?"},                            // C0 and DEL
        {"\xC2\x9B"
         "31m",
         "?31m"},  // C1 CSI as UTF-8
        {"\x9B"
         "31m",
         "?31m"},                 // lone C1 byte
        {"\xC0\xAF", "??"},       // overlong
        {"\xED\xA0\x80", "???"},  // surrogate
        {"\xE2\x82", "??"},       // cut sequence
        {std::string("a\0b", 3), "a?b"},
    };
    for (auto const& c : cases) {
        EXPECT_EQ(DisplayText(c.in), c.shown) << c.in;
    }
}

}  // namespace
}  // namespace qm::update
