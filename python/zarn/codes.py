"""The codes by name, as the C header names them without its ZARN_ prefix.

    zarn.codes.OK                  0
    zarn.codes.E_NO_CONNECTION     38, "Connection: There is no connection!"
    zarn.codes.E_ALARM_ACTIVE      100, "Motion: The drive reports an alarm."

The names and values come from include/zarn/zarn_errors.h when the package is built.
"""
from . import _tables

globals().update({name[len("ZARN_") :]: code for name, code in _tables.NAMES.items()})
