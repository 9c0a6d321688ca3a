"""Types of the quarn_rs extension module, for editors and type checkers.

Locations are tuples (start line, start character, end line, end character), zero-based, with
characters counted in Unicode scalar values. Lookups that find nothing return None. Every call
raises TypeError for a missing, extra or wrongly typed argument.
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
    def field_name(self) -> str: ...
    @property
    def field_name_location(self) -> _Location: ...
    @property
    def comment(self) -> str | None: ...
    @property
    def description(self) -> str | None: ...
    @property
    def owner(self) -> str | None: ...
    @property
    def tags(self) -> list[str]: ...
    @property
    def annotation(self) -> _Location | None: ...
    @property
    def feature_call(self) -> _Location | None: ...
    @property
    def kwarg_names(self) -> dict[str, _Location]: ...
    @property
    def kwargs(self) -> dict[str, _Location]: ...

@final
class FeatureClassAST:
    """One feature class. Made only by the module."""

    @property
    def module(self) -> str: ...
    @property
    def namespace(self) -> str: ...
    @property
    def class_name(self) -> str: ...
    @property
    def source(self) -> str: ...
    @property
    def class_name_location(self) -> _Location: ...
    @property
    def class_definition_location(self) -> _Location: ...
    @property
    def decorator_location(self) -> _Location: ...
    @property
    def kwarg_names(self) -> dict[str, _Location]: ...
    @property
    def kwargs(self) -> dict[str, _Location]: ...
    @property
    def fields(self) -> dict[str, FeatureFieldAST]: ...
    @property
    def annotations(self) -> list[FeatureFieldAST]: ...

@final
class FunctionArgAST:
    """One parameter of a function. Made only by the module."""

    @property
    def arg_name(self) -> str: ...
    @property
    def arg_location(self) -> _Location: ...
    @property
    def annotation(self) -> _Location | None: ...

@final
class ResolverAST:
    """One function, resolver or not. Made only by the module."""

    @property
    def module(self) -> str: ...
    @property
    def resolver_name(self) -> str: ...
    @property
    def resolver_name_location(self) -> _Location: ...
    @property
    def decorator_location(self) -> _Location | None: ...
    @property
    def kwarg_names(self) -> dict[str, _Location]: ...
    @property
    def kwargs(self) -> dict[str, _Location]: ...
    @property
    def kwarg_dict_key_names(self) -> dict[str, dict[str, _Location]]: ...
    @property
    def kwarg_dict_values(self) -> dict[str, dict[str, _Location]]: ...
    @property
    def args_in_order(self) -> list[str]: ...
    @property
    def args(self) -> dict[str, FunctionArgAST]: ...
    @property
    def return_annotation(self) -> _Location | None: ...
    @property
    def missing_return_annotation(self) -> _Location | None: ...
    @property
    def return_statements(self) -> list[_Location]: ...
    @property
    def body(self) -> _Location | None: ...
    @property
    def return_arg(self) -> _Location | None: ...

@final
class AstProjectIndex:
    """The feature classes, resolvers and functions of a project, looked up by module or file.

    Reads nothing when built; a file that cannot be read or parsed is passed over by the lookups.
    Raises TypeError for an argument of the wrong type.
    """

    def __new__(
        cls, files: Sequence[str], project_root: str, filesystem: StdAstFileSystem | None = None
    ) -> AstProjectIndex: ...
    def feature_class_ast(self, /, module: str, class_name: str) -> FeatureClassAST | None: ...
    def feature_class_ast_in_file(
        self, /, file_path: str, class_name: str
    ) -> FeatureClassAST | None: ...
    def resolver_ast(self, /, module: str, resolver_name: str) -> ResolverAST | None: ...
    def resolver_ast_in_file(self, /, file_path: str, resolver_name: str) -> ResolverAST | None: ...
    def function_ast(self, /, module: str, function_name: str) -> ResolverAST | None: ...
    def function_ast_in_file(self, /, file_path: str, function_name: str) -> ResolverAST | None: ...
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
