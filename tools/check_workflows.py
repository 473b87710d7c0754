#!/usr/bin/python3
"""Checks the forge's workflow files as far as they can be checked without the forge.

Each file parses and grants read-only permissions by default. A job may be granted more
(write) only when it runs for a pushed version tag alone, never in a manual run, and after
a job that checks the tag against the project's version (tools/release_version.sh) in
every run, manual ones included. A workflow whose jobs write, and so publish, runs for
version tags and by hand, and is never cancelled half-way; every other workflow cancels
the runs a newer push supersedes. Every action is pinned to a full commit, with its version
in a comment (`uses: owner/name@<40 hex digits> # v1.2.3`, read from the raw text, since
comments do not survive parsing), one commit per action across all files. The script of
every run step passes shellcheck.
"""
import pathlib
import re
import subprocess
import sys

import yaml

ROOT = pathlib.Path(__file__).resolve().parent.parent
# How shellcheck reads each shell the steps may use; MSYS2's shell is bash.
SHELLS = {"bash": "bash", "sh": "sh", "msys2 {0}": "bash"}
# A step's `uses:` line, as written: the action, and the comment after it.
USES_LINE = re.compile(r"^\s*(?:-\s+)?uses:\s*(?P<action>\S+)\s*(?:#\s*(?P<comment>.*))?$")
PINNED = re.compile(r"(?P<name>[\w.-]+/[\w./-]+)@(?P<commit>[0-9a-f]{40})")
VERSION = re.compile(r"v\d+(\.\d+){0,2}")
# What a job that writes must require, so that only a pushed version tag runs it.
TAG_ONLY = ("github.event_name == 'push'", "startsWith(github.ref, 'refs/tags/v')")
TAG_CHECK = "tools/release_version.sh"


def permissions(job, workflow):
    """The permissions a job has: its own, or the workflow's."""
    return job.get("permissions", workflow.get("permissions"))


def writes(job, workflow):
    granted = permissions(job, workflow)
    if isinstance(granted, str):
        return granted != "read-all"
    return any(value == "write" for value in (granted or {}).values())


def upstream(name, jobs):
    """The jobs that must finish before job NAME runs, however indirectly."""
    seen, todo = set(), [name]
    while todo:
        needs = jobs[todo.pop()].get("needs", [])
        for need in [needs] if isinstance(needs, str) else needs:
            if need not in seen:
                seen.add(need)
                todo.append(need)
    return seen


def checks_tag(job):
    """Whether the job, in every run, has a step that checks the tag."""
    return "if" not in job and any(
        "if" not in step and TAG_CHECK in step.get("run", "") for step in job["steps"])


def pinning(path, text, workflow, pins):
    """The problems of the actions' pins; PINS maps each action to (commit, version, where)
    over all files."""
    lines = [(number, USES_LINE.match(line)) for number, line in
             enumerate(text.splitlines(), 1)]
    lines = [(number, match) for number, match in lines if match]
    parsed = [step["uses"] for job in workflow["jobs"].values()
              for step in job.get("steps", []) if "uses" in step]
    if sorted(match["action"] for _, match in lines) != sorted(parsed):
        yield "its uses: lines are not all written as `uses: ACTION # VERSION`"
    for number, match in lines:
        action, comment = match["action"], (match["comment"] or "").strip()
        if action.startswith("./"):
            continue  # an action of this repository, at this commit
        pin = PINNED.fullmatch(action)
        if not pin:
            yield f"line {number}: {action} is not pinned to a full commit"
            continue
        if not VERSION.fullmatch(comment):
            yield f"line {number}: {action} has no version comment (# v1.2.3)"
            continue
        where = f"{path.name}:{number}"
        first = pins.setdefault(pin["name"], (pin["commit"], comment, where))
        if first[:2] != (pin["commit"], comment):
            yield (f"line {number}: {pin['name']} is pinned to {pin['commit']} ({comment}), "
                   f"but to {first[0]} ({first[1]}) at {first[2]}")


def problems(path, pins):
    text = path.read_text()
    try:
        workflow = yaml.safe_load(text)
    except yaml.YAMLError as error:
        yield f"does not parse: {error}"
        return
    if workflow.get("permissions") != {"contents": "read"}:
        yield "permissions must be read-only (contents: read)"
    jobs = workflow["jobs"]
    publishers = [name for name, job in jobs.items() if writes(job, workflow)]
    cancels = workflow.get("concurrency", {}).get("cancel-in-progress")
    if publishers:
        # YAML 1.1 reads the key `on` as true.
        triggers = workflow.get("on", workflow.get(True)) or {}
        tags = triggers.get("push", {}).get("tags") if isinstance(triggers, dict) else None
        if not tags or "workflow_dispatch" not in triggers:
            yield "a workflow that publishes must run for version tags and by hand"
        if cancels is not False:
            yield "a workflow that publishes must not be cancelled (cancel-in-progress: false)"
    elif cancels is not True:
        yield "superseded runs must be cancelled (concurrency: cancel-in-progress)"
    for name in publishers:
        condition = str(jobs[name].get("if", ""))
        if not all(part in condition for part in TAG_ONLY):
            yield (f"job {name} writes, so it must run for a pushed tag alone "
                   f"(if: {' && '.join(TAG_ONLY)})")
        if not any(checks_tag(jobs[need]) for need in upstream(name, jobs)):
            yield (f"job {name} writes, so it must come after a job that runs {TAG_CHECK} "
                   "in every run, manual ones included")
    yield from pinning(path, text, workflow, pins)
    shell = workflow.get("defaults", {}).get("run", {}).get("shell")
    for job_name, job in jobs.items():
        job_shell = job.get("defaults", {}).get("run", {}).get("shell", shell)
        for number, step in enumerate(job["steps"], 1):
            where = f"job {job_name}, step {number}"
            if "run" not in step:
                continue
            step_shell = step.get("shell", job_shell)
            if step_shell is None:  # the runner's default
                step_shell = "pwsh" if "windows" in str(job.get("runs-on")) else "bash"
            if step_shell not in SHELLS:
                yield f"{where}: a {step_shell} step cannot be checked here"
                continue
            lint = subprocess.run(["shellcheck", "--shell", SHELLS[step_shell], "-"],
                                  input=step["run"], text=True, capture_output=True)
            if lint.returncode != 0:
                yield f"{where} ({step.get('name', 'unnamed')}):\n{lint.stdout}{lint.stderr}"


def main():
    paths = sorted((ROOT / ".github" / "workflows").glob("*.yml"))
    failed = not paths
    pins = {}
    for path in paths:
        for problem in problems(path, pins):
            print(f"{path.relative_to(ROOT)}: {problem}", file=sys.stderr)
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
