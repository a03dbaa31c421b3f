"""A pull-request review from the findings on changed lines: one comment
per finding, with the fix `tessary fix` would write as a suggestion where
there is one, comments outside the diff's hunks moved to the summary."""
from tessary.rules import changes_model_fields, fix_grade, unsafe_fix_reasons


def comment_body(entry, catalogue, applied, reasons):
    """A finding as a review comment: its id, symbol and advice, and what to
    know about its fix."""
    msgid = entry["message-id"]
    body = f"**{msgid}** `{entry['symbol']}`: {entry['advice'] or catalogue.get(msgid, {}).get('description', '')}"
    grade = fix_grade(msgid)
    if grade == "unsafe" and applied:
        body += f"\n\nThis fix is unsafe: {reasons[msgid]}. Check it before you commit it."
    elif grade == "unsafe":
        body += f"\n\n`tessary fix --unsafe-fixes` can fix this; it is not suggested because {reasons[msgid]}."
    if grade and (applied or grade == "safe") and changes_model_fields(msgid):
        body += "\n\nRun `python manage.py makemigrations` after this fix."
    return body


def inside_hunks(comment, hunks):
    """Whether a review comment lies in one hunk of the pull request's
    diff, as GitHub requires of every comment of a review."""
    spans = hunks.get(comment["path"], ())
    if spans is None:  # a new file: every line is in the diff
        return True
    first = comment.get("start_line", comment["line"])
    return any(start <= first and comment["line"] <= end for start, end in spans)


def review_summary(entries, posted, outside):
    count = len(entries)
    fixable = sum(1 for c in posted if "suggestion\n" in c["body"])
    noun = "finding" if count == 1 else "findings"
    lines = [f"tessary found {count} {noun} on the lines this change touches"
             f" ({fixable} comment{'s' if fixable != 1 else ''} with a suggested fix)."
             if count else "tessary found nothing on the lines this change touches."]
    if outside:
        lines += ["", "Outside the lines this review can comment on:", ""]
        for comment in outside:
            where = comment["path"]
            if comment["line"]:
                first = comment.get("start_line", comment["line"])
                where += f":{first}" + (f"-{comment['line']}" if first != comment["line"] else "")
            body = comment["body"].replace("suggestion\n", "\n", 1)
            lines.append(f"- `{where}`: " + body.replace("\n", "\n  "))
    return "\n".join(lines)


def build_review(root, entries, catalogue, hunks, unsafe, environment):
    """The review of these advice entries: {event, body, comments}, with a
    comment per entry on a line, inside the hunks of `hunks` (None: the
    whole project), and the suggested fixes (`unsafe`: unsafe ones too)."""
    from tessary import meta
    from tessary.runner import project_django_version
    from tessary.staticanalysis import suggest, transformer

    reasons = unsafe_fix_reasons()
    whitelist, only_lines = {}, {}
    for entry in entries:
        grade = fix_grade(entry["message-id"])
        if grade == "safe" or (grade == "unsafe" and unsafe):
            whitelist.setdefault(entry["path"], set()).add(entry["message-id"])
            only_lines.setdefault(entry["path"], set()).add(entry["line"])
    fixed = {}
    if whitelist:
        import tessary.staticanalysis.shims  # noqa: F401

        result = transformer.fix_project(
            str(root), {path: sorted(ids) for path, ids in whitelist.items()}, meta.get_settings_modpath(str(root)),
            meta.get_code_style(str(root)), search_paths=environment["paths"], unsafe_fixes=unsafe,
            only_lines=only_lines, django_version=project_django_version(root, environment))
        fixed = {path: (result["originals"][path], text) for text, path in result["files"]}

    comments = [
        {"path": entry["path"], "line": entry["line"], "message-id": entry["message-id"],
         "body": comment_body(entry, catalogue, entry["message-id"] in whitelist.get(entry["path"], ()), reasons)}
        for entry in entries if entry["line"] > 0
    ]
    review_comments = suggest.review_from_fixed_texts(comments, "", fixed)
    posted, outside = [], []
    for comment in review_comments:
        if "start_line" in comment:
            comment["start_side"] = "RIGHT"
        (posted if hunks is None or inside_hunks(comment, hunks) else outside).append(comment)
    # A suggestion outside the diff (the load of the static tag library at
    # the top of a template) cannot be posted; the suggestions of the same
    # file that need it say so.
    needed = {}
    for comment in outside:
        if comment["body"].lstrip("`").startswith("suggestion\n"):
            needed.setdefault(comment["path"], []).append(comment.get("start_line", comment["line"]))
    for comment in posted:
        if comment["path"] in needed and "suggestion\n" in comment["body"]:
            lines = ", ".join(str(line) for line in needed[comment["path"]])
            comment["body"] += (f"\n\nThis suggestion needs a change at line {lines} of this file too, outside "
                                "the lines this review can comment on: see the review's summary.")
    # A finding with no line (a file that could not be read) goes to the summary.
    outside += [{"path": e["path"], "line": 0, "body": comment_body(e, catalogue, False, reasons)}
                for e in entries if e["line"] <= 0]
    return {"event": "COMMENT", "body": review_summary(entries, posted, outside), "comments": posted}
