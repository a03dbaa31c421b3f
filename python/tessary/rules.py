"""The rule catalogue as the front end reads it: the rule registry of the
compiled modules, by id."""


def rule_catalogue():
    """{id: rule} for every finding tessary reports, in id order: the rule
    registry less the version advice (which --version-advice prints)."""
    from tessary.staticanalysis.helpers import RULES

    return {rule["id"]: rule for rule in sorted(RULES, key=lambda r: r["id"]) if rule["id"] != "C1000"}


def registry():
    from tessary.staticanalysis.helpers import RULES

    return {rule["id"]: rule for rule in RULES}


def fixable_ids():
    return frozenset(msgid for msgid, rule in registry().items() if rule["fix"])


def unsafe_fix_reasons():
    """{id: why its fix can change what the program does} for unsafe fixes."""
    return {msgid: rule["unsafe_because"] for msgid, rule in registry().items() if rule["unsafe_because"]}


def fix_grade(msgid):
    """"safe", "unsafe", or None when the finding has no automatic fix."""
    rule = registry().get(msgid)
    return rule["fix_grade"] if rule else None


def changes_model_fields(msgid):
    """Whether the fix of `msgid` changes what Django's migration
    autodetector sees (makemigrations is due after it)."""
    rule = registry().get(msgid)
    return bool(rule and rule["changes_model_fields"])
