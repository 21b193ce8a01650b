"""Counting checks for the Windows check scripts (check_decode.py, check_tool.py)."""


class Checks:
    """Counts passed and failed checks; a failed one is printed with what it checked.

    Use an instance as the check itself: `check(ok, "what")` returns `ok`.
    """

    def __init__(self, indent=""):
        self.passed = 0
        self.failed = 0
        self.indent = indent

    def __call__(self, ok, what):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print(f"{self.indent}FAILED: {what}")
        return ok

    def summary(self, name):
        """Prints the closing "NAME: N passed, N failed" line; the exit code."""
        print(f"{name}: {self.passed} passed, {self.failed} failed")
        return 0 if self.failed == 0 else 1
