#!/usr/bin/python3
"""Checks the forge's workflow files as far as they can be checked without the forge: each
parses, grants read-only permissions, cancels superseded runs and pins its actions by major
version, and the script of every run step passes shellcheck."""
import pathlib
import re
import subprocess
import sys

import yaml

ROOT = pathlib.Path(__file__).resolve().parent.parent
# How shellcheck reads each shell the steps may use; MSYS2's shell is bash.
SHELLS = {"bash": "bash", "sh": "sh", "msys2 {0}": "bash"}


def problems(path):
    try:
        workflow = yaml.safe_load(path.read_text())
    except yaml.YAMLError as error:
        yield f"does not parse: {error}"
        return
    if workflow.get("permissions") != {"contents": "read"}:
        yield "permissions must be read-only (contents: read)"
    if workflow.get("concurrency", {}).get("cancel-in-progress") is not True:
        yield "superseded runs must be cancelled (concurrency: cancel-in-progress)"
    shell = workflow.get("defaults", {}).get("run", {}).get("shell")
    for job_name, job in workflow["jobs"].items():
        job_shell = job.get("defaults", {}).get("run", {}).get("shell", shell)
        for number, step in enumerate(job["steps"], 1):
            where = f"job {job_name}, step {number}"
            if "uses" in step and not re.fullmatch(r"[\w.-]+/[\w./-]+@v\d+", step["uses"]):
                yield f"{where}: {step['uses']} is not pinned by major version"
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
    for path in paths:
        for problem in problems(path):
            print(f"{path.relative_to(ROOT)}: {problem}", file=sys.stderr)
            failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
