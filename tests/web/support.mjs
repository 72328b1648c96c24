// Whole-process parts for the web page's browser test: a real mosquitto with a plain MQTT
// listener and a WebSockets listener with TLS that also serves the built page (http_dir), and
// Debian's chromium driven by puppeteer-core. Everything started here is ended by stop()/close(),
// and, should the test runner die first, at the process's exit.
import { execFile, spawn, spawnSync } from 'node:child_process';
import { X509Certificate, createHash } from 'node:crypto';
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { createServer, connect } from 'node:net';
import { tmpdir, userInfo } from 'node:os';
import { join } from 'node:path';
import { promisify } from 'node:util';

const run = promisify(execFile);
const started = new Set();
// Running desks end what they started themselves, on SIGTERM.
const desks = new Set();
process.on('exit', () => {
  for (const [set, signal] of [[started, 'SIGKILL'], [desks, 'SIGTERM']]) {
    for (const child of set) {
      try {
        child.kill(signal);
      } catch {
        // already gone
      }
    }
  }
});

export const USER = 'desk';
export const PASSWORD = 's3cret pass';
export const PHONE_USER = 'phone';
export const PHONE_PASSWORD = 'phone pass';

export async function freePort() {
  return new Promise((resolve, reject) => {
    const server = createServer();
    server.once('error', reject);
    server.listen(0, '127.0.0.1', () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

function accepts(port) {
  return new Promise((resolve) => {
    const socket = connect({ port, host: '127.0.0.1' });
    socket.once('connect', () => {
      socket.destroy();
      resolve(true);
    });
    socket.once('error', () => resolve(false));
  });
}

// mosquitto lives in /usr/sbin, which a normal user's PATH leaves out.
function mosquittoProgram() {
  for (const dir of [...(process.env.PATH || '').split(':'), '/usr/sbin', '/usr/local/sbin']) {
    if (dir && existsSync(join(dir, 'mosquitto'))) return join(dir, 'mosquitto');
  }
  throw new Error('mosquitto is not installed (scripts/install-deps.sh installs it)');
}

export const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

export class Broker {
  constructor(webDir) {
    this.webDir = webDir;
    this.dir = mkdtempSync(join(tmpdir(), 'velquist-web-broker-'));
    this.child = null;
  }

  async prepare() {
    const d = this.dir;
    const openssl = (args) => run('openssl', args, { cwd: d });
    const key = ['-newkey', 'rsa:2048', '-nodes'];
    writeFileSync(join(d, 'server.ext'), 'subjectAltName=DNS:localhost,IP:127.0.0.1\n');
    await openssl(['req', ...key, '-x509', '-days', '2', '-subj', '/CN=Velquist Web Test CA',
      '-keyout', 'ca.key', '-out', 'ca.crt']);
    await openssl(['req', ...key, '-subj', '/CN=localhost', '-keyout', 'server.key', '-out', 'server.csr']);
    await openssl(['x509', '-req', '-in', 'server.csr', '-CA', 'ca.crt', '-CAkey', 'ca.key',
      '-CAcreateserial', '-days', '2', '-extfile', 'server.ext', '-out', 'server.crt']);
    await run('mosquitto_passwd', ['-c', '-b', join(d, 'passwd'), USER, PASSWORD]);
    await run('mosquitto_passwd', ['-b', join(d, 'passwd'), PHONE_USER, PHONE_PASSWORD]);
    // As docs/alert-sources.md sets it up: desks read and publish alerts and read only what is
    // sent to themselves; the phone reads alerts and sends symbols (here to any desk: the tests
    // send to more than one).
    writeFileSync(join(d, 'acl'), 'pattern read velquist/desk/%c/link/#\n\n' +
      `user ${USER}\ntopic readwrite velquist/alerts/#\n\n` +
      `user ${PHONE_USER}\ntopic read velquist/alerts/#\ntopic write velquist/desk/+/link/#\n`);
    this.plainPort = await freePort();
    this.wsPort = await freePort();
    this.httpPort = await freePort();
    // The plain listener comes first: mosquitto 2.0 on Debian 12 starts a WebSockets listener
    // only after one. The user is ours: as root mosquitto would become "mosquitto", who cannot
    // read here.
    writeFileSync(join(d, 'mosquitto.conf'), [
      'per_listener_settings false',
      'allow_anonymous false',
      `password_file ${d}/passwd`,
      `acl_file ${d}/acl`,
      `user ${userInfo().username}`,
      'persistence true',
      `persistence_location ${d}/`,
      'max_queued_messages 100000',
      'log_type all',
      `log_dest file ${d}/mosquitto.log`,
      `listener ${this.plainPort} 127.0.0.1`,
      `listener ${this.wsPort} 127.0.0.1`,
      'protocol websockets',
      `certfile ${d}/server.crt`,
      `keyfile ${d}/server.key`,
      `http_dir ${this.webDir}`,
      // The page itself comes from a listener without TLS: over TLS, Debian 12's mosquitto
      // offers HTTP/2 and then cannot serve files in it (browsers fail the page with
      // ERR_HTTP2_PROTOCOL_ERROR). A page at http://localhost is still a secure context.
      `listener ${this.httpPort} 127.0.0.1`,
      'protocol websockets',
      `http_dir ${this.webDir}`,
      '',
    ].join('\n'));
    const spki = new X509Certificate(readFileSync(join(d, 'server.crt'))).publicKey
      .export({ type: 'spki', format: 'der' });
    this.spkiHash = createHash('sha256').update(spki).digest('base64');
  }

  async start() {
    const child = spawn(mosquittoProgram(), ['-c', join(this.dir, 'mosquitto.conf')], { stdio: 'ignore' });
    this.child = child;
    started.add(child);
    child.once('exit', () => started.delete(child));
    const deadline = Date.now() + 10000;
    while (Date.now() < deadline) {
      if (child.exitCode !== null) break;
      if ((await accepts(this.plainPort)) && (await accepts(this.wsPort)) && (await accepts(this.httpPort))) return;
      await sleep(50);
    }
    throw new Error(`mosquitto did not listen:\n${this.log()}`);
  }

  // SIGTERM: mosquitto saves its sessions and their queues, as a service's stop does.
  async stop() {
    const child = this.child;
    this.child = null;
    if (!child || child.exitCode !== null) return;
    const exited = new Promise((resolve) => child.once('exit', resolve));
    child.kill('SIGTERM');
    const timer = setTimeout(() => child.kill('SIGKILL'), 10000);
    await exited;
    clearTimeout(timer);
  }

  log() {
    try {
      return readFileSync(join(this.dir, 'mosquitto.log'), 'utf8').split('\n').slice(-40).join('\n');
    } catch {
      return '(no log)';
    }
  }

  clientArgs() {
    return ['-h', '127.0.0.1', '-p', String(this.plainPort), '-u', USER, '-P', PASSWORD, '-V', 'mqttv5'];
  }

  // QoS 1, not retained: as the desk publishes.
  async publish(topic, payload) {
    await run('mosquitto_pub', [...this.clientArgs(), '-q', '1', '-t', topic, '-m', payload]);
  }

  // The next message on filter, as "topic payload" (mosquitto_sub -v), as the desk user (with
  // that client id: a desk reads what is sent to it by its id).
  async nextMessage(filter, timeoutSeconds = 20, clientId = '') {
    const id = clientId ? ['-i', clientId] : [];
    const child = spawn('mosquitto_sub', [...this.clientArgs(), ...id, '-q', '1', '-t', filter, '-C', '1',
      '-v', '-W', String(timeoutSeconds)]);
    started.add(child);
    let out = '';
    child.stdout.on('data', (chunk) => { out += chunk; });
    const done = new Promise((resolve) => child.once('exit', () => {
      started.delete(child);
      resolve(out.replace(/\n$/, ''));
    }));
    await sleep(500); // subscribed by then
    return { received: done };
  }

  // One message per line, through one connection.
  publishLines(topic, lines) {
    const result = spawnSync('mosquitto_pub', [...this.clientArgs(), '-q', '1', '-t', topic, '-l'],
      { input: lines.join('\n') + '\n', timeout: 120000 });
    if (result.status !== 0) throw new Error(`mosquitto_pub -l failed: ${result.stderr}`);
  }

  async close() {
    await this.stop();
    rmSync(this.dir, { recursive: true, force: true });
  }
}

// What the desk's "Publish to the broker" sends for an alert, from the desk's own code.
export async function deskPayload(window, symbol, price, description) {
  const program = process.env.VELQUIST_DESK_PAYLOAD;
  if (!program) throw new Error('VELQUIST_DESK_PAYLOAD is not set (ctest sets it)');
  const { stdout } = await run(program, [window, symbol, String(price), description]);
  const [topic, payload] = stdout.replace(/\n$/, '').split('\n');
  return { topic, payload };
}

// Debian's chromium, headless, trusting the broker's certificate by its key alone.
export async function launchBrowser(broker) {
  const modules = process.env.VELQUIST_WEB_MODULES;
  if (!modules) throw new Error('VELQUIST_WEB_MODULES is not set (ctest sets it)');
  const puppeteer = createRequire(join(modules, 'x.js'))('puppeteer-core');
  const args = [`--ignore-certificate-errors-spki-list=${broker.spkiHash}`, '--disable-gpu',
    '--disable-dev-shm-usage', '--autoplay-policy=no-user-gesture-required'];
  if (process.getuid && process.getuid() === 0) args.push('--no-sandbox'); // chromium refuses root otherwise
  const browser = await puppeteer.launch({
    executablePath: process.env.VELQUIST_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args,
    timeout: 60000,
  });
  const child = browser.process();
  if (child) {
    started.add(child);
    child.once('exit', () => started.delete(child));
  }
  return browser;
}

// WCAG's contrast ratio of two CSS colours "rgb(r, g, b)".
export function contrast(a, b) {
  const lum = (css) => {
    const [r, g, bl] = css.match(/[\d.]+/g).slice(0, 3).map(Number).map((v) => {
      const c = v / 255;
      return c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
    });
    return 0.2126 * r + 0.7152 * g + 0.0722 * bl;
  };
  const [hi, lo] = [lum(a), lum(b)].sort((x, y) => y - x);
  return (hi + 0.05) / (lo + 0.05);
}

// The installed client running as a desk of this broker (tests/helpers/web_desk.cpp, set up by
// the whole-process harness): its inbox, its windows publishing their alerts to the broker as
// the desk user, and a velquist-link program linked to its MAIN LIST. stop() ends it and all it
// started.
export class RunningDesk {
  constructor(broker) {
    const program = process.env.VELQUIST_WEB_DESK;
    if (!program) throw new Error('VELQUIST_WEB_DESK is not set (ctest sets it)');
    this.child = spawn(program, [String(broker.plainPort), USER, PASSWORD], { stdio: ['pipe', 'pipe', 'inherit'] });
    desks.add(this.child);
    this.exited = new Promise((resolve) => this.child.once('exit', (code) => {
      desks.delete(this.child);
      resolve(code);
    }));
    this.lines = [];
    this.waiters = [];
    let buffer = '';
    this.child.stdout.on('data', (chunk) => {
      buffer += chunk;
      let newline;
      while ((newline = buffer.indexOf('\n')) >= 0) {
        this.lines.push(buffer.slice(0, newline));
        buffer = buffer.slice(newline + 1);
      }
      this.waiters = this.waiters.filter((check) => !check());
    });
  }

  // The next line of the desk's that starts with one of the prefixes, taken out of the rest.
  line(prefixes, timeout = 30000) {
    return new Promise((resolve, reject) => {
      const check = () => {
        const at = this.lines.findIndex((l) => prefixes.some((p) => l.startsWith(p)));
        if (at < 0) return false;
        const [found] = this.lines.splice(at, 1);
        clearTimeout(timer);
        resolve(found);
        return true;
      };
      const timer = setTimeout(() => {
        this.waiters = this.waiters.filter((c) => c !== check);
        reject(new Error(`the desk said no ${prefixes.join('/')} within ${timeout} ms`));
      }, timeout);
      if (!check()) this.waiters.push(check);
    });
  }

  // Its name at the broker, once it is connected and its linked program is.
  async ready() {
    const line = await this.line(['READY ', 'FAILED '], 90000);
    if (line.startsWith('FAILED ')) throw new Error(`the desk did not start: ${line}`);
    return line.slice('READY '.length);
  }

  async post(alert) {
    this.child.stdin.write(`POST ${JSON.stringify(alert)}\n`);
    return Number((await this.line(['POSTED '])).slice('POSTED '.length));
  }

  // The next symbol its linked program printed.
  async nextSymbol(timeout = 20000) {
    return (await this.line(['SYMBOL '], timeout)).slice('SYMBOL '.length);
  }

  async stderr() {
    this.child.stdin.write('STDERR\n');
    return Buffer.from((await this.line(['STDERR '])).slice('STDERR '.length), 'base64').toString();
  }

  // Its input ends: it ends the client and the rest, then itself.
  async stop() {
    if (this.child.exitCode !== null) return this.exited;
    this.child.stdin.end();
    const timer = setTimeout(() => this.child.kill('SIGTERM'), 20000);
    const code = await this.exited;
    clearTimeout(timer);
    return code;
  }
}
