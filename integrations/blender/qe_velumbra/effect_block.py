# SPDX-License-Identifier: GPL-2.0-or-later
"""The effect's parameter block as the velumbra command describes it
(`velumbra params --json`): the add-on takes the effect's own names from
it rather than keeping a copy that could drift."""

import json
import subprocess

# The answers of `params --json`, by binary; None when it could not run.
_cache = {}
# Why the last query failed, for the panel.
last_error = None

# Seconds the query may take: it only loads the module and prints.
_TIMEOUT = 20


def params(binary):
    """The effect's parameters by internal name (the JSON objects of
    `velumbra params --json`), or None when the command cannot tell."""
    global last_error
    if binary in _cache:
        return _cache[binary]
    result = None
    try:
        run = subprocess.run([binary, "params", "--json"], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                             text=True, timeout=_TIMEOUT)
        if run.returncode != 0:
            last_error = "velumbra params failed (exit status %d): %s" % (run.returncode, run.stderr.strip())
        else:
            result = {}
            for block in json.loads(run.stdout)["blocks"]:
                for p in block["params"]:
                    result[p["name"]] = p
            last_error = None
    except OSError as e:
        last_error = "cannot run the velumbra command %r: %s (set its path in the add-on's preferences)" % (
            binary, e.strerror)
    except subprocess.TimeoutExpired:
        last_error = "velumbra params gave no answer in %d s" % _TIMEOUT
    except (ValueError, KeyError, TypeError) as e:
        last_error = "velumbra params --json gave no parameter list: %s" % e
    _cache[binary] = result
    return result


def choices(binary, name, count):
    """Enum items (identifier, label, description, value) for the radio
    parameter `name`: the effect's labels, or numbered ones when the
    command cannot be asked (the value stays what the file holds)."""
    block = params(binary)
    labels = block.get(name, {}).get("choices") if block else None
    if not labels:
        labels = ["%s %d" % (name, i) for i in range(count)]
    return [(str(i), label, "%s %d" % (name, i), i) for i, label in enumerate(labels)]


def forget():
    """Drops the answers (the binary's path changed)."""
    _cache.clear()
