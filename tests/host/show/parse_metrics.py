"""Parses a Prometheus text exposition with the parser of the Python client
library and prints one line per sample: NAME LABEL=VALUE... VALUE, labels in
name order. Exits 1, saying why, on text the parser refuses."""
import sys

from prometheus_client.parser import text_string_to_metric_families

text = open(sys.argv[1]).read() if len(sys.argv) > 1 else sys.stdin.read()
try:
    for family in text_string_to_metric_families(text):
        if family.type == "unknown":
            raise ValueError("metric family %s has no TYPE" % family.name)
        for s in family.samples:
            labels = " ".join("%s=%s" % kv for kv in sorted(s.labels.items()))
            print(" ".join(p for p in (s.name, labels, repr(float(s.value))) if p))
except ValueError as e:
    print("refused: %s" % e)
    sys.exit(1)
