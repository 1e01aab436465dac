"""Classes of one block of the interface; the package imports the module when
one of them is first used, and the classes belong to the package."""

import _libfc
from _libfc_fields import describe_field as _field, record_initializer as _initializer

from ._addresses import AddressField as _address
from ._headers import EXTRA_BASES as _extra_bases
from ._record import _Record, text_repr as _text_repr
from ._sequence import _Sequence

_instance_method = _libfc.SWIG_PyInstanceMethod_New

# The class bodies take the module's functions from its dictionary: looking
# each one up as a module attribute costs several dictionary probes more.
_functions = vars(_libfc)
