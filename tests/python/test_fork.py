"""os.fork() while the index's warm-up threads are inside files: the child starts without them
and with a usable index, exits normally, and the parent's warm-up carries on."""

import os
import resource
import subprocess
import sys

import pytest

from conftest import write_project

FILES = 60
RUNS = 3


def module_text(n):
    # 300 functions ahead of the one the checks look up, so that a worker spends a while in it.
    body = "".join(f"def f{k}(a, b: int) -> int:\n    return a + b\n" for k in range(300))
    return body + f"def g{n}(x):\n    return x\n"


# `case` says what the child does before it exits normally (never through os._exit):
# nothing, start the inherited index's warm-up, look up every file (those that the parent's
# workers were inside included), or warm up an index of its own.
SCRIPT = """\
import os, sys, time
import quarn_rs as q

paths, root, case = sys.argv[1:-2], sys.argv[-2], sys.argv[-1]

def check(index):
    for n, path in enumerate(paths):
        name = f"g{{n}}"
        found = index.function_ast_in_file(path, name)
        assert found is not None, path
        assert found.resolver_name_location == (600, 4, 600, 4 + len(name)), found.resolver_name_location
        assert found.args_in_order == ["x"]
        by_module = index.function_ast(f"pkg.m{{n}}", name)
        assert (by_module.module, by_module.resolver_name_location) == (f"pkg.m{{n}}", found.resolver_name_location)
        assert index.function_ast(f"pkg.m{{n}}", "g") is None

index = q.AstProjectIndex(paths, root)
index.nonblocking_start_index()
time.sleep(0.005)
pid = os.fork()
if pid == 0:
    if case == "start":
        index.nonblocking_start_index()
    elif case == "lookup":
        check(index)
    elif case == "own":
        own = q.AstProjectIndex(paths, root)
        own.nonblocking_start_index()
        check(own)
        check(index)
else:
    deadline = time.monotonic() + {timeout}
    while True:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            break
        if time.monotonic() > deadline:
            os.kill(pid, 9)
            os.waitpid(pid, 0)
            sys.exit("the child hung")
        time.sleep(0.01)
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"the child ended with {{code}}")
    check(index)
"""


@pytest.fixture(scope="module")
def project(tmp_path_factory):
    root = tmp_path_factory.mktemp("fork")
    return root, write_project(root, {f"pkg/m{n}.py": module_text(n) for n in range(FILES)})


UNDER_TSAN = "libtsan" in os.environ.get("LD_PRELOAD", "")


def big_main_stack():
    # Sanitized parses want more stack than the usual 8 MiB main thread has, and would move to a
    # helper thread; ThreadSanitizer cannot register new threads in the child of a threaded fork.
    soft, hard = resource.getrlimit(resource.RLIMIT_STACK)
    want = 64 << 20
    if soft != resource.RLIM_INFINITY and soft < want and (hard == resource.RLIM_INFINITY or hard >= want):
        resource.setrlimit(resource.RLIMIT_STACK, (want, hard))


@pytest.mark.parametrize("case", ["exit", "start", "lookup", "own"])
def test_fork_while_warm_up_threads_run(project, case):
    if case == "own" and UNDER_TSAN:
        pytest.skip("ThreadSanitizer cannot start threads in the child of a threaded fork")
    root, paths = project
    env = dict(os.environ)
    # The child of a threaded fork may start threads of its own.
    env["TSAN_OPTIONS"] = (env.get("TSAN_OPTIONS", "") + " die_after_fork=0").strip()
    script = SCRIPT.format(timeout=60)
    for _ in range(RUNS):
        done = subprocess.run([sys.executable, "-c", script, *paths, str(root), case],
                              capture_output=True, text=True, timeout=120, env=env,
                              preexec_fn=big_main_stack)
        assert (done.returncode, done.stderr) == (0, "")
