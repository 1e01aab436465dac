# _libfc_ptr's methods written by hand, besides its output cells.

def cdata(pointer: _PointerArgument, size: int, /) -> bytes:
    """A copy of size bytes at pointer, within the block it addresses."""
def memmove(pointer: _PointerArgument, data: bytes, /) -> None:
    """Writes data at pointer, within the block it addresses."""
def as_voidp(pointer: _PointerArgument, /) -> _PointerResult:
    """An untyped view of the memory pointer addresses, as far as its known extent."""
def list_context(items: list[Any], /) -> _PointerResult:
    """A context for collect_handles that appends to items."""
