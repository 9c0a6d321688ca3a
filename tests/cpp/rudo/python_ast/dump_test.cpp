#include <gtest/gtest.h>

#include "rudo/python_ast/build.h"
#include "rudo/python_ast/dump.h"

namespace rudo::python_ast {
namespace {

using namespace test;

// x = a + 1
Stmt assignment() {
    rudo::python_ast::List<Expr> targets;
    targets.push_back(name("x", r(0, 1), ExprContext::Store));
    return StmtAssign{.range = r(0, 9),
                      .targets = std::move(targets),
                      .value = ExprBinOp{.range = r(4, 9),
                                         .left = name("a", r(4, 5)),
                                         .op = Operator::Add,
                                         .right = int_literal(1, r(8, 9))}};
}

// def f(): pass
Stmt function() {
    return StmtFunctionDef{.range = r(0, 13),
                           .name = ident("f", r(4, 5)),
                           .parameters = Parameters{.range = r(5, 7)},
                           .body = body(pass(r(9, 13)))};
}

TEST(Dump, CompactForm) {
    EXPECT_EQ(dump(assignment()),
              "StmtAssign[0..9](targets=[ExprName[0..1](id=\"x\", ctx=Store)], "
              "value=ExprBinOp[4..9](left=ExprName[4..5](id=\"a\", ctx=Load), op=Add, "
              "right=ExprNumberLiteral[8..9](value=1)))");
    EXPECT_EQ(dump(function()),
              "StmtFunctionDef[0..13](is_async=false, name=\"f\"[4..5], "
              "parameters=Parameters[5..7], body=[StmtPass[9..13]])");
}

TEST(Dump, JsonFormKeepsEveryFieldInOrder) {
    EXPECT_EQ(dump_json(assignment()),
              R"({"_type": "StmtAssign", "range": [0, 9], "targets": [{"_type": "ExprName", )"
              R"("range": [0, 1], "id": "x", "ctx": "Store"}], "value": {"_type": "ExprBinOp", )"
              R"("range": [4, 9], "left": {"_type": "ExprName", "range": [4, 5], "id": "a", )"
              R"("ctx": "Load"}, "op": "Add", "right": {"_type": "ExprNumberLiteral", )"
              R"("range": [8, 9], "value": 1}}})");
    EXPECT_EQ(dump_json(function()),
              R"({"_type": "StmtFunctionDef", "range": [0, 13], "is_async": false, )"
              R"("decorator_list": [], "name": {"id": "f", "range": [4, 5]}, "type_params": null, )"
              R"("parameters": {"_type": "Parameters", "range": [5, 7], "posonlyargs": [], )"
              R"("args": [], "vararg": null, "kwonlyargs": [], "kwarg": null}, "returns": null, )"
              R"("body": [{"_type": "StmtPass", "range": [9, 13]}]})");
}

TEST(Dump, LiteralValues) {
    struct Case {
        Expr expr;
        std::string compact, json;
    };
    std::vector<Case> cases;
    cases.push_back(
        {ExprStringLiteral{
             .range = r(0, 10),
             .value = StringLiteralValue::concatenated(
                 {StringLiteral{.range = r(0, 5), .value = "a\"\n"},
                  StringLiteral{
                      .range = r(6, 10), .value = "\xc3\xa9", .flags = StringLiteralFlags(0x03)}})},
         "ExprStringLiteral[0..10](value=[StringLiteral[0..5](value=\"a\\\"\\n\"), "
         "StringLiteral[6..10](value=\"\xc3\xa9\", flags=DOUBLE_QUOTES|TRIPLE_QUOTED)])",
         R"({"_type": "ExprStringLiteral", "range": [0, 10], "value": [{"_type": )"
         R"("StringLiteral", "range": [0, 5], "value": "a\"\n", "flags": []}, )"
         R"({"_type": "StringLiteral", "range": [6, 10], "value": "é", "flags": )"
         R"(["DOUBLE_QUOTES", "TRIPLE_QUOTED"]}]})"});
    cases.push_back(
        {ExprBytesLiteral{.range = r(0, 9),
                          .value = BytesLiteralValue::single(
                              BytesLiteral{.range = r(0, 9), .value = NodeText("\xff\0a", 3)})},
         "ExprBytesLiteral[0..9](value=BytesLiteral[0..9](value=b\"\\xff\\x00a\"))",
         R"({"_type": "ExprBytesLiteral", "range": [0, 9], "value": {"_type": )"
         R"("BytesLiteral", "range": [0, 9], "value": "\u00ff\u0000a", "flags": []}})"});
    cases.push_back({ExprNumberLiteral{.range = r(0, 3), .value = 1.0},
                     "ExprNumberLiteral[0..3](value=1.0)",
                     R"({"_type": "ExprNumberLiteral", "range": [0, 3], "value": 1.0})"});
    cases.push_back({ExprNumberLiteral{.range = r(0, 4), .value = NumberLiteralComplex{0, 2.5}},
                     "ExprNumberLiteral[0..4](value=Complex(real=0.0, imag=2.5))",
                     R"({"_type": "ExprNumberLiteral", "range": [0, 4], "value": {"real": 0.0, )"
                     R"("imag": 2.5}})"});
    cases.push_back(
        {ExprNumberLiteral{.range = r(0, 20), .value = Int::big("18446744073709551616")},
         "ExprNumberLiteral[0..20](value=18446744073709551616)",
         R"({"_type": "ExprNumberLiteral", "range": [0, 20], "value": )"
         R"("18446744073709551616"})"});
    for (const Case& c : cases) {
        EXPECT_EQ(dump(c.expr), c.compact);
        EXPECT_EQ(dump_json(c.expr), c.json);
    }
}

// {**m, k: v} and f'{x=!r:>3}'
TEST(Dump, RecordsWithoutRangeAndInterpolations) {
    rudo::python_ast::List<DictItem> items;
    items.push_back(DictItem{.value = name("m", r(3, 4))});
    items.push_back(DictItem{.key = name("k", r(6, 7)), .value = name("v", r(9, 10))});
    Expr dict = ExprDict{.range = r(0, 11), .items = std::move(items)};
    EXPECT_EQ(dump(dict),
              "ExprDict[0..11](items=[DictItem(value=ExprName[3..4](id=\"m\", ctx=Load)), "
              "DictItem(key=ExprName[6..7](id=\"k\", ctx=Load), "
              "value=ExprName[9..10](id=\"v\", ctx=Load))])");
    EXPECT_EQ(
        dump_json(dict),
        R"({"_type": "ExprDict", "range": [0, 11], "items": [{"_type": "DictItem", "key": )"
        R"(null, "value": {"_type": "ExprName", "range": [3, 4], "id": "m", "ctx": "Load"}}, )"
        R"({"_type": "DictItem", "key": {"_type": "ExprName", "range": [6, 7], "id": "k", )"
        R"("ctx": "Load"}, "value": {"_type": "ExprName", "range": [9, 10], "id": "v", )"
        R"("ctx": "Load"}}]})");

    InterpolatedStringFormatSpec spec{.range = r(8, 10)};
    spec.elements.push_back(InterpolatedStringElementLiteral{.range = r(8, 10), .value = ">3"});
    FString f_string{.range = r(0, 12)};
    auto& interpolation =
        f_string.elements.emplace_back(std::in_place_type<InterpolatedStringElementInterpolation>);
    std::get<InterpolatedStringElementInterpolation>(interpolation) = {
        .range = r(2, 11),
        .expression = name("x", r(3, 4)),
        .debug_text = DebugText{.leading = "", .trailing = "="},
        .conversion = 'r',
        .format_spec = std::move(spec)};
    Expr f = ExprFString{.range = r(0, 12), .value = FStringValue::single(std::move(f_string))};
    EXPECT_EQ(dump(f),
              "ExprFString[0..12](value=FString[0..12](elements=["
              "InterpolatedStringElementInterpolation[2..11](expression=ExprName[3..4](id=\"x\", "
              "ctx=Load), debug_text=DebugText(leading=\"\", trailing=\"=\"), conversion=114, "
              "format_spec=InterpolatedStringFormatSpec[8..10](elements=["
              "InterpolatedStringElementLiteral[8..10](value=\">3\")]))]))");
    EXPECT_EQ(
        dump_json(f),
        R"({"_type": "ExprFString", "range": [0, 12], "value": {"_type": "FString", )"
        R"("range": [0, 12], "elements": [{"_type": "InterpolatedStringElementInterpolation", )"
        R"("range": [2, 11], "expression": {"_type": "ExprName", "range": [3, 4], "id": "x", )"
        R"("ctx": "Load"}, "debug_text": {"leading": "", "trailing": "="}, "conversion": 114, )"
        R"("format_spec": {"_type": "InterpolatedStringFormatSpec", "range": [8, 10], )"
        R"("elements": [{"_type": "InterpolatedStringElementLiteral", "range": [8, 10], )"
        R"("value": ">3"}]}}], "flags": []}})");
}

TEST(Dump, ListsAndEmptyNodes) {
    EXPECT_EQ(dump(rudo::python_ast::List<Stmt>{}), "[]");
    EXPECT_EQ(dump(body(pass(r(0, 4)), Stmt(StmtBreak{.range = r(5, 10)}))),
              "[StmtPass[0..4], StmtBreak[5..10]]");
    EXPECT_EQ(dump_json(Expr(ExprYield{.range = r(0, 5)})),
              R"({"_type": "ExprYield", "range": [0, 5], "value": null})");
    EXPECT_EQ(dump(Expr(ExprYield{.range = r(0, 5)})), "ExprYield[0..5]");
    ModModule module{.range = r(0, 4), .body = body(pass(r(0, 4)))};
    EXPECT_EQ(dump_json(module),
              R"({"_type": "ModModule", "range": [0, 4], "body": [{"_type": "StmtPass", )"
              R"("range": [0, 4]}]})");
}

}  // namespace
}  // namespace rudo::python_ast
