"""Advice text for every finding tessary reports.

One attribute per message id; ``{name}`` placeholders are filled from the
finding's argument map. Only message ids may be defined here: the driver
treats every public name of this module as an id with advice. The texts
are the rule registry's, read when the module is imported.
"""


def _advice():
    from tessary.staticanalysis.helpers import RULES

    return {rule["id"]: rule["advice"] for rule in RULES if rule["advice"]}


globals().update(_advice())
del _advice
