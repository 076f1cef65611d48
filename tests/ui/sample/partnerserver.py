#!/usr/bin/python3
"""tests/runner/ftpserver.py taught the samples' SITE parameters:
accepted lines go to $ZUL_SITE_LOG, others get 501 as a partner answers."""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "runner"))
import ftpserver  # noqa: E402


# Parameter: check of its value, or None for one that takes no value.
PARAMETERS = {
    "NAMEFMT": lambda v: v in ("0", "1"),
    "RECFM": lambda v: v.upper() in ("F", "FB", "V", "VB", "U", "FBA", "VBA"),
    "LRECL": str.isdigit,
    "BLKSIZE": str.isdigit,
    "PRIMARY": str.isdigit,
    "SECONDARY": str.isdigit,
    "TRACKS": None,
    "CYLINDERS": None,
}
# Parameters whose value may follow as a separate word ("namefmt 1").
SPACED = ("NAMEFMT",)


def problem(arg):
    words = arg.split()
    i = 0
    while i < len(words):
        key, sep, value = words[i].partition("=")
        key = key.upper()
        if key not in PARAMETERS:
            return "unknown SITE parameter %s" % key
        check = PARAMETERS[key]
        if not sep and key in SPACED and i + 1 < len(words):
            i += 1
            value, sep = words[i], "="
        if check is None:
            if sep:
                return "%s takes no value" % key
        elif not sep or not check(value):
            return "bad value for %s" % key
        i += 1
    return None


class PartnerHandler(ftpserver.FaultyHandler):
    def pre_process_command(self, line, cmd, arg):
        if cmd != "SITE" or not arg or arg.split()[0].partition("=")[0].upper() not in PARAMETERS:
            return super().pre_process_command(line, cmd, arg)
        if not self.authenticated:
            self.respond("530 Log in with USER and PASS first.")
            return
        why = problem(arg)
        if why:
            self.respond("501 " + why + ".")
            return
        log = os.environ.get("ZUL_SITE_LOG")
        if log:
            with open(log, "a") as f:
                f.write("SITE " + arg + "\n")
        self.respond("200 SITE command was accepted.")


ftpserver.FaultyHandler = PartnerHandler

if __name__ == "__main__":
    ftpserver.main()
