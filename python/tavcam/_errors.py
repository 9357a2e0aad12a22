"""The package's exceptions."""


class TavcamError(Exception):
    """A library call failed.

    ``function`` is the library function, ``code`` the result it returned
    (for most calls 0; 2 for a name without a device index; 3 for a camera
    that reports itself busy). Errors found by the package itself before any
    call (a value outside a feature's range, a camera never initialised) are
    ``ValueError`` or ``TavcamError`` with ``code`` None.
    """

    def __init__(self, message, function=None, code=None):
        super().__init__(message)
        self.function = function
        self.code = code


class TavcamTimeout(TavcamError, TimeoutError):
    """A call did not finish within its timeout.

    A library call that outlives its timeout goes on in the background and
    holds its camera until it returns (the library bounds every request to a
    camera); the next call on that camera waits for it first.
    """


class CameraGone(TavcamError):
    """The camera went away while it was streaming or capturing: the
    library's reader ended by itself (an unplugged camera, or one whose
    reads kept failing)."""
