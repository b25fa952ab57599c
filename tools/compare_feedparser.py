#!/usr/bin/python3
"""Compares the reader's feed parser with python3-feedparser on a folder of feeds.

For every file: the channel title and the first five items' titles and links, as both read
them. Titles are compared as text (tags removed, entities decoded, white space collapsed);
links after trimming, with the reader's "#" (no link) as an empty link and a relative link
of the reader's (the page resolves it against the feed's address) equal to an absolute one
that ends with it.

usage: compare_feedparser.py FEED_DUMP FOLDER [--verbose]
  FEED_DUMP  the feed_dump program (bench/feed_dump.cpp, built as build/bench/feed_dump)
Prints the agreement and one line per file that disagrees. feedparser reads no JSON Feed;
for those files the feed's own JSON is the reference.
"""

import html
import json
import os
import re
import subprocess
import sys

import feedparser


def text(value):
    value = re.sub(r"<[^>]*>", "", value or "")
    return " ".join(html.unescape(value).split())


def same_link(ours, theirs):
    ours = "" if ours.strip() == "#" else ours.strip()
    theirs = (theirs or "").strip()
    if ours == theirs:
        return True
    if ours and "://" not in ours and theirs.endswith(ours.lstrip("./")):
        return True
    return html.unescape(ours) == html.unescape(theirs)


class Reading:
    """What a reference parser read: .feed (a dict) and .entries (a list of dicts)."""

    def __init__(self, feed, entries):
        self.feed, self.entries = feed, entries


def json_feed(path):
    """feedparser reads no JSON Feed: the reference there is the JSON Feed text itself."""
    with open(path, encoding="utf-8") as f:
        document = json.load(f)
    entries = [{"title": item.get("title", ""),
                "link": item.get("url") or item.get("external_url") or ""}
               for item in document.get("items", [])]
    return Reading({"title": document.get("title", "")}, entries)


def compare(ours, path):
    parsed = json_feed(path) if path.endswith(".json") else feedparser.parse(path)
    problems = []
    if text(ours["title"]) != text(parsed.feed.get("title", "")) and not (
            ours["title"] == "No Title" and not parsed.feed.get("title")):
        problems.append("title %r vs %r" % (text(ours["title"]), text(parsed.feed.get("title", ""))))
    entries = parsed.entries[:5]
    items = ours["items"]
    if len(items) != len(entries):
        problems.append("%d items vs %d" % (len(items), len(entries)))
    for i, (item, entry) in enumerate(zip(items, entries)):
        if text(item["title"]) != text(entry.get("title", "")):
            problems.append("item %d title %r vs %r" % (i, text(item["title"]), text(entry.get("title", ""))))
        if not same_link(item["link"], entry.get("link", "")):
            problems.append("item %d link %r vs %r" % (i, item["link"], entry.get("link", "")))
    return problems


def main():
    dump, folder = sys.argv[1], sys.argv[2]
    verbose = "--verbose" in sys.argv
    files = sorted(os.path.join(root, name) for root, _, names in os.walk(folder)
                   for name in names if name not in ("README.md", "SOURCES.tsv"))
    out = subprocess.run([dump, "--limit", "5"] + files, check=True, capture_output=True,
                         text=True).stdout
    readings = [json.loads(line) for line in out.splitlines()]
    disagreeing = 0
    for ours in readings:
        problems = compare(ours, ours["file"])
        if problems:
            disagreeing += 1
            print("%s: %s" % (os.path.relpath(ours["file"], folder),
                              "; ".join(problems if verbose else problems[:2])))
    agreeing = len(readings) - disagreeing
    print("agreement: %d of %d files (%.1f%%)" % (agreeing, len(readings),
                                                  100.0 * agreeing / len(readings)))


if __name__ == "__main__":
    main()
