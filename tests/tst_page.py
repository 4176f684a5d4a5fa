# The facility's page in headless Chromium, served by a monitor that watches boxsim: live, writing, read only.
"""python3 tests/tst_page.py TAVOLINKCTL BOXSIM; TAVOLINK_PAGE_SCREENSHOT=FILE.png also saves the page."""
import base64
import json
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import tempfile
import threading
import time
import tty
import unittest
import urllib.error
import urllib.request
import warnings

with warnings.catch_warnings():
    warnings.simplefilter('ignore', DeprecationWarning)
    import crypt

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select

CHROMIUM, CHROMEDRIVER = '/usr/bin/chromium', '/usr/bin/chromedriver'
BOUND = 20.0  # seconds for anything awaited, on a busy machine
LIVE = 2.0  # from a change on the box to the page showing it
TAVOLINKCTL = BOXSIM = None


def await_(what, check, bound=BOUND):
    end = time.monotonic() + bound
    while True:
        value = check()
        if value:
            return value
        if time.monotonic() > end:
            raise AssertionError(f'{what}: not within {bound:.1f} s')
        time.sleep(0.05)


class Program:
    """A child process whose output lines are kept with the time each came."""

    def __init__(self, args, env):
        self.name = os.path.basename(args[0])
        self.lines, self.lock = [], threading.Lock()
        self.process = subprocess.Popen(args, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                        stderr=subprocess.STDOUT, text=True, bufsize=1)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.process.stdout:
            with self.lock:
                self.lines.append((time.monotonic(), line.rstrip('\n')))

    def mark(self):
        with self.lock:
            return len(self.lines)

    def await_line(self, pattern, after=0):
        def seen():
            with self.lock:
                return next(((t, m) for t, line in self.lines[after:] if (m := re.search(pattern, line))), None)
        try:
            return await_(f'{self.name} printing /{pattern}/', seen)
        except AssertionError as e:
            with self.lock:
                raise AssertionError('\n  '.join([str(e), 'its last lines:'] + [l for _, l in self.lines[-10:]]))

    def say(self, command):
        self.process.stdin.write(command + '\n')
        self.process.stdin.flush()

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(10)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()


class Facility:
    """boxsim on a pseudo-terminal, a monitor watching it, Chromium showing the monitor's page."""

    def __init__(self, logins):
        for tool in (CHROMIUM, CHROMEDRIVER, TAVOLINKCTL, BOXSIM):
            if not os.access(tool, os.X_OK):
                raise AssertionError(f'{tool} is missing: the page cannot be tried')
        self.root = tempfile.mkdtemp(prefix='tst_page-')
        self.programs, self.driver = [], None
        try:
            self._start(logins)
        except BaseException:
            self.close()
            raise

    def _start(self, logins):
        self.env = {k: v for k, v in os.environ.items() if k != 'RUNTIME_DIRECTORY'}
        for name in ('HOME', 'XDG_RUNTIME_DIR', 'XDG_CONFIG_HOME'):
            self.env[name] = self.path(name.lower())
            os.mkdir(self.env[name], 0o700)
        self.link = self.path('box')
        self.box = self.run(BOXSIM, '--link', self.link)
        self.box.await_line('pty .* \\(link ')
        with socket.socket() as s:
            s.bind(('127.0.0.1', 0))
            listen = '127.0.0.1:%d' % s.getsockname()[1]
        monitor = [TAVOLINKCTL, 'monitor', '--port', self.link, '--listen', listen]
        self.headers, self.tls = {}, None
        if logins:
            cert, key = self.path('cert.pem'), self.path('key.pem')
            subprocess.run(['openssl', 'req', '-x509', '-newkey', 'rsa:2048', '-nodes', '-subj', '/CN=localhost',
                            '-addext', 'subjectAltName=IP:127.0.0.1', '-days', '2', '-keyout', key, '-out', cert],
                           check=True, capture_output=True)
            password = base64.b32encode(os.urandom(10)).decode()
            hashed = crypt.crypt(password, crypt.mksalt(crypt.METHOD_BLOWFISH))
            if not (hashed or '').startswith('$2'):
                raise AssertionError('this Python\'s crypt makes no bcrypt hash')
            with open(self.path('web.yml'), 'w') as f:
                f.write(f"tls_server_config:\n  cert_file: '{cert}'\n  key_file: '{key}'\n"
                        f"basic_auth_users:\n  operator: '{hashed}'\n")
            monitor += ['--web-config', self.path('web.yml')]
            login = base64.b64encode(f'operator:{password}'.encode()).decode()
            self.headers = {'Authorization': 'Basic ' + login}
            self.tls = ssl.create_default_context(cafile=cert)
        self.base = ('https://' if logins else 'http://') + listen
        self.quoted = urllib.request.quote(self.link, safe='')
        self.monitor = self.run(*monitor)
        await_('the monitor serving the box with its settings', lambda: self.state(up=True))
        self.driver = self.browser(logins)

    def browser(self, logins):
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for arg in ('--headless=new', '--disable-gpu', '--disable-dev-shm-usage', '--no-proxy-server',
                    '--window-size=1280,1000', '--ignore-certificate-errors'):
            options.add_argument(arg)
        if os.geteuid() == 0:
            options.add_argument('--no-sandbox')
        options.set_capability('acceptInsecureCerts', True)
        options.set_capability('goog:loggingPrefs', {'browser': 'ALL'})
        driver = webdriver.Chrome(service=Service(CHROMEDRIVER, log_path=self.path('chromedriver.log')),
                                  options=options)
        if logins:  # every request of the page, its fetches and its event stream too
            driver.execute_cdp_cmd('Network.enable', {})
            driver.execute_cdp_cmd('Network.setExtraHTTPHeaders', {'headers': self.headers})
        driver.get(self.base + '/')
        return driver

    def path(self, name):
        return os.path.join(self.root, name)

    def run(self, *args):
        self.programs.append(Program(list(args), self.env))
        return self.programs[-1]

    def api(self, path):
        opener = urllib.request.build_opener(urllib.request.ProxyHandler({}),
                                             urllib.request.HTTPSHandler(context=self.tls))
        try:
            with opener.open(urllib.request.Request(self.base + path, headers=self.headers), timeout=10) as r:
                return r.status, json.loads(r.read())
        except urllib.error.HTTPError as e:
            return e.code, None
        except OSError:  # not listening yet
            return None, None

    def state(self, up=False):
        """The box as the monitor's API has it; with `up`, only once its link is up with its settings."""
        status, box = self.api('/api/boxes/' + self.quoted)
        if status == 200 and (not up or (box['link'] == 'up' and box['settings'])):
            return box

    def setting(self, name):
        return next(s for s in self.state()['settings'] if s['name'] == name)

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def row(self):
        return self.js('const row = [...document.querySelectorAll("#boxes tr")]'
                       '.find((r) => r.cells[0].textContent === arguments[0]);'
                       'return row ? [...row.cells].map((c) => c.textContent) : null;', self.link)

    def control(self, name):
        """The page's select labelled `name`: its value, whether disabled and focused, and the element."""
        return self.js('const label = [...document.querySelectorAll("#settings label")]'
                       '.find((l) => l.textContent === arguments[0]);'
                       'const s = label && document.getElementById(label.htmlFor);'
                       'return s && [s.value, s.disabled, document.activeElement === s, s];', name)

    def open_box(self):
        if self.js('return document.getElementById("box").hidden;'):
            button = await_('the box\'s Settings button', lambda: self.js(
                'return document.querySelector(`button[aria-label="Settings of ${arguments[0]}"]`);', self.link))
            button.send_keys(Keys.ENTER)
        return await_('the box\'s settings on the page', lambda: self.control('Group A / Select'))

    def outcome(self):
        return self.js('return document.getElementById("outcome").textContent;')

    def close(self):
        if self.driver:
            self.driver.quit()
        for program in reversed(self.programs):
            program.stop()
        shutil.rmtree(self.root, ignore_errors=True)


class Site(unittest.TestCase):
    logins = True

    @classmethod
    def setUpClass(cls):
        cls.site = Facility(cls.logins)

    @classmethod
    def tearDownClass(cls):
        cls.site.close()

    def setUp(self):
        await_('the box up on the monitor', lambda: self.site.state(up=True))

    def other_item(self, name):
        """The setting's value and another item, one no group's Select has (two groups may not be the same)."""
        settings = self.site.state()['settings']
        taken = {s['value'] for s in settings if s['name'].endswith('/ Select')}
        setting = next(s for s in settings if s['name'] == name)
        return setting['value'], next(i for i in setting['items'] if i not in taken | {setting['value']})


class Writable(Site):
    def test_table_and_stream(self):
        site = self.site
        box = site.state()
        self.assertEqual(box['model'], 'MRL-QDC-430')
        row = await_('the box\'s row', site.row)
        self.assertEqual(row[1:3], ['MRL-QDC-430', 'up'])
        self.assertEqual(row[3], box['texts']['input'])
        self.assertIn(box['texts']['resolution'], row[4])
        self.assertEqual(site.js('return document.getElementById("stream").textContent;'), 'Live')
        self.assertTrue(site.js('return document.getElementById("read-only").hidden;'))
        site.open_box()
        self.assertEqual(site.js('return [...document.querySelectorAll("#settings select")]'
                                 '.filter((s) => s.disabled).length;'), 0)
        # Nothing the server's Content-Security-Policy refused, no script error (a write's answer
        # and the missing icon are network entries).
        faults = [e['message'] for e in site.driver.get_log('browser')
                  if e['level'] == 'SEVERE' and e['source'] != 'network']
        self.assertEqual(faults, [])

    def live(self, what, command, shown):
        """`command` on the box's console; the page shows it (`shown` true) within LIVE of the box's report."""
        mark = self.site.box.mark()
        self.site.box.say(command)
        changed, _ = self.site.box.await_line('box settings now|input CRC error count', mark)
        await_(what + ' on the page', shown, bound=max(0.0, changed + LIVE - time.monotonic()))

    def test_box_changes_show_without_reload(self):
        site = self.site
        site.js('window.unreloaded = true;')
        site.open_box()
        setting = site.setting('Group A / Select')
        index = (setting['items'].index(setting['value']) + 1) % len(setting['items'])
        self.live('the box\'s new Group A', f'set out_group_1 {index}',
                  lambda: site.control('Group A / Select')[0] == setting['items'][index])
        count = site.state()['crc_errors'] + 7
        self.live('the box\'s CRC error count', f'errors {count}', lambda: site.row()[5] == str(count))
        self.assertTrue(site.js('return window.unreloaded === true;'))

    def test_focused_control_left_alone(self):
        site = self.site
        site.open_box()
        old, new = self.other_item('Group A / Select')
        site.js('arguments[0].focus();', site.control('Group A / Select')[3])
        site.box.say(f'set out_group_1 {site.setting("Group A / Select")["items"].index(new)}')
        await_('the monitor showing the new Group A', lambda: site.setting('Group A / Select')['value'] == new)
        # A row showing a later change has come with an event that carried the new Group A.
        count = site.state()['crc_errors'] + 3
        site.box.say(f'errors {count}')
        await_('the new count on the page', lambda: site.row()[5] == str(count))
        self.assertEqual(site.control('Group A / Select')[:3], [old, False, True])
        site.js('document.activeElement.blur();')
        await_('the new Group A once the control is left', lambda: site.control('Group A / Select')[0] == new)

    def test_choice_reaches_box(self):
        site = self.site
        site.open_box()
        name = 'Group B / Select'
        _, chosen = self.other_item(name)
        status, file = site.api(f'/api/boxes/{site.quoted}/settings')
        self.assertEqual(status, 200)
        file['settings'][name] = chosen
        with open(site.path('chosen.json'), 'w') as f:
            json.dump(file, f)
        dry = subprocess.run([TAVOLINKCTL, 'apply', '--dry-run', '--timeout', str(int(BOUND)), '--port', site.link,
                              site.path('chosen.json')], env=site.env, capture_output=True, text=True, timeout=60)
        self.assertEqual(dry.returncode, 0, dry.stderr)
        expected = bytes.fromhex(dry.stdout.strip().splitlines()[-1])

        mark = site.box.mark()
        Select(site.control(name)[3]).select_by_visible_text(chosen)
        _, received = site.box.await_line('rx (settings .*)', mark)
        await_('the page saying it was applied', lambda: site.outcome().startswith(f'{name}: applied'))
        await_('the box\'s new value on the page', lambda: site.control(name)[0] == chosen)
        self.assertEqual(site.setting(name)['value'], chosen)
        if os.environ.get('TAVOLINK_PAGE_SCREENSHOT'):
            site.driver.save_screenshot(os.environ['TAVOLINK_PAGE_SCREENSHOT'])

        # boxsim prints a frame it applies decoded, every byte of it: a second box decodes the
        # frame apply builds from the same file, and the two must read alike.
        probe = site.run(BOXSIM, '--link', site.path('probe'))
        probe.await_line('pty .* \\(link ')
        line = os.open(site.path('probe'), os.O_RDWR | os.O_NOCTTY)
        try:
            tty.setraw(line)
            mark = probe.mark()
            os.write(line, expected)
            _, decoded = probe.await_line('rx (settings .*)', mark)
        finally:
            os.close(line)
        self.assertEqual(received.group(1), decoded.group(1))

    def test_choice_not_taken_not_left_shown(self):
        site = self.site
        site.open_box()
        name = 'Group B / Select'
        old, chosen = self.other_item(name)
        mark = site.box.mark()
        site.box.say('silence 15')  # two unanswered writes, 3 s each, before it talks again
        site.box.await_line('silent for', mark)
        for leave in (False, True):  # the user stays at the control, or leaves it at once
            select = site.control(name)[3]
            Select(select).select_by_visible_text(chosen)
            if leave:
                select.send_keys(Keys.TAB)
                # The events that come meanwhile (the last frame's age moves with each) leave the choice shown.
                age = site.row()[7]
                seen = await_('an event while the write awaits its answer', lambda: (lambda r: r[0] != age and r)(
                    site.js('return [document.querySelector("#boxes tr").cells[7].textContent,'
                            'document.getElementById("outcome").textContent, arguments[0].value];', select)))
                self.assertEqual(seen[1:], [f'{name}: sending…', chosen])
            await_('the page saying it was not acknowledged',
                   lambda: site.outcome().startswith(f'{name}: not acknowledged'))
            await_('the box\'s own value back on the page', lambda: site.control(name)[0] == old)
            self.assertEqual(site.setting(name)['value'], old)
        site.box.await_line('talking again', mark)

    def test_reset_errors(self):
        site = self.site
        mark = site.box.mark()
        site.box.say('errors 9')
        await_('the count on the page', lambda: (site.row() or [''] * 6)[5] == '9')
        site.js('return document.querySelector(`button[aria-label="Reset CRC errors of ${arguments[0]}"]`);',
                site.link).click()
        site.box.await_line('CRC error count reset', mark)
        await_('the page saying the count was reset',
               lambda: site.outcome().startswith('Reset CRC errors: applied'))
        await_('no errors on the page', lambda: site.row()[5] == '0')


class ReadOnly(Site):
    logins = False

    def test_no_logins_no_changes(self):
        site = self.site
        self.assertFalse(site.api('/api/boxes')[1]['writable'])
        await_('the read-only note', lambda: site.js('return !document.getElementById("read-only").hidden;'))
        site.open_box()
        selects = site.js('return [...document.querySelectorAll("#settings select")].map((s) => s.disabled);')
        self.assertEqual(selects, [True] * len(site.state()['settings']))
        self.assertTrue(site.js('return [...document.querySelectorAll("#boxes button")]'
                                '.find((b) => b.textContent === "Reset CRC errors").disabled;'))
        site.monitor.stop()
        await_('the page showing the stream down', lambda: site.js(
            'return document.getElementById("stream").textContent.startsWith("No connection");'))


if __name__ == '__main__':
    if len(sys.argv) < 3:
        sys.exit('usage: tst_page.py TAVOLINKCTL BOXSIM [unittest options]')
    TAVOLINKCTL, BOXSIM = (os.path.abspath(a) for a in sys.argv[1:3])
    unittest.main(argv=sys.argv[:1] + sys.argv[3:], verbosity=2)
