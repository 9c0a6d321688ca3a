import pytest

import quarn_rs


@pytest.fixture
def hooks():
    """The test-only entry points; absent from release builds."""
    if not hasattr(quarn_rs, "_raise_for_tests"):
        pytest.skip("quarn_rs was built without QUARN_TEST_HOOKS")
    return quarn_rs
