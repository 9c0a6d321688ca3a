"""A typed user of quarn_rs that type checkers must accept as it is."""

import datetime
import zoneinfo

import quarn_rs


def owners(index: quarn_rs.AstProjectIndex, module: str, name: str) -> dict[str, str]:
    feature_class = index.feature_class_ast(module, name)
    if feature_class is None:
        return {}
    return {field.field_name: field.owner or "-" for field in feature_class.annotations}


def first_line(resolver: quarn_rs.ResolverAST) -> int:
    start_line, _start, _end_line, _end = resolver.resolver_name_location
    return start_line


def inputs(resolver: quarn_rs.ResolverAST) -> list[tuple[str, bool]]:
    return [(name, resolver.args[name].annotation is not None) for name in resolver.args_in_order]


def main() -> None:
    filesystem = quarn_rs.StdAstFileSystem(("a.py", "b.py"))
    cache = quarn_rs.AstFileParserCache([], "/project", filesystem=filesystem)
    path, source, imports = cache.get_parsed_file("a.py")
    local_names: list[str] = imports["quarn"]["online"]
    index = quarn_rs.AstProjectIndex(filesystem.all_files(), "/project", filesystem)
    index.nonblocking_start_index()
    print(owners(index, "billing.invoices", "Invoice"), path, len(source), local_names)
    resolver = index.resolver_ast_in_file("a.py", "total_due")
    if resolver is not None:
        print(first_line(resolver), inputs(resolver), resolver.decorator_location)
    day: datetime.date = quarn_rs.parse_iso_date("2024-01-31")
    at: datetime.datetime = quarn_rs.parse_datetime("Jan 31 2024 5pm")
    every: datetime.timedelta = quarn_rs.parse_iso_duration("PT90M")
    zone: zoneinfo.ZoneInfo | None = quarn_rs.timezone_from_name("Europe/Paris")
    print(day, at, every, zone, quarn_rs.duration_isoformat(every))
    print(quarn_rs.seconds_to_duration_string(90), quarn_rs.seconds_to_duration_string(1.5))
    print(quarn_rs.parse_duration_ms("1h30m") + quarn_rs.parse_duration_s("2m"))
    print(quarn_rs.build_namespaced_name(name=quarn_rs.to_snake_case("MyTeam")))
