from typing import Any, Callable, NoReturn, Optional, Protocol, Union

class _SwigPyObject:
    """A C pointer: its address, its C type and whether it owns what it points to."""
    def own(self, value: bool = ...) -> bool: ...
    def disown(self) -> None: ...
    def acquire(self) -> None: ...
    def append(self, other: object) -> None: ...
    def next(self) -> object: ...
    def __int__(self) -> int: ...

class _Wrapper(Protocol):
    this: Any

# A pointer argument: a pointer object, an object holding one in `this` (an
# instance of a record class), or None for a null pointer.
_PointerArgument = Union[_SwigPyObject, _Wrapper, None]
# A pointer result: a pointer object or an instance of the class registered
# for its C type; None for a null pointer.
_PointerResult = Any
_Text = Union[str, _SwigPyObject, None]
_Callback = Union[_SwigPyObject, Callable[..., Any], None]

cvar: Any
