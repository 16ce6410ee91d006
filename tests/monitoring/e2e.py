"""agenthost watched by a real client: Debian's Prometheus server scraping a
real-time host on the simulated chip, firing the shipped link-down alert and
evaluating every query of the shipped Grafana dashboard. (Debian's
node_exporter reads the host's textfile in the service-manager harness.)

Run by ctest with the programs named in the environment (tests/monitoring/
CMakeLists.txt); a cross build's host and agentctl run under the emulator
that EMULATOR names, watched by the native Prometheus tools. Every process
started here dies with the test, ports are picked by the kernel, and nothing
needs root."""

import ctypes
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.parse
import urllib.request

ENV = {k: os.environ.get(k, "") for k in
       ("AGENTHOST", "AGENTCTL", "MONITORING_TOOLS", "RULES", "APPLIANCE", "README",
        "RUNBOOK", "DASHBOARD")}
TOOLS = ENV["MONITORING_TOOLS"]
PROMETHEUS = os.path.join(TOOLS, "prometheus")
PROMTOOL = os.path.join(TOOLS, "promtool")
EMULATOR = shlex.split(os.environ.get("EMULATOR", ""))
PR_SET_PDEATHSIG = 1


def die_with_parent():
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL)


def until(pred, seconds, what):
    """Polls pred until it returns something true, and returns that; fails
    naming what when the time is up."""
    end = time.monotonic() + seconds
    while True:
        got = pred()
        if got:
            return got
        if time.monotonic() > end:
            raise AssertionError(f"no {what} within {seconds} s")
        time.sleep(0.05)


class Process:
    """A program started for the test, its output in files of the test's
    directory; stopped (and reaped) by stop() or when the test process dies."""

    def __init__(self, tmp, name, args):
        self.name = name
        self.out_path = os.path.join(tmp, name + ".out")
        self.err_path = os.path.join(tmp, name + ".err")
        with open(self.out_path, "wb") as out, open(self.err_path, "wb") as err:
            self.proc = subprocess.Popen(args, stdin=subprocess.DEVNULL, stdout=out, stderr=err,
                                         preexec_fn=die_with_parent)

    def output(self):
        with open(self.out_path) as o, open(self.err_path) as e:
            return o.read() + e.read()

    def find(self, pattern, seconds=30):
        def found():
            if self.proc.poll() is not None:
                raise AssertionError(f"{self.name} exited {self.proc.returncode}:\n{self.output()}")
            return re.search(pattern, self.output())
        return until(found, seconds, f"'{pattern}' from {self.name}").group(1)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        return self.proc.returncode


def fetch(url):
    with urllib.request.urlopen(url, timeout=5) as r:
        return r.read().decode()


def answers(url):
    try:
        fetch(url)
        return True
    except OSError:  # refused, or 503 while Prometheus opens its storage
        return False


def sample(text, name, labels=""):
    """The value of one sample of an exposition text, or None."""
    series = name + ("{" + labels + "}" if labels else "")
    m = re.search("^" + re.escape(series) + r" (\S+)$", text, re.M)
    return float(m.group(1)) if m else None


class Monitored(unittest.TestCase):
    """A real-time agenthost on the example appliance (two management
    interfaces, links 1 and 2 up, simulated CPU netdevices unless
    host_args() leaves out --sim-cpu) with its control socket in a
    directory of the test's own."""

    def host_args(self):
        return ["--sim-cpu"]

    def setUp(self):
        for program in (PROMETHEUS, PROMTOOL):
            self.assertTrue(os.access(program, os.X_OK),
                            f"{program} is missing: `make build` installs it "
                            "(tools/install-monitoring-tools)")
        self.tmp = tempfile.mkdtemp(prefix="agenthost-monitoring-")
        self.addCleanup(shutil.rmtree, self.tmp, True)
        self.socket = os.path.join(self.tmp, "control.sock")
        self.host = self.start("agenthost", EMULATOR + [ENV["AGENTHOST"], "--control",
                                                        self.socket] + self.host_args() +
                               [ENV["APPLIANCE"]])
        self.host.find(r"(ready): 2 management interfaces")

    def start(self, name, args):
        p = Process(self.tmp, name, args)
        self.addCleanup(p.stop)
        return p

    def link(self, state):
        subprocess.run(EMULATOR + [ENV["AGENTCTL"], "--socket", self.socket, "sim", "link", "1",
                                   state],
                       check=True, stdout=subprocess.DEVNULL)

    def listening(self, process):
        return process.find(r'msg="Listening on" address=(127\.0\.0\.1:\d+)')


class WithPrometheus(Monitored):
    """The host's /metrics scraped by a real Prometheus server."""

    def host_args(self):
        return ["--sim-cpu", "--metrics", "127.0.0.1:0"]

    def configure(self, target):
        """The README's scrape configuration with 1 s intervals, this host as
        its target, and the shipped rules with every hold time cut to 3 s."""
        with open(ENV["README"]) as f:
            blocks = re.findall(r"```yaml\n(.*?)```", f.read(), re.S)
        config = next(b for b in blocks if "job_name: agenthost" in b)
        rules_copy = os.path.join(self.tmp, "agenthost-alerts.yml")
        for old, new in (("15s", "1s"), ("appliance1.example.net:9534", target),
                         ("/usr/share/agenthost/prometheus/agenthost-alerts.yml", rules_copy)):
            self.assertIn(old, config)
            config = config.replace(old, new)
        with open(ENV["RULES"]) as f:
            rules, held = re.subn(r"^(\s+for:) (?!0s)\S+$", r"\1 3s", f.read(), flags=re.M)
        self.assertGreater(held, 5)
        with open(rules_copy, "w") as f:
            f.write(rules)
        path = os.path.join(self.tmp, "prometheus.yml")
        with open(path, "w") as f:
            f.write(config)
        return path

    def api(self, what, **query):
        reply = json.loads(fetch(f"{self.api_url}/{what}?{urllib.parse.urlencode(query)}"))
        self.assertEqual(reply["status"], "success", reply)
        return reply["data"]

    def start_prometheus(self):
        """Prometheus scraping the host, the shipped rules loaded; returns
        the target's address once it is up."""
        metrics_url = self.host.find(r"metrics: (http://127\.0\.0\.1:\d+/metrics)")
        target = urllib.parse.urlparse(metrics_url).netloc
        server = self.start("prometheus", [
            PROMETHEUS, "--config.file", self.configure(target),
            "--storage.tsdb.path", os.path.join(self.tmp, "data"),
            "--web.listen-address", "127.0.0.1:0"])
        address = self.listening(server)
        until(lambda: answers(f"http://{address}/-/ready"), 30, "ready Prometheus")
        self.api_url = f"http://{address}/api/v1"

        def up():
            targets = self.api("targets")["activeTargets"]
            return targets and targets[0]["health"] == "up" and targets[0]
        t = until(up, 15, "healthy target")
        self.assertEqual((t["labels"]["job"], t["labels"]["instance"]), ("agenthost", target))
        return target


class PrometheusServer(WithPrometheus):
    def link_alert(self):
        alerts = [a for a in self.api("alerts")["alerts"]
                  if a["labels"]["alertname"] == "AgentHostManagementLinkDown"]
        self.assertLessEqual(len(alerts), 1, alerts)
        return alerts[0] if alerts else None

    def test_scraped_and_link_down_alert_goes_pending_firing_resolved(self):
        metrics_url = self.host.find(r"metrics: (http://127\.0\.0\.1:\d+/metrics)")
        target = urllib.parse.urlparse(metrics_url).netloc

        # promtool's linter on what curl scrapes once the agent has polled.
        scrape = os.path.join(self.tmp, "scrape.prom")
        until(lambda: sample(fetch(metrics_url), "agenthost_poll_cycles_completed_total"), 10,
              "completed poll cycle")
        subprocess.run(["curl", "-sf", "-o", scrape, metrics_url], check=True)
        with open(scrape) as f:
            check = subprocess.run([PROMTOOL, "check", "metrics"], stdin=f, capture_output=True,
                                   text=True)
        self.assertEqual(check.returncode, 0, check.stdout + check.stderr)

        self.assertEqual(self.start_prometheus(), target)
        link = lambda: self.api("query", query='agenthost_port_link_up{port="1"}')["result"]
        self.assertEqual(until(link, 10, "link metric")[0]["value"][1], "1")
        self.assertIsNone(self.link_alert())

        self.link("down")
        states = []

        def fired():
            a = self.link_alert()
            if a and (not states or states[-1] != a["state"]):
                states.append(a["state"])
            return a and a["state"] == "firing" and a
        alert = until(fired, 20, "firing link-down alert")
        self.assertEqual(states, ["pending", "firing"])
        self.assertEqual(alert["labels"]["interface"], "Management1")
        self.assertEqual(alert["annotations"]["summary"],
                         f"Management1 on {target} has no outside link (switch port 1)")
        # Without the server's external label, the installed runbook.
        self.assertEqual(alert["annotations"]["runbook_url"],
                         "file:///usr/share/doc/bcm53134-agent/runbook.md"
                         "#agenthostmanagementlinkdown")
        self.assertEqual(link()[0]["value"][1], "0")

        self.link("up")
        until(lambda: self.link_alert() is None, 15, "resolved link-down alert")
        # Every rule evaluates without an error, and nothing else fired on
        # the healthy host, a restart least of all.
        rules = [r for g in self.api("rules")["groups"] for r in g["rules"]]
        self.assertEqual([(r["name"], r["health"]) for r in rules if r["health"] != "ok"], [])
        self.assertEqual(len(rules), 9)
        # Each rule links to a section of the runbook of its own name.
        with open(ENV["RUNBOOK"]) as f:
            sections = re.findall(r'^<a id="([^"]+)"></a>\n## (\w+)$', f.read(), re.M)
        self.assertEqual(sorted((r["name"].lower(), r["name"]) for r in rules), sorted(sections))
        for r in rules:
            self.assertTrue(r["annotations"]["runbook_url"].endswith("#" + r["name"].lower()), r)
        self.assertEqual([a["labels"]["alertname"] for a in self.api("alerts")["alerts"]], [])
        self.assertEqual(self.host.stop(), 0, self.host.output())


class GrafanaDashboard(WithPrometheus):
    """Every query of the shipped dashboard, its panels' and its variables',
    read out of the JSON and evaluated by the real server. The host acts on
    real netdevices (a private network namespace) so that the kernel's
    protodown and the restores have series too."""

    def host_args(self):
        return ["--metrics", "127.0.0.1:0"]

    def test_every_panel_query_returns_series(self):
        target = self.start_prometheus()
        with open(ENV["DASHBOARD"]) as f:
            dashboard = json.load(f)
        # What Grafana puts in for the variables: this server's job and
        # target, and a window of five 1 s scrapes.
        values = {"job": "agenthost", "instance": target, "__rate_interval": "5s"}
        variables = dashboard["templating"]["list"]
        self.assertEqual(sorted(v["name"] for v in variables if v["type"] != "datasource"),
                         sorted(k for k in values if not k.startswith("__")))

        def substituted(expr):
            for name, value in values.items():
                expr = expr.replace("$" + name, value)
            self.assertNotIn("$", expr, "a variable the test does not know")
            return expr

        # A variable offers this server's job and target.
        for v in variables:
            if v["type"] == "query":
                m = re.fullmatch(r"label_values\((.+), (\w+)\)", v["query"]["query"])
                self.assertIsNotNone(m, v)
                got = {s["metric"].get(m.group(2)) for s in
                       until(lambda: self.api("query", query=substituted(m.group(1)))["result"], 10,
                             f"series of variable {v['name']}")}
                self.assertIn(values[v["name"]], got, v)

        queries = [(p["title"], substituted(t["expr"])) for p in dashboard["panels"]
                   for t in p["targets"]]
        self.assertGreaterEqual(len(queries), len(dashboard["panels"]))

        def empty():
            return [q for q in queries if not self.api("query", query=q[1])["result"]]
        # Rates need two scrapes within their window; until then some are
        # empty.
        try:
            until(lambda: not empty(), 20, "series for every panel query")
        except AssertionError:
            pass
        self.assertEqual(empty(), [], "panel queries without series")


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:], verbosity=2)
