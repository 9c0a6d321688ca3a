#include <gtest/gtest.h>

#include "rudo/python_ast/nodes.h"
#include "rudo/python_ast/str_prefix.h"

namespace rudo::python_ast {
namespace {

namespace tf = token_flags;

enum class Target { Plain, Bytes, FString, TString };

// Every prefix the lexer produces, with its canonical display, the conversion that accepts it
// and the per-node prefix bits that conversion gives.
struct PrefixCase {
    TokenFlags bits;
    std::string_view display;
    Target target;
    uint8_t node_prefix_bits;
};
const PrefixCase PREFIXES[] = {
    {tf::B_PREFIX | tf::R_PREFIX_LOWER, "rb", Target::Bytes, 0x04},
    {tf::B_PREFIX | tf::R_PREFIX_UPPER, "Rb", Target::Bytes, 0x08},
    {tf::B_PREFIX, "b", Target::Bytes, 0x00},
    {tf::F_PREFIX | tf::R_PREFIX_LOWER, "rf", Target::FString, 0x04},
    {tf::F_PREFIX | tf::R_PREFIX_UPPER, "Rf", Target::FString, 0x08},
    {tf::F_PREFIX, "f", Target::FString, 0x00},
    {tf::T_PREFIX | tf::R_PREFIX_LOWER, "rt", Target::TString, 0x04},
    {tf::T_PREFIX | tf::R_PREFIX_UPPER, "Rt", Target::TString, 0x08},
    {tf::T_PREFIX, "t", Target::TString, 0x00},
    {tf::R_PREFIX_LOWER, "r", Target::Plain, 0x08},
    {tf::R_PREFIX_UPPER, "R", Target::Plain, 0x10},
    {0, "", Target::Plain, 0x00},
    {tf::U_PREFIX, "u", Target::Plain, 0x04},
};

// The UNTERMINATED bit of each target.
uint8_t unterminated_bit(Target target) {
    switch (target) {
        case Target::Plain:
            return 0x40;
        case Target::Bytes:
            return 0x20;
        default:
            return 0x10;
    }
}

std::string_view target_words(Target target) {
    switch (target) {
        case Target::Plain:
            return "a regular string";
        case Target::Bytes:
            return "a bytestring";
        case Target::FString:
            return "an f-string";
        case Target::TString:
            return "a t-string";
    }
    return "";
}

uint8_t convert(Target target, AnyStringFlags flags) {
    switch (target) {
        case Target::Plain:
            return StringLiteralFlags::from(flags).bits();
        case Target::Bytes:
            return BytesLiteralFlags::from(flags).bits();
        case Target::FString:
            return FStringFlags::from(flags).bits();
        case Target::TString:
            return TStringFlags::from(flags).bits();
    }
    return 0;
}

TEST(StringPrefix, DisplayIsCanonicalAndFoundByPrecedence) {
    for (const PrefixCase& c : PREFIXES) {
        AnyStringFlags flags(c.bits | tf::DOUBLE_QUOTES);
        EXPECT_EQ(flags.prefix().as_str(), c.display);
        EXPECT_EQ(fmt::format("{}", flags.prefix()), c.display);
        EXPECT_EQ(flags.prefix().flag_bits(), c.bits);
        EXPECT_EQ(AnyStringFlags::create(flags.prefix(), true, false), flags);
    }
    // Lower-case raw wins over upper case, and `u` counts only without a raw bit.
    EXPECT_EQ(AnyStringFlags(tf::R_PREFIX_LOWER | tf::R_PREFIX_UPPER).prefix().as_str(), "r");
    EXPECT_EQ(AnyStringFlags(tf::U_PREFIX | tf::R_PREFIX_UPPER).prefix().as_str(), "R");
    EXPECT_EQ(AnyStringFlags(tf::F_PREFIX | tf::B_PREFIX).prefix().as_str(), "f");
    EXPECT_EQ(AnyStringFlags(tf::T_PREFIX | tf::B_PREFIX).prefix().as_str(), "t");
    auto triple =
        AnyStringFlags::create(AnyStringPrefix{AnyStringPrefix::Kind::Bytes, 1}, false, true);
    EXPECT_EQ(triple.bits(), tf::B_PREFIX | tf::R_PREFIX_UPPER | tf::TRIPLE_QUOTED);
    // Only the nine string bits are kept from a token's flags.
    EXPECT_EQ(AnyStringFlags(0xFFFF).bits(), 0x1FF);
}

TEST(FlagNarrowing, EveryPrefixWithEveryQuoteStyle) {
    for (const PrefixCase& c : PREFIXES) {
        for (int extra = 0; extra < 8; ++extra) {
            TokenFlags bits = c.bits;
            uint8_t expected = c.node_prefix_bits;
            if (extra & 1) bits |= tf::DOUBLE_QUOTES, expected |= 0x01;
            if (extra & 2) bits |= tf::TRIPLE_QUOTED, expected |= 0x02;
            if (extra & 4) bits |= tf::UNTERMINATED, expected |= unterminated_bit(c.target);
            SCOPED_TRACE(fmt::format("prefix {:?} extra {}", c.display, extra));
            EXPECT_EQ(convert(c.target, AnyStringFlags(bits)), expected);
        }
    }
}

TEST(FlagNarrowing, WrongKindIsAnInternalInvariantFailure) {
    for (const PrefixCase& c : PREFIXES) {
        for (Target target : {Target::Plain, Target::Bytes, Target::FString, Target::TString}) {
            if (target == c.target) continue;
            std::string expected = fmt::format(
                "internal error: entered unreachable code: Should never attempt to convert {} "
                "into {}",
                c.display, target_words(target));
            try {
                convert(target, AnyStringFlags(c.bits));
                ADD_FAILURE() << "no failure converting " << c.display << " into "
                              << target_words(target);
            } catch (const quarn::Panic& panic) {
                EXPECT_EQ(panic.what(), expected);
            }
        }
    }
}

TEST(FlagNarrowing, DocumentedExamples) {
    // rf, double-quoted, triple-quoted, unterminated; then the same with Rf.
    TokenFlags quotes = tf::DOUBLE_QUOTES | tf::TRIPLE_QUOTED | tf::UNTERMINATED;
    EXPECT_EQ(FStringFlags::from(AnyStringFlags(quotes | tf::F_PREFIX | tf::R_PREFIX_LOWER)).bits(),
              0x01 | 0x02 | 0x04 | 0x10);
    EXPECT_EQ(FStringFlags::from(AnyStringFlags(quotes | tf::F_PREFIX | tf::R_PREFIX_UPPER)).bits(),
              0x01 | 0x02 | 0x08 | 0x10);
    EXPECT_EQ(StringLiteralFlags::from(AnyStringFlags(tf::U_PREFIX)).bits(), 0x04);
    EXPECT_EQ(StringLiteralFlags::from(AnyStringFlags(tf::R_PREFIX_UPPER)).bits(), 0x10);
    // Both raw bits: lower case wins; `u` with a raw bit is dropped.
    EXPECT_EQ(BytesLiteralFlags::from(
                  AnyStringFlags(tf::B_PREFIX | tf::R_PREFIX_LOWER | tf::R_PREFIX_UPPER))
                  .bits(),
              0x04);
    EXPECT_EQ(StringLiteralFlags::from(AnyStringFlags(tf::U_PREFIX | tf::R_PREFIX_LOWER)).bits(),
              0x08);
    EXPECT_EQ(BytesLiteralFlags::from(AnyStringFlags(tf::B_PREFIX | tf::UNTERMINATED)).bits(),
              0x20);
    EXPECT_EQ(BytesLiteralFlags::from(AnyStringFlags(tf::B_PREFIX))
                  .with(BytesLiteralFlags::INVALID)
                  .bits(),
              0x10);
    // The conversion never sets INVALID.
    EXPECT_FALSE(StringLiteralFlags::from(
                     AnyStringFlags(0x1FF & ~(tf::B_PREFIX | tf::F_PREFIX | tf::T_PREFIX)))
                     .contains(StringLiteralFlags::INVALID));
}

}  // namespace
}  // namespace rudo::python_ast
