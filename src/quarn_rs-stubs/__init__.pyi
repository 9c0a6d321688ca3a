"""Types of the quarn_rs extension module, for editors and type checkers.

Locations are tuples (start line, start character, end line, end character), zero-based, with
characters counted in Unicode scalar values and lines ended only by "\r\n", "\r" and "\n" (not by
the other breaks str.splitlines() knows, such as a form feed); the end is just past the last
character. Lookups that find nothing return None. Every call raises TypeError for a missing,
extra or wrongly typed argument.
"""

import datetime
import zoneinfo
from collections.abc import Sequence
from typing import SupportsFloat, SupportsIndex, TypeAlias, final

__all__ = [
    "StdAstFileSystem",
    "AstFileParserCache",
    "FeatureFieldAST",
    "FeatureClassAST",
    "FunctionArgAST",
    "ResolverAST",
    "AstProjectIndex",
    "parse_duration_ms",
    "parse_duration_s",
    "seconds_to_duration_string",
    "parse_iso_date",
    "parse_iso_time",
    "parse_datetime",
    "parse_iso_duration",
    "duration_isoformat",
    "timezone_from_name",
    "to_snake_case",
    "build_namespaced_name",
]

# Not a runtime name: locations are plain tuples.
_Location: TypeAlias = tuple[int, int, int, int]

@final
class StdAstFileSystem:
    """The .py paths of `files` (sorted, duplicates removed) over the operating system's files.

    Raises TypeError when `files` is a str or not a sequence of str.
    """

    def __new__(cls, files: Sequence[str]) -> StdAstFileSystem: ...
    def read_to_string(self, /, path: str) -> str:
        """The text of any file, listed or not.

        Raises OSError ("... (os error N)", or for a file that is not UTF-8
        "stream did not contain valid UTF-8").
        """

    def all_files(self, /) -> list[str]:
        """The listed paths, filtered, sorted and without duplicates. Raises OSError."""

@final
class AstFileParserCache:
    """Reads and parses each file once, and keeps the outcome, failures included.

    `files` is ignored when `filesystem` is given (but still checked).
    Raises TypeError for an argument of the wrong type.
    """

    def __new__(
        cls, files: Sequence[str], project_root: str, filesystem: StdAstFileSystem | None = None
    ) -> AstFileParserCache: ...
    def all_files(self, /) -> list[str]:
        """The file system's paths. Raises OSError."""

    def get_parsed_file(self, /, path: str) -> tuple[str, str, dict[str, dict[str, list[str]]]]:
        """(path, source, {module: {imported name: sorted local names}}) of the top-level imports.

        Raises ValueError ("Failed to read ...", "Failed to parse ...") when the file cannot be
        read or parsed; the same path raises the same error again.
        """

@final
class FeatureFieldAST:
    """One field of a feature class. Made only by the module."""

    @property
    def field_name(self) -> str:
        """The name assigned or annotated."""

    @property
    def field_name_location(self) -> _Location:
        """Where the name stands."""

    @property
    def comment(self) -> str | None:
        """The own-line comments directly above the field (no blank line between), each without its
        leading `#`s and trimmed, joined by line feeds; None without such a block. The last block
        above any statement of the same name serves every record of that name."""

    @property
    def description(self) -> str | None:
        """The block's lines that are neither `:owner:` nor `:tags:` lines, joined by line feeds;
        None when there is no block or those lines hold only white space."""

    @property
    def owner(self) -> str | None:
        """The rest of the block's last `:owner:` line, trimmed ("" for `:owner:` alone); None
        without one."""

    @property
    def tags(self) -> list[str]:
        """The words of the block's `:tags:` lines, split at commas and white space, in order."""

    @property
    def annotation(self) -> _Location | None:
        """The annotation expression; None for a field that is only assigned."""

    @property
    def feature_call(self) -> _Location | None:
        """The value: of an annotated field only when it is a call (`x: int = feature(...)`), of an
        assigned field whatever it is (`x = 5`), the last assignment of the name winning; None for
        an annotation without a value or a call."""

    @property
    def kwarg_names(self) -> dict[str, _Location]:
        """Keyword name of the value's call -> where the keyword's name stands; {} when the value is
        not a call."""

    @property
    def kwargs(self) -> dict[str, _Location]:
        """Keyword name of the value's call -> where its value stands; {} when the value is not a
        call."""


@final
class FeatureClassAST:
    """One feature class. Made only by the module."""

    @property
    def module(self) -> str:
        """The dotted module name of the file."""

    @property
    def namespace(self) -> str:
        """The feature decorator's `name` keyword when it is a plain string, else the class name in
        snake_case."""

    @property
    def class_name(self) -> str:
        """The class's name."""

    @property
    def source(self) -> str:
        """The class's text, dedented, from the line of its first decorator to the line break after
        its last line."""

    @property
    def class_name_location(self) -> _Location:
        """Where the class name stands."""

    @property
    def class_definition_location(self) -> _Location:
        """The whole line that holds the class name, without its line feed."""

    @property
    def decorator_location(self) -> _Location:
        """The feature decorator's expression, without the `@`; never None."""

    @property
    def kwarg_names(self) -> dict[str, _Location]:
        """Keyword name of the decorator's call -> where the keyword's name stands; {} for a bare
        decorator."""

    @property
    def kwargs(self) -> dict[str, _Location]:
        """Keyword name of the decorator's call -> where its value stands; {} for a bare
        decorator."""

    @property
    def fields(self) -> dict[str, FeatureFieldAST]:
        """Field name -> its merged record: the first annotated statement of the name, with the
        value and keywords of its last assignment. A new dict of new records on every read."""

    @property
    def annotations(self) -> list[FeatureFieldAST]:
        """One record per annotated field statement, in source order, values of later assignments
        not merged in."""


@final
class FunctionArgAST:
    """One parameter of a function. Made only by the module."""

    @property
    def arg_name(self) -> str:
        """The parameter's name, without `*` or `**`."""

    @property
    def arg_location(self) -> _Location:
        """From the star or the name to the end of the annotation; a default is never part of it."""

    @property
    def annotation(self) -> _Location | None:
        """The annotation expression; None without one."""


@final
class ResolverAST:
    """One function, resolver or not. Made only by the module."""

    @property
    def module(self) -> str:
        """The dotted module name of the file."""

    @property
    def resolver_name(self) -> str:
        """The function's name."""

    @property
    def resolver_name_location(self) -> _Location:
        """Where the function's name stands."""

    @property
    def decorator_location(self) -> _Location | None:
        """The resolver decorator's expression, without the `@` (`online` or the whole call
        `online(...)`); None for a function that is not a resolver."""

    @property
    def kwarg_names(self) -> dict[str, _Location]:
        """Keyword name of the resolver decorator's call -> where the keyword's name stands; {} for
        a bare decorator or no resolver."""

    @property
    def kwargs(self) -> dict[str, _Location]:
        """Keyword name of the resolver decorator's call -> where its value stands; {} for a bare
        decorator or no resolver."""

    @property
    def kwarg_dict_key_names(self) -> dict[str, dict[str, _Location]]:
        """For a decorator keyword whose value is a dict display: keyword name -> (plain string key
        -> where the key stands). Keywords whose dict has no plain string key are left out."""

    @property
    def kwarg_dict_values(self) -> dict[str, dict[str, _Location]]:
        """The same shape as `kwarg_dict_key_names`, with where each key's value stands."""

    @property
    def args_in_order(self) -> list[str]:
        """The parameter names in order, a repeated name each time."""

    @property
    def args(self) -> dict[str, FunctionArgAST]:
        """Parameter name -> its record (of a repeated name, the last). New records on every
        read."""

    @property
    def return_annotation(self) -> _Location | None:
        """The annotation after `->`; None without one."""

    @property
    def missing_return_annotation(self) -> _Location | None:
        """Without a return annotation, the `:` that ends the header (one character), where one
        would be added; None when there is a return annotation."""

    @property
    def return_statements(self) -> list[_Location]:
        """Every `return` statement of the body, those of nested functions and classes included, in
        source order."""

    @property
    def body(self) -> _Location | None:
        """From the start of the first body statement to the end of the last one (None only for an
        empty body, which a parsed file never has)."""

    @property
    def return_arg(self) -> _Location | None:
        """The value of the first `return` directly in the body (not in a nested block); None when
        there is none or it has no value."""


@final
class AstProjectIndex:
    """The feature classes, resolvers and functions of a project, looked up by module or file.

    Reads nothing when built; a file that cannot be read or parsed is passed over by the lookups.
    Raises TypeError for an argument of the wrong type.
    """

    def __new__(
        cls, files: Sequence[str], project_root: str, filesystem: StdAstFileSystem | None = None
    ) -> AstProjectIndex: ...
    def feature_class_ast(self, /, module: str, class_name: str) -> FeatureClassAST | None:
        """The first feature class of that name in a file named `module` (dotted, from the root);
        None when there is none."""

    def feature_class_ast_in_file(
        self, /, file_path: str, class_name: str
    ) -> FeatureClassAST | None:
        """The first feature class of that name in that file (a path as listed); None when there
        is none."""

    def resolver_ast(self, /, module: str, resolver_name: str) -> ResolverAST | None:
        """The first resolver (a function with a resolver decorator) of that name in a file named
        `module`; None when there is none."""

    def resolver_ast_in_file(self, /, file_path: str, resolver_name: str) -> ResolverAST | None:
        """The first resolver of that name in that file; None when there is none."""

    def function_ast(self, /, module: str, function_name: str) -> ResolverAST | None:
        """The first function of that name, resolver or not, at any depth, in a file named `module`;
        None when there is none."""

    def function_ast_in_file(self, /, file_path: str, function_name: str) -> ResolverAST | None:
        """The first function of that name, resolver or not, in that file; None when there is
        none."""

    def nonblocking_start_index(self, /) -> None:
        """Parses every file on background threads, at most once per index; returns at once."""

def parse_duration_ms(s: str) -> int:
    """Milliseconds of a compact duration such as "1h30m". Raises ValueError."""

def parse_duration_s(s: str) -> int:
    """Seconds of a compact duration such as "1h30m". Raises ValueError."""

def seconds_to_duration_string(total_seconds: SupportsFloat | SupportsIndex) -> str:
    """A compact duration such as "1h30m". Raises TypeError for a non-number."""

def parse_iso_date(s: str) -> datetime.date:
    """An ISO 8601 date. Raises ValueError."""

def parse_iso_time(s: str) -> datetime.time:
    """An ISO 8601 time, naive or with a datetime.timezone. Raises ValueError."""

def parse_datetime(s: str) -> datetime.datetime:
    """An ISO 8601 or free-form date-time; a time alone is on today's date. Raises ValueError."""

def parse_iso_duration(s: str) -> datetime.timedelta:
    """An ISO 8601 duration.

    Raises ValueError for a malformed text, TypeError for year or month components and
    OverflowError for a duration that does not fit a timedelta.
    """

def duration_isoformat(tduration: datetime.timedelta) -> str:
    """The ISO 8601 form of a timedelta. Raises TypeError for anything else."""

def timezone_from_name(name: str) -> zoneinfo.ZoneInfo | None:
    """The zone of that name, or None when there is none (or the name is empty)."""

def to_snake_case(name: str) -> str:
    """The snake_case form of a class name."""

def build_namespaced_name(namespace: str | None = None, name: str | None = None) -> str:
    """The namespace's "::"-separated parts in snake_case, then the name as given, all joined
    by "::"."""
