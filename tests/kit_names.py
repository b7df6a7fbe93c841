"""The kit's file names, read from tests/kit_names.h: the one place they are spelt.

    from kit_names import UPDATER, AVC_PAYLOAD, API_PAYLOAD, AVC_LIBRARY, API_LIBRARY
"""
import os
import re

_HEADER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "kit_names.h")


def read_names(header=_HEADER):
    """Every `inline const std::string NAME = "text";` of the header, as a dict."""
    with open(header, encoding="utf-8") as f:
        names = dict(re.findall(r'^inline const std::string (\w+) = "([^"\\]*)";$', f.read(), re.M))
    if not names:
        raise SystemExit(f"{header}: no names found")
    return names


_names = read_names()
UPDATER = _names["UPDATER"]
AVC_PAYLOAD = _names["AVC_PAYLOAD"]  # carries AVC_LIBRARY
API_PAYLOAD = _names["API_PAYLOAD"]  # carries API_LIBRARY
AVC_LIBRARY = _names["AVC_LIBRARY"]
API_LIBRARY = _names["API_LIBRARY"]
