_making = _thread.RLock()


def _made(name):
    with _making:
        cls = globals().get(name)
        if cls is None:
            block = __import__(_blocks[name], globals(), None, ("__all__",), 1)
            for made in block.__all__:
                globals()[made] = getattr(block, made)
            cls = globals()[name]
    return cls


def __getattr__(name):
    if name in _blocks:
        return _made(name)
    if name in _parts:
        value = getattr(__import__(_parts[name], globals(), None, (name,), 1), name)
        globals()[name] = value
        return value
    if name in _modules:
        return __import__(name, globals(), None, ("__name__",), 1)
    raise AttributeError("module %r has no attribute %r" % (__name__, name))


def __dir__():
    return sorted(set(globals()) | set(_blocks) | set(_parts))


class _Unmade:
    # Registered for a record type whose class is not made yet.
    __slots__ = ("name", "__swig_destroy__")

    def __new__(unmade):
        return object.__new__(_made(unmade.name))


def _stand_in(name, functions=vars(_libfc)):
    unmade = object.__new__(_Unmade)
    unmade.name = name
    unmade.__swig_destroy__ = functions["delete_" + name]
    functions[name + "_swigregister"](unmade)


for _name in __all__:
    _stand_in(_name)
del _name
