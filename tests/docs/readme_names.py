#!/usr/bin/python3
"""The README's table of names keeps up with the code.

Every class-name prefix in capitals (AMZLogger -> AMZ, VORNSplitViewController -> VORN; TLMDBStorage
counts as TLM) used by a
class of the app or the telemetry SDK, and the app's own "Vorn" prefix, must be explained in the
README's "Names you will meet" section, and every Class+Topic.cpp file must be named there, so a
newcomer finds where the rest of a class lives.

    readme_names.py <source root>
"""
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1])
readme = (root / "README.md").read_text(encoding="utf-8")
start = readme.find("### Names you will meet")
if start < 0:
    sys.exit("README.md has no 'Names you will meet' section")
end = readme.find("\n## ", start)
section = readme[start:end if end >= 0 else len(readme)]

problems = []
prefixes = {"Vorn"}
class_re = re.compile(r"^\s*(?:class|struct)\s+([A-Z][A-Za-z0-9_]*)\b[^;]*$", re.M)
for folder in ["src/tandrel", "src/app", "src/tellium", "src/tellium_analytics", "src/tellium_crashes"]:
    for header in sorted((root / folder).rglob("*.h")):
        for name in class_re.findall(header.read_text(encoding="utf-8", errors="replace")):
            # A run of two or more capitals before a capitalised word: the prefix.
            m = re.match(r"([A-Z]{2,})[A-Z][a-z]", name)
            if m:
                prefixes.add(m.group(1))
explained = set(re.findall(r"`([A-Za-z]+)…", section))
for prefix in sorted(prefixes):
    # TLMDB (TLMDBStorage) and TLMCS are the SDK's TLM prefix with a word in capitals after it.
    if not any(prefix.startswith(e) for e in explained):
        problems.append(f"prefix {prefix} is not explained")

for topic_file in sorted((root / "src").rglob("*+*.cpp")):
    stem = topic_file.stem
    cls, topic = stem.split("+", 1)
    if stem not in section and f"+{topic}" not in section:
        problems.append(f"{topic_file.relative_to(root)} is not named")
    if cls not in section:
        problems.append(f"{cls} (of {topic_file.name}) is not named")

for p in problems:
    print(p)
print(f"{len(prefixes)} prefixes, {len(list((root / 'src').rglob('*+*.cpp')))} topic files checked")
sys.exit(1 if problems else 0)
