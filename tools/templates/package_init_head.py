"""Python classes for the C records of _libfc.

Each class stands for one C record type: its attributes read and write the
record's fields in place, constructing it allocates a zero-filled record that
the instance owns, and pointers the module returns come back as instances of
these classes. bytes(record) and X.from_bytes(data) copy memory images;
mac(), ipv4() and ipv6() turn address texts into what the fields take.

Records behave as values: == compares class and bytes, copy.copy(),
copy.deepcopy() and pickle make independent records with the same bytes,
X(field=value, ...) sets fields in declaration order, and to_dict() and
X.from_dict() give and take plain data. Hardware address fields read as text
and take text, six bytes or mac(); an IP address field <f> also has <f>_addr,
the address as an ipaddress object, read and set.
"""

import _thread

import _libfc

# The package's functions and helpers, imported from its modules on first use.
_parts = {
    "Octets": "_addresses", "ipv4": "_addresses", "ipv6": "_addresses", "mac": "_addresses",
    "flows": "_cache", "hash_stats": "_cache", "inval_entries": "_cache", "stats": "_cache",
    "_Record": "_record", "_Sequence": "_sequence",
}
_modules = ("_addresses", "_cache", "_flow", "_record", "_sequence", "_walk")
