"""Second-parser check of an edited agent configuration file.

Usage: crosscheck.py toml|yaml ORIGINAL RESULT URL
Parses both texts with Python's own parsers and succeeds when the result is the
original document with mcp_servers.varnelle set to {url, enabled: true}.
"""
import sys
import tomllib

import yaml


def load(kind, path):
    with open(path, "rb") as handle:
        data = handle.read()
    if kind == "toml":
        return tomllib.loads(data.decode("utf-8"))
    text = data.decode("utf-8")
    document = yaml.safe_load(text) if text else {}
    return {} if document is None else document


def main():
    kind, original, result, url = sys.argv[1:5]
    expected = load(kind, original)
    servers = expected.get("mcp_servers")
    if servers is None:
        servers = expected["mcp_servers"] = {}
    servers["varnelle"] = {"url": url, "enabled": True}
    actual = load(kind, result)
    if actual != expected:
        print("expected", expected, "\nactual  ", actual)
        return 1
    return 0


sys.exit(main())
