"""Internal-invariant failures and other C++ exceptions reaching Python."""

import pytest


def test_panic_becomes_panic_exception(hooks, capfd):
    with pytest.raises(BaseException) as raised:
        try:
            hooks._raise_for_tests("panic", "invariant broken")
        except Exception:  # must not catch it
            pytest.fail("PanicException was caught as an Exception")
    panic_type = type(raised.value)
    assert panic_type.__name__ == "PanicException"
    assert panic_type.__module__ == "pyo3_runtime"
    assert panic_type.__qualname__ == "PanicException"
    assert panic_type.__bases__ == (BaseException,)
    assert not issubclass(panic_type, Exception)
    assert raised.value.args == ("invariant broken",)
    assert "invariant broken" in capfd.readouterr().err


def test_panic_exception_type_is_made_once(hooks):
    types = set()
    for _ in range(3):
        with pytest.raises(BaseException) as raised:
            hooks._raise_for_tests("unreachable", "x")
        types.add(type(raised.value))
        assert raised.value.args == ("internal error: entered unreachable code: x",)
    assert len(types) == 1


@pytest.mark.parametrize(
    "kind,message", [("runtime_error", "from the core"), ("int", "unknown C++ exception")]
)
def test_other_cpp_exceptions_become_panic_exception(hooks, kind, message):
    with pytest.raises(BaseException) as raised:
        hooks._raise_for_tests(kind, "from the core")
    assert type(raised.value).__name__ == "PanicException"
    assert raised.value.args == (message,)


def test_allocation_failure_becomes_memory_error(hooks):
    with pytest.raises(MemoryError):
        hooks._raise_for_tests("bad_alloc", "")


def test_the_module_works_after_a_panic(hooks):
    with pytest.raises(BaseException):
        hooks._raise_for_tests("panic", "once")
    assert hooks._raise_for_tests("nothing", "") is None
    assert hooks.to_snake_case("AfterPanic") == "after_panic"
