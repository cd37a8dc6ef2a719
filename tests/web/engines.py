"""The three browser engines behind one small interface, so that each
browser case is written once: open(url), evaluate(expression), click(x, y),
key(name), close().

- chromium: headless Chromium over its DevTools protocol (devtools.py).
- firefox: Debian's firefox-esr, headless, over WebDriver BiDi, the W3C
  protocol Firefox serves itself (--remote-debugging-port): a WebSocket
  client on Debian's python3-websocket, as for Chromium, with no driver
  program and nothing from npm.
- webkit: WebKitGTK's MiniBrowser (the engine of Safari) on a virtual X
  server, driven by Debian's python3-selenium through WebKitWebDriver
  (webkit2gtk-driver). MiniBrowser has no headless mode.

evaluate() awaits a promise and returns the value as JSON would carry it,
the same in every engine. env is the browser's environment (PULSE_SERVER
names its sound server).
"""
import json
import os
import re
import shutil
import socket
import subprocess
import tempfile
import threading
import time
import warnings

from x11_checks import XServer, stop_process, wait_until

ENGINES = ("chromium", "firefox", "webkit")
FIREFOX = "firefox-esr"
WEBKIT_DRIVER = "WebKitWebDriver"
MINIBROWSER = "/usr/lib/x86_64-linux-gnu/webkit2gtk-4.1/MiniBrowser"


def missing(engine):
    """Why the engine cannot run here, or None."""
    if engine == "chromium":
        needed = ["chromium"]
        modules = ["websocket"]
    elif engine == "firefox":
        needed = [FIREFOX]
        modules = ["websocket"]
    else:
        needed = [WEBKIT_DRIVER, MINIBROWSER, "Xvfb"]
        modules = ["selenium"]
    absent = [tool for tool in needed if shutil.which(tool) is None]
    for module in modules:
        try:
            __import__(module)
        except ModuleNotFoundError:
            absent.append("python3-" + module)
    if absent:
        return "%s needs %s, not installed" % (engine, ", ".join(absent))
    return None


def as_json(expression):
    """The expression's value (awaited) as a JSON string; undefined as null."""
    return ("Promise.resolve((%s)).then((value) => "
            "JSON.stringify(value === undefined ? null : value))" % expression)


class Chromium:
    name = "chromium"

    def __init__(self, env):
        import devtools
        self.browser = devtools.Browser(env=env)

    def open(self, url):
        self.browser.open(url)

    def evaluate(self, expression, timeout=120):
        return json.loads(self.browser.evaluate(as_json(expression), timeout=timeout))

    def click(self, x, y):
        self.browser.click(x, y)

    def key(self, name):
        self.browser.press(name, name if name == "Escape" else "Key" + name.upper())

    def close(self):
        self.browser.close()


# WebDriver's code points of the keys the cases press.
WEBDRIVER_KEYS = {"Escape": "\ue00c"}


class Firefox:
    """firefox-esr over WebDriver BiDi."""
    name = "firefox"

    # Autoplay allowed (for ?autostart), no slow-script dialog during a long
    # render, and nothing fetched from Mozilla's servers.
    PREFS = {
        "media.autoplay.default": 0,
        "media.autoplay.blocking_policy": 0,
        "dom.max_script_run_time": 0,
        "app.update.disabledForTesting": True,
        "browser.shell.checkDefaultBrowser": False,
        "datareporting.policy.dataSubmissionEnabled": False,
        "toolkit.telemetry.reporting.enabled": False,
        "services.settings.server": "http://127.0.0.1:9/",
        "network.captive-portal-service.enabled": False,
        "browser.safebrowsing.update.enabled": False,
    }

    def __init__(self, env):
        import websocket
        self.profile = tempfile.mkdtemp(prefix="queltravine-firefox-")
        self.connection = None
        with open(os.path.join(self.profile, "user.js"), "w") as f:
            for name, value in self.PREFS.items():
                f.write("user_pref(%s, %s);\n" % (json.dumps(name), json.dumps(value)))
        self.process = subprocess.Popen(
            [FIREFOX, "--headless", "--no-remote", "--profile", self.profile,
             "--remote-debugging-port=0", "about:blank"],
            env=dict(env, HOME=self.profile), stdout=subprocess.DEVNULL,
            stderr=subprocess.PIPE, text=True)
        try:
            address = None
            deadline = time.monotonic() + 60
            while address is None and time.monotonic() < deadline:
                line = self.process.stderr.readline()
                if not line and self.process.poll() is not None:
                    break
                match = re.search(r"WebDriver BiDi listening on (ws://\S+)", line)
                if match:
                    address = match.group(1)
            if address is None:
                raise RuntimeError("Firefox did not start WebDriver BiDi")
            # The rest of its standard error is read away: a full pipe would stop it.
            threading.Thread(target=self.process.stderr.read, daemon=True).start()
            self.connection = websocket.create_connection(address + "/session", timeout=60,
                                                          suppress_origin=True)
            self.next_id = 0
            self.send("session.new", capabilities={})
            tree = self.send("browsingContext.getTree")
            self.context = tree["contexts"][0]["context"]
        except BaseException:
            self.close()
            raise

    def send(self, method, timeout=60, **params):
        self.next_id += 1
        self.connection.settimeout(timeout)
        self.connection.send(json.dumps({"id": self.next_id, "method": method,
                                         "params": params}))
        while True:
            message = json.loads(self.connection.recv())
            if message.get("id") == self.next_id:
                if message.get("type") == "error":
                    raise RuntimeError("%s: %s: %s" % (method, message.get("error"),
                                                       message.get("message")))
                return message["result"]

    def open(self, url):
        self.send("browsingContext.navigate", context=self.context, url=url, wait="complete")

    def evaluate(self, expression, timeout=120):
        result = self.send("script.evaluate", timeout=timeout, expression=as_json(expression),
                           target={"context": self.context}, awaitPromise=True,
                           resultOwnership="none")
        if result.get("type") != "success":
            raise RuntimeError("in the page: %s" % result.get("exceptionDetails"))
        return json.loads(result["result"]["value"])

    def perform(self, source):
        self.send("input.performActions", context=self.context, actions=[source])

    def click(self, x, y):
        self.perform({"type": "pointer", "id": "mouse", "parameters": {"pointerType": "mouse"},
                      "actions": [{"type": "pointerMove", "x": int(x), "y": int(y)},
                                  {"type": "pointerDown", "button": 0},
                                  {"type": "pointerUp", "button": 0}]})

    def key(self, name):
        value = WEBDRIVER_KEYS.get(name, name)
        self.perform({"type": "key", "id": "keyboard",
                      "actions": [{"type": "keyDown", "value": value},
                                  {"type": "keyUp", "value": value}]})

    def close(self):
        if self.connection is not None:
            try:
                self.connection.close()
            except Exception:
                pass
            self.connection = None
        stop_process(self.process)
        shutil.rmtree(self.profile, ignore_errors=True)


class WebKit:
    """WebKitGTK's MiniBrowser on its own Xvfb, through WebKitWebDriver."""
    name = "webkit"

    def __init__(self, env):
        from selenium import webdriver
        self.home = tempfile.mkdtemp(prefix="queltravine-webkit-")
        self.driver = None
        self.service = None
        self.x_server = XServer("1024x768x24", env=dict(env, HOME=self.home,
                                                       XDG_CACHE_HOME=self.home,
                                                       XDG_DATA_HOME=self.home,
                                                       XDG_CONFIG_HOME=self.home))
        try:
            # Started here rather than by Selenium, whose WebKitGTK service
            # cannot be given the environment (the display, the sound server).
            port = free_port()
            self.service = subprocess.Popen([shutil.which(WEBKIT_DRIVER), "--port=%d" % port],
                                            env=self.x_server.env, stdout=subprocess.DEVNULL,
                                            stderr=subprocess.DEVNULL)
            address = "http://127.0.0.1:%d" % port
            wait_for_port(port, self.service)
            options = webdriver.WebKitGTKOptions()
            options.binary_location = MINIBROWSER
            options.add_argument("--automation")
            with warnings.catch_warnings():
                # Selenium 4.8 warns of its own WebKitGTK capabilities.
                warnings.simplefilter("ignore", DeprecationWarning)
                self.driver = webdriver.Remote(command_executor=address, options=options)
            self.driver.set_window_size(900, 700)
        except BaseException:
            self.close()
            raise

    def open(self, url):
        self.driver.get(url)

    def evaluate(self, expression, timeout=120):
        self.driver.set_script_timeout(timeout)
        result = self.driver.execute_async_script(
            "const done = arguments[arguments.length - 1];"
            "%s.then(done, (error) => done({error: String(error)}));" % as_json(expression))
        if isinstance(result, dict):
            raise RuntimeError("in the page: %s" % result["error"])
        return json.loads(result)

    def click(self, x, y):
        from selenium.webdriver.common.action_chains import ActionChains
        actions = ActionChains(self.driver)
        actions.w3c_actions.pointer_action.move_to_location(int(x), int(y))
        actions.w3c_actions.pointer_action.click()
        actions.perform()

    def key(self, name):
        from selenium.webdriver.common.action_chains import ActionChains
        ActionChains(self.driver).send_keys(WEBDRIVER_KEYS.get(name, name)).perform()

    def close(self):
        if self.driver is not None:
            try:
                self.driver.quit()
            except Exception:
                pass
            self.driver = None
        if self.service is not None:
            stop_process(self.service)
        self.x_server.close()
        shutil.rmtree(self.home, ignore_errors=True)


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def wait_for_port(port, process, timeout=30):
    def listening():
        if process.poll() is not None:
            raise RuntimeError("the driver ended with status %d" % process.returncode)
        try:
            socket.create_connection(("127.0.0.1", port), timeout=1).close()
            return True
        except OSError:
            return False
    wait_until(listening, timeout, "the driver to listen on port %d" % port, 0.1)


def start(engine, env):
    return {"chromium": Chromium, "firefox": Firefox, "webkit": WebKit}[engine](env)
