# Every module built from the runtime has these; module entry sets their
# docstrings.

def SWIG_PyInstanceMethod_New(function: Callable[..., Any], /) -> Any: ...
