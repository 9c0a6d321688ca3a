#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string_view>
#include <thread>
#include <vector>

#include "rudo/python_ast/build.h"
#include "rudo/python_ast/dump.h"
#include "rudo/python_ast/nodes.h"

namespace rudo::python_ast {
namespace {

using namespace test;

TEST(Identifier, ValidExactlyWhenNonEmpty) {
    EXPECT_FALSE(ident("", r(0, 0)).is_valid());
    EXPECT_TRUE(ident("x", r(0, 1)).is_valid());
    Identifier inline_id = ident(std::string(24, 'a'), r(0, 24));
    Identifier heap_id = ident(std::string(25, 'b'), r(0, 25));
    EXPECT_TRUE(inline_id.id.is_inline());
    EXPECT_FALSE(heap_id.id.is_inline());
    EXPECT_EQ(inline_id.as_str(), std::string(24, 'a'));
    EXPECT_EQ(heap_id.as_str(), std::string(25, 'b'));
}

// A name keeps up to 24 bytes inline whatever their last byte, and every text round-trips through
// copies and moves: empty, short, exactly 24 bytes, 24 bytes ending in a UTF-8 lead byte (kept
// elsewhere), multi-byte text and long text.
TEST(Name, EveryLengthRoundTripsThroughCopiesAndMoves) {
    const std::string lead_last = std::string(23, 'a') + "\xc3";
    const std::string cases[] = {"",
                                 "x",
                                 std::string(23, 'b'),
                                 std::string(24, 'c'),
                                 lead_last,
                                 "\xc3\xa9t\xc3\xa9",
                                 std::string(25, 'd'),
                                 std::string(300, 'e')};
    for (const std::string& text : cases) {
        SCOPED_TRACE(text.size());
        Name name(text);
        EXPECT_EQ(name.as_str(), text);
        EXPECT_EQ(name.size(), text.size());
        EXPECT_EQ(name.empty(), text.empty());
        EXPECT_EQ(name.is_inline(), text.size() < 24 || (text.size() == 24 && text != lead_last));
        Name copy = name;
        Name moved = std::move(copy);
        EXPECT_EQ(moved.as_str(), text);
        EXPECT_TRUE(copy.empty());
        Name assigned("zz");
        assigned = moved;
        EXPECT_EQ(assigned.as_str(), text);
        // A slice with more readable bytes after it reads the same text.
        const std::string padded = text + std::string(24, '!');
        EXPECT_EQ(Name(std::string_view(padded).substr(0, text.size()), padded.size()).as_str(),
                  text);
    }
}

// A tree's text round-trips through copies, moves and assignments on the heap and in an arena:
// a copy owns bytes of its own, a moved-from text is empty, embedded zero bytes are kept.
TEST(NodeText, EveryTextRoundTripsThroughCopiesAndMoves) {
    const std::string cases[] = {"", "x", std::string("a\0b", 3), std::string(300, 'e')};
    Arena arena(0);
    for (Arena* home : {static_cast<Arena*>(nullptr), &arena}) {
        ArenaScope scope(home);
        for (const std::string& text : cases) {
            SCOPED_TRACE(text.size());
            NodeText value(text);
            EXPECT_EQ(value, text);
            EXPECT_EQ(value.size(), text.size());
            EXPECT_EQ(value.empty(), text.empty());
            NodeText copy = value;
            EXPECT_EQ(copy, text);
            if (!text.empty()) {
                EXPECT_NE(copy.data(), value.data());
            }
            NodeText moved = std::move(copy);
            EXPECT_EQ(moved, text);
            EXPECT_TRUE(copy.empty());
            NodeText assigned("zz");
            assigned = moved;
            EXPECT_EQ(assigned, text);
            assigned = std::move(moved);
            EXPECT_EQ(assigned, text);
            EXPECT_TRUE(moved.empty());
        }
        // Written in place: the block may be longer than the text.
        NodeText written = NodeText::with_capacity(8);
        std::memcpy(written.buffer(), "abc", 3);
        written.resize(3);
        EXPECT_EQ(written, "abc");
        EXPECT_EQ(NodeText(written), "abc");
    }
}

TEST(NodeIndex, EveryNodeStartsUnassigned) {
    EXPECT_EQ(AtomicNodeIndex::NONE, 0xFFFFFFFEu);
    Expr e = name("x", r(0, 1));
    EXPECT_EQ(e.node_index(), 0xFFFFFFFEu);
    EXPECT_EQ(ident("x", r(0, 1)).node_index.load(), 0xFFFFFFFEu);
    EXPECT_EQ(Parameters{}.node_index.load(), 0xFFFFFFFEu);
    EXPECT_EQ(Stmt(StmtPass{}).node_index(), 0xFFFFFFFEu);
}

// def f(a, /, b, *c, d, **e)
TEST(Parameters, IterYieldsSourceOrderAndTellsBareFromDefaulted) {
    auto param = [](std::string_view id, TextSize at) {
        return Parameter{.range = r(at, at + 1), .name = ident(id, r(at, at + 1))};
    };
    auto with_default = [&](std::string_view id, TextSize at) {
        return ParameterWithDefault{.range = r(at, at + 1), .parameter = param(id, at)};
    };
    Parameters parameters{.range = r(5, 26)};
    parameters.posonlyargs.push_back(with_default("a", 6));
    parameters.args.push_back(with_default("b", 12));
    parameters.vararg = param("c", 16);
    parameters.kwonlyargs.push_back(with_default("d", 19));
    parameters.kwarg = param("e", 24);

    std::vector<std::pair<std::string, bool>> seen;
    for (AnyParameterRef item : parameters.iter()) {
        seen.emplace_back(std::string(item.parameter().name.as_str()), item.is_with_default());
    }
    std::vector<std::pair<std::string, bool>> expected = {
        {"a", true}, {"b", true}, {"c", false}, {"d", true}, {"e", false}};
    EXPECT_EQ(seen, expected);
    EXPECT_EQ(parameters.len(), 5u);

    Parameters empty;
    EXPECT_EQ(empty.iter().begin(), empty.iter().end());
    Parameters only_kwarg;
    only_kwarg.kwarg = param("kw", 3);
    std::vector<std::string> names;
    for (AnyParameterRef item : only_kwarg.iter())
        names.emplace_back(item.parameter().name.as_str());
    EXPECT_EQ(names, std::vector<std::string>{"kw"});
}

TEST(UnaryOp, DisplayAndNames) {
    struct Case {
        UnaryOp op;
        std::string_view display, name;
    };
    for (Case c : {Case{UnaryOp::Invert, "~", "Invert"}, Case{UnaryOp::Not, "not", "Not"},
                   Case{UnaryOp::UAdd, "+", "UAdd"}, Case{UnaryOp::USub, "-", "USub"}}) {
        EXPECT_EQ(display(c.op), c.display);
        EXPECT_EQ(fmt::format("{}", c.op), c.display);
        EXPECT_EQ(name(c.op), c.name);
    }
}

TEST(Enumerations, ValuesAreTheDocumentedOnes) {
    EXPECT_EQ(static_cast<int>(BoolOp::Or), 1);
    EXPECT_EQ(static_cast<int>(CmpOp::NotIn), 9);
    EXPECT_EQ(static_cast<int>(Operator::FloorDiv), 12);
    EXPECT_EQ(static_cast<int>(ExprContext::Invalid), 3);
    EXPECT_EQ(static_cast<int>(Singleton::False), 2);
    EXPECT_EQ(name(CmpOp::IsNot), "IsNot");
    EXPECT_EQ(name(Operator::MatMult), "MatMult");
    EXPECT_EQ(name(Operator::BitXor), "BitXor");
}

TEST(KindSets, NumberedInDocumentedOrder) {
    EXPECT_EQ(std::variant_size_v<StmtVariant>, 24u);
    EXPECT_EQ(std::variant_size_v<ExprVariant>, 32u);
    EXPECT_EQ(std::variant_size_v<PatternVariant>, 8u);
    EXPECT_EQ(std::variant_size_v<TypeParamVariant>, 3u);
    EXPECT_EQ(Stmt(StmtContinue{}).index(), 23u);
    EXPECT_EQ(Stmt(StmtTry{}).index(), 14u);
    EXPECT_EQ(Expr(ExprCall{}).index(), 16u);
    EXPECT_EQ(Expr(ExprSlice{}).index(), 31u);
    EXPECT_EQ(Expr(ExprName{}).kind_name(), "ExprName");
    EXPECT_EQ(Pattern(PatternMatchOr{}).index(), 7u);
    EXPECT_EQ(TypeParam(TypeParamParamSpec{}).index(), 2u);
}

StringLiteral part(std::string_view value, TextSize start) {
    auto end = static_cast<TextSize>(start + value.size() + 2);
    return StringLiteral{.range = r(start, end), .value = NodeText(value)};
}

TEST(StringValues, ConcatenationNeedsTwoParts) {
    auto panics_with = [](auto make, std::string_view message) {
        try {
            make();
            ADD_FAILURE() << "no panic for " << message;
        } catch (const quarn::Panic& panic) {
            EXPECT_EQ(panic.what(), message);
        }
    };
    panics_with([] { StringLiteralValue::concatenated({part("a", 0)}); },
                "Use `StringLiteralValue::single` to create single-part strings");
    panics_with([] { BytesLiteralValue::concatenated({}); },
                "Use `BytesLiteralValue::single` to create single-part bytestrings");
    panics_with([] { FStringValue::concatenated({FString{}}); },
                "Use `FStringValue::single` to create single-part f-strings");
    panics_with([] { TStringValue::concatenated({TString{}}); },
                "Use `TStringValue::single` to create single-part t-strings");
}

TEST(StringValues, JoinedTextOfConcatenationIsComputedOnceAndKeptByCopies) {
    auto value = StringLiteralValue::concatenated({part("ab", 0), part("", 5), part("cd", 8)});
    EXPECT_TRUE(value.is_implicit_concatenated());
    EXPECT_EQ(value.parts().size(), 3u);
    EXPECT_FALSE(value.is_joined());
    StringLiteralValue unjoined_copy = value;

    std::string_view first = value.to_str();
    EXPECT_EQ(first, "abcd");
    EXPECT_TRUE(value.is_joined());
    EXPECT_EQ(value.to_str().data(), first.data());  // the same text, not joined again

    StringLiteralValue copy = value;
    EXPECT_TRUE(copy.is_joined());
    EXPECT_EQ(copy.to_str(), "abcd");
    EXPECT_NE(copy.to_str().data(), first.data());  // the copy owns its own text
    EXPECT_FALSE(unjoined_copy.is_joined());
    EXPECT_EQ(unjoined_copy.to_str(), "abcd");

    auto single = StringLiteralValue::single(part("xyz", 0));
    EXPECT_FALSE(single.is_implicit_concatenated());
    EXPECT_EQ(single.to_str(), "xyz");
}

TEST(StringValues, ConcurrentFirstRequestsAgreeOnOneText) {
    for (int round = 0; round < 20; ++round) {
        auto value = StringLiteralValue::concatenated({part("left ", 0), part("right", 8)});
        std::vector<const char*> seen(8);
        std::vector<std::thread> threads;
        for (size_t i = 0; i < seen.size(); ++i) {
            threads.emplace_back([&, i] { seen[i] = value.to_str().data(); });
        }
        for (auto& thread : threads)
            thread.join();
        for (const char* text : seen)
            EXPECT_EQ(text, seen[0]);
        EXPECT_EQ(value.to_str(), "left right");
    }
}

TEST(StringValues, BytesJoinAllParts) {
    auto value = BytesLiteralValue::concatenated({BytesLiteral{.range = r(0, 4), .value = "a"},
                                                  BytesLiteral{.range = r(5, 10), .value = "bc"}});
    EXPECT_EQ(value.bytes(), "abc");
}

TEST(DeepCopy, KeepsEveryFieldRangeFlagAndIndex) {
    Stmt original = StmtFunctionDef{
        .range = r(0, 40),
        .is_async = true,
        .decorator_list = {Decorator{.range = r(0, 2), .expression = name("d", r(1, 2))}},
        .name = ident("f", r(13, 14)),
        .parameters =
            Parameters{
                .range = r(14, 20),
                .args = {ParameterWithDefault{
                    .range = r(15, 19),
                    .parameter = Parameter{.range = r(15, 16), .name = ident("a", r(15, 16))},
                    .default_ = int_literal(1, r(18, 19))}}},
        .returns = name("int", r(24, 27)),
        .body = body(expr_stmt(Expr(ExprStringLiteral{
            .range = r(29, 40),
            .value = StringLiteralValue::concatenated(
                {StringLiteral{.range = r(29, 33),
                               .value = "ab",
                               .flags = StringLiteralFlags(StringLiteralFlags::DOUBLE_QUOTES)},
                 StringLiteral{.range = r(34, 40),
                               .value = "c",
                               .flags = StringLiteralFlags(StringLiteralFlags::U_PREFIX)}})})))};
    const auto& string_value =
        std::get<ExprStringLiteral>(
            *std::get<StmtExpr>(std::get<StmtFunctionDef>(original).body[0]).value)
            .value;
    EXPECT_EQ(string_value.to_str(), "abc");

    Stmt copy = original;
    EXPECT_EQ(dump_json(copy), dump_json(original));
    const auto& def = std::get<StmtFunctionDef>(copy);
    EXPECT_TRUE(def.is_async);
    EXPECT_EQ(def.range, r(0, 40));
    EXPECT_EQ(def.parameters->args[0].default_->range(), r(18, 19));
    EXPECT_NE(def.parameters.get(), std::get<StmtFunctionDef>(original).parameters.get());
    const auto& copied_value =
        std::get<ExprStringLiteral>(*std::get<StmtExpr>(def.body[0]).value).value;
    EXPECT_TRUE(copied_value.is_joined());
    EXPECT_EQ(copied_value.parts()[0].flags.bits(), StringLiteralFlags::DOUBLE_QUOTES);
    EXPECT_EQ(copied_value.parts()[1].range, r(34, 40));
    EXPECT_EQ(def.node_index.load(), AtomicNodeIndex::NONE);
    EXPECT_EQ(def.name.node_index.load(), AtomicNodeIndex::NONE);

    // A list of statements copies deeply too, and assignment replaces the old tree.
    rudo::python_ast::List<Stmt> suite = body(std::move(copy), pass(r(41, 45)));
    rudo::python_ast::List<Stmt> suite_copy = suite;
    EXPECT_EQ(dump(suite_copy), dump(suite));
    suite_copy[1] = suite_copy[0];
    EXPECT_EQ(dump(suite_copy[1]), dump(suite[0]));
}

// A moved-from node of the three nesting kinds holds nothing: it is a payload-free leaf, and the
// moved-to node owns the very subtree the source had.
TEST(Moves, LeaveAPayloadFreeLeafBehind) {
    Expr call = ExprCall{.range = r(0, 4),
                         .func = name("f", r(0, 1)),
                         .arguments = Arguments{.range = r(1, 4), .args = {name("x", r(2, 3))}}};
    const Expr* func = std::get<ExprCall>(call).func.get();
    Expr moved = std::move(call);
    EXPECT_TRUE(call.is<ExprNoneLiteral>());
    EXPECT_EQ(std::get<ExprCall>(moved).func.get(), func);
    Expr assigned = name("y", r(9, 10));
    assigned = std::move(moved);
    EXPECT_TRUE(moved.is<ExprNoneLiteral>());
    EXPECT_EQ(std::get<ExprCall>(assigned).func.get(), func);

    Stmt loop =
        StmtWhile{.range = r(0, 20), .test = name("x", r(6, 7)), .body = body(pass(r(9, 13)))};
    Stmt moved_loop = std::move(loop);
    EXPECT_TRUE(loop.is<StmtPass>());
    EXPECT_EQ(std::get<StmtWhile>(moved_loop).body.size(), 1u);

    Pattern alternatives = PatternMatchOr{
        .range = r(0, 5),
        .patterns = {
            Pattern(PatternMatchValue{.range = r(0, 1), .value = int_literal(1, r(0, 1))}),
            Pattern(PatternMatchValue{.range = r(4, 5), .value = int_literal(2, r(4, 5))})}};
    Pattern moved_pattern = std::move(alternatives);
    EXPECT_TRUE(alternatives.is<PatternMatchSingleton>());
    EXPECT_EQ(std::get<PatternMatchOr>(moved_pattern).patterns.size(), 2u);
}

// A moved-from node is a fresh leaf: no range, no index, whatever the source held.
TEST(Moves, LeaveAFreshLeafWithoutRangeOrIndex) {
    Expr source = ExprName{.node_index = AtomicNodeIndex(7),
                           .range = r(3, 40),
                           .id = Name("a_name_longer_than_the_inline_capacity"),
                           .ctx = ExprContext::Store};
    Expr moved = std::move(source);
    ASSERT_TRUE(source.is<ExprNoneLiteral>());
    EXPECT_EQ(source.range(), TextRange());
    EXPECT_EQ(source.node_index(), AtomicNodeIndex::NONE);
    EXPECT_EQ(dump(moved),
              "ExprName[3..40](id=\"a_name_longer_than_the_inline_capacity\", ctx=Store)");
    EXPECT_EQ(moved.node_index(), 7u);
}

// Building a node in the place of another first ends what the old one held, however deep (a
// leak or a recursion here fails under the sanitizers or overflows the stack).
TEST(Moves, EmplaceNodeEndsTheOldNodeFirst) {
    struct Case {
        std::string_view name;
        std::function<Expr()> old;
    };
    const std::vector<Case> cases = {
        {"leaf", [] { return Expr(ExprNoneLiteral{.range = r(0, 4)}); }},
        {"name held apart",
         [] { return name("a_name_longer_than_the_inline_capacity", r(0, 38)); }},
        {"call",
         [] {
             return Expr(
                 ExprCall{.range = r(0, 4),
                          .func = name("f", r(0, 1)),
                          .arguments = Arguments{.range = r(1, 4), .args = {name("x", r(2, 3))}}});
         }},
        {"deep unary chain",
         [] {
             Expr e = name("z", r(0, 1));
             for (int i = 0; i < 100'000; ++i)
                 e = ExprUnaryOp{.range = r(0, 1), .op = UnaryOp::USub, .operand = std::move(e)};
             return e;
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Expr slot = c.old();
        ExprBinOp& node = slot.emplace_node<ExprBinOp>(ExprBinOp{.range = r(0, 5),
                                                                 .left = name("a", r(0, 1)),
                                                                 .op = Operator::Add,
                                                                 .right = name("b", r(4, 5))});
        EXPECT_EQ(&node, slot.as<ExprBinOp>());
        EXPECT_EQ(dump(slot),
                  "ExprBinOp[0..5](left=ExprName[0..1](id=\"a\", ctx=Load), op=Add, "
                  "right=ExprName[4..5](id=\"b\", ctx=Load))");
    }
}

}  // namespace
}  // namespace rudo::python_ast
