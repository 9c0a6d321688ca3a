// Function and class definitions, parameters and type parameters.
//
// Stub: each construct records that it is not supported yet.
#include "rudo/python_parser/parser/parser.h"

namespace rudo::python_parser {

StmtFunctionDef Parser::parse_function_definition(std::vector<Decorator> decorators,
                                                  TextSize start) {
    unsupported("A function definition");
    return StmtFunctionDef{.range = node_range(start),
                           .decorator_list = std::move(decorators),
                           .name = Identifier{.id = python_ast::Name(""), .range = node_range(start)},
                           .parameters = Parameters{.range = node_range(start)}};
}

StmtClassDef Parser::parse_class_definition(std::vector<Decorator> decorators, TextSize start) {
    unsupported("A class definition");
    return StmtClassDef{.range = node_range(start),
                        .decorator_list = std::move(decorators),
                        .name = Identifier{.id = python_ast::Name(""), .range = node_range(start)}};
}

Parameters Parser::parse_parameters(FunctionKind) {
    const TextSize start = current_token_range().start();
    unsupported("A parameter list");
    return Parameters{.range = node_range(start)};
}

std::optional<TypeParams> Parser::try_parse_type_params() {
    if (!at(TokenKind::Lsqb)) return std::nullopt;
    const TextSize start = current_token_range().start();
    unsupported("A type parameter list");
    return TypeParams{.range = node_range(start)};
}

}  // namespace rudo::python_parser
