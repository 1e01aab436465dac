"""The README's scrape configuration and alerting rules, exactly as printed
there, through Prometheus' own checker and rule tester, over series named
and labelled as the exporter exposes them; and the exporter's log of the
library failing and recovering."""

import json
import os
import re
import shutil
import subprocess

import pytest

from _helpers import builtin_library, cli_in_process
from libfc import _metrics
from test_cli_metrics import samples_of

LIB = builtin_library("libfc.so")
README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "README.md")
pytestmark = pytest.mark.python_only


def readme_block(first_line):
    """The README's yaml block that starts with `first_line`."""
    with open(README) as readme:
        blocks = re.findall(r"```yaml\n(.*?)```", readme.read(), re.S)
    found, = [block for block in blocks if block.startswith(first_line)]
    return found


def exposition(capsys):
    """{(sample name, sorted labels): value} of a real exposition."""
    LIB.fcemu_reset_sized(2, 64)
    LIB.fcemu_traffic(20, 1)
    status, out, _ = cli_in_process(capsys, "stats", "--prometheus")
    assert status == 0
    return samples_of(out)


@pytest.mark.skipif(shutil.which("promtool") is None, reason="promtool (Debian's prometheus) is not installed")
def test_readme_rules_load_and_fire_on_the_exported_series(tmp_path, capsys, flow_cache):
    (tmp_path / "rules.yml").write_text(readme_block("groups:"))
    (tmp_path / "prometheus.yml").write_text(readme_block("scrape_configs:") + "rule_files: [rules.yml]\n")
    checked = subprocess.run(["promtool", "check", "config", "prometheus.yml"], cwd=tmp_path,
                             capture_output=True, text=True)
    assert checked.returncode == 0 and "2 rules found" in checked.stdout, checked.stdout + checked.stderr
    # Every series of the exposition, on two hosts: "busy" keeps failing to
    # allocate flow entries and has a full table, "calm" failed in the past
    # only and has its tables half full. A rule that matches several
    # families by name breaks here as it does on a real server.
    changing = {("libfc_allocation_failures_total", (("kind", "flow_entry"),)): "0+3x40",
                ("libfc_table_fill_ratio", (("table", "1"),)): "0.95x40"}
    series = []
    for (name, labels), value in exposition(capsys).items():
        for host in ("busy", "calm"):
            values = changing.get((name, labels)) if host == "busy" else None
            text = ",".join('%s="%s"' % item for item in sorted(dict(labels, instance=host).items()))
            series.append({"series": "%s{%s}" % (name, text), "values": values or "%rx40" % min(value, 0.5)})
    alerts = [{"eval_time": "30m", "alertname": name,
               "exp_alerts": [{"exp_labels": {"instance": "busy"}, "exp_annotations": {"summary": "busy: " + what}}]}
              for name, what in (("FlowCacheNearlyFull", "a flow cache hash table is over 90% full"),
                                 ("FlowCacheAllocationFailures",
                                  "the flow cache fails to allocate flows or their data"))]
    # JSON is YAML.
    (tmp_path / "test.json").write_text(json.dumps({
        "rule_files": ["rules.yml"], "evaluation_interval": "1m",
        "tests": [{"interval": "1m", "input_series": series, "alert_rule_test": alerts}]}))
    tested = subprocess.run(["promtool", "test", "rules", "test.json"], cwd=tmp_path, capture_output=True, text=True)
    assert tested.returncode == 0, tested.stdout + tested.stderr


def test_the_collector_logs_each_change_of_the_library_state_once(flow_cache):
    LIB.fcemu_reset_sized(2, 64)
    lines = []
    collector = _metrics.Collector(log=lines.append)
    try:
        for fail in (False, True, True, False, False):
            if fail:
                LIB.fcemu_fail_next(b"FC_GetFlowCacheHashStats", 3, id(OSError), b"device gone")
            collector.collect()
    finally:
        LIB.fcemu_fail_next(None, 0, None, None)
    assert lines == ["libfc exporter: the flow cache library fails: device gone",
                     "libfc exporter: the flow cache library answers again"]
